#include "base/uValue.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "base/uCurrency.h"
#include "base/uStrings.h"

namespace fr {

bool TValue::IsNullOrEmpty() const { return IsNull() || (IsText() && RawText().empty()); }

int64_t TValue::AsInt64() const {
    switch (Kind()) {
        case vkNull: return 0;
        case vkInt: return RawInt();
        case vkBool: return RawBool() ? 1 : 0;
        case vkDouble: {
            const double R = RoundHalfToEven(RawDouble());
            if (!(R >= -9.2e18 && R <= 9.2e18)) throw std::runtime_error("Invalid variant type conversion");
            return int64_t(R);
        }
        case vkText: {
            if (auto V = ParseInt(RawText())) return *V;
            throw std::runtime_error("Could not convert variant of type (String) into type (Integer): \"" +
                                     RawText() + "\"");
        }
    }
    return 0;
}

int32_t TValue::AsInt() const {
    const int64_t V = AsInt64();
    if (V < std::numeric_limits<int32_t>::min() || V > std::numeric_limits<int32_t>::max())
        throw std::runtime_error("Integer value out of range: " + std::to_string(V));
    return int32_t(V);
}

bool TValue::AsBool() const {
    switch (Kind()) {
        case vkNull: return false;
        case vkInt: return RawInt() != 0;
        case vkBool: return RawBool();
        case vkDouble: return RawDouble() != 0;
        case vkText: {
            const std::string& S = RawText();
            if (SameTextAscii(S, "true")) return true;
            if (SameTextAscii(S, "false")) return false;
            if (auto V = ParseDouble(S)) return *V != 0;
            throw std::runtime_error("Could not convert variant of type (String) into type (Boolean): \"" + S +
                                     "\"");
        }
    }
    return false;
}

double TValue::AsDouble() const {
    switch (Kind()) {
        case vkNull: return 0;
        case vkInt: return double(RawInt());
        case vkBool: return RawBool() ? 1 : 0;
        case vkDouble: return RawDouble();
        case vkText: {
            if (auto V = ParseDouble(RawText())) return *V;
            throw std::runtime_error("Could not convert variant of type (String) into type (Double): \"" +
                                     RawText() + "\"");
        }
    }
    return 0;
}

std::string TValue::AsText() const {
    switch (Kind()) {
        case vkNull: return {};
        case vkInt: return std::to_string(RawInt());
        case vkBool: return RawBool() ? "True" : "False";
        case vkDouble: return FormatDouble(RawDouble());
        case vkText: return RawText();
    }
    return {};
}

}  // namespace fr
