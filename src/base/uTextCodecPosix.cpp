#include "base/uTextCodec.h"

#include <glib.h>
#include <iconv.h>
#include <locale.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace fr::codec {

namespace {

struct TGFree {
    void operator()(void* P) const { g_free(P); }
};
template <class T>
using TGlibPtr = std::unique_ptr<T, TGFree>;

// Invalid UTF-8 bytes become U+FFFD, one per byte that starts no valid
// sequence (overlong forms, surrogates and truncated sequences included).
TGlibPtr<gchar> ValidUtf8(std::string_view APiece) {
    return TGlibPtr<gchar>(g_utf8_make_valid(APiece.data(), gssize(APiece.size())));
}

class TIconv {
public:
    TIconv(const char* ATo, const char* AFrom) : FHandle(iconv_open(ATo, AFrom)) {}
    ~TIconv() {
        if (Valid()) iconv_close(FHandle);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    bool Valid() const { return FHandle != iconv_t(-1); }
    iconv_t Get() const { return FHandle; }

private:
    iconv_t FHandle;
};

// Runs AFn with the "C" locale on this thread only, so that numbers use "."
// whatever locale the host process set. (g++ 10, which builds the release
// library, has no floating-point from_chars or to_chars.)
template <class F>
auto WithCLocale(F AFn) {
    static const locale_t C = newlocale(LC_ALL_MASK, "C", locale_t(0));
    struct TRestore {
        locale_t Old;
        ~TRestore() { uselocale(Old); }
    } Restore{C ? uselocale(C) : uselocale(locale_t(0))};
    return AFn();
}

}  // namespace

std::optional<double> ParseDecimal(const std::string& AText) {
    char* End = nullptr;
    int Err = 0;
    const double V = WithCLocale([&] {
        errno = 0;
        const double R = std::strtod(AText.c_str(), &End);
        Err = errno;
        return R;
    });
    if (End != AText.c_str() + AText.size() || Err == ERANGE) return std::nullopt;
    return V;
}

std::string ShortestScientific(double V) {
    char Buf[64];
    WithCLocale([&] {
        for (int Precision = 0; Precision <= 17; ++Precision) {
            std::snprintf(Buf, sizeof Buf, "%.*e", Precision, V);
            if (!std::isfinite(V) || std::strtod(Buf, nullptr) == V) break;
        }
        return 0;
    });
    return Buf;
}

void AppendUtf8FromUtf16(std::u16string_view APaired, std::string& AOut) {
    glong Written = 0;
    const TGlibPtr<gchar> R(g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(APaired.data()), glong(APaired.size()),
                                            nullptr, &Written, nullptr));
    if (R) AOut.append(R.get(), size_t(Written));
}

void AppendUtf16FromUtf8(std::string_view APiece, std::u16string& AOut) {
    glong Written = 0;
    const TGlibPtr<gunichar2> R(g_utf8_to_utf16(ValidUtf8(APiece).get(), -1, nullptr, &Written, nullptr));
    if (R) AOut.append(reinterpret_cast<const char16_t*>(R.get()), size_t(Written));
}

void AppendUtf32FromUtf8(std::string_view APiece, std::u32string& AOut) {
    glong Written = 0;
    const TGlibPtr<gunichar> R(g_utf8_to_ucs4_fast(ValidUtf8(APiece).get(), -1, &Written));
    if (R) AOut.append(reinterpret_cast<const char32_t*>(R.get()), size_t(Written));
}

void AppendUtf8FromUtf32(std::u32string_view AValid, std::string& AOut) {
    glong Written = 0;
    const TGlibPtr<gchar> R(g_ucs4_to_utf8(reinterpret_cast<const gunichar*>(AValid.data()), glong(AValid.size()),
                                           nullptr, &Written, nullptr));
    if (R) AOut.append(R.get(), size_t(Written));
}

bool IsValidUtf8(std::string_view S) {
    return g_utf8_validate_len(S.data(), gsize(S.size()), nullptr);
}

std::array<char32_t, 256> CodePageTable(unsigned ACodePage) {
    std::array<char32_t, 256> Table;
    Table.fill(NoChar);
    const std::string Name = "CP" + std::to_string(ACodePage);
    TIconv Cd("UTF-32LE", Name.c_str());
    if (!Cd.Valid()) return Table;
    for (int B = 0; B < 256; ++B) {
        char In = char(B);
        unsigned char Out[8] = {};
        char* InP = &In;
        char* OutP = reinterpret_cast<char*>(Out);
        size_t InLeft = 1, OutLeft = sizeof Out;
        iconv(Cd.Get(), nullptr, nullptr, nullptr, nullptr);
        if (iconv(Cd.Get(), &InP, &InLeft, &OutP, &OutLeft) != size_t(-1) && OutLeft == sizeof Out - 4)
            Table[size_t(B)] =
                char32_t(Out[0]) | char32_t(Out[1]) << 8 | char32_t(Out[2]) << 16 | char32_t(Out[3]) << 24;
    }
    return Table;
}

}  // namespace fr::codec
