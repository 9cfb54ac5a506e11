#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <optional>
#include <string>

#include "base/uStrings.h"

using namespace fr;

TEST(Numbers, ParseDoubleAcceptsDecimalTextOnly) {
    const struct {
        const char* Text;
        std::optional<double> Expected;
    } Cases[] = {
        {"1.5", 1.5},       {" -2.25 ", -2.25},     {"+3", 3.0},         {"1e3", 1000.0},
        {".5", 0.5},        {"5.", 5.0},            {"2.5E-1", 0.25},    {"", std::nullopt},
        {"abc", std::nullopt}, {"0x1p3", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt},
        {"1e400", std::nullopt}, {"1,5", std::nullopt}, {"++1", std::nullopt}, {"1 2", std::nullopt},
        {"-", std::nullopt}, {"1e", std::nullopt},
    };
    // A host with a decimal comma must not change what is read.
    const std::string Old = std::setlocale(LC_NUMERIC, nullptr);
    for (const char* Locale : {"C", "ru_RU.UTF-8", "de_DE.UTF-8"}) {
        if (!std::setlocale(LC_NUMERIC, Locale)) continue;
        for (const auto& C : Cases) EXPECT_EQ(ParseDouble(C.Text), C.Expected) << C.Text << " in " << Locale;
    }
    std::setlocale(LC_NUMERIC, Old.c_str());
}

TEST(Numbers, ShortestScientificReadsBackExactly) {
    const struct {
        double Value;
        const char* Expected;
    } Cases[] = {
        {2.675, "2.675e+00"},
        {0.1, "1e-01"},
        {1e22, "1e+22"},
        {123456.0, "1.23456e+05"},
        {1.0 / 3, "3.333333333333333e-01"},
        {-0.5, "-5e-01"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
    };
    for (const auto& C : Cases) EXPECT_EQ(ShortestScientific(C.Value), C.Expected) << C.Expected;
}
