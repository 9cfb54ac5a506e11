#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "base/uCurrency.h"

namespace fr {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

TEST(Currency, ParseExactDecimalText) {
    struct TCase {
        const char* Text;
        int64_t Value;
    };
    const TCase Cases[] = {
        {"150.5", 1505000},
        {"-3", -30000},
        {"0.0001", 1},
        {" 7 ", 70000},
        {"+.5", 5000},
        {"5.", 50000},
        {"00012.30", 123000},
        {"-0", 0},
        {"0.00000", 0},
        // Beyond four decimals: half to even on the exact digits, not on a
        // binary approximation.
        {"1.23455", 12346},
        {"1.23445", 12344},
        {"1.234450001", 12345},
        {"-1.23455", -12346},
        {"0.00005", 0},
        {"0.00015", 2},
        {"0.000049999", 0},
        {"0.00009", 1},
        {"1e2", 1000000},
        {"1.5E-4", 2},
        {"2.5e-4", 2},
        {"12.34e+1", 1234000},
        {"1e-100", 0},
        {"922337203685477.5807", kMax},
        {"-922337203685477.5808", kMin},
        {"922337203685477.58074", kMax},
    };
    for (const auto& C : Cases) {
        const auto R = TCurrency::Parse(C.Text);
        ASSERT_TRUE(R.has_value()) << C.Text;
        EXPECT_EQ(R->Value, C.Value) << C.Text;
    }
}

TEST(Currency, ParseRejectsWhatIsNotAnAmount) {
    for (const char* Text : {"",
                             " ",
                             ".",
                             "-",
                             "+",
                             "1,5",
                             "1..2",
                             "1.2.3",
                             "abc",
                             "1e",
                             "1e+",
                             "0x10",
                             "1 2",
                             "--1",
                             "1-",
                             "e5",
                             "922337203685477.5808",
                             "-922337203685477.5809",
                             "922337203685477.58075",
                             "1e100",
                             "99999999999999999999"})
        EXPECT_FALSE(TCurrency::Parse(Text).has_value()) << Text;
}

// One rounding for money, kopecks and loose integers, whatever rounding
// mode the host process has set.
TEST(RoundHalfToEven, TiesGoToTheEvenNeighbourInEveryRoundingMode) {
    const std::pair<double, double> Cases[] = {
        {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.5, 0},       {1.5, 2},
        {2.4, 2}, {2.6, 3}, {-2.6, -3}, {-0.4, 0},  {1e300, 1e300}, {4503599627370497.0, 4503599627370497.0}};
    const int Saved = std::fegetround();
    for (int Mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(Mode);
        for (const auto& [In, Out] : Cases) EXPECT_EQ(RoundHalfToEven(In), Out) << In << " mode " << Mode;
        EXPECT_TRUE(std::isnan(RoundHalfToEven(std::nan(""))));
        EXPECT_EQ(RoundHalfToEven(-std::numeric_limits<double>::infinity()), -std::numeric_limits<double>::infinity());
    }
    std::fesetround(Saved);
}

TEST(Currency, FromDoubleRoundsHalfToEvenAndRejectsOutOfRange) {
    EXPECT_EQ(TCurrency::FromDouble(-150.5).Value, -1505000);
    EXPECT_EQ(TCurrency::FromDouble(1.23456).Value, 12346);
    EXPECT_EQ(TCurrency::FromDouble(0).Value, 0);
    // 1/32 and 3/32 scale to exact halves (312.5 and 937.5).
    EXPECT_EQ(TCurrency::FromDouble(0.03125).Value, 312);
    EXPECT_EQ(TCurrency::FromDouble(0.09375).Value, 938);
    EXPECT_EQ(TCurrency::FromDouble(-0.03125).Value, -312);
    for (double V : {1e15, -1e15, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_THROW(TCurrency::FromDouble(V), std::range_error) << V;
}

TEST(Currency, TextIsShortestExactDecimal) {
    struct TCase {
        int64_t Value;
        const char* Text;
    };
    const TCase Cases[] = {
        {1505000, "150.5"},
        {-30000, "-3"},
        {1, "0.0001"},
        {-1, "-0.0001"},
        {0, "0"},
        {1234567, "123.4567"},
        {100, "0.01"},
        {kMin, "-922337203685477.5808"},
        {kMax, "922337203685477.5807"},
    };
    for (const auto& C : Cases) {
        EXPECT_EQ(TCurrency{C.Value}.ToText(), C.Text);
        EXPECT_EQ(TCurrency::Parse(C.Text)->Value, C.Value) << C.Text;
    }
}

TEST(Currency, KopecksRoundHalfToEven) {
    struct TCase {
        int64_t Value, Kopecks;
    };
    const TCase Cases[] = {
        {12350, 124},
        {12250, 122},
        {12351, 124},
        {12349, 123},
        {-12350, -124},
        {-12250, -122},
        {50, 0},
        {150, 2},
        {0, 0},
        {kMin, -92233720368547758},
        {kMax, 92233720368547758},
    };
    for (const auto& C : Cases) EXPECT_EQ(TCurrency{C.Value}.ToKopecks(), C.Kopecks) << C.Value;
    EXPECT_EQ(TCurrency::FromKopecks(-1505).Value, -150500);
}

TEST(Currency, ArithmeticIsExactAndReportsOverflow) {
    TCurrency Sum;
    for (int I = 0; I < 10; ++I) Sum += *TCurrency::Parse("0.1");
    EXPECT_EQ(Sum, TCurrency{10000});
    EXPECT_LT(-Sum, TCurrency{});
    EXPECT_EQ((Sum - TCurrency{1}).ToText(), "0.9999");
    EXPECT_THROW(TCurrency{kMax} + TCurrency{1}, std::overflow_error);
    EXPECT_THROW(TCurrency{kMin} - TCurrency{1}, std::overflow_error);
    EXPECT_THROW(-TCurrency{kMin}, std::overflow_error);
    EXPECT_THROW(TCurrency::FromKopecks(kMax / 10), std::overflow_error);
}

}  // namespace
}  // namespace fr
