// Text documents: text lines with the paper-cut marker, barcodes and text
// rendered as graphics, and the graphic-text tags that receipts use too.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "fiscal/uDriver.h"

namespace fr {

namespace {

// The device takes QR data in 256 blocks of 64 bytes.
constexpr size_t MaxQRLength = 16384;

// One compiled case-insensitive pattern, shared by all calls.
class TTagPattern {
public:
    explicit TTagPattern(const char* APattern) {
        int Error = 0;
        PCRE2_SIZE Offset = 0;
        FCode = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(APattern), PCRE2_ZERO_TERMINATED, PCRE2_CASELESS, &Error,
                              &Offset, nullptr);
    }
    ~TTagPattern() { pcre2_code_free(FCode); }
    TTagPattern(const TTagPattern&) = delete;
    TTagPattern& operator=(const TTagPattern&) = delete;

    // Byte offsets of the first match: start and end; nullopt without one.
    bool Find(const std::string& AText, size_t& AStart, size_t& AEnd) const {
        if (!FCode) throw std::runtime_error("Ошибка шаблона графического текста");
        pcre2_match_data* M = pcre2_match_data_create_from_pattern(FCode, nullptr);
        if (!M) throw std::bad_alloc();
        const int Rc = pcre2_match(FCode, reinterpret_cast<PCRE2_SPTR>(AText.data()), AText.size(), 0, 0, M, nullptr);
        if (Rc > 0) {
            const PCRE2_SIZE* V = pcre2_get_ovector_pointer(M);
            AStart = V[0];
            AEnd = V[1];
        }
        pcre2_match_data_free(M);
        return Rc > 0;
    }

private:
    pcre2_code* FCode = nullptr;
};

bool IsDigits(std::string_view S) {
    for (const char C : S)
        if (C < '0' || C > '9') return false;
    return !S.empty();
}

// EAN-13: 12 digits, or 13 whose last is the check digit of the first 12.
bool IsEAN13(std::string_view S) {
    if (!IsDigits(S) || (S.size() != 12 && S.size() != 13)) return false;
    if (S.size() == 12) return true;
    int Sum = 0;
    for (size_t I = 0; I < 12; ++I) Sum += (S[I] - '0') * (I % 2 ? 3 : 1);
    return S[12] - '0' == (10 - Sum % 10) % 10;
}

}  // namespace

void TDriver::GetGraphicTextFont(int32_t ASlot, std::string& AFontName, std::string& AFontStyle, int32_t& AFontSize) {
    AFontName.clear();
    AFontStyle.clear();
    AFontSize = 0;
    if (ASlot < 1 || ASlot > int32_t(GraphicTextFontSlots)) return;
    const TGraphicTextFont& F = Session().FSettings.GTFonts[size_t(ASlot - 1)];
    AFontName = F.Name;
    AFontSize = F.Size;
    if (F.IsBold) AFontStyle += "bold ";
    if (F.IsItalic) AFontStyle += "italic ";
    if (F.IsStrikeout) AFontStyle += "strikeout ";
    if (F.IsUnderline) AFontStyle += "underline";
}

bool TDriver::PrintGraphicTextTag(const std::string& ALine) {
    static const TTagPattern Open("\\[gt[1-5]\\]");
    static const TTagPattern Closing("\\[/+gt[1-5]\\]");
    size_t OpenStart = 0, OpenEnd = 0, CloseStart = 0, CloseEnd = 0;
    if (!Open.Find(ALine, OpenStart, OpenEnd) || !Closing.Find(ALine, CloseStart, CloseEnd)) return false;
    // The tags are ASCII, so byte offsets cut the UTF-8 text at characters.
    const std::string Text = CloseStart > OpenEnd ? ALine.substr(OpenEnd, CloseStart - OpenEnd) : std::string();
    const int32_t Slot = ALine[OpenStart + 3] - '0';
    std::string FontName, FontStyle;
    int32_t FontSize = 0;
    GetGraphicTextFont(Slot, FontName, FontStyle, FontSize);
    Device().PrintGraphicText(TTextGraphic(Text, FontName, FontStyle, FontSize));
    return true;
}

void TDriver::PrintBarcodeElement(pugi::xml_node AElement) {
    const std::string Type = AttrText(AElement, "Type");
    if (SameTextAscii(Type, "EAN8") || SameTextAscii(Type, "CODE39")) RaiseEquError(1003);
    const bool EAN13 = SameTextAscii(Type, "EAN13");
    if (!EAN13 && !SameTextAscii(Type, "QR")) return;  // other types are not printed
    const char* Source = "Value";
    std::string Value = Utf8ToAnsi(AttrText(AElement, "Value"));
    if (Value.empty()) {
        Source = "ValueBase64";
        Value = AttrBase64(AElement, "ValueBase64");  // the bytes are ANSI text already
    }
    if (EAN13) {
        // The device prints the number of the first 12 digits with its own
        // check digit; anything else would print a different code.
        if (!IsEAN13(Value)) RaiseBadAttribute(Source, AnsiToUtf8(Value));
        Device().PrintEAN13(Value);
        return;
    }
    if (Value.size() > MaxQRLength)
        throw EquException(1004, std::string("Ошибка входных параметров команды. Данные QR-кода (атрибут ") + Source +
                                     ") длиннее " + std::to_string(MaxQRLength) +
                                     " байт: " + std::to_string(Value.size()));
    Device().PrintQRCode(Value);
}

void TDriver::PrintGraphicTextElement(pugi::xml_node AElement) {
    const TTextGraphic G(AttrText(AElement, "Text"), AttrText(AElement, "FontName"), AttrText(AElement, "FontStyle"),
                         int32_t(AttrInt(AElement, "FontSize", 12)));
    Device().PrintGraphicText(G);
}

void TDriver::PrintTextDocument(pugi::xml_document& AIn) {
    TDeviceDriver& S = Session();
    WithTCP([&] {
        TPrintSwitch Switch(*this);
        TDevice& D = Device();
        D.UnlockDataOutputMode();
        D.PrintPrevDoc();
        // A text document is printed whatever the receipt print setting says.
        Switch.Set(PrintSwitchOn);
        const pugi::xml_node Document = AIn.child("Document");
        const pugi::xml_node Positions = Document.child("Positions");
        if (!Document || !Positions) RaiseEquError(1004);
        const pugi::xml_attribute NoCutAttr = Document.attribute("NoCut");
        const bool NoCut = NoCutAttr ? VarToBoolDef(TValue(std::string(NoCutAttr.value())), false) : false;
        D.WaitForEndPrinting();
        for (const pugi::xml_node E : Positions.children()) {
            if (E.type() != pugi::node_element) continue;
            if (SameTextAscii(E.name(), "TextString")) {
                const std::string Text = AttrText(E, "Text");
                if (!S.FCutMarker.empty() && UpperCase(Text).find(S.FCutMarker) != std::string::npos)
                    CutReceipt(false, false, D.FeedCount());
                else if (!PrintGraphicTextTag(Text))
                    D.PrintString(Utf8ToAnsi(Text));
            } else if (SameTextAscii(E.name(), "Barcode")) {
                PrintBarcodeElement(E);
            } else if (SameTextAscii(E.name(), "GraphicText")) {
                PrintGraphicTextElement(E);
            }
        }
        D.WaitForPrint();
        CutReceipt(NoCut, false, D.FeedCount());
        Switch.Restore();
    });
}

}  // namespace fr
