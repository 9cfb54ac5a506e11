// Graphic text checked on the rendered dots: row layout, placement,
// styles, sizes, line breaking and repeatability.
#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#include "device/uGraphicText.h"

namespace fr {
namespace {

// One rendering as the device layer asks for it, with the rows read back.
struct TRendered {
    std::string Rows;
    int Width = 0;
    int Height = 0;

    int BytesPerRow() const { return Width / 8; }
    // Dot of the printer rows: bit 0 of each byte is its leftmost dot.
    bool Dot(int X, int Y) const {
        const size_t I = size_t(Y) * size_t(BytesPerRow()) + size_t(X / 8);
        return (static_cast<unsigned char>(Rows.at(I)) >> (X % 8)) & 1u;
    }
    size_t Black() const {
        size_t N = 0;
        for (char C : Rows) N += size_t(__builtin_popcount(static_cast<unsigned char>(C)));
        return N;
    }
    // Leftmost and rightmost columns holding a black dot (-1 when blank).
    std::pair<int, int> InkColumns() const {
        int L = -1, R = -1;
        for (int X = 0; X < BytesPerRow() * 8; ++X)
            for (int Y = 0; Y < Height; ++Y)
                if (Dot(X, Y)) {
                    if (L < 0) L = X;
                    R = X;
                    break;
                }
        return {L, R};
    }
    bool RowHasInk(int Y) const {
        for (int X = 0; X < BytesPerRow() * 8; ++X)
            if (Dot(X, Y)) return true;
        return false;
    }
    // Runs of rows with ink, separated by blank rows: the text lines when
    // the text has no descenders.
    int InkBands() const {
        int N = 0;
        bool In = false;
        for (int Y = 0; Y < Height; ++Y) {
            const bool Ink = RowHasInk(Y);
            if (Ink && !In) ++N;
            In = Ink;
        }
        return N;
    }
    int InkRowCount() const {
        int N = 0;
        for (int Y = 0; Y < Height; ++Y) N += RowHasInk(Y);
        return N;
    }
};

struct TRequest {
    std::string Text = "ИТОГО 123";
    int Size = 12;
    std::string Font = "Arial";
    std::string Style;
    std::string Align = "center";
    std::string VAlign = "center";
    bool Multiline = true;
    int WidthMM = 40;
};

TRendered Render(const TRequest& R) {
    TRendered Out;
    Out.Rows = TPrintGraphicText::GetGraphicText(R.Text, R.WidthMM, int(R.Size * 0.376 + 0.5), R.Size, R.Font, R.Style,
                                                 R.Align, R.VAlign, R.Multiline, Out.Width, Out.Height);
    return Out;
}

TRendered With(std::string Text, int Size = 12, std::string Style = "") {
    TRequest R;
    R.Text = std::move(Text);
    R.Size = Size;
    R.Style = std::move(Style);
    return Render(R);
}

// ---- Printer rows -------------------------------------------------------------------

TEST(GraphicRows, BitZeroIsTheLeftmostDotAndPartialBytesAreNotSent) {
    TMonoBitmap B(20, 3);  // two whole bytes per row; dots 16..19 are not sent
    B.SetDot(0, 0, true);
    B.SetDot(9, 1, true);
    B.SetDot(15, 2, true);
    B.SetDot(17, 2, true);
    const std::string Rows = TGraphicText::BitmapToPrinterRows(B);
    ASSERT_EQ(Rows, std::string("\x01\x00\x00\x02\x00\x80", 6));
    EXPECT_EQ(TGraphicText::BitmapToPrinterRows(TMonoBitmap(7, 4)), "");  // no whole byte
    EXPECT_THROW(B.Dot(20, 0), std::out_of_range);
}

TEST(GraphicRows, GreyRowsBecomeTheSameDotsAsSetOneByOne) {
    const unsigned char Grey[2][11] = {{0, 128, 127, 255, 0, 0, 0, 200, 129, 0, 255},
                                       {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255}};
    TMonoBitmap FromRows(11, 2), FromDots(11, 2);
    for (int Y = 0; Y < 2; ++Y) {
        FromRows.SetRowFromGrey(Y, Grey[Y]);
        for (int X = 0; X < 11; ++X) FromDots.SetDot(X, Y, Grey[Y][X] >= 128);
    }
    EXPECT_EQ(FromRows, FromDots);
    EXPECT_EQ(FromRows.Bits(), (std::vector<uint8_t>{0x51, 0xA0, 0xFF, 0xE0}));
    EXPECT_THROW(FromRows.SetRowFromGrey(2, Grey[0]), std::out_of_range);

    // A wide row of every level, in an order that mixes them.
    std::vector<unsigned char> Wide(203);
    for (size_t X = 0; X < Wide.size(); ++X) Wide[X] = static_cast<unsigned char>(X * 97 % 256);
    TMonoBitmap WideRows(203, 1), WideDots(203, 1);
    WideRows.SetRowFromGrey(0, Wide.data());
    for (int X = 0; X < 203; ++X) WideDots.SetDot(X, 0, Wide[size_t(X)] >= 128);
    EXPECT_EQ(WideRows, WideDots);
}

TEST(GraphicRows, DeviceCallGivesRowsOf320DotsAndHeightOfTheText) {
    const TRendered R = With("ИТОГО 123");
    EXPECT_EQ(R.Width, 320);
    ASSERT_GT(R.Height, 0);
    EXPECT_EQ(R.Rows.size(), size_t(R.Height) * 40);
    // 12 points at 203 dpi is an em of about 34 dots; one line of Arial is
    // about 1.15 em high.
    EXPECT_NEAR(R.Height, 39, 3);
    EXPECT_TRUE(R.RowHasInk(R.Height / 2));
}

TEST(GraphicRows, SizeIsInPointsAt203DotsPerInch) {
    // A capital H of Arial is 0.716 em high; at 40 points the em is 112.8 dots.
    const TRendered R = With("H", 40);
    EXPECT_NEAR(R.InkRowCount(), 81, 3);
    const TRendered Small = With("H", 20);
    EXPECT_NEAR(Small.InkRowCount(), 40, 2);
}

TEST(GraphicRows, EmptyTextGivesNoRows) {
    for (const bool Multiline : {true, false}) {
        TRequest Q;
        Q.Text = "";
        Q.Multiline = Multiline;
        const TRendered R = Render(Q);
        EXPECT_EQ(R.Width, 320);
        EXPECT_EQ(R.Height, 0);
        EXPECT_EQ(R.Rows, "");
    }
}

// ---- Placement ----------------------------------------------------------------------

TEST(GraphicPlacement, HorizontalAlignmentFollowsTheWordsInTheText) {
    struct TCase {
        const char* Align;
        char Expected;  // L, C, R
    };
    const TCase Cases[] = {
        {"center", 'C'}, {"CENTER", 'C'},     {"Center right", 'C'},
        {"right", 'R'},  {"AlignRight", 'R'}, {"top-right", 'R'},
        {"left", 'L'},   {"", 'L'},           {"middle", 'L'},
    };
    for (const TCase& C : Cases) {
        TRequest Q;
        Q.Text = "ABC";
        Q.Align = C.Align;
        const TRendered R = Render(Q);
        const auto [L, Rt] = R.InkColumns();
        ASSERT_GE(L, 0) << C.Align;
        const int LeftMargin = L, RightMargin = R.Width - 1 - Rt;
        switch (C.Expected) {
            case 'C':
                EXPECT_NEAR(LeftMargin, RightMargin, 3) << C.Align;
                break;
            case 'L':
                EXPECT_LT(LeftMargin, 6) << C.Align;
                EXPECT_GT(RightMargin, 150) << C.Align;
                break;
            case 'R':
                EXPECT_LT(RightMargin, 6) << C.Align;
                EXPECT_GT(LeftMargin, 150) << C.Align;
                break;
        }
    }
}

TEST(GraphicPlacement, EveryWrappedLineIsCentred) {
    // Two lines of different length; each must be centred on its own.
    const TRendered R = With("WWWWWW\nII", 20);
    ASSERT_EQ(R.InkBands(), 2);
    for (const auto& [From, To] : {std::pair{0, R.Height / 2}, std::pair{R.Height / 2, R.Height}}) {
        int L = -1, Rt = -1;
        for (int X = 0; X < 320; ++X)
            for (int Y = From; Y < To; ++Y)
                if (R.Dot(X, Y)) {
                    if (L < 0) L = X;
                    Rt = X;
                    break;
                }
        ASSERT_GE(L, 0);
        EXPECT_NEAR(L, 319 - Rt, 3);
    }
}

TEST(GraphicPlacement, UnwrappedLinesAreAlignedAgainstTheBoxNotTheWidestLine) {
    // Without wrapping or ellipsis the renderer places the lines itself.
    struct TCase {
        uint32_t Format;
        char Expected;
    };
    for (const TCase& C : {TCase{gtfRight, 'R'}, TCase{gtfCenter, 'C'}, TCase{gtfSingleLine | gtfRight, 'R'},
                           TCase{gtfSingleLine, 'L'}}) {
        TGraphicText T;
        T.FWidth = 40;
        T.FData = "WIDE LINE\nI";
        T.FTextFormat = C.Format;
        const TMonoBitmap& B = T.Render();
        ASSERT_EQ(B.Width(), 320);
        // Columns with ink in the bottom half: the short line when the text
        // has two lines, the lower half of the single line otherwise.
        int L = -1, R = -1;
        for (int X = 0; X < B.Width(); ++X)
            for (int Y = B.Height() / 2; Y < B.Height(); ++Y)
                if (B.Dot(X, Y)) {
                    if (L < 0) L = X;
                    R = X;
                    break;
                }
        ASSERT_GE(L, 0) << C.Format;
        if (C.Expected == 'R') {
            EXPECT_GT(R, 312) << C.Format;
        } else if (C.Expected == 'L') {
            EXPECT_LT(L, 6) << C.Format;
        } else {
            EXPECT_NEAR(L, 319 - R, 3) << C.Format;
        }
    }
}

TEST(GraphicPlacement, VerticalAlignmentCannotMoveTextInABitmapOfItsOwnHeight) {
    TRequest Q;
    Q.Text = "ABC";
    Q.VAlign = "top";
    const TRendered Top = Render(Q);
    for (const char* V : {"center", "bottom"}) {
        Q.VAlign = V;
        EXPECT_EQ(Render(Q).Rows, Top.Rows) << V;
    }
}

// ---- Lines --------------------------------------------------------------------------

TEST(GraphicLines, MultilineWrapsWordsWithinTheWidthSingleLineDoesNot) {
    const std::string Long = "HELLO WORLD THIS TEXT IS FAR TOO LONG FOR ONE LINE";
    TRequest Q;
    Q.Text = Long;
    Q.Size = 20;
    const TRendered Multi = Render(Q);
    Q.Multiline = false;
    const TRendered Single = Render(Q);
    Q.Text = "HELLO";
    const TRendered OneLine = Render(Q);

    EXPECT_GE(Multi.InkBands(), 3);
    EXPECT_GT(Multi.Height, 3 * OneLine.Height - 3);
    EXPECT_EQ(Single.InkBands(), 1);
    EXPECT_EQ(Single.Height, OneLine.Height);
    // The single line is cut to the width: ink up to the right edge, ending
    // in the ellipsis (three separate dots on the baseline).
    const auto [L, R] = Single.InkColumns();
    EXPECT_LT(L, 6);
    EXPECT_GT(R, 300);
}

TEST(GraphicLines, WordWiderThanTheWidthIsBrokenNotCut) {
    const TRendered R = With(std::string(30, 'W'), 20);
    EXPECT_GE(R.InkBands(), 3);
    // All thirty letters are drawn: the lines together carry far more ink
    // than one full line would.
    const TRendered OneLine = With("WWWWWW", 20);
    EXPECT_GT(R.Black(), 4 * OneLine.Black());
}

TEST(GraphicLines, LineBreaksStartNewLinesOnlyInMultilineMode) {
    TRequest Q;
    Q.Text = "AB\r\nCD\rEF\nGH";
    const TRendered Multi = Render(Q);
    EXPECT_EQ(Multi.InkBands(), 4);
    Q.Multiline = false;
    const TRendered Single = Render(Q);
    EXPECT_EQ(Single.InkBands(), 1);
    Q.Text = "AB CD EF GH";
    EXPECT_EQ(Render(Q).Rows, Single.Rows);  // each break became one space
}

// ---- Fonts and styles ----------------------------------------------------------------

TEST(GraphicFont, StyleWordsInAnyCaseOthersIgnored) {
    struct TCase {
        const char* Text;
        uint32_t Style;
    };
    const TCase Cases[] = {
        {"BOLD Italic shiny", gfsBold | gfsItalic},
        {"  bold   ", gfsBold},
        {"bold italic strikeout underline", gfsBold | gfsItalic | gfsStrikeout | gfsUnderline},
        {"StrikeOut UNDERLINE", gfsStrikeout | gfsUnderline},
        {"bolder italics", 0},
        {"regular", 0},
        {"", 0},
        {"bold,italic", 0},  // words are separated by spaces only
    };
    for (const TCase& C : Cases) EXPECT_EQ(ParseGraphicFontStyle(C.Text), C.Style) << C.Text;
    EXPECT_EQ(With("Sample", 12, "unknown words").Rows, With("Sample", 12, "").Rows);
}

TEST(GraphicFont, EachStyleChangesTheDots) {
    const TRendered Regular = With("Sample text", 16);
    const TRendered Bold = With("Sample text", 16, "bold");
    const TRendered Italic = With("Sample text", 16, "italic");
    const TRendered Under = With("Sample text", 16, "underline");
    const TRendered Strike = With("Sample text", 16, "strikeout");
    EXPECT_GT(Bold.Black(), Regular.Black() * 11 / 10);
    EXPECT_NE(Italic.Rows, Regular.Rows);
    EXPECT_NE(With("Sample text", 16, "bold italic").Rows, Bold.Rows);

    // Underline and strikeout add a long horizontal run of dots: below the
    // letters for one, through them for the other.
    auto LongestRun = [](const TRendered& R, int Y) {
        int Best = 0, Run = 0;
        for (int X = 0; X < R.Width; ++X) {
            Run = R.Dot(X, Y) ? Run + 1 : 0;
            Best = std::max(Best, Run);
        }
        return Best;
    };
    auto RowsWithRun = [&](const TRendered& R) {
        std::vector<int> Ys;
        for (int Y = 0; Y < R.Height; ++Y)
            if (LongestRun(R, Y) > 100) Ys.push_back(Y);
        return Ys;
    };
    EXPECT_TRUE(RowsWithRun(Regular).empty());
    const auto UnderRows = RowsWithRun(Under);
    const auto StrikeRows = RowsWithRun(Strike);
    ASSERT_FALSE(UnderRows.empty());
    ASSERT_FALSE(StrikeRows.empty());
    EXPECT_GT(UnderRows.front(), Regular.Height * 2 / 3);
    EXPECT_LT(StrikeRows.back(), Regular.Height * 2 / 3);
}

TEST(GraphicFont, BiggerSizeGivesTallerTextAndMoreDots) {
    const TRendered Small = With("Total", 12);
    const TRendered Big = With("Total", 24);
    EXPECT_NEAR(Big.Height, 2 * Small.Height, 3);
    EXPECT_GT(Big.Black(), 3 * Small.Black());
}

TEST(GraphicFont, EmptyNameAndZeroSizeKeepTheDefaults) {
    TRequest Q;
    Q.Font = "";
    Q.Size = 0;
    const TRendered Defaults = Render(Q);
    Q.Font = "Arial";
    Q.Size = 8;
    EXPECT_EQ(Defaults.Rows, Render(Q).Rows);
    EXPECT_EQ(Defaults.Height, Render(Q).Height);
}

TEST(GraphicFont, NamedFontsResolveToDifferentFaces) {
    TRequest Q;
    Q.Text = "Hamburgefonstiv";
    Q.Size = 14;
    const TRendered Sans = Render(Q);
    Q.Font = "Times New Roman";
    const TRendered Serif = Render(Q);
    Q.Font = "Courier New";
    const TRendered Mono = Render(Q);
    EXPECT_NE(Sans.Rows, Serif.Rows);
    EXPECT_NE(Sans.Rows, Mono.Rows);
    EXPECT_NE(Serif.Rows, Mono.Rows);
    // A monospaced face gives "iiiii" and "WWWWW" the same advance.
    Q.Align = "left";
    Q.Text = "iiiiiX";
    const int NarrowX = Render(Q).InkColumns().second;
    Q.Text = "WWWWWX";
    EXPECT_NEAR(Render(Q).InkColumns().second, NarrowX, 2);
}

// ---- Repeatability and hostile input ---------------------------------------------------

TEST(GraphicRender, SameInputGivesTheSameDots) {
    TRequest Q;
    Q.Text = "Чек № 42: молоко 2,5% × 3";
    Q.Size = 18;
    Q.Style = "bold";
    const TRendered First = Render(Q);
    (void)With("something else in between", 30, "italic underline");
    const TRendered Second = Render(Q);
    EXPECT_EQ(First.Rows, Second.Rows);
    EXPECT_EQ(First.Height, Second.Height);
    EXPECT_GT(First.Black(), 0u);
}

TEST(GraphicRender, InvalidTextIsDrawnNotRejected) {
    // Stray bytes and NUL characters must neither stop the drawing nor lose
    // the valid text around them.
    const TRendered Clean = With("AB");
    const TRendered Dirty = With(std::string("A\0B", 3));
    EXPECT_EQ(Dirty.Rows, Clean.Rows);
    const TRendered Broken = With(
        "A\xFF\xC3"
        "B");
    EXPECT_GT(Broken.Black(), Clean.Black());  // replacement marks drawn too
}

TEST(GraphicRender, SizesOutOfRangeAreRefused) {
    int W = -1, H = -1;
    EXPECT_THROW(TPrintGraphicText::GetGraphicText("A", -40, 5, 12, "", "", "", "", true, W, H), std::runtime_error);
    EXPECT_THROW(TPrintGraphicText::GetGraphicText("A", 40, 5, 1000000, "", "", "", "", true, W, H),
                 std::runtime_error);
    // A text far taller than any surface can hold is refused, not truncated.
    std::string Tall;
    for (int I = 0; I < 400; ++I) Tall += "LINE\n";
    EXPECT_THROW(TPrintGraphicText::GetGraphicText(Tall, 40, 5, 200, "", "", "", "", true, W, H), std::runtime_error);
}

TEST(GraphicRender, SetDPIConvertsToWholeDotsPerMillimetre) {
    TGraphicText T;
    EXPECT_EQ(T.GetDPI(), 203);
    T.SetDPI(300);
    EXPECT_EQ(T.FDotsPerMM, 12);
    EXPECT_EQ(T.GetDPI(), 305);
    EXPECT_EQ(T.GetFontResolution(), 300);
    T.SetDPI(203);
    EXPECT_EQ(T.FDotsPerMM, 8);
}

// ---- A sample for the eye --------------------------------------------------------------

void WritePng(const TRendered& R, const std::filesystem::path& File) {
    cairo_surface_t* S = cairo_image_surface_create(CAIRO_FORMAT_RGB24, R.BytesPerRow() * 8, R.Height);
    unsigned char* Data = cairo_image_surface_get_data(S);
    const int Stride = cairo_image_surface_get_stride(S);
    for (int Y = 0; Y < R.Height; ++Y)
        for (int X = 0; X < R.BytesPerRow() * 8; ++X)
            reinterpret_cast<uint32_t*>(Data + size_t(Y) * size_t(Stride))[X] = R.Dot(X, Y) ? 0x000000 : 0xFFFFFF;
    cairo_surface_mark_dirty(S);
    const cairo_status_t St = cairo_surface_write_to_png(S, File.c_str());
    cairo_surface_destroy(S);
    ASSERT_EQ(St, CAIRO_STATUS_SUCCESS);
}

TEST(GraphicRender, SampleWrittenAsPng) {
    namespace fs = std::filesystem;
    std::random_device Rd;
    const fs::path Dir =
        fs::temp_directory_path() / ("fr_graphic_" + std::to_string(getpid()) + "_" + std::to_string(Rd()));
    fs::create_directories(Dir);
    TRequest Q;
    Q.Text = "Спасибо за покупку! Thank you, come again";
    Q.Size = 16;
    Q.Style = "bold underline";
    WritePng(Render(Q), Dir / "multiline.png");
    Q.Multiline = false;
    Q.Style = "italic";
    Q.Font = "Times New Roman";
    WritePng(Render(Q), Dir / "singleline.png");
    EXPECT_TRUE(fs::exists(Dir / "multiline.png"));
    // FR_KEEP_TEST_FILES keeps the pictures for a look.
    if (std::getenv("FR_KEEP_TEST_FILES"))
        std::printf("graphic samples in %s\n", Dir.c_str());
    else
        fs::remove_all(Dir);
}

}  // namespace
}  // namespace fr
