// Printing commands: text lines, titles, graphics, barcodes, paper and
// drawer, graphic text.
#include <cmath>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "device/uDevice.h"
#include "device/uDeviceFields.h"
#include "device/uGraphicText.h"

namespace fr {

namespace {

constexpr size_t QRBlockSize = 64;
// Fixed parameters of the QR print command (0xDE), in the order sent after
// the barcode type, the data length and the first block number.
constexpr uint8_t QRBarcodeType = 3;  // QR code
constexpr uint8_t QRFirstBlock = 0;
constexpr uint8_t QRVersion = 0;  // 0: chosen by the device
constexpr uint8_t QRMask = 0;     // 0: chosen by the device
constexpr uint8_t QRDotSize = 6;
constexpr uint8_t QRReserved = 0;
constexpr uint8_t QRErrorCorrection = 2;
constexpr uint8_t QRAlignment = 1;
// Block numbers are one byte.
constexpr size_t MaxQRLength = 256 * QRBlockSize;
// Graphics memory lines are addressed by one byte.
constexpr int32_t LastGraphicsLine = 255;
// Flag byte of the feed command: the receipt tape.
constexpr uint8_t FeedReceiptTape = 0x02;

uint8_t GraphicsLine(int32_t ALine) {
    if (ALine < 0 || ALine > LastGraphicsLine) throw std::out_of_range("Номер строки графики вне диапазона 0..255");
    return uint8_t(ALine);
}

}  // namespace

void TDevice::PrintNormalString(uint8_t AFlag, const std::string& AData) {
    Execute(0x17, char(AFlag) + AData, "Ошибка команды печати стандартной строки");
}

void TDevice::PrintBoldString(uint8_t AFlag, const std::string& AData) {
    Execute(0x12, char(AFlag) + AData, "Ошибка команды печати жирной строки");
}

void TDevice::PrintFontString(uint8_t AFlag, const std::string& AData, uint8_t AFontSize) {
    Execute(0x2F, std::string{char(AFlag), char(AFontSize)} + AData,
            "Ошибка печати стандартной строки заданным шрифтом");
}

void TDevice::PrintDocTitle(const std::string& AData) {
    Execute(0x18, PadAnsiWith(AData, 30, '\0') + std::string{'\0', '\x01'},
            "Ошибка команды печати заголовка документа");
}

void TDevice::PrintDocCopy() {
    WaitForEndPrinting();
    Execute(0x8C, {}, "Ошибка печати копии последнего документа");
}

void TDevice::LoadGraphics(int32_t ALineNumber, const std::string& AData) {
    Execute(0xC0, char(GraphicsLine(ALineNumber)) + AData, "Ошибка загрузки графики");
}

void TDevice::PrintGraphics(int32_t AFirstLineNumber, int32_t ALastLineNumber) {
    Execute(0xC1, std::string{char(GraphicsLine(AFirstLineNumber)), char(GraphicsLine(ALastLineNumber))},
            "Ошибка печати графики");
}

void TDevice::PrintEAN13(const std::string& ABarCode) {
    constexpr const char* FailText = "Ошибка команды печати EAN-13";
    if (ABarCode.empty()) throw std::runtime_error(FailText);
    uint64_t Number = 0;
    const std::string Digits = ABarCode.substr(0, 12);
    // Only plain digits form the number; anything else gives 0 as before.
    bool AllDigits = true;
    for (char C : Digits) AllDigits = AllDigits && C >= '0' && C <= '9';
    if (AllDigits) Number = std::stoull(Digits);
    WaitForEndPrinting();
    Execute(0xC2, IntToLEBytesN(Number, 5), FailText);
}

void TDevice::PrintQRCode(const std::string& ABarCode) {
    if (ABarCode.empty()) return;
    // Refused before any block is loaded: a wrapped block number would
    // overwrite the start of the code.
    if (ABarCode.size() > MaxQRLength) throw std::length_error("Данные QR-кода длиннее 16384 байт");
    const std::vector<std::string> Blocks = SplitByLength(ABarCode, QRBlockSize);
    for (size_t I = 0; I < Blocks.size(); ++I)
        Execute(0xDD, std::string{'\0', char(I)} + Blocks[I], "Ошибка команды загрузки данных для печати QRCode");
    WaitForEndPrinting();
    Execute(0xDE,
            char(QRBarcodeType) + IntToLEBytesN(ABarCode.size(), 2) +
                std::string{char(QRFirstBlock), char(QRVersion), char(QRMask), char(QRDotSize), char(QRReserved),
                            char(QRErrorCorrection), char(QRAlignment)},
            "Ошибка команды печати QRCode");
}

void TDevice::Feed(int32_t ALineCount) {
    const uint8_t Lines = ByteField(ALineCount, "Количество строк промотки");
    WaitForEndPrinting();
    Execute(0x29, std::string{char(FeedReceiptTape), char(Lines)}, "Ошибка команды промотки чековой ленты");
}

void TDevice::Cut(bool AFullCut) {
    WaitForEndPrinting();
    if (FDisableCut) return;
    Execute(0x25, std::string(1, AFullCut ? '\0' : '\x01'), "Ошибка команды отрезки");
}

void TDevice::FeedAndCut(int32_t ALineCount) {
    ByteField(ALineCount, "Количество строк промотки");  // refused before anything is sent
    if (ALineCount != 0) Feed(ALineCount);
    Cut(false);
}

void TDevice::OpenDrawer() {
    Execute(0x28, std::string(1, '\0'), "Ошибка команды открытия денежного ящика");
}

void TDevice::PrintString(const std::string& AText) {
    size_t Start = 0;
    for (;;) {
        const size_t End = AText.find('\r', Start);
        const std::string_view Piece =
            std::string_view(AText).substr(Start, End == std::string::npos ? std::string::npos : End - Start);
        for (const std::string& Chunk : SplitByLength(Piece, FLineLen)) PrintNormalString(3, Chunk);
        if (End == std::string::npos) break;
        Start = End + 1;
    }
}

void TDevice::PrintPrevDoc() {
    std::string Flag;
    uint8_t Mode = 0, Submode = 0;
    GetECRState(Flag, Mode, Submode);
    if (Submode != 2 && Submode != 3) return;
    ContinuePrint();
    WaitForEndPrinting();
    GetECRState(Flag, Mode, Submode);
    if (Submode == 2 || Submode == 3) throw EquException(3027, "Ошибка печати чека (документа)");
}

void TDevice::PrintGraphicText(const TTextGraphic& ATextGraphic) {
    int Width = 0, Height = 0;
    const int BoxHeight = int(std::lround(ATextGraphic.FFontSize * 0.376));
    const std::string Rows = TPrintGraphicText::GetGraphicText(
        ATextGraphic.FText, 40, BoxHeight, ATextGraphic.FFontSize, ATextGraphic.FFontName, ATextGraphic.FFontStyle,
        "center", "center", true, Width, Height);
    const size_t RowBytes = size_t(Width / 8);
    if (Height <= 0 || RowBytes == 0) return;  // nothing drawn: nothing to print
    if (Rows.size() < RowBytes * size_t(Height)) throw std::runtime_error("Ошибка формирования графического текста");

    std::string Query;
    RunQueryEx(1, Query);
    const int32_t First = uint8_t(Query[TQueryExLayout::FirstGraphicsLine]);  // RunQueryEx checked the size
    // A picture taller than the lines from First to 255 is printed in parts
    // that each reuse those lines; one-byte line numbers cannot go further.
    const int32_t PartRows = LastGraphicsLine - First + 1;
    for (int32_t Done = 0; Done < Height; Done += PartRows) {
        const int32_t Count = std::min(PartRows, Height - Done);
        for (int32_t R = 0; R < Count; ++R) LoadGraphics(First + R, Rows.substr(size_t(Done + R) * RowBytes, RowBytes));
        PrintGraphics(First, First + Count - 1);
    }
}

}  // namespace fr
