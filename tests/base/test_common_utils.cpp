#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>

#include "TestBytes.h"
#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"

namespace fr {
namespace {

using test::Bytes;
using test::Hex;
using test::ShowHex;

// ---- XML input ----------------------------------------------------------------------

TEST(StripInvalidXmlChars, Utf16KeepsOnlyXmlCharacters) {
    const std::u16string In = {u'a',   0x09,   0x0A,   0x0D,   0x07,   0x00,   0x1F,   0x20,   0xD7FF,
                               0xD800, 0xDC00, 0xDBFF, 0xDFFF, 0xE000, 0xFFFD, 0xFFFE, 0xFFFF, u'я'};
    const std::u16string Expected = {u'a', 0x09, 0x0A, 0x0D, 0x20, 0xD7FF, 0xE000, 0xFFFD, u'я'};
    EXPECT_EQ(StripInvalidXmlChars(In), Expected);
    // A character outside the 16-bit range is a surrogate pair: both halves go.
    EXPECT_EQ(StripInvalidXmlChars(std::u16string(u"x😀y")), u"xy");
}

TEST(StripInvalidXmlChars, Utf8KeepsTheSameCharactersAsUtf16) {
    const std::u16string Samples[] = {
        u"<a b=\"1\"/>",
        u"\t\n\r<Чек Сумма=\"10\u0007\"/>",
        std::u16string{u'a', 0xFFFE, u'b', 0xFFFF, 0x0B, 0x0C, 0xE000, 0xFFFD},
        u"эмодзи 😀 конец",
        u"",
    };
    for (const auto& S : Samples) EXPECT_EQ(StripInvalidXmlChars(Utf16ToUtf8(S)), Utf16ToUtf8(StripInvalidXmlChars(S)));
    EXPECT_EQ(StripInvalidXmlChars(std::string("<x>\x07</x>")), "<x></x>");
    // Broken UTF-8 does not pass through as raw bytes.
    EXPECT_EQ(StripInvalidXmlChars(std::string("a\xFF"
                                               "b")),
              "a\xEF\xBF\xBD"
              "b");
}

// ---- Text conversions -------------------------------------------------------------------

// Broken input never fails a conversion: it becomes U+FFFD, one per byte
// that starts no valid sequence; a NUL inside a text stays.
TEST(TextConversion, InvalidInputAndNuls) {
    const std::pair<std::string, std::u16string> FromUtf8[] = {
        {"Ёж", u"Ёж"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"a\xFF!", u"a\uFFFD!"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong "/"
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // a surrogate written as UTF-8
        {"x\xE2\x82", u"x\uFFFD\uFFFD"},          // truncated at the end
        {"\xC3Z", u"\uFFFDZ"},
    };
    for (const auto& [In, Out] : FromUtf8) EXPECT_EQ(Utf8ToUtf16(In), Out) << In;
    EXPECT_EQ(Utf8ToUtf32("\xC0\xAFz"), U"\uFFFD\uFFFDz");
    EXPECT_EQ(Utf8Length("Ёж\xFF"), 3u);

    const std::pair<std::u16string, std::string> FromUtf16[] = {
        {u"Ёж", "Ёж"},
        {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string{u'a', char16_t(0xD800), u'z'}, "a\xEF\xBF\xBDz"},
        {std::u16string{char16_t(0xDC00), char16_t(0xD800)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& [In, Out] : FromUtf16) EXPECT_EQ(Utf16ToUtf8(In), Out);

    EXPECT_EQ(Utf32ToUtf8(std::u32string{U'я', char32_t(0xD800), char32_t(0x110000), 0, U'!'}),
              std::string("\xD1\x8F\xEF\xBF\xBD\xEF\xBF\xBD\0!", 10));
}

// ---- Hex and byte encodings --------------------------------------------------------------

// Names match without regard to case, Latin and Cyrillic alike (Ё and the
// other letters before А included); invalid bytes match only the same
// invalid bytes' replacement.
TEST(TextConversion, SameTextFoldsLatinAndCyrillic) {
    const struct {
        std::string A, B;
        bool Same;
    } Cases[] = {
        {"Password", "PASSWORD", true},
        {"ПАРОЛЬ ЁЖ Ђ", "пароль ёж ђ", true},
        {"Пароль", "Паролъ", false},
        {"ab", "abc", false},
        {"", "", true},
        {"", "\xFF", false},
        {"a\xFF"
         "b",
         "A\xFE"
         "B",
         true},  // both become a U+FFFD b
        {"a\xFF"
         "b",
         "A\uFFFDB", true},
        {"a\xFF", "a", false},
        {std::string("a\0b", 3), std::string("A\0B", 3), true},
        {"ǅ", "ǆ", false},  // folding stops at Latin and Cyrillic
    };
    for (const auto& C : Cases) {
        EXPECT_EQ(SameText(C.A, C.B), C.Same) << C.A << " / " << C.B;
        EXPECT_EQ(SameText(C.A, C.B), LowerCase(C.A) == LowerCase(C.B)) << C.A << " / " << C.B;
    }
}

TEST(HexEncodings, HexToInt) {
    const std::pair<const char*, uint64_t> Cases[] = {
        {"1fh", 31},
        {"1FH", 31},
        {"1G", 0},
        {"", 0},
        {"H", 0},
        {"1HH", 0},
        {"-1", 0},
        {" 1", 0},
        {"00ff", 255},
        {"FFFFFFFFFFFFFFFF", std::numeric_limits<uint64_t>::max()},
        {"123456789ABCDEF01", 0x23456789ABCDEF01},  // the low 64 bits
    };
    for (const auto& [Text, Value] : Cases) EXPECT_EQ(HexToInt(Text), Value) << Text;
    // Long texts are read in full, not modulo 256 characters.
    EXPECT_EQ(HexToInt(std::string(255, '0') + "A"), 10u);
    EXPECT_EQ(HexToInt(std::string(300, '0') + "G"), 0u);
}

TEST(HexEncodings, LittleAndBigEndianIntegers) {
    struct TCase {
        const char* Name;
        std::string Actual, Expected;
    };
    const TCase Cases[] = {
        {"LE 0x1234/8", IntToLEBytes(0x1234, 8), Hex("34 12 00 00")},
        {"LE 0x123/3", IntToLEBytes(0x123, 3), Hex("23 01")},
        {"LE 0/0", IntToLEBytes(0, 0), Hex("00")},
        {"LE 5/10", IntToLEBytes(5, 10), Hex("05 00 00 00 00")},
        {"LE grows", IntToLEBytes(0x12345, 4), Hex("45 23 01")},
        {"LE max", IntToLEBytes(~uint64_t(0), 2), Hex("FF FF FF FF FF FF FF FF")},
        {"LEN 0x1234/3", IntToLEBytesN(0x1234, 3), Hex("34 12 00")},
        {"LEN cut", IntToLEBytesN(0x12345, 2), Hex("45 23")},
        {"LEN -2", IntToLEBytesN(uint64_t(int64_t(-2)), 4), Hex("FE FF FF FF")},
        {"LEN wide", IntToLEBytesN(0x0102030405060708, 9), Hex("08 07 06 05 04 03 02 01 00")},
        {"LEN 0", IntToLEBytesN(7, 0), ""},
        {"BEN 0x1234/3", IntToBEBytesN(0x1234, 3), Hex("00 12 34")},
        {"BEN cut", IntToBEBytesN(0x12345, 2), Hex("23 45")},
        {"BEN 1", IntToBEBytesN(0xAB, 1), Hex("AB")},
    };
    for (const auto& C : Cases) EXPECT_EQ(ShowHex(C.Actual), ShowHex(C.Expected)) << C.Name;

    EXPECT_EQ(LEBytesToInt(""), 0u);
    EXPECT_EQ(LEBytesToInt(Bytes({0x34, 0x12, 0, 0})), 0x1234u);
    EXPECT_EQ(LEBytesToInt(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF})), 0xFFFFFFFFFFu);
    EXPECT_EQ(LEBytesToInt(std::string(8, '\xFF')), std::numeric_limits<uint64_t>::max());
    // Bytes past the eighth do not carry into a 64-bit value.
    EXPECT_EQ(LEBytesToInt(Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0x55, 0x66})), 1u);
    for (uint64_t V : {uint64_t(0), uint64_t(1), uint64_t(0xFEDCBA9876543210), uint64_t(0x8000000000)})
        EXPECT_EQ(LEBytesToInt(IntToLEBytesN(V, 8)), V);
}

TEST(HexEncodings, HexTextAndBytes) {
    const std::pair<std::string, std::string> ToBytes[] = {
        {HexToBytes("ABC", 2), Bytes({0x0A, 0xBC})},
        {HexToBytes("ABCDEF", 2), Bytes({0xAB, 0xCD})},
        {HexToBytes("abc", 0), Bytes({0x0A, 0xBC})},
        {HexToBytes("", 2), Bytes({0, 0})},
        {HexToBytes("", 0), ""},
        {HexToBytes("7", 1), Bytes({7})},
    };
    for (const auto& [Actual, Expected] : ToBytes) EXPECT_EQ(Actual, Expected);
    for (const char* Bad : {"0G", "1-", "  "}) EXPECT_THROW(HexToBytes(Bad, 1), std::invalid_argument) << Bad;

    EXPECT_EQ(BytesToHex(Bytes({0x0A}), 2), "000A");
    EXPECT_EQ(BytesToHex(Bytes({1, 2, 3}), 2), "0102");
    EXPECT_EQ(BytesToHex(Bytes({0xAB, 0xcd}), 0), "ABCD");
    EXPECT_EQ(BytesToHex("", 0), "");
    EXPECT_EQ(BytesToHexString(Bytes({0x01, 0xAB}), " "), "01 AB ");
    EXPECT_EQ(BytesToHexString("", " "), "");
}

TEST(HexEncodings, PackedBcd) {
    EXPECT_EQ(IntToBCD(1234, 3), Bytes({0x00, 0x12, 0x34}));
    EXPECT_EQ(IntToBCD(1234, 2), Bytes({0x12, 0x34}));
    EXPECT_EQ(IntToBCD(5, 0), Bytes({0x05}));
    EXPECT_EQ(IntToBCD(0, 1), Bytes({0x00}));
    EXPECT_EQ(BCDToInt64(Bytes({0x00, 0x12, 0x34})), 1234);
    EXPECT_EQ(BCDToInt64(Bytes({0x01, 0x23})), 123);
    EXPECT_EQ(BCDToInt64(""), 0);
    EXPECT_EQ(BCDToInt64(Bytes({0x1A})), 0);
    EXPECT_EQ(BCDToInt64(Bytes({0xA1})), 0);
    EXPECT_EQ(BCDToInt64(Bytes({0x09, 0x22, 0x33, 0x72, 0x03, 0x68, 0x54, 0x77, 0x58, 0x07})),
              std::numeric_limits<int64_t>::max());
    EXPECT_EQ(BCDToInt64(Bytes({0x09, 0x22, 0x33, 0x72, 0x03, 0x68, 0x54, 0x77, 0x58, 0x08})), 0);
    EXPECT_EQ(BCDToInt64(std::string(10, '\x99')), 0);
    for (int64_t V : {int64_t(0), int64_t(7), int64_t(20240229), int64_t(999999999999)})
        EXPECT_EQ(BCDToInt64(IntToBCD(V, 6)), V);
    // A value that does not fit is refused instead of losing digits.
    EXPECT_THROW(IntToBCD(12345, 2), std::out_of_range);
    EXPECT_THROW(IntToBCD(-1, 2), std::out_of_range);
}

TEST(HexEncodings, MoneyToBytes6) {
    const std::pair<double, std::string> Cases[] = {
        {10.125, Hex("F4 03 00 00 00 00")},  // 1012.5 kopecks -> 1012
        {10.375, Hex("0E 04 00 00 00 00")},  // 1037.5 -> 1038
        {0, Hex("00 00 00 00 00 00")},      {1234.56, Hex("40 E2 01 00 00 00")},
        {-0.01, Hex("FF FF FF FF FF FF")},  {2814749767106.55, Hex("FF FF FF FF FF FF")},  // 2^48 - 1 kopecks
    };
    for (const auto& [Value, Expected] : Cases) EXPECT_EQ(ShowHex(MoneyToBytes6(Value)), ShowHex(Expected)) << Value;
    for (double Bad : {2814749767106.56, -1407374883553.29, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_THROW(MoneyToBytes6(Bad), std::out_of_range) << Bad;
}

// ---- Bits --------------------------------------------------------------------------------

TEST(Bits, TestSetAndReverse) {
    EXPECT_TRUE(IsBitSet(5, 0));
    EXPECT_FALSE(IsBitSet(5, 1));
    EXPECT_TRUE(IsBitSet(5, 2));
    EXPECT_TRUE(IsBitSet(0x80000000, 31));
    EXPECT_TRUE(IsBitSet(-1, 63));
    EXPECT_FALSE(IsBitSet(-1, 64));
    EXPECT_FALSE(IsBitSet(-1, -1));

    uint8_t B = 0;
    SetBit8(B, 7);
    SetBit8(B, 0);
    SetBit8(B, 8);
    EXPECT_EQ(B, 0x81);
    SetBitTo8(B, 7, false);
    SetBitTo8(B, 3, true);
    EXPECT_EQ(B, 0x09);
    uint32_t W = 0;
    SetBit32(W, 31);
    SetBit32(W, 32);
    EXPECT_EQ(W, 0x80000000u);

    EXPECT_EQ(ReverseBits8(0x01), 0x80);
    EXPECT_EQ(ReverseBits8(0x1F0), 0x0F);
    EXPECT_EQ(ReverseBits8(0xA5), 0xA5);
    EXPECT_EQ(ReverseBits8(0x12), 0x48);
}

// ---- Narrow text and code pages ----------------------------------------------------------

TEST(NarrowText, PaddingSplittingZeroPadding) {
    EXPECT_EQ(PadAnsiRight("abc", 5, false), "abc  ");
    EXPECT_EQ(PadAnsiRight("abcdef", 3, false), "abcdef");
    EXPECT_EQ(PadAnsiRight("abcdef", 3, true), "abc");
    EXPECT_EQ(PadAnsiRight("", 2, true), "  ");
    EXPECT_EQ(PadAnsiWith("ab", 4, '0'), "ab00");
    EXPECT_EQ(PadAnsiWith("abcdef", 3, 'x'), "abc");
    EXPECT_EQ(PadAnsiWith("ab", 0, 'x'), "");

    EXPECT_EQ(SplitByLength("abcdefg", 3), (std::vector<std::string>{"abc", "def", "g"}));
    EXPECT_EQ(SplitByLength("abcdef", 3), (std::vector<std::string>{"abc", "def"}));
    EXPECT_TRUE(SplitByLength("", 3).empty());
    EXPECT_EQ(SplitByLength("ab", 0), (std::vector<std::string>{"ab"}));

    EXPECT_EQ(IntToStrZeroPad(42, 5), "00042");
    EXPECT_EQ(IntToStrZeroPad(12345, 3), "12345");
    EXPECT_EQ(IntToStrZeroPad(-7, 4), "-007");
    EXPECT_EQ(IntToStrZeroPad(0, 0), "0");
}

TEST(CodePages, AnsiAndOemCyrillic) {
    const std::string Ansi = Bytes({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0x20, 0xB9, 0xA8});  // "Привет №Ё"
    const std::string Oem = Bytes({0x8F, 0xE0, 0xA8, 0xA2, 0xA5, 0xE2, 0x20, 0xFC, 0xF0});
    EXPECT_EQ(AnsiToOem(Ansi), Oem);
    EXPECT_EQ(OemToAnsi(Oem), Ansi);
    EXPECT_EQ(Utf8ToAnsi("Привет №Ё"), Ansi);
    EXPECT_EQ(Utf8ToOem("Привет №Ё"), Oem);
    EXPECT_EQ(AnsiToUtf8(Ansi), "Привет №Ё");
    EXPECT_EQ(OemToUtf8(Oem), "Привет №Ё");
    EXPECT_EQ(AnsiToOem("Test 123"), "Test 123");
}

TEST(CodePages, UnmappedCharactersBecomeQuestionMarksAndKeepTheLength) {
    // Euro sign exists in 1251 but not in 866; box drawing exists in 866 only.
    EXPECT_EQ(AnsiToOem(Bytes({'a', 0x88, 'b'})), "a?b");
    EXPECT_EQ(OemToAnsi(Bytes({0xB0, 0xC4, 'x'})), "??x");
    // 0x98 has no character in 1251.
    EXPECT_EQ(AnsiToUtf8(Bytes({0x98})), "?");
    EXPECT_EQ(Utf8ToAnsi("日€😀"), Bytes({'?', 0x88, '?'}));
    EXPECT_EQ(Utf8ToOem("日€"), "??");
    EXPECT_EQ(Utf8ToAnsi("a\xFF"
                         "b"),
              "a?b");

    std::string All;
    for (int I = 0; I < 256; ++I) All += char(I);
    EXPECT_EQ(AnsiToOem(All).size(), 256u);
    EXPECT_EQ(OemToAnsi(All).size(), 256u);
    // Every character both pages have survives the trip through UTF-8.
    const std::string Back = Utf8ToAnsi(AnsiToUtf8(All));
    for (int I = 0; I < 256; ++I)
        if (I != 0x98) {
            EXPECT_EQ(uint8_t(Back[size_t(I)]), I) << I;
        }
    EXPECT_EQ(Utf8ToOem(OemToUtf8(All)), All);
}

// ---- Loosely typed values ------------------------------------------------------------------

TEST(VariantReaders, IntegersAndFloats) {
    EXPECT_EQ(VarToIntDef(TValue(), 9), 9);
    EXPECT_EQ(VarToIntDef(TValue(""), 9), 9);
    EXPECT_EQ(VarToIntDef(TValue(" 42 "), 9), 42);
    EXPECT_EQ(VarToIntDef(TValue("-3"), 9), -3);
    EXPECT_EQ(VarToIntDef(TValue("4.5"), 9), 9);
    EXPECT_EQ(VarToIntDef(TValue("abc"), 9), 9);
    EXPECT_EQ(VarToIntDef(TValue("99999999999999999999"), 9), 9);
    EXPECT_EQ(VarToIntDef(TValue(int64_t(7)), 9), 7);

    EXPECT_EQ(VarToFloatText(TValue(" 1,5 ")), "1.5");
    EXPECT_EQ(VarToFloatText(TValue("1.5")), "1.5");
    EXPECT_EQ(VarToFloatText(TValue(2.25)), "2.25");

    EXPECT_DOUBLE_EQ(VarToFloatDef(TValue(), 5), 5);
    EXPECT_DOUBLE_EQ(VarToFloatDef(TValue("abc"), 5), 5);
    EXPECT_DOUBLE_EQ(VarToFloatDef(TValue("1,25"), 5), 1.25);
    EXPECT_DOUBLE_EQ(VarToFloatDef(TValue(" -0.5 "), 5), -0.5);
    EXPECT_DOUBLE_EQ(VarToFloatDef(TValue("1,234.5"), 5), 5);
    EXPECT_DOUBLE_EQ(VarToFloatDef(TValue(3.5), 5), 3.5);
    EXPECT_DOUBLE_EQ(VarToFloatDef(TValue(int64_t(4)), 5), 4);
}

TEST(VariantReaders, Currency) {
    const TCurrency Five{50000};
    const std::pair<TValue, int64_t> Cases[] = {
        {TValue(), 50000},
        {TValue(""), 50000},
        {TValue("abc"), 0},  // a text that is no amount reads as 0, not as the default
        {TValue("150,5"), 1505000},
        {TValue(" 150.5 "), 1505000},
        {TValue("0,00005"), 0},
        {TValue("0.00015"), 2},
        {TValue(int64_t(-3)), -30000},
        {TValue(-150.5), -1505000},
        {TValue(true), 10000},
    };
    for (const auto& [V, Expected] : Cases) EXPECT_EQ(VarToCurrDef(V, Five).Value, Expected) << V.AsText();
    EXPECT_THROW(VarToCurrDef(TValue(std::numeric_limits<int64_t>::max()), Five), std::range_error);
}

TEST(VariantReaders, Booleans) {
    EXPECT_TRUE(VarToBoolDef(TValue("TRUE"), false));
    EXPECT_TRUE(VarToBoolDef(TValue("true"), false));
    EXPECT_FALSE(VarToBoolDef(TValue("False"), true));
    EXPECT_FALSE(VarToBoolDef(TValue("yes"), false));
    EXPECT_TRUE(VarToBoolDef(TValue("yes"), true));
    EXPECT_TRUE(VarToBoolDef(TValue("1"), true));
    EXPECT_FALSE(VarToBoolDef(TValue("1"), false));
    EXPECT_TRUE(VarToBoolDef(TValue(""), true));
    EXPECT_FALSE(VarToBoolDef(TValue(), false));
    EXPECT_TRUE(VarToBoolDef(TValue(int64_t(2)), false));
    EXPECT_FALSE(VarToBoolDef(TValue(0.0), true));
    EXPECT_TRUE(VarToBoolDef(TValue(true), false));
}

// ---- Dates --------------------------------------------------------------------------------

TEST(ISODateToUnix, AcceptedForms) {
    const std::pair<const char*, int64_t> Cases[] = {
        {"1970-01-01T00:00:00", 0},
        {"2024-02-29T12:34:56", 1709210096},
        {"2024-02-29T12:34:56Z", 1709210096},
        {"2024-02-29T12:34:56.999", 1709210096},
        {"2024-02-29T12:34:56,5Z", 1709210096},
        {"2024-02-29T15:34:56+03:00", 1709210096},
        {"2024-02-29T15:34:56+0300", 1709210096},
        {"2024-02-29T15:34:56+03", 1709210096},
        {"2024-02-29T07:04:56-05:30", 1709210096},
        {"2024-02-29T12:34:56.123456-00:00", 1709210096},
        {"1969-12-31T23:59:59", -1},
        {"2000-03-01T00:00:00", 951868800},
        {"9999-12-31T23:59:59", 253402300799},
    };
    for (const auto& [Text, Value] : Cases) EXPECT_EQ(ISODateToUnix(Text), Value) << Text;
}

TEST(ISODateToUnix, RejectsEverythingElseWith1004) {
    for (const char* Text : {"",
                             "2024-01-01",
                             "2024-01-01T00:00",
                             "2024-01-01 00:00:00",
                             "20240101T000000",
                             "2023-02-29T00:00:00",
                             "1900-02-29T00:00:00",
                             "2024-13-01T00:00:00",
                             "2024-00-10T00:00:00",
                             "2024-04-31T00:00:00",
                             "2024-01-00T00:00:00",
                             "2024-01-01T24:00:00",
                             "2024-01-01T00:60:00",
                             "2024-01-01T00:00:60",
                             "2024-01-01T00:00:00.",
                             "2024-01-01T00:00:00Zjunk",
                             "2024-01-01T00:00:00+25:00",
                             "2024-01-01T00:00:00+03:60",
                             "2024-01-01T00:00:00+3",
                             "2024-01-01T00:00:00+03:",
                             "2024-1-01T00:00:00",
                             "2024-01-01t00:00:00",
                             " 2024-01-01T00:00:00",
                             "2024-01-01T00:00:00 ",
                             "+2024-01-01T00:00:00",
                             "2024-01-01T00:00:00ZZ"}) {
        try {
            ISODateToUnix(Text);
            ADD_FAILURE() << "accepted: " << Text;
        } catch (const EquException& E) {
            EXPECT_EQ(E.Code, 1004) << Text;
            EXPECT_STREQ(E.what(), "Ошибка входных параметров команды");
        }
    }
}

// ---- Taxpayer numbers -------------------------------------------------------------------

TEST(INN, LengthDigitsAndCheckDigits) {
    // In 5000000000 the weighted sum leaves 10, whose check digit is 0.
    for (const char* Valid : {"7704211201", "7701234560", "5000000000", "500100732259"})
        EXPECT_TRUE(IsValidINN(Valid)) << Valid;
    // A wrong 10th digit; a wrong 12th; a wrong 11th under a 12th that fits
    // it; wrong lengths and characters.
    for (const char* Invalid :
         {"7701234567", "500100732258", "500100732266", "77012345601", "770123456", "770123456A", " 7701234560", ""})
        EXPECT_FALSE(IsValidINN(Invalid)) << Invalid;
}

// ---- Word wrap ------------------------------------------------------------------------------

TEST(WrapText, Lines) {
    struct TCase {
        const char* Text;
        size_t Width;
        std::vector<std::string> Lines;
    };
    const TCase Cases[] = {
        {"abc def", 3, {"abc", "def", ""}},
        {"hello world foo", 8, {"hello", "world", "foo"}},
        {"abcdefgh", 3, {"abc", "def", "gh"}},
        {"a\r\nb\rc", 10, {"a", "b", "c"}},
        {"a\n\nb", 10, {"a", "", "b"}},
        {"ab  ", 10, {"ab  "}},  // the last line is kept as collected
        {"", 5, {""}},
        {"  ab\ncd", 10, {"ab", "cd"}},
        // Width counts characters, not bytes.
        {"Привет мир", 6, {"Привет", "мир"}},
        {"Съешь ещё этих", 9, {"Съешь ещё", "этих"}},
        {"Съешь ещё этих", 8, {"Съешь", "ещё", "этих"}},
        {"ab\n", 2, {"ab", ""}},  // the break drops the line end
        {"ab", 0, {"a", "b", ""}},
    };
    for (const auto& C : Cases) {
        std::vector<std::string> Lines{"kept"};
        WrapText(C.Text, C.Width, Lines);
        std::vector<std::string> Expected{"kept"};
        Expected.insert(Expected.end(), C.Lines.begin(), C.Lines.end());
        EXPECT_EQ(Lines, Expected) << C.Text << " / " << C.Width;
    }
}

TEST(WrapText, NoLineIsLongerThanTheWidth) {
    const std::string Text =
        "Товар  номер один со скидкой 10% и очень-очень-длинным-названием-без-пробелов\r\nИтого:    123.45";
    for (size_t Width = 1; Width <= 40; ++Width) {
        std::vector<std::string> Lines;
        WrapText(Text, Width, Lines);
        for (const auto& L : Lines) EXPECT_LE(Utf8Length(L), Width) << Width << ": " << L;
    }
}

// ---- Folders and identifiers -----------------------------------------------------------------

TEST(CreateGUIDString, UpperCaseWithoutBracesAndUnique) {
    std::set<std::string> Seen;
    for (int I = 0; I < 100; ++I) {
        const std::string G = CreateGUIDString();
        ASSERT_EQ(G.size(), 36u);
        for (size_t P = 0; P < G.size(); ++P) {
            if (P == 8 || P == 13 || P == 18 || P == 23)
                EXPECT_EQ(G[P], '-') << G;
            else
                EXPECT_TRUE((G[P] >= '0' && G[P] <= '9') || (G[P] >= 'A' && G[P] <= 'F')) << G;
        }
        Seen.insert(G);
    }
    EXPECT_EQ(Seen.size(), 100u);
}

TEST(Base64, EncodesAndDecodesStrictly) {
    EXPECT_EQ(EncodeBase64(""), "");
    EXPECT_EQ(EncodeBase64("QR-DATA-123"), "UVItREFUQS0xMjM=");
    EXPECT_EQ(EncodeBase64(std::string("\x00\xFF\x10", 3)), "AP8Q");
    EXPECT_EQ(DecodeBase64("UVItREFUQS0xMjM="), "QR-DATA-123");
    EXPECT_EQ(DecodeBase64("UVIt\r\nREFUQS0xMjM"), "QR-DATA-123");  // line breaks, no padding
    EXPECT_EQ(DecodeBase64("AP8Q"), std::string("\x00\xFF\x10", 3));
    EXPECT_EQ(DecodeBase64(""), "");
    for (const char* Bad : {"@@@", "QQ=A", "Q", "QQ===", "QUJD=QUJD", "QUJD\x01"})
        EXPECT_FALSE(DecodeBase64(Bad)) << Bad;
}

}  // namespace
}  // namespace fr
