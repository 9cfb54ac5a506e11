// Graphic text drawn with GDI: DrawTextW into a one-bit DIB section with
// the named font at the renderer's resolution. GDI has no glyph fall-back of
// its own, so a text with characters the named font lacks (GetGlyphIndicesW
// marks them) is laid out here, run by run, each run in a font that has its
// characters.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/uCurrency.h"
#include "base/uStrings.h"
#include "device/uGraphicText.h"

namespace fr {

namespace {

// Faces tried, in order, for characters the named font lacks: those of
// current Windows first, then the common free faces (Wine draws with the
// system's fonts).
constexpr const wchar_t* kFallbackFaces[] = {L"Segoe UI",  L"Arial",           L"Microsoft Sans Serif",
                                             L"Tahoma",    L"Segoe UI Symbol", L"DejaVu Sans",
                                             L"Noto Sans", L"FreeSans"};

struct TDcDeleter {
    void operator()(HDC P) const { DeleteDC(P); }
};
struct TObjectDeleter {
    void operator()(void* P) const { DeleteObject(static_cast<HGDIOBJ>(P)); }
};
using TDc = std::unique_ptr<std::remove_pointer_t<HDC>, TDcDeleter>;
using TObject = std::unique_ptr<void, TObjectDeleter>;

std::wstring Wide(const std::string& AUtf8) {
    const std::u16string U = Utf8ToUtf16(AUtf8);
    return std::wstring(U.begin(), U.end());
}

TObject MakeFont(const std::wstring& AFace, int ASize, int AResolution, uint32_t AStyle) {
    LOGFONTW F{};
    // A negative height is the character (em) height: size in points at the
    // renderer's resolution.
    F.lfHeight = -MulDiv(ASize, AResolution, 72);
    F.lfWeight = (AStyle & gfsBold) ? FW_BOLD : FW_NORMAL;
    F.lfItalic = (AStyle & gfsItalic) != 0;
    F.lfUnderline = (AStyle & gfsUnderline) != 0;
    F.lfStrikeOut = (AStyle & gfsStrikeout) != 0;
    F.lfCharSet = DEFAULT_CHARSET;
    F.lfOutPrecision = OUT_TT_PRECIS;
    F.lfQuality = NONANTIALIASED_QUALITY;
    wcsncpy(F.lfFaceName, AFace.c_str(), LF_FACESIZE - 1);
    TObject Font(CreateFontIndirectW(&F));
    if (!Font) throw std::runtime_error("Не удалось создать шрифт графического текста");
    return Font;
}

// Which characters of AText the font selected into ADC has.
std::vector<bool> Covered(HDC ADC, const std::wstring& AText) {
    std::vector<WORD> Glyphs(AText.size());
    std::vector<bool> Has(AText.size(), false);
    if (AText.empty()) return Has;
    if (GetGlyphIndicesW(ADC, AText.c_str(), int(AText.size()), Glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) ==
        GDI_ERROR)
        return std::vector<bool>(AText.size(), true);
    for (size_t I = 0; I < AText.size(); ++I)
        Has[I] = Glyphs[I] != 0xFFFF || AText[I] == L'\n' || AText[I] == L'\r' || AText[I] == L'\t';
    return Has;
}

// The one-bit drawing surface: a top-down DIB section, white, black text.
struct TSurface {
    TDc DC;
    TObject Bitmap;
    void* Bits = nullptr;
    int Width = 0;
    int Height = 0;

    TSurface(int AWidth, int AHeight) : DC(CreateCompatibleDC(nullptr)), Width(AWidth), Height(AHeight) {
        if (!DC) throw std::runtime_error("Не удалось создать изображение графического текста");
        if (AWidth == 0 || AHeight == 0) return;
        struct {
            BITMAPINFOHEADER Header;
            RGBQUAD Colors[2];
        } Info{};
        Info.Header.biSize = sizeof(BITMAPINFOHEADER);
        Info.Header.biWidth = AWidth;
        Info.Header.biHeight = -AHeight;  // top row first
        Info.Header.biPlanes = 1;
        Info.Header.biBitCount = 1;
        Info.Header.biCompression = BI_RGB;
        Info.Colors[1] = RGBQUAD{255, 255, 255, 0};  // index 0 black, 1 white
        Bitmap.reset(
            CreateDIBSection(DC.get(), reinterpret_cast<BITMAPINFO*>(&Info), DIB_RGB_COLORS, &Bits, nullptr, 0));
        if (!Bitmap || !Bits) throw std::runtime_error("Не удалось создать изображение графического текста");
        SelectObject(DC.get(), Bitmap.get());
        PatBlt(DC.get(), 0, 0, AWidth, AHeight, WHITENESS);
        SetTextColor(DC.get(), RGB(0, 0, 0));
        SetBkMode(DC.get(), TRANSPARENT);
    }

