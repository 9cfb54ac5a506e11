// Drawing the virtual tape as a picture: text with Pango on a Cairo image
// surface, EAN-13 bars and QR modules as filled rectangles, graphics rows
// dot by dot; the grey picture is then written with libpng.
#include <cairo.h>
#include <pango/pangocairo.h>
#include <png.h>
#include <qrencode.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "uEmuTape.h"

namespace fr {
namespace {

constexpr int kWidth = 576;
constexpr int kMargin = 8;
constexpr int kLineHeight = 24;
constexpr int kGap = 6;

struct TCairoDeleter {
    void operator()(cairo_surface_t* S) const { cairo_surface_destroy(S); }
    void operator()(cairo_t* C) const { cairo_destroy(C); }
};
struct TGObjectDeleter {
    void operator()(void* P) const { g_object_unref(P); }
};
struct TQRDeleter {
    void operator()(QRcode* Q) const { QRcode_free(Q); }
};
struct TFileCloser {
    void operator()(FILE* F) const { std::fclose(F); }
};

// Bars of an EAN-13 code as 95 modules (1 = black).
std::string EAN13Modules(const std::string& ADigits) {
    static const char* L[10] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                                "0110001", "0101111", "0111011", "0110111", "0001011"};
    static const char* G[10] = {"0100111", "0110011", "0011011", "0100001", "0011101",
                                "0111001", "0000101", "0010001", "0001001", "0010111"};
    static const char* R[10] = {"1110010", "1100110", "1101100", "1000010", "1011100",
                                "1001110", "1010000", "1000100", "1001000", "1110100"};
    static const char* Parity[10] = {"LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
                                     "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"};
    std::string M = "101";
    int First = ADigits[0] - '0';
    for (int I = 1; I <= 6; ++I) {
        int D = ADigits[size_t(I)] - '0';
        M += Parity[First][I - 1] == 'L' ? L[D] : G[D];
    }
    M += "01010";
    for (int I = 7; I <= 12; ++I) M += R[ADigits[size_t(I)] - '0'];
    M += "101";
    return M;
}

class TTapePainter {
public:
    explicit TTapePainter(cairo_t* ACr) : FCr(ACr) {}

    // Draws one entry at AY (when drawing) and returns its height.
    int Entry(const TEmuTapeEntry& E, int AY, bool ADraw) {
        switch (E.Kind) {
            case TEmuTapeKind::tkText:
                return Text(E, AY, ADraw);
            case TEmuTapeKind::tkGraphics:
                return Graphics(E, AY, ADraw);
            case TEmuTapeKind::tkEAN13:
                return EAN13(E, AY, ADraw);
            case TEmuTapeKind::tkQR:
                return QR(E, AY, ADraw);
            case TEmuTapeKind::tkFeed:
                return kLineHeight * E.Count;
            case TEmuTapeKind::tkCut:
                if (ADraw) {
                    const double Dash[] = {E.Count == 0 ? 12.0 : 4.0, 6.0};
                    cairo_set_dash(FCr, Dash, 2, 0);
                    cairo_set_line_width(FCr, 1);
                    cairo_move_to(FCr, 0, AY + 10.5);
                    cairo_line_to(FCr, kWidth, AY + 10.5);
                    cairo_stroke(FCr);
                    cairo_set_dash(FCr, nullptr, 0, 0);
                }
                return 20;
        }
        return 0;
    }

private:
    int Text(const TEmuTapeEntry& E, int AY, bool ADraw) {
        std::unique_ptr<PangoLayout, TGObjectDeleter> Layout(pango_cairo_create_layout(FCr));
        PangoFontDescription* Font = pango_font_description_from_string("DejaVu Sans Mono");
        int Pixels = 19;
        if (E.Style == TEmuTextStyle::tsFont && E.Font > 1) Pixels = 19 + 4 * std::min(E.Font - 1, 4);
        pango_font_description_set_absolute_size(Font, Pixels * PANGO_SCALE);
        if (E.Style == TEmuTextStyle::tsBold || E.Style == TEmuTextStyle::tsTitle)
            pango_font_description_set_weight(Font, PANGO_WEIGHT_BOLD);
        pango_layout_set_font_description(Layout.get(), Font);
        pango_font_description_free(Font);
        pango_layout_set_width(Layout.get(), (kWidth - 2 * kMargin) * PANGO_SCALE);
        pango_layout_set_wrap(Layout.get(), PANGO_WRAP_CHAR);
        if (E.Style == TEmuTextStyle::tsTitle) pango_layout_set_alignment(Layout.get(), PANGO_ALIGN_CENTER);
        pango_layout_set_text(Layout.get(), E.Text.c_str(), int(E.Text.size()));
        int W = 0, H = 0;
        pango_layout_get_pixel_size(Layout.get(), &W, &H);
        if (ADraw) {
            cairo_move_to(FCr, kMargin, AY);
            pango_cairo_show_layout(FCr, Layout.get());
        }
        return std::max(H, kLineHeight);
    }

