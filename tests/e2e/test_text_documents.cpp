// Text documents through dlopen against the emulator: each element kind,
// graphic-text tags in their font slots, cut markers, NoCut and the errors.
#include <algorithm>

#include "ReceiptFixture.h"

namespace rcpt {
namespace {

using fr::TEmuTapeEntry;
using fr::TEmuTapeKind;

// The tape as short words: "T:text", "G" (graphics), "E:digits", "Q:data", "F", "C".
std::vector<std::string> Tape(const fr::TEmuTape& ATape) {
    std::vector<std::string> Out;
    for (const TEmuTapeEntry& E : ATape.Entries()) {
        switch (E.Kind) {
            case TEmuTapeKind::tkText:
                Out.push_back("T:" + E.Text);
                break;
            case TEmuTapeKind::tkGraphics:
                Out.push_back("G");
                break;
            case TEmuTapeKind::tkEAN13:
                Out.push_back("E:" + E.Text);
                break;
            case TEmuTapeKind::tkQR:
                Out.push_back("Q:" + E.Text);
                break;
            case TEmuTapeKind::tkFeed:
                Out.push_back("F");
                break;
            case TEmuTapeKind::tkCut:
                Out.push_back("C");
                break;
        }
    }
    return Out;
}

// Graphics entries in order, with their dot rows.
std::vector<TEmuTapeEntry> Graphics(const fr::TEmuTape& ATape) {
    std::vector<TEmuTapeEntry> Out;
    for (const TEmuTapeEntry& E : ATape.Entries())
        if (E.Kind == TEmuTapeKind::tkGraphics) Out.push_back(E);
    return Out;
}

size_t InkedRows(const TEmuTapeEntry& AEntry) {
    return size_t(std::count_if(AEntry.Rows.begin(), AEntry.Rows.end(), [](const std::string& R) {
        return std::any_of(R.begin(), R.end(), [](char C) { return C != 0; });
    }));
}

using TextDocuments = TReceiptTest;

TEST_P(TextDocuments, EachElementKindTagsAndCuts) {
    FSettings = {{"GTFontSize2", V::Int32(24)}, {"GTIsBold2", V::Boolean(true)}, {"FeedCount", V::Int32(3)}};
    Start();
    const std::string Before = Emu->Device().TableField(17, 1, 7);
    Emu->Device().ClearTape();
    const auto R = Text(
        "<Document><Positions>"
        "<TextString Text=\"Первая строка\"/>"
        "<TextString Text=\"до [gt2]ГРАФИКА[/gt2] после\"/>"
        "<TextString Text=\"[GT1]без закрытия\"/>"
        "<textstring Text=\"слова [CUT] слова\"/>"
        "<Barcode Type=\"ean13\" Value=\"4607004650642\"/>"
        "<Barcode Type=\"qr\" Value=\"\" ValueBase64=\"UVItREFUQS0xMjM=\"/>"
        "<Barcode Type=\"PDF417\" ValueBase64=\"@@@\"/>"
        "<GraphicText Text=\"ГРАФИКА\" FontName=\"Arial\"/>"
        "<Picture Text=\"skipped\"/>"
        "<TextString Text=\"Последняя\"/>"
        "</Positions></Document>");
    ASSERT_TRUE(R.Result.Bool) << LastError().second;
    const fr::TEmuTape T = Emu->Device().Tape();
    EXPECT_EQ(Tape(T), (std::vector<std::string>{"T:Первая строка", "G", "T:[GT1]без закрытия", "F", "C",
                                                 "E:4607004650642", "Q:QR-DATA-123", "G", "T:Последняя", "F", "C"}));
    // Only the tagged word is printed, as graphics in slot 2 (24 points,
    // bold); the element without FontSize renders at 12 points.
    const auto G = Graphics(T);
    ASSERT_EQ(G.size(), 2u);
    EXPECT_GT(InkedRows(G[0]), 0u);
    EXPECT_GT(InkedRows(G[1]), 0u);
    EXPECT_GT(InkedRows(G[0]), InkedRows(G[1]));
    // A text document is printed whatever the print setting; the setting of
    // Open is back afterwards.
    EXPECT_EQ(Emu->Device().TableField(17, 1, 7), Before);
}

TEST_P(TextDocuments, NoCutEmptyPositionsAndTagOrder) {
    Emu->Device().ClearTape();
    // NoCut leaves the end uncut; a marker inside still cuts there.
    ASSERT_TRUE(Text("<Document NoCut=\"TRUE\"><Positions><TextString Text=\"а\"/><TextString Text=\"[cut]\"/>"
                     "<TextString Text=\"б\"/></Positions></Document>")
                    .Result.Bool);
    EXPECT_EQ(Tape(Emu->Device().Tape()), (std::vector<std::string>{"T:а", "F", "C", "T:б"}));
    Emu->Device().ClearTape();
    ASSERT_TRUE(Text("<Document><Positions/></Document>").Result.Bool);
    EXPECT_EQ(Tape(Emu->Device().Tape()), (std::vector<std::string>{"F", "C"}));
    // A closing tag before the opening one: a tag pair with no text, nothing printed.
    Emu->Device().ClearTape();
    ASSERT_TRUE(Text("<Document NoCut=\"true\"><Positions><TextString Text=\"[//gt3]x[gt3]\"/></Positions></Document>")
                    .Result.Bool);
    EXPECT_TRUE(Tape(Emu->Device().Tape()).empty());
}

TEST_P(TextDocuments, Errors) {
    const std::string Before = Emu->Device().TableField(17, 1, 7);
    struct TCase {
        std::string Document;
        int32_t Code;
        std::string Text;
        std::vector<std::string> Printed;
    };
    const std::string Bad = "Ошибка входных параметров команды. Недопустимое значение атрибута ";
    const TCase Cases[] = {
        {"<NotADocument/>", 1004, "Ошибка входных параметров команды", {}},
        {"<Document/>", 1004, "Ошибка входных параметров команды", {}},
        {"<Document><Positions><TextString Text=\"до\"/><Barcode Type=\"EAN8\" Value=\"12345670\"/>"
         "<TextString Text=\"после\"/></Positions></Document>",
         1003,
         "Команда не поддерживается устройством",
         {"T:до"}},
        {"<Document><Positions><Barcode Type=\"CODE39\" Value=\"A\"/></Positions></Document>",
         1003,
         "Команда не поддерживается устройством",
         {}},
        {"<Document><Positions><Barcode Type=\"EAN13\" Value=\"46070046506\"/></Positions></Document>",
         1004,
         Bad + "Value: «46070046506»",
         {}},
        {"<Document><Positions><Barcode Type=\"EAN13\" Value=\"460700465064A\"/></Positions></Document>",
         1004,
         Bad + "Value: «460700465064A»",
         {}},
        {"<Document><Positions><Barcode Type=\"EAN13\" Value=\"4607004650643\"/></Positions></Document>",
         1004,
         Bad + "Value: «4607004650643»",
         {}},
        {"<Document><Positions><Barcode Type=\"QR\" ValueBase64=\"@@@\"/></Positions></Document>",
         1004,
         Bad + "ValueBase64: «@@@»",
         {}},
        {"<Document><Positions><Barcode Type=\"QR\" Value=\"" + std::string(16385, 'x') + "\"/></Positions></Document>",
         1004,
         "Ошибка входных параметров команды. Данные QR-кода (атрибут Value) длиннее 16384 байт: 16385",
         {}},
    };
    for (const TCase& C : Cases) {
        Emu->Device().ClearTape();
        const auto R = Text(C.Document);
        EXPECT_FALSE(R.Result.Bool) << C.Document.substr(0, 80);
        EXPECT_EQ(LastError(), std::make_pair(C.Code, C.Text)) << C.Document.substr(0, 80);
        // What was printed stays printed; no cut after an error.
        EXPECT_EQ(Tape(Emu->Device().Tape()), C.Printed) << C.Document.substr(0, 80);
        EXPECT_EQ(Emu->Device().TableField(17, 1, 7), Before);
    }
}

INSTANTIATE_TEST_SUITE_P(Link, TextDocuments, fr::test::BothTransports(), fr::test::TransportName);

}  // namespace
}  // namespace rcpt
