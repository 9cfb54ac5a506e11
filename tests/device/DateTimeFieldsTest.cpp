#include <gtest/gtest.h>

#include <optional>

#include "device/uDeviceFields.h"

using namespace fr;

// Century leap rules and dates before 1970, both ways.
TEST(DeviceDateTime, CenturiesAndDatesBeforeTheEpoch) {
    const struct {
        int Y, M, D, H, N, S;
        std::optional<int64_t> Expected;
    } Cases[] = {
        {2000, 2, 29, 12, 0, 0, 951825600},
        {1900, 2, 29, 0, 0, 0, std::nullopt},
        {2100, 2, 29, 0, 0, 0, std::nullopt},
        {1969, 12, 31, 23, 59, 59, -1},
        {1600, 3, 1, 0, 0, 0, -11670912000},
    };
    for (const auto& C : Cases) {
        EXPECT_EQ(EncodeDeviceDateTime(C.Y, C.M, C.D, C.H, C.N, C.S), C.Expected) << C.Y << "-" << C.M << "-" << C.D;
        if (!C.Expected) continue;
        const TDateTimeParts P = DecodeDeviceDateTime(*C.Expected);
        EXPECT_EQ(P.Year, C.Y);
        EXPECT_EQ(P.Month, C.M);
        EXPECT_EQ(P.Day, C.D);
        EXPECT_EQ(P.Hour * 3600 + P.Minute * 60 + P.Second, C.H * 3600 + C.N * 60 + C.S);
    }
}
