#include "device/uGraphicText.h"

#include <cairo.h>
#include <pango/pangocairo.h>

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

// ---- Ownership of Cairo, Pango and GLib objects ------------------------------------

struct TGObjectUnref {
    void operator()(void* P) const {
        if (P) g_object_unref(P);
    }
};
struct TCairoDestroy {
    void operator()(cairo_t* P) const { cairo_destroy(P); }
};
struct TSurfaceDestroy {
    void operator()(cairo_surface_t* P) const { cairo_surface_destroy(P); }
};
struct TFontOptionsDestroy {
    void operator()(cairo_font_options_t* P) const { cairo_font_options_destroy(P); }
};
struct TFontDescriptionFree {
    void operator()(PangoFontDescription* P) const { pango_font_description_free(P); }
};
struct TAttrListUnref {
    void operator()(PangoAttrList* P) const { pango_attr_list_unref(P); }
};

template <class T>
using TGObjectPtr = std::unique_ptr<T, TGObjectUnref>;

// One font map for the whole library: building it reads the fontconfig
// configuration and its caches, far too slow to repeat per rendering. The
// lock keeps two driver objects used from different threads off it at once.
std::mutex GFontMapLock;
TGObjectPtr<PangoFontMap> GFontMap;

PangoFontMap* FontMap() {
    if (!GFontMap) {
        GFontMap.reset(pango_cairo_font_map_new());
        if (!GFontMap) throw std::runtime_error("Не удалось подготовить шрифты для графического текста");
    }
    return GFontMap.get();
}

constexpr double MMPerInch = 25.400051;

// Pango takes valid UTF-8 without NUL characters only (anything else makes
// it complain on standard error and drop the text). A single line gets every
// line break turned into a space, so the whole text stays on its one line.
std::string CleanText(const std::string& AText, bool ASingleLine) {
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

PangoAlignment AlignmentOf(uint32_t AFormat) {
    if (AFormat & gtfCenter) return PANGO_ALIGN_CENTER;
    if (AFormat & gtfRight) return PANGO_ALIGN_RIGHT;
    return PANGO_ALIGN_LEFT;
}

bool ContainsNoCase(const std::string& AText, const char* AWord) {
    return LowerCase(AText).find(AWord) != std::string::npos;
}

}  // namespace

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

