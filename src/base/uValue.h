// A loosely typed value: what a setting default, an XML attribute read or a
// session copy carries before it is stored into a typed field.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace fr {

class TValue {
public:
    enum TKind { vkNull, vkInt, vkBool, vkDouble, vkText };

    TValue() = default;
    TValue(std::nullptr_t) {}
    TValue(int v) : FData(int64_t(v)) {}
    TValue(int64_t v) : FData(v) {}
    TValue(bool v) : FData(v) {}
    TValue(double v) : FData(v) {}
    TValue(std::string v) : FData(std::move(v)) {}
    TValue(const char* v) : FData(std::string(v)) {}

    TKind Kind() const { return TKind(FData.index()); }
    bool IsNull() const { return Kind() == vkNull; }
    bool IsText() const { return Kind() == vkText; }
    bool IsNumeric() const { return Kind() == vkInt || Kind() == vkDouble; }
    // Null, or a text of no characters: an attribute that was missing or empty.
    bool IsNullOrEmpty() const;

    // Strict conversions: a text that is not a number (or Boolean) raises
    // std::runtime_error, as a general variant conversion does.
    int32_t AsInt() const;
    int64_t AsInt64() const;
    bool AsBool() const;
    double AsDouble() const;
    // Text form: integers in decimal, doubles with "." and up to 15
    // significant digits, Booleans "True"/"False", null as empty.
    std::string AsText() const;

    int64_t RawInt() const { return std::get<int64_t>(FData); }
    bool RawBool() const { return std::get<bool>(FData); }
    double RawDouble() const { return std::get<double>(FData); }
    const std::string& RawText() const { return std::get<std::string>(FData); }

    bool operator==(const TValue&) const = default;

private:
    std::variant<std::monostate, int64_t, bool, double, std::string> FData;
};

}  // namespace fr
