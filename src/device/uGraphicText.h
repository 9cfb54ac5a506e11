// Graphic text: text drawn in a chosen font into a one-bit bitmap and turned
// into the byte rows the cash register loads into its graphics memory.
//
// The drawing itself is the system's (TGraphicText::Render): Pango with Cairo
// on Linux (uGraphicTextPosix.cpp), GDI on Windows (uGraphicTextWin32.cpp).
// Text is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fr {

// A monochrome picture, one bit per dot, rows from the top. In each byte of a
// row the most significant bit is the leftmost dot; a set bit is black.
class TMonoBitmap {
public:
    TMonoBitmap() = default;
    // White picture; raises std::invalid_argument for a negative size.
    TMonoBitmap(int AWidth, int AHeight);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Stride() const { return (FWidth + 7) / 8; }

    // Dot (AX, AY) is black. Raises std::out_of_range outside the picture.
    bool Dot(int AX, int AY) const;
    void SetDot(int AX, int AY, bool ABlack);
    // Row AY from Width() grey levels (0 white .. 255 black): a level of
    // 128 or more is a black dot. Raises std::out_of_range outside the picture.
    void SetRowFromGrey(int AY, const unsigned char* AGrey);
    // Number of black dots, for comparing renderings.
    size_t BlackCount() const;
    // Packed rows, Height() × Stride() bytes.
    const std::vector<uint8_t>& Bits() const { return FBits; }

    bool operator==(const TMonoBitmap&) const = default;

private:
    size_t Index(int AX, int AY) const;

    int FWidth = 0;
    int FHeight = 0;
    std::vector<uint8_t> FBits;
};

// Text-drawing flags of TGraphicText::FTextFormat.
enum TGraphicTextFormat : uint32_t {
    gtfLeft = 0,
    gtfCenter = 1u << 0,
    gtfRight = 1u << 1,
    gtfTop = 0,
    gtfVCenter = 1u << 2,
    gtfBottom = 1u << 3,
    gtfWordBreak = 1u << 4,    // wrap lines at word boundaries within the width
    gtfSingleLine = 1u << 5,   // one line; line breaks in the text become spaces
    gtfNoPrefix = 1u << 6,     // "&" is an ordinary character (always true here)
    gtfEditControl = 1u << 7,  // a word wider than the width is broken between characters
    gtfEndEllipsis = 1u << 8,  // a single line too wide for the width ends in "…"
};

// Font styles, combined as a set.
enum TGraphicFontStyle : uint32_t {
    gfsBold = 1u << 0,
    gfsItalic = 1u << 1,
    gfsUnderline = 1u << 2,
    gfsStrikeout = 1u << 3,
};

// The renderer's own font, used when the caller names none.
inline constexpr char DefaultGraphicFontName[] = "Arial";
inline constexpr int DefaultGraphicFontSize = 8;  // points

struct TGraphicFont {
    std::string FName = DefaultGraphicFontName;  // family name as fontconfig knows it
    int FSize = DefaultGraphicFontSize;          // points
    uint32_t FStyle = 0;                         // TGraphicFontStyle set
};

// Style words separated by spaces: "bold", "italic", "underline" and
// "strikeout" in any letter case add their style; other words are ignored.
uint32_t ParseGraphicFontStyle(const std::string& AFontStyle);

// The text as the renderers draw it: valid UTF-8 without NUL characters
// (Pango drops a text with either; GDI would stop at a NUL), and for a single
// line every line break turned into a space, so the whole text stays on its
// one line.
std::string GraphicTextToDraw(const std::string& AText, bool ASingleLine);

// The renderer: draws FData into FBitMap with FFont and FTextFormat.
class TGraphicText {
public:
    // Largest font size accepted; above it the dots per line overflow what
    // any surface or device could hold.
    static constexpr int MaxFontSize = 2000;
    // Largest bitmap side in dots (the image surface's own limit).
    static constexpr int MaxDots = 32767;

    TGraphicText();

    // Dots per inch of the bitmap: FDotsPerMM × 25.400051, rounded.
    int GetDPI() const;
    // Dots per millimetre := Value / 25.400051 rounded; font sizes in points
    // are converted at Value dots per inch.
    void SetDPI(int Value);
    int GetFontResolution() const { return FFontResolution; }

    // Draws FData: the bitmap is Round(FWidth × FDotsPerMM) dots wide and as
    // high as the laid-out text (0 for an empty text). FHeight does not limit
    // the text, and since the bitmap is exactly as high as the text the
    // vertical flags cannot move it. Raises std::runtime_error when the size
    // is out of range.
    const TMonoBitmap& Render();

    // Height rows of Width div 8 bytes, top row first; in each byte bit 0 is
    // the leftmost dot and a set bit is black. Dots beyond the last whole
    // byte of a row are not sent.
    static std::string BitmapToPrinterRows(const TMonoBitmap& ABitmap);

    TMonoBitmap FBitMap;
    double FHeight = 0;  // millimetres
    double FWidth = 0;   // millimetres
    double FDotsPerMM = 8;
    TGraphicFont FFont;
    std::string FData;
    uint32_t FTextFormat = gtfWordBreak;

private:
    // The box width in dots; raises when the width or the font size is out
    // of range. The same checks on every system, before any drawing.
    int CheckedWidthDots() const;

    int FFontResolution = 203;
};

class TPrintGraphicText {
public:
    // Renders AText in a box AWidth millimetres wide at 203 dots per inch
    // and returns its printer rows (see BitmapToPrinterRows) with the
    // bitmap's size in dots. AHeight is the box height in millimetres; the
    // bitmap's height follows the text. AFontSize is in points (0 or less:
    // the default size), an empty AFontName keeps the default font.
    // AAlign containing "center" centres, else containing "right" aligns
    // right, else left; AVAlign likewise with "center" and "bottom".
    // AMultiline wraps words (breaking over-long words); otherwise the text
    // is one line, cut with an ellipsis when too wide.
    static std::string GetGraphicText(const std::string& AText, int AWidth, int AHeight, int AFontSize,
                                      const std::string& AFontName, const std::string& AFontStyle,
                                      const std::string& AAlign, const std::string& AVAlign, bool AMultiline,
                                      int& ABitmapWidth, int& ABitmapHeight);
};

}  // namespace fr