    TMonoBitmap ToMono() {
        GdiFlush();
        TMonoBitmap Out(Width, Height);
        const size_t Stride = size_t((Width + 31) / 32 * 4);
        std::vector<unsigned char> Grey(static_cast<size_t>(Width));
        for (int Y = 0; Y < Height; ++Y) {
            const auto* Row = static_cast<const unsigned char*>(Bits) + size_t(Y) * Stride;
            for (int X = 0; X < Width; ++X) Grey[size_t(X)] = ((Row[X / 8] >> (7 - X % 8)) & 1) ? 0 : 255;
            Out.SetRowFromGrey(Y, Grey.data());
        }
        return Out;
    }
};

UINT DrawFlags(uint32_t AFormat) {
    UINT F = 0;
    if (AFormat & gtfCenter) F |= DT_CENTER;
    if (AFormat & gtfRight) F |= DT_RIGHT;
    if (AFormat & gtfVCenter) F |= DT_VCENTER;
    if (AFormat & gtfBottom) F |= DT_BOTTOM;
    if (AFormat & gtfSingleLine)
        F |= DT_SINGLELINE;
    else if (AFormat & gtfWordBreak)
        F |= DT_WORDBREAK;
    if (AFormat & gtfNoPrefix) F |= DT_NOPREFIX;
    if (AFormat & gtfEditControl) F |= DT_EDITCONTROL;
    if ((AFormat & gtfEndEllipsis) && (AFormat & gtfSingleLine)) F |= DT_END_ELLIPSIS;
    return F;
}

// ---- Layout with more than one font ------------------------------------------------

struct TRun {
    size_t From;  // in the text
    size_t Count;
    size_t Font;  // index into the fonts
};

class TMixedLayout {
public:
    TMixedLayout(HDC ADC, const std::wstring& AText, std::vector<TObject>& AFonts, std::vector<size_t> AFontOf)
        : FDC(ADC), FText(AText), FFonts(AFonts), FFontOf(std::move(AFontOf)) {
        for (const TObject& F : FFonts) {
            SelectObject(FDC, F.get());
            TEXTMETRICW M{};
            GetTextMetricsW(FDC, &M);
            FLineHeight = std::max<int>(FLineHeight, M.tmHeight);
        }
    }

    // Width of FText[AFrom, ATo) drawn run by run.
    int Width(size_t AFrom, size_t ATo) const {
        int W = 0;
        for (const TRun& R : Runs(AFrom, ATo)) {
            SelectObject(FDC, FFonts[R.Font].get());
            SIZE S{};
            GetTextExtentPoint32W(FDC, FText.c_str() + R.From, int(R.Count), &S);
            W += S.cx;
        }
        return W;
    }

    std::vector<TRun> Runs(size_t AFrom, size_t ATo) const {
        std::vector<TRun> Out;
        for (size_t I = AFrom; I < ATo; ++I) {
            if (!Out.empty() && Out.back().Font == FFontOf[I])
                ++Out.back().Count;
            else
                Out.push_back({I, 1, FFontOf[I]});
        }
        return Out;
    }

    // Lines as [from, to) ranges, wrapped within AWidth when AWrap.
    std::vector<std::pair<size_t, size_t>> Lines(int AWidth, bool AWrap) const {
        std::vector<std::pair<size_t, size_t>> Out;
        size_t Start = 0;
        while (Start <= FText.size()) {
            size_t End = FText.find(L'\n', Start);
            if (End == std::wstring::npos) End = FText.size();
            size_t To = End;
            while (To > Start && FText[To - 1] == L'\r') --To;
            if (!AWrap) {
                Out.emplace_back(Start, To);
            } else {
                size_t From = Start;
                do {
                    size_t Cut = From;
                    size_t LastSpace = std::wstring::npos;
                    while (Cut < To && Width(From, Cut + 1) <= AWidth) {
                        if (FText[Cut] == L' ') LastSpace = Cut;
                        ++Cut;
                    }
                    if (Cut < To) {
                        if (LastSpace != std::wstring::npos && LastSpace > From)
                            Cut = LastSpace + 1;  // the space ends the line
                        else if (Cut == From)
                            Cut = From + 1;  // a character wider than the line still goes
                    }
                    size_t Visible = Cut;
                    while (Visible > From && FText[Visible - 1] == L' ') --Visible;
                    Out.emplace_back(From, Visible);
                    From = Cut;
                } while (From < To);
            }
            if (End == FText.size()) break;
            Start = End + 1;
        }
        return Out;
    }

    int LineHeight() const { return FLineHeight; }

