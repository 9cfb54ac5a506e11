#include "uEmuTape.h"

namespace fr {

void TEmuTape::AddText(const std::string& AUtf8, TEmuTextStyle AStyle, int AFont) {
    TEmuTapeEntry E;
    E.Kind = TEmuTapeKind::tkText;
    E.Style = AStyle;
    E.Font = AFont;
    E.Text = AUtf8;
    FEntries.push_back(std::move(E));
}

std::vector<std::string> TEmuTape::Lines() const {
    std::vector<std::string> R;
    for (const auto& E : FEntries)
        if (E.Kind == TEmuTapeKind::tkText) R.push_back(E.Text);
    return R;
}

char EAN13CheckDigit(const std::string& ATwelveDigits) {
    int Sum = 0;
    for (size_t I = 0; I < 12 && I < ATwelveDigits.size(); ++I) {
        int D = ATwelveDigits[I] - '0';
        Sum += (I % 2 == 0) ? D : 3 * D;
    }
    return char('0' + (10 - Sum % 10) % 10);
}

std::string TEmuTape::ToText(int ALineLen) const {
    std::string Out;
    std::string Rule(size_t(ALineLen > 0 ? ALineLen : 48), '-');
    for (const auto& E : FEntries) {
        switch (E.Kind) {
            case TEmuTapeKind::tkText:
                if (E.Style == TEmuTextStyle::tsBold)
                    Out += "*" + E.Text + "*";
                else if (E.Style == TEmuTextStyle::tsTitle)
                    Out += "== " + E.Text + " ==";
                else
                    Out += E.Text;
                Out += '\n';
                break;
            case TEmuTapeKind::tkGraphics:
                // Four dots per character keeps a 320-dot row readable.
                for (const auto& Row : E.Rows) {
                    std::string Line;
                    for (size_t B = 0; B < Row.size(); ++B) {
                        uint8_t V = uint8_t(Row[B]);
                        Line += (V & 0x0F) ? '#' : ' ';
                        Line += (V & 0xF0) ? '#' : ' ';
                    }
                    while (!Line.empty() && Line.back() == ' ') Line.pop_back();
                    Out += Line + '\n';
                }
                break;
            case TEmuTapeKind::tkEAN13:
                Out += "[EAN-13 " + E.Text + "]\n";
                break;
            case TEmuTapeKind::tkQR:
                Out += "[QR " + E.Text + "]\n";
                break;
            case TEmuTapeKind::tkFeed:
                Out.append(size_t(E.Count), '\n');
                break;
            case TEmuTapeKind::tkCut:
                Out += Rule + (E.Count == 0 ? " cut\n" : " partial cut\n");
                break;
        }
    }
    return Out;
}

}  // namespace fr