const TMonoBitmap& TGraphicText::Render() {
    const double WidthDots = FWidth * FDotsPerMM;
    if (!(WidthDots >= 0 && WidthDots <= MaxDots)) throw std::runtime_error("Недопустимая ширина графического текста");
    if (FFont.FSize > MaxFontSize) throw std::runtime_error("Слишком большой размер шрифта графического текста");
    const int W = int(RoundHalfToEven(WidthDots));

    const bool SingleLine = (FTextFormat & gtfSingleLine) != 0;
    const bool Wrap = !SingleLine && (FTextFormat & gtfWordBreak) != 0;
    const std::string Text = CleanText(FData, SingleLine);
    // Nothing to draw, or nowhere to draw it: no rows at all rather than
    // blank ones, so that nothing is fed through the printer.
    if (Text.empty() || W == 0) {
        FBitMap = TMonoBitmap(W, 0);
        return FBitMap;
    }

    std::lock_guard<std::mutex> Lock(GFontMapLock);
    TGObjectPtr<PangoContext> Context(pango_font_map_create_context(FontMap()));
    pango_cairo_context_set_resolution(Context.get(), FFontResolution);
    {
        // One bit per dot: no grey edges to threshold away, and glyphs
        // hinted to the dot grid so that thin strokes do not vanish.
        std::unique_ptr<cairo_font_options_t, TFontOptionsDestroy> Options(cairo_font_options_create());
        cairo_font_options_set_antialias(Options.get(), CAIRO_ANTIALIAS_NONE);
        cairo_font_options_set_hint_style(Options.get(), CAIRO_HINT_STYLE_FULL);
        cairo_font_options_set_hint_metrics(Options.get(), CAIRO_HINT_METRICS_ON);
        pango_cairo_context_set_font_options(Context.get(), Options.get());
    }

    TGObjectPtr<PangoLayout> Layout(pango_layout_new(Context.get()));
    {
        std::unique_ptr<PangoFontDescription, TFontDescriptionFree> Desc(pango_font_description_new());
        pango_font_description_set_family(Desc.get(),
                                          FFont.FName.empty() ? DefaultGraphicFontName : FFont.FName.c_str());
        pango_font_description_set_size(Desc.get(),
                                        (FFont.FSize > 0 ? FFont.FSize : DefaultGraphicFontSize) * PANGO_SCALE);
        pango_layout_set_font_description(Layout.get(), Desc.get());
    }
    {
        std::unique_ptr<PangoAttrList, TAttrListUnref> Attrs(pango_attr_list_new());
        // Each attribute covers the whole text (its default range).
        if (FFont.FStyle & gfsBold) pango_attr_list_insert(Attrs.get(), pango_attr_weight_new(PANGO_WEIGHT_BOLD));
        if (FFont.FStyle & gfsItalic) pango_attr_list_insert(Attrs.get(), pango_attr_style_new(PANGO_STYLE_ITALIC));
        if (FFont.FStyle & gfsUnderline)
            pango_attr_list_insert(Attrs.get(), pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (FFont.FStyle & gfsStrikeout) pango_attr_list_insert(Attrs.get(), pango_attr_strikethrough_new(TRUE));
        // A word broken across lines is printed as it is, without a hyphen
        // that is not in the text.
        pango_attr_list_insert(Attrs.get(), pango_attr_insert_hyphens_new(FALSE));
        pango_layout_set_attributes(Layout.get(), Attrs.get());
    }
    // Alignment means the side of the paper, whatever the script's direction.
    pango_layout_set_auto_dir(Layout.get(), FALSE);
    pango_layout_set_alignment(Layout.get(), AlignmentOf(FTextFormat));
    pango_layout_set_text(Layout.get(), Text.data(), int(Text.size()));

    // Where Pango knows the box width it aligns the lines itself; without a
    // width (no wrapping, no ellipsis) it aligns them against the widest
    // line, and the whole block is then shifted into place here.
    bool ShiftBlock = false;
    if (Wrap) {
        pango_layout_set_width(Layout.get(), W * PANGO_SCALE);
        pango_layout_set_wrap(Layout.get(), (FTextFormat & gtfEditControl) ? PANGO_WRAP_WORD_CHAR : PANGO_WRAP_WORD);
    } else if (SingleLine && (FTextFormat & gtfEndEllipsis)) {
        pango_layout_set_width(Layout.get(), W * PANGO_SCALE);
        pango_layout_set_ellipsize(Layout.get(), PANGO_ELLIPSIZE_END);
    } else {
        ShiftBlock = true;
    }

    PangoRectangle Logical{};
    pango_layout_get_pixel_extents(Layout.get(), nullptr, &Logical);
    if (Logical.height <= 0) {
        FBitMap = TMonoBitmap(W, 0);
        return FBitMap;
    }
    if (Logical.height > MaxDots) throw std::runtime_error("Графический текст слишком велик");
    const int H = Logical.height;

    double X = 0;
    if (ShiftBlock) {
        if (FTextFormat & gtfCenter)
            X = std::floor((W - Logical.width) / 2.0);
        else if (FTextFormat & gtfRight)
            X = W - Logical.width;
        X -= Logical.x;
    }

    std::unique_ptr<cairo_surface_t, TSurfaceDestroy> Surface(cairo_image_surface_create(CAIRO_FORMAT_A8, W, H));
    if (cairo_surface_status(Surface.get()) != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error("Не удалось создать изображение графического текста");
    {
        std::unique_ptr<cairo_t, TCairoDestroy> Cr(cairo_create(Surface.get()));
        cairo_set_source_rgba(Cr.get(), 0, 0, 0, 1);
        cairo_move_to(Cr.get(), X, -Logical.y);
        pango_cairo_show_layout(Cr.get(), Layout.get());
        if (cairo_status(Cr.get()) != CAIRO_STATUS_SUCCESS)
            throw std::runtime_error("Не удалось нарисовать графический текст");
    }
    cairo_surface_flush(Surface.get());

    TMonoBitmap Bitmap(W, H);
    const unsigned char* Data = cairo_image_surface_get_data(Surface.get());
    const int Stride = cairo_image_surface_get_stride(Surface.get());
    for (int Y = 0; Y < H; ++Y) Bitmap.SetRowFromGrey(Y, Data + size_t(Y) * size_t(Stride));
    FBitMap = std::move(Bitmap);
    return FBitMap;
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
