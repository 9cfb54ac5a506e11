// The virtual receipt tape: everything the emulated cash register prints, in
// order. Text is kept as UTF-8 (converted from the device code page when it
// is printed) so tests and the text dump read it directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fr {

enum class TEmuTapeKind { tkText, tkGraphics, tkEAN13, tkQR, tkFeed, tkCut };
enum class TEmuTextStyle { tsNormal, tsBold, tsFont, tsTitle };

struct TEmuTapeEntry {
    TEmuTapeKind Kind = TEmuTapeKind::tkText;
    TEmuTextStyle Style = TEmuTextStyle::tsNormal;
    int Font = 1;                   // device font number of tsFont lines
    std::string Text;               // UTF-8 text; EAN-13 digits; QR data
    std::vector<std::string> Rows;  // graphics rows, bit 0 = leftmost dot
    int Count = 0;                  // feed: lines; cut: 0 full, 1 partial
};

class TEmuTape {
public:
    void Add(TEmuTapeEntry AEntry) { FEntries.push_back(std::move(AEntry)); }
    void AddText(const std::string& AUtf8, TEmuTextStyle AStyle = TEmuTextStyle::tsNormal, int AFont = 1);
    void Clear() { FEntries.clear(); }
    const std::vector<TEmuTapeEntry>& Entries() const { return FEntries; }
    size_t Size() const { return FEntries.size(); }

    // The printed text lines only (any style), in order.
    std::vector<std::string> Lines() const;
    // A readable dump: text lines, graphics as rows of '#', barcodes and QR
    // codes as bracketed notes, feeds as empty lines, cuts as a marked rule.
    std::string ToText(int ALineLen = 48) const;
    // The tape as a PNG picture, 576 dots wide (72 mm at 8 dots per mm).
    // Throws std::runtime_error when the file cannot be written.
    void WritePNG(const std::string& AFileName) const;

private:
    std::vector<TEmuTapeEntry> FEntries;
};

// The 13th digit of an EAN-13 code from its first twelve.
char EAN13CheckDigit(const std::string& ATwelveDigits);

}  // namespace fr