    int Graphics(const TEmuTapeEntry& E, int AY, bool ADraw) {
        if (ADraw) {
            for (size_t R = 0; R < E.Rows.size(); ++R) {
                const std::string& Row = E.Rows[R];
                int Left = std::max(0, (kWidth - int(Row.size()) * 8) / 2);
                for (size_t B = 0; B < Row.size(); ++B)
                    for (int Bit = 0; Bit < 8; ++Bit)
                        if (uint8_t(Row[B]) & (1u << Bit))
                            cairo_rectangle(FCr, Left + int(B) * 8 + Bit, AY + int(R), 1, 1);
            }
            cairo_fill(FCr);
        }
        return int(E.Rows.size()) + kGap;
    }

    int EAN13(const TEmuTapeEntry& E, int AY, bool ADraw) {
        constexpr int Module = 3, Height = 90;
        if (ADraw && E.Text.size() == 13) {
            std::string M = EAN13Modules(E.Text);
            int Left = (kWidth - int(M.size()) * Module) / 2;
            for (size_t I = 0; I < M.size(); ++I)
                if (M[I] == '1') cairo_rectangle(FCr, Left + int(I) * Module, AY, Module, Height);
            cairo_fill(FCr);
            TEmuTapeEntry Digits;
            Digits.Style = TEmuTextStyle::tsTitle;
            Digits.Text = E.Text;
            Text(Digits, AY + Height + 2, true);
        }
        return Height + kLineHeight + kGap;
    }

    int QR(const TEmuTapeEntry& E, int AY, bool ADraw) {
        std::unique_ptr<QRcode, TQRDeleter> Code(QRcode_encodeString8bit(E.Text.c_str(), 0, QR_ECLEVEL_M));
        if (!Code) return kLineHeight;
        int Module = std::max(2, std::min(6, 300 / Code->width));
        int Side = Code->width * Module;
        if (ADraw) {
            int Left = (kWidth - Side) / 2;
            for (int Y = 0; Y < Code->width; ++Y)
                for (int X = 0; X < Code->width; ++X)
                    if (Code->data[Y * Code->width + X] & 1)
                        cairo_rectangle(FCr, Left + X * Module, AY + Y * Module, Module, Module);
            cairo_fill(FCr);
        }
        return Side + kGap;
    }

    cairo_t* FCr;
};

// libpng reports failures by longjmp; this frame holds nothing to clean up
// but the write structures.
bool WriteGrayPNG(FILE* AFile, png_bytepp ARows, png_uint_32 AWidth, png_uint_32 AHeight) {
    png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!Png) return false;
    png_infop Info = png_create_info_struct(Png);
    if (!Info || setjmp(png_jmpbuf(Png))) {
        png_destroy_write_struct(&Png, Info ? &Info : nullptr);
        return false;
    }
    png_init_io(Png, AFile);
    png_set_IHDR(Png, Info, AWidth, AHeight, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(Png, Info, ARows);
    png_write_png(Png, Info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&Png, &Info);
    return true;
}

}  // namespace

void TEmuTape::WritePNG(const std::string& AFileName) const {
    // Measure on a scratch surface, then draw on one of the right height.
    int Height = 2 * kMargin;
    {
        std::unique_ptr<cairo_surface_t, TCairoDeleter> S(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
        std::unique_ptr<cairo_t, TCairoDeleter> Cr(cairo_create(S.get()));
        TTapePainter P(Cr.get());
        for (const auto& E : FEntries) Height += P.Entry(E, 0, false);
    }
    Height = std::min(Height, 200000);
    std::unique_ptr<cairo_surface_t, TCairoDeleter> Surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, Height));
    std::unique_ptr<cairo_t, TCairoDeleter> Cr(cairo_create(Surface.get()));
    cairo_set_antialias(Cr.get(), CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgb(Cr.get(), 1, 1, 1);
    cairo_paint(Cr.get());
    cairo_set_source_rgb(Cr.get(), 0, 0, 0);
    TTapePainter P(Cr.get());
    int Y = kMargin;
    for (const auto& E : FEntries) {
        if (Y >= Height) break;
        Y += P.Entry(E, Y, true);
    }
    cairo_surface_flush(Surface.get());

    std::vector<png_byte> Gray(static_cast<size_t>(kWidth) * static_cast<size_t>(Height));
    const unsigned char* Data = cairo_image_surface_get_data(Surface.get());
    int Stride = cairo_image_surface_get_stride(Surface.get());
    for (int Yr = 0; Yr < Height; ++Yr) {
        const uint32_t* Px = reinterpret_cast<const uint32_t*>(Data + size_t(Yr) * size_t(Stride));
        for (int X = 0; X < kWidth; ++X) Gray[size_t(Yr) * kWidth + size_t(X)] = png_byte((Px[X] >> 8) & 0xFF);
    }
    std::vector<png_bytep> Rows(static_cast<size_t>(Height));
    for (int Yr = 0; Yr < Height; ++Yr) Rows[size_t(Yr)] = Gray.data() + size_t(Yr) * kWidth;
    std::unique_ptr<FILE, TFileCloser> F(std::fopen(AFileName.c_str(), "wb"));
    if (!F) throw std::runtime_error("cannot create " + AFileName);
    if (!WriteGrayPNG(F.get(), Rows.data(), png_uint_32(kWidth), png_uint_32(Height)))
        throw std::runtime_error("cannot write " + AFileName);
    if (std::fflush(F.get()) != 0) throw std::runtime_error("cannot write " + AFileName);
}

}  // namespace fr
