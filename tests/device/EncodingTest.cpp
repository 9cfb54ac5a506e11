// Field encodings of commands and the texts of device result codes.
#include <gtest/gtest.h>

#include "TestBytes.h"

#include "base/uEquipmentErrors.h"
#include "device/uDevice.h"
#include "device/uDeviceCommon.h"
#include "device/uDeviceFields.h"

namespace fr {
namespace {

using test::Bytes;

TEST(DeviceFields, ScaleRoundsHalfToEvenOnTheDecimalDigits) {
    struct {
        double Value;
        int Decimals;
        int64_t Expected;
    } const Cases[] = {
        {12.34, 2, 1234},
        {2.675, 2, 268},
        {2.665, 2, 266},
        {0.125, 2, 12},
        {0.135, 2, 14},
        {1.0000005, 6, 1000000},
        {1.0000015, 6, 1000002},
        {0.0000005, 6, 0},
        {0.00000051, 6, 1},
        {0.00000006, 6, 0},
        {0, 6, 0},
        {1e-300, 2, 0},
        {123456789.5, 0, 123456790},
        {-2.5, 0, -2},
        {1.5, 0, 2},
        {1000, 6, 1000000000},
    };
    for (const auto& C : Cases) EXPECT_EQ(ScaleHalfEven(C.Value, C.Decimals), C.Expected) << C.Value;
    EXPECT_THROW(ScaleHalfEven(1e20, 2), std::out_of_range);
    EXPECT_THROW(ScaleHalfEven(std::numeric_limits<double>::quiet_NaN(), 2), std::out_of_range);
}

TEST(DeviceFields, MoneyQuantityAndAddresses) {
    EXPECT_EQ(MoneyToBytes(*TCurrency::Parse("100.00")), Bytes({0x10, 0x27, 0, 0, 0}));
    EXPECT_EQ(MoneyToBytes(*TCurrency::Parse("0.005")), Bytes({0, 0, 0, 0, 0}));  // tie to even
    EXPECT_EQ(MoneyToBytes(*TCurrency::Parse("0.015")), Bytes({2, 0, 0, 0, 0}));
    EXPECT_EQ(QuantityToBytes(1.5), Bytes({0x60, 0xE3, 0x16, 0, 0, 0}));
    EXPECT_THROW(MoneyToBytes(*TCurrency::Parse("-1")), std::out_of_range);
    EXPECT_THROW(MoneyToBytes(*TCurrency::Parse("11000000000")), std::out_of_range);  // beyond 5 bytes
    EXPECT_THROW(QuantityToBytes(300000000.0), std::out_of_range);                    // beyond 6 bytes

    EXPECT_EQ(CommandCode(0x11), Bytes({0x11}));
    EXPECT_EQ(CommandCode(0xFF3B), Bytes({0xFF, 0x3B}));
    EXPECT_EQ(TableCellBytes(17, 0x102, 17), Bytes({17, 2, 1, 17}));
    EXPECT_EQ(DateToBytes(2051, 3, 5), Bytes({5, 3, 51}));
    EXPECT_EQ(TimeToBytes(10, 20, 30), Bytes({10, 20, 30}));
}

TEST(DeviceFields, DateTimeValidity) {
    EXPECT_FALSE(EncodeDeviceDateTime(2024, 2, 31, 0, 0, 0));
    EXPECT_FALSE(EncodeDeviceDateTime(2023, 2, 29, 0, 0, 0));
    EXPECT_FALSE(EncodeDeviceDateTime(2024, 13, 1, 0, 0, 0));
    EXPECT_FALSE(EncodeDeviceDateTime(2024, 1, 1, 24, 0, 0));
    EXPECT_FALSE(EncodeDeviceDateTime(2024, 1, 0, 0, 0, 0));
    ASSERT_TRUE(EncodeDeviceDateTime(2024, 2, 29, 23, 59, 59));
    EXPECT_EQ(*EncodeDeviceDateTime(1970, 1, 2, 0, 0, 1), 86401);
    EXPECT_EQ(*EncodeDeviceDateTime(2024, 3, 5, 0, 0, 0), 1709596800);
    EXPECT_EQ(*EncodeDeviceDateTime(2000, 2, 29, 0, 0, 0), 951782400);  // a leap century
    EXPECT_FALSE(EncodeDeviceDateTime(2100, 2, 29, 0, 0, 0));           // not one
    const TDateTimeParts Before = DecodeDeviceDateTime(-1);
    EXPECT_EQ(std::vector<int>({Before.Year, Before.Month, Before.Day, Before.Hour, Before.Minute, Before.Second}),
              std::vector<int>({1969, 12, 31, 23, 59, 59}));
    const TDateTimeParts P = DecodeDeviceDateTime(*EncodeDeviceDateTime(2051, 3, 5, 10, 20, 30));
    EXPECT_EQ(std::vector<int>({P.Year, P.Month, P.Day, P.Hour, P.Minute, P.Second}),
              std::vector<int>({2051, 3, 5, 10, 20, 30}));
}

TEST(DeviceErrorTexts, TableAndAppendedTexts) {
    EXPECT_EQ(DeviceErrorTableSize(), 134u);
    struct {
        int32_t Code, Ext;
        const char* ExtText;
        std::string Expected;
    } const Cases[] = {
        {0, 0, "", "Ошибок нет"},
        {0, 1014, "x", "Ошибок нет"},  // nothing appended to success
        {10, 0, "", "Неизвестная ошибка"},
        {1000, 0, "", "Неизвестная ошибка"},
        {255, 0, "", "Неизвестная ошибка"},
        {69, 0, "", "\x43умма всех типов оплаты меньше итога чека"},  // Latin C
        {85, 0, "", "Чек закрыт \u2013 операция невозможна"},
        {115, 0, "  Z  ", "Команда не поддерживается в данном режиме; Z"},
        {115, 0, "   ", "Команда не поддерживается в данном режиме"},
        {215, 0, "", "Прошивка не от данной модели"},
        {606, 0, "", "Ошибка при получении ответа от сервера"},
        {607, 0, "", "Ошибка инициализации библиотеки WinSock"},
        {1007, 0, "", GetEquipmentErrorText(1007)},
        {115, 1014, "a", "Команда не поддерживается в данном режиме; " + GetEquipmentErrorText(1014) + "; a"},
    };
    for (const auto& C : Cases) EXPECT_EQ(GetDeviceErrorDescription(C.Code, C.Ext, C.ExtText), C.Expected) << C.Code;
    EXPECT_EQ(GetEquipmentErrorText(1007), "Устройство не отвечает");
}

TEST(DeviceProperties, FeedCountKeepsOnlyByteValues) {
    TDevice D;
    D.SetFeedCount(255);
    EXPECT_EQ(D.FeedCount(), 255);
    D.SetFeedCount(300);
    EXPECT_EQ(D.FeedCount(), 0);
    D.SetFeedCount(-1);
    EXPECT_EQ(D.FeedCount(), 0);
}

// The base class has no link: the exchange "succeeds" with an empty answer,
// which every checked operation reports as a protocol error.
TEST(DeviceProperties, EmptyAnswerIsAProtocolError) {
    TDevice D;
    EXPECT_EQ(D.CheckResultCode(0), 1014);
    EXPECT_EQ(D.CheckResultCode(1007), 1007);
    uint8_t Mode = 7;
    try {
        D.GetStateKKT(Mode);
        FAIL();
    } catch (const std::runtime_error& E) {
        EXPECT_EQ(std::string(E.what()), "Ошибка команды запроса состояния ККТ. " + GetEquipmentErrorText(1014));
    }
    EXPECT_EQ(Mode, 7);
    EXPECT_EQ(D.GetFRLineLen(), 1014);
}

}  // namespace
}  // namespace fr
