#include "device/uGraphicText.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"

namespace fr {

namespace {

constexpr double MMPerInch = 25.400051;

bool ContainsNoCase(const std::string& AText, const char* AWord) {
    return LowerCase(AText).find(AWord) != std::string::npos;
}

}  // namespace

int TGraphicText::CheckedWidthDots() const {
    const double WidthDots = FWidth * FDotsPerMM;
    if (!(WidthDots >= 0 && WidthDots <= MaxDots)) throw std::runtime_error("Недопустимая ширина графического текста");
    if (FFont.FSize > MaxFontSize) throw std::runtime_error("Слишком большой размер шрифта графического текста");
    return int(RoundHalfToEven(WidthDots));
}

std::string GraphicTextToDraw(const std::string& AText, bool ASingleLine) {
    std::u32string Cps = Utf8ToUtf32(AText);
    std::u32string Out;
    Out.reserve(Cps.size());
    for (size_t I = 0; I < Cps.size(); ++I) {
        const char32_t C = Cps[I];
        if (C == 0) continue;
        if (ASingleLine &&
            (C == U'\r' || C == U'\n' || C == 0x2028 || C == 0x2029 || C == 0x0B || C == 0x0C || C == 0x85)) {
            if (C == U'\r' && I + 1 < Cps.size() && Cps[I + 1] == U'\n') ++I;
            Out.push_back(U' ');
            continue;
        }
        Out.push_back(C);
    }
    return Utf32ToUtf8(Out);
}

// ---- TMonoBitmap -------------------------------------------------------------------

TMonoBitmap::TMonoBitmap(int AWidth, int AHeight) : FWidth(AWidth), FHeight(AHeight) {
    if (AWidth < 0 || AHeight < 0) throw std::invalid_argument("TMonoBitmap: negative size");
    FBits.assign(size_t(Stride()) * size_t(AHeight), 0);
}

size_t TMonoBitmap::Index(int AX, int AY) const {
    if (AX < 0 || AY < 0 || AX >= FWidth || AY >= FHeight) throw std::out_of_range("TMonoBitmap: dot outside");
    return size_t(AY) * size_t(Stride()) + size_t(AX / 8);
}

bool TMonoBitmap::Dot(int AX, int AY) const {
    return (FBits[Index(AX, AY)] >> (7 - AX % 8)) & 1u;
}

void TMonoBitmap::SetDot(int AX, int AY, bool ABlack) {
    uint8_t& B = FBits[Index(AX, AY)];
    const auto Mask = uint8_t(0x80u >> (AX % 8));
    B = ABlack ? uint8_t(B | Mask) : uint8_t(B & ~Mask);
}

void TMonoBitmap::SetRowFromGrey(int AY, const unsigned char* AGrey) {
    if (AY < 0 || AY >= FHeight) throw std::out_of_range("TMonoBitmap: row outside");
    uint8_t* Row = FBits.data() + size_t(AY) * size_t(Stride());
    // A level of 128 or more has its top bit set: that bit is the dot. Eight
    // levels are read as one big-endian word (the leftmost in the top byte);
    // the multiplication gathers their top bits, leftmost first, into the
    // word's top byte without carries, since each bit lands on its own place.
    const int Whole = FWidth / 8;
    for (int I = 0; I < Whole; ++I) {
        uint64_t Word;
        std::memcpy(&Word, AGrey + size_t(I) * 8, 8);
        if constexpr (std::endian::native == std::endian::little) Word = __builtin_bswap64(Word);
        Row[I] = uint8_t(((Word & 0x8080808080808080ull) * 0x0002040810204081ull) >> 56);
    }
    if (FWidth % 8 != 0) {
        uint8_t B = 0;
        for (int J = 0; J < FWidth % 8; ++J) B |= uint8_t((AGrey[Whole * 8 + J] & 0x80u) >> J);
        Row[Whole] = B;
    }
}

size_t TMonoBitmap::BlackCount() const {
    size_t N = 0;
    for (uint8_t B : FBits) N += size_t(__builtin_popcount(B));
    return N;
}

// ---- Styles ------------------------------------------------------------------------

uint32_t ParseGraphicFontStyle(const std::string& AFontStyle) {
    uint32_t Style = 0;
    size_t Pos = 0;
    while (Pos <= AFontStyle.size()) {
        size_t End = AFontStyle.find(' ', Pos);
        if (End == std::string::npos) End = AFontStyle.size();
        const std::string Word = AFontStyle.substr(Pos, End - Pos);
        if (SameText(Word, "bold"))
            Style |= gfsBold;
        else if (SameText(Word, "italic"))
            Style |= gfsItalic;
        else if (SameText(Word, "underline"))
            Style |= gfsUnderline;
        else if (SameText(Word, "strikeout"))
            Style |= gfsStrikeout;
        Pos = End + 1;
    }
    return Style;
}

// ---- TGraphicText ------------------------------------------------------------------

TGraphicText::TGraphicText() = default;

int TGraphicText::GetDPI() const {
    return int(RoundHalfToEven(FDotsPerMM * MMPerInch));
}

void TGraphicText::SetDPI(int Value) {
    if (Value <= 0) throw std::invalid_argument("TGraphicText: dots per inch must be positive");
    FDotsPerMM = double(RoundHalfToEven(Value / MMPerInch));
    FFontResolution = Value;
}

std::string TGraphicText::BitmapToPrinterRows(const TMonoBitmap& ABitmap) {
    const size_t BytesPerRow = size_t(ABitmap.Width() / 8);
    const size_t Stride = size_t(ABitmap.Stride());
    const std::vector<uint8_t>& Bits = ABitmap.Bits();
    // The printer takes the leftmost dot of a byte in its lowest bit.
    static const auto Reversed = [] {
        std::array<char, 256> T{};
        for (uint32_t V = 0; V < 256; ++V) T[V] = char(ReverseBits8(V));
        return T;
    }();
    std::string Rows(BytesPerRow * size_t(ABitmap.Height()), '\0');
    char* Out = Rows.data();
    for (int Y = 0; Y < ABitmap.Height(); ++Y) {
        const uint8_t* Row = Bits.data() + size_t(Y) * Stride;
        for (size_t B = 0; B < BytesPerRow; ++B) *Out++ = Reversed[Row[B]];
    }
    return Rows;
}

// ---- TPrintGraphicText -------------------------------------------------------------

std::string TPrintGraphicText::GetGraphicText(const std::string& AText, int AWidth, int AHeight, int AFontSize,
                                              const std::string& AFontName, const std::string& AFontStyle,
                                              const std::string& AAlign, const std::string& AVAlign, bool AMultiline,
                                              int& ABitmapWidth, int& ABitmapHeight) {
    TGraphicText Renderer;
    Renderer.FFont.FStyle = ParseGraphicFontStyle(AFontStyle);
    Renderer.SetDPI(203);
    Renderer.FWidth = AWidth;
    Renderer.FHeight = AHeight;
    Renderer.FData = AText;
    if (!AFontName.empty()) Renderer.FFont.FName = AFontName;
    if (AFontSize > 0) Renderer.FFont.FSize = AFontSize;

    uint32_t Format = gtfNoPrefix | gtfEditControl | gtfEndEllipsis;
    if (ContainsNoCase(AAlign, "center"))
        Format |= gtfCenter;
    else if (ContainsNoCase(AAlign, "right"))
        Format |= gtfRight;
    if (ContainsNoCase(AVAlign, "center"))
        Format |= gtfVCenter;
    else if (ContainsNoCase(AVAlign, "bottom"))
        Format |= gtfBottom;
    Format |= AMultiline ? gtfWordBreak : gtfSingleLine;
    Renderer.FTextFormat = Format;

    const TMonoBitmap& Bitmap = Renderer.Render();
    ABitmapWidth = Bitmap.Width();
    ABitmapHeight = Bitmap.Height();
    return TGraphicText::BitmapToPrinterRows(Bitmap);
}

}  // namespace fr
