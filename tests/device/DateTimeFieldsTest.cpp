#include <gtest/gtest.h>

#include <optional>

#include "device/uDeviceFields.h"

using namespace fr;

TEST(DeviceDateTime, EncodesCalendarDatesAndRefusesImpossibleOnes) {
    const struct {
        int Y, M, D, H, N, S;
        std::optional<int64_t> Expected;
    } Cases[] = {
        {1970, 1, 1, 0, 0, 0, 0},
        {2024, 2, 29, 23, 59, 59, 1709251199},
        {2000, 2, 29, 12, 0, 0, 951825600},
        {1969, 12, 31, 23, 59, 59, -1},
        {2051, 3, 5, 10, 20, 30, 2561624430},
        {2023, 2, 29, 0, 0, 0, std::nullopt},
        {1900, 2, 29, 0, 0, 0, std::nullopt},
        {2024, 4, 31, 0, 0, 0, std::nullopt},
        {2024, 13, 1, 0, 0, 0, std::nullopt},
        {2024, 0, 1, 0, 0, 0, std::nullopt},
        {2024, 1, 0, 0, 0, 0, std::nullopt},
        {2024, 1, 1, 24, 0, 0, std::nullopt},
        {2024, 1, 1, 0, 60, 0, std::nullopt},
        {2024, 1, 1, 0, 0, 60, std::nullopt},
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