    void DrawLine(size_t AFrom, size_t ATo, int AX, int AY) const {
        int X = AX;
        for (const TRun& R : Runs(AFrom, ATo)) {
            SelectObject(FDC, FFonts[R.Font].get());
            TextOutW(FDC, X, AY, FText.c_str() + R.From, int(R.Count));
            SIZE S{};
            GetTextExtentPoint32W(FDC, FText.c_str() + R.From, int(R.Count), &S);
            X += S.cx;
        }
    }

private:
    HDC FDC;
    const std::wstring& FText;
    std::vector<TObject>& FFonts;
    std::vector<size_t> FFontOf;
    int FLineHeight = 0;
};

}  // namespace

// Kept whole (about 95 lines): device context, fonts, DIB section and
// bitmap are made in order and each step reads the one before; the comments
// mark the steps, and the GDI holders end together at the return.
const TMonoBitmap& TGraphicText::Render() {
    const int W = CheckedWidthDots();

    const bool SingleLine = (FTextFormat & gtfSingleLine) != 0;
    const bool Wrap = !SingleLine && (FTextFormat & gtfWordBreak) != 0;
    std::wstring Text = Wide(GraphicTextToDraw(FData, SingleLine));
    if (Text.empty() || W == 0) {
        FBitMap = TMonoBitmap(W, 0);
        return FBitMap;
    }

    const std::wstring Face = Wide(FFont.FName.empty() ? DefaultGraphicFontName : FFont.FName);
    const int Size = FFont.FSize > 0 ? FFont.FSize : DefaultGraphicFontSize;
    std::vector<TObject> Fonts;
    Fonts.push_back(MakeFont(Face, Size, FFontResolution, FFont.FStyle));

    // Which font draws each character: the named one where it has a glyph,
    // else the first fall-back face that has one.
    TSurface Probe(0, 0);
    SelectObject(Probe.DC.get(), Fonts[0].get());
    const std::vector<bool> Named = Covered(Probe.DC.get(), Text);
    std::vector<size_t> FontOf(Text.size(), 0);
    bool Mixed = false;
    for (size_t I = 0; I < Text.size(); ++I) {
        if (Named[I]) continue;
        for (size_t F = 0; F < std::size(kFallbackFaces); ++F) {
            if (Fonts.size() < F + 2) Fonts.push_back(MakeFont(kFallbackFaces[F], Size, FFontResolution, FFont.FStyle));
            SelectObject(Probe.DC.get(), Fonts[F + 1].get());
            if (Covered(Probe.DC.get(), Text.substr(I, 1))[0]) {
                FontOf[I] = F + 1;
                Mixed = true;
                break;
            }
        }
    }

    if (!Mixed) {
        // One font: GDI lays the text out itself.
        const UINT Flags = DrawFlags(FTextFormat);
        RECT Measure{0, 0, W, 0};
        SelectObject(Probe.DC.get(), Fonts[0].get());
        DrawTextW(Probe.DC.get(), Text.c_str(), int(Text.size()), &Measure, Flags | DT_CALCRECT);
        const int H = Measure.bottom - Measure.top;
        if (H <= 0) {
            FBitMap = TMonoBitmap(W, 0);
            return FBitMap;
        }
        if (H > MaxDots) throw std::runtime_error("Графический текст слишком велик");
        TSurface Surface(W, H);
        SelectObject(Surface.DC.get(), Fonts[0].get());
        RECT Box{0, 0, W, H};
        DrawTextW(Surface.DC.get(), Text.c_str(), int(Text.size()), &Box, Flags);
        FBitMap = Surface.ToMono();
        return FBitMap;
    }

    TMixedLayout Layout(Probe.DC.get(), Text, Fonts, FontOf);
    auto Lines = Layout.Lines(W, Wrap);
    if (SingleLine && (FTextFormat & gtfEndEllipsis) && !Lines.empty() &&
        Layout.Width(Lines[0].first, Lines[0].second) > W) {
        // Cut to what fits with an ellipsis after it.
        const size_t From = Lines[0].first;
        size_t To = Lines[0].second;
        Text.insert(To, L"\u2026");
        FontOf.insert(FontOf.begin() + std::ptrdiff_t(To), 0);
        TMixedLayout Cut(Probe.DC.get(), Text, Fonts, FontOf);
        while (To > From && Cut.Width(From, To) + Cut.Width(Lines[0].second, Lines[0].second + 1) > W) --To;
        Text.erase(To, Lines[0].second - To);
        FontOf.erase(FontOf.begin() + std::ptrdiff_t(To), FontOf.begin() + std::ptrdiff_t(Lines[0].second));
        Lines[0].second = To + 1;
    }
    TMixedLayout Final(Probe.DC.get(), Text, Fonts, FontOf);
    const int H = Final.LineHeight() * int(Lines.size());
    if (H <= 0) {
        FBitMap = TMonoBitmap(W, 0);
        return FBitMap;
    }
    if (H > MaxDots) throw std::runtime_error("Графический текст слишком велик");
    TSurface Surface(W, H);
    TMixedLayout Draw(Surface.DC.get(), Text, Fonts, FontOf);
    for (size_t L = 0; L < Lines.size(); ++L) {
        const int LineWidth = Draw.Width(Lines[L].first, Lines[L].second);
        int X = 0;
        if (FTextFormat & gtfCenter)
            X = (W - LineWidth) / 2;
        else if (FTextFormat & gtfRight)
            X = W - LineWidth;
        Draw.DrawLine(Lines[L].first, Lines[L].second, X, int(L) * Draw.LineHeight());
    }
    FBitMap = Surface.ToMono();
    return FBitMap;
}

}  // namespace fr
