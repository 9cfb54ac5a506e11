// Graphic text drawn with Pango and Cairo into an image surface with
// antialiasing off, thresholded to one bit per dot. Font names resolve
// through fontconfig, so "Arial", "Times New Roman" and "Courier New" find
// their metric-compatible faces.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "base/uCurrency.h"
#include "device/uGraphicText.h"

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

PangoAlignment AlignmentOf(uint32_t AFormat) {
    if (AFormat & gtfCenter) return PANGO_ALIGN_CENTER;
    if (AFormat & gtfRight) return PANGO_ALIGN_RIGHT;
    return PANGO_ALIGN_LEFT;
}

}  // namespace

// Kept whole (about 110 lines): context, layout, surface and bitmap are
// made in order and each step reads the one before; the comments mark the
// steps, and the RAII holders end together at the return.
const TMonoBitmap& TGraphicText::Render() {
    const int W = CheckedWidthDots();

    const bool SingleLine = (FTextFormat & gtfSingleLine) != 0;
    const bool Wrap = !SingleLine && (FTextFormat & gtfWordBreak) != 0;
    const std::string Text = GraphicTextToDraw(FData, SingleLine);
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

}  // namespace fr
