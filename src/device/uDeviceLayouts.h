// Where the fields of the cash register's answers lie, and the device-table
// cells the driver reads and writes. Offsets count from the result code
// (offset 0 of the answer); Size is the shortest answer that holds every
// field read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fr {

// A device-table cell: table, row, field.
struct TTableCell {
    uint8_t Table;
    uint16_t Row;
    uint8_t Field;
};

// Print line length in characters (byte).
inline constexpr TTableCell LineLengthCell{9, 1, 3};
// Printing switch of fiscal documents (byte): 0 printed, non-zero not printed.
inline constexpr TTableCell PrintSwitchCell{17, 1, 7};
// The values of it the driver writes.
inline constexpr uint8_t PrintSwitchOn = 0, PrintSwitchOff = 2;
// Fiscal data format number (byte): 2 = 1.05, 3 = 1.1, 4 = 1.2.
inline constexpr TTableCell FFDNumberCell{17, 1, 17};

// Full state (0x11).
struct TFullStateLayout {
    static constexpr size_t Mode = 14;
    static constexpr size_t Day = 24, Month = 25, Year = 26;
    static constexpr size_t Hour = 27, Minute = 28, Second = 29;
    static constexpr size_t Size = 47;
};

// Short state (0x10).
struct TShortStateLayout {
    static constexpr size_t Flags = 2, FlagsSize = 2;
    static constexpr size_t Mode = 4;  // low half: mode; bit 3: a document is open
    static constexpr size_t Submode = 5;
    static constexpr size_t Size = 15;
    static constexpr uint8_t ModeMask = 0x0F;
    static constexpr uint8_t DocumentOpen = 0x08;
};

// Device type (0xFC).
struct TDeviceTypeLayout {
    static constexpr size_t ProtocolVersion = 3, ProtocolSubversion = 4, ModelIndex = 5, Language = 6;
    static constexpr size_t ModelName = 7;  // to the end; may be empty
    static constexpr size_t Size = 7;
};

// Money register (0x1A): 6-byte LE kopecks.
struct TCashRegLayout {
    static constexpr size_t Value = 2, ValueSize = 6;
    static constexpr size_t Size = 8;
};

// Operation register (0x1B): 2 bytes.
struct TOperationRegLayout {
    static constexpr size_t Value = 2, ValueSize = 2;
    static constexpr size_t Size = 4;
};

// Device-table cell read (0x1F): the value follows the result code.
struct TTableReadLayout {
    static constexpr size_t Value = 1;
    static constexpr size_t CurrencySize = 2;  // BCD of kopecks
    static constexpr size_t Size = 2;          // at least one value byte
};

// Device-table field description (0x2E).
struct TFieldStructLayout {
    static constexpr size_t FieldSize = 42;
    static constexpr size_t Size = 43;
};

// Print line length read with GetFRLineLen (0x1F with fixed data).
struct TFRLineLenLayout {
    static constexpr size_t Value = 2;  // two BCD digits
    static constexpr size_t Size = 3;
};

// Extended query (0xF7).
struct TQueryExLayout {
    static constexpr size_t FirstGraphicsLine = 11;  // query type 1
    static constexpr size_t Size = 32;
};

// Fiscal-storage status (0xFF01).
struct TFNStatusLayout {
    static constexpr size_t LifeState = 1, CurrentDocument = 2, DocumentData = 3, SessionState = 4, Warnings = 5;
    static constexpr size_t DocumentNumber = 27, DocumentNumberSize = 4;
    static constexpr size_t Size = 31;
};

// Fiscal-storage validity date (0xFF03): year, month, day.
struct TFNValidityLayout {
    static constexpr size_t Year = 1, Month = 2, Day = 3;
    static constexpr size_t Size = 4;
};

// Fiscal-storage format version (0xFF04): 16 bytes of text.
struct TFNVersionLayout {
    static constexpr size_t Text = 1, TextSize = 16;
    static constexpr size_t Size = 18;
};

// Fiscalisation totals (0xFF09): the short layout ends at 52 bytes, the
// long one carries the document number at 57.
struct TFiscalizationLayout {
    static constexpr size_t Year = 1, Month = 2, Day = 3, Hour = 4, Minute = 5;
    static constexpr size_t INN = 6, INNSize = 12;
    static constexpr size_t RegNumber = 18, RegNumberSize = 20;
    static constexpr size_t TaxSystem = 38;
    static constexpr size_t ShortDocNumber = 40;  // also the extended signs (format 1.2)
    static constexpr size_t LongDocNumber = 57;
    static constexpr size_t DocNumberSize = 4;
    static constexpr size_t Size = 48;
    static constexpr size_t ShortLayoutMax = 52;
    static constexpr size_t LongSize = 61;
};

// Information exchange status (0xFF39).
struct TExchangeStatusLayout {
    static constexpr size_t DocCount = 3, DocCountSize = 2;
    static constexpr size_t FirstNumber = 5, FirstNumberSize = 4;
    static constexpr size_t Year = 9, Month = 10, Day = 11, Hour = 12, Minute = 13;
    static constexpr size_t Size = 14;
};

// Request of a stored document (0xFF3A).
struct TDocumentRequestLayout {
    static constexpr size_t Type = 1, Length = 3, FieldSize = 2;
    static constexpr size_t Size = 5;
};

// Shift parameters (0xFF40).
struct TSessionParamsLayout {
    static constexpr size_t State = 1, Session = 2, Receipt = 4, NumberSize = 2;
    static constexpr size_t Size = 6;
};

// Receipt close (0xFF45).
struct TCloseCheckLayout {
    static constexpr size_t FiscalSign = 10, FiscalSignSize = 4;
    static constexpr size_t Size = 14;
};

// Correction receipt (0xFF4A).
struct TCorrectionLayout {
    static constexpr size_t DocumentNumber = 3, FiscalSign = 7, FieldSize = 4;
    static constexpr size_t Size = 11;
};

// Marking-code check (0xFF61): the result block follows its length byte.
struct TMarkingCheckLayout {
    static constexpr size_t LocalResult = 1;
    static constexpr size_t BlockLength = 4;
    static constexpr size_t Block = 5;
    static constexpr size_t Size = 5;
};

// Marking work status (0xFF70).
struct TMarkingStatusLayout {
    static constexpr size_t CheckStatus = 1, NotificationStatus = 2, CommandFlags = 3, SavedResults = 4,
                            Realizations = 5, StorageSize = 6, Messages = 7, MessagesSize = 2;
    static constexpr size_t Size = 9;
};

}  // namespace fr
