// The emulated cash register: its state machine, separate from any link.
// Execute takes one command payload (code, password, data) and returns the
// answer payload (echoed code, result code, answer data). All public
// methods lock the device, so a link thread and a test can use it together.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "uEmuTape.h"
#include "uEmuTypes.h"

namespace fr {

// Tax groups of the device: VAT 20%, 10%, 0%, without VAT, 20/120, 10/110,
// 5%, 7%, 5/105, 7/107, 22%, 22/122.
inline constexpr uint8_t EmuTaxGroups = 12;

// Shift counters of one calculation sign (sale, sale return, purchase,
// purchase return), for receipts or for correction receipts.
struct TEmuCounters {
    uint32_t Count = 0;
    uint64_t Total = 0, Cash = 0, Electronic = 0, Prepaid = 0, Credit = 0, Barter = 0;  // kopecks
    // By tax group 1 to 12 (index 0 unused): the tax for the VAT groups, the
    // turnover for group 3 (0%) and group 4 (no VAT).
    uint64_t Tax[EmuTaxGroups + 1] = {};
};

struct TEmuScheduledFault {
    uint64_t Frame = 0;  // the value of TEmuLinkFaults::Frames when it strikes
    TEmuFault Kind = TEmuFault::Silence;
    uint8_t Result = 0;
};

// Faults for the link to apply; counts are "next n".
struct TEmuLinkFaults {
    int NakFrames = 0;        // answer NAK to a good command frame, do not execute it
    int CorruptAnswers = 0;   // send the answer with a wrong checksum
    int TruncateAnswers = 0;  // send the answer two bytes short of its length
    int Silence = 0;          // ignore the next ENQs / frames entirely
    int DropConnections = 0;  // close the TCP connection on the next command frame
    int AnswerDelayMs = 0;    // delay before every answer frame
    uint64_t Frames = 0;      // complete command frames received on any transport
    std::vector<TEmuScheduledFault> Scheduled;
    uint64_t Restarts = 0;               // power cuts so far: a link session older than the last one ends
    uint64_t BytesIn = 0, BytesOut = 0;  // bytes the link received and sent, both transports

    // Counts one complete frame and returns the fault due for it, if any.
    bool NextFrame(TEmuScheduledFault& AFault);
};

class TEmuDevice {
public:
    explicit TEmuDevice(TEmuConfig AConfig = {});

    // One command in, one answer out (both without framing). With
    // AForcedResult >= 0 the command answers that result code without
    // running, as FailCommand does.
    std::string Execute(std::string_view APayload, int AForcedResult = -1);

    // ---- inspection -------------------------------------------------------
    std::vector<std::string> Commands() const;  // every payload received, in order
    void ClearCommands();
    TEmuTape Tape() const;
    void ClearTape();
    uint8_t Mode() const;     // as offset 4 of the short state: 1, 2, 3, 4 or 8
    uint8_t Submode() const;  // 0 idle, 2 paper out, 3 waiting for 0xB0, 5 printing
    bool ShiftOpen() const;
    uint16_t ShiftNumber() const;
    bool ReceiptOpen() const;
    bool Fiscalised() const;
    uint8_t FNLifeState() const;
    uint64_t CashRegister(uint16_t ANumber) const;  // kopecks
    uint32_t OperationRegister(uint8_t ANumber) const;
    // Counters of the open (or last) shift by calculation sign 1 to 4.
    TEmuCounters ShiftCounters(uint8_t ASign, bool ACorrection = false) const;
    std::vector<TEmuDocument> Documents() const;
    uint32_t LastDocumentNumber() const;
    std::string TableField(uint8_t ATable, uint16_t ARow, uint8_t AField) const;  // raw bytes
    int64_t Clock() const;  // device local time, seconds since 1970
    TEmuConfig Config() const;

    // ---- test controls and faults -------------------------------------------
    // The AOccurrence-th time (1 = next) command ACode arrives, answer AResult
    // without executing it. ACode is one byte, or 0xFFnn for storage commands.
    void FailCommand(uint16_t ACode, int AOccurrence, uint8_t AResult);
    // The paper runs out now: documents made from now are stored but their
    // printout waits (submode 2); plain print commands answer 107. After
    // APollsUntilReload short-state polls (never when negative) the paper is
    // back: submode 3 until 0xB0 when output waits, else 0.
    void SetPaperOut(int APollsUntilReload = -1);
    void LoadPaper();
    void SetClock(int64_t ALocalTime);
    void AgeShift(int64_t ASeconds);  // pretend the shift was opened ASeconds earlier
    void SetFNWarningFlags(uint8_t AFlags);
    void MarkDocumentsSent();
    void SetMarkingCodeInvalid(const std::string& ACode);  // its checks report a bad code
    // How checks of ACode are answered; an empty code sets the answer for
    // every code without one of its own.
    void SetMarkingAnswer(TEmuMarkAnswer AAnswer, const std::string& ACode = {});
    // Each check answers 4 (the storage is busy) to its first AAttempts
    // attempts in a row, then its answer; 0 ends it.
    void SetMarkingBusy(int AAttempts);
    TEmuMarkState MarkingCodeState(const std::string& ACode) const;
    void SetTableField(uint8_t ATable, uint16_t ARow, uint8_t AField, std::string_view AValue);
    void SetArithmeticChecks(bool AOn);
    TEmuLinkFaults& LinkFaults() { return FLinkFaults; }  // used under Lock()
    std::unique_lock<std::mutex> Lock() const { return std::unique_lock<std::mutex>(FMutex); }

private:
    struct TField {
        std::string Name;
        uint8_t Size = 1;
        bool IsText = false;
        std::string Value;
    };
    struct TTable {
        std::string Name;
        uint16_t Rows = 1;
        std::vector<TField> Fields;                         // field n at index n-1
        std::map<uint16_t, std::vector<std::string>> Data;  // row -> values (rows > 1)
    };
    struct TItem {
        uint8_t Operation = 1;
        uint64_t Quantity = 0;  // millionths
        uint64_t Price = 0, Sum = 0, TaxSum = 0;
        uint8_t Tax = 0, Department = 0, Method = 0, Subject = 0;
        uint8_t Group = 0;     // tax group 1 to 12 named by Tax
        uint64_t ItemTax = 0;  // the tax sum as sent, or as computed when sent as zero
        std::string Name;
        std::string ExtraTLV;  // requisites bound to the item
    };
    struct TReceipt {
        bool Open = false;
        uint8_t Type = 0;  // 0 sale, 1 purchase, 2 sale return, 3 purchase return, +128 correction
        std::vector<TItem> Items;
    };
    struct TKMCheck {
        std::string Code;
        bool Accepted = false;  // else it waits for 0xFF 0x69
        bool Bound = false;     // to an item of the open receipt
    };
    struct TFailRule {
        uint16_t Code;
        int Left;
        uint8_t Result;
    };

    // One entry of the command catalogue (see Catalogue in uEmuDevice.cpp).
    using THandler = std::string (TEmuDevice::*)(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    struct TCommandEntry {
        uint16_t Code;    // one byte, or 0xFFnn for storage commands
        uint8_t MinData;  // least data after the password; shorter data answers 51
        bool Password;    // the data begins with the connection password
        THandler Run;
    };
    static const TCommandEntry* FindCommand(uint16_t ACode);

    // Command handlers, grouped as in the catalogue. Each returns the answer
    // data (sent only with result 0 or 80) and sets AResult on failure.
    std::string CmdShortState(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdFullState(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdDeviceType(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdQueryEx(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdCashReg(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdOperReg(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdReadField(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdWriteField(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdFieldStruct(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdSetTime(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdSetDate(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdConfirmDate(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdPrintLine(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdPrintTitle(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdFeedCut(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdGraphics(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdBarcode(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdContinuePrint(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdDocCopy(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdOpenReceipt(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdRegisterItem(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdRequisite(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdCloseReceipt(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdCancelReceipt(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdCorrection(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdEncash(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdOpenShift(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdCloseShift(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdXReport(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdSettlementReport(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdSessionParams(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdFNStatus(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdFNValidity(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdFNVersion(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdFiscalisation(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdExchangeStatus(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdRequestDocument(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdReadDocument(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdRegistration(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdCloseFN(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdCheckMark(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdAcceptMark(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdBindMark(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdMarkStatus(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdBeep(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdOpenDrawer(uint16_t ACode, std::string_view AData, uint8_t& AResult);
    std::string CmdBeginDocument(uint16_t ACode, std::string_view AData, uint8_t& AResult);

    // State helpers.
    void InitTables();
    TField* Field(uint8_t ATable, uint16_t ARow, uint8_t AField, uint8_t& AResult);
    std::string& FieldValue(uint8_t ATable, uint16_t ARow, uint8_t AField);
    uint8_t FieldByte(uint8_t ATable, uint8_t AField) const;
    std::string FieldText(uint8_t ATable, uint8_t AField) const;  // trailing zeros and blanks removed
    int64_t Now() const;
    uint8_t CurrentMode() const;
    bool PrintingAllowed(uint8_t& AResult) const;  // paper and continuation checks
    bool DocumentCommandAllowed(uint8_t& AResult, bool ANeedShift) const;
    void Print(const std::string& AAnsiText, TEmuTextStyle AStyle = TEmuTextStyle::tsNormal, int AFont = 1);
    void PrintUtf8(const std::string& AUtf8, TEmuTextStyle AStyle = TEmuTextStyle::tsNormal);
    void Output(TEmuTapeEntry AEntry);
    void BeginDocumentPrint();
    void EndDocumentPrint();
    bool PrintingEnabled() const;
    void ClearShiftRegisters();
    void AddCash(uint16_t ARegister, int64_t AKopecks);

    // Documents (uEmuDocuments.cpp; registration in uEmuStorage.cpp).
    TEmuDocument& StoreDocument(uint16_t AType, std::string ATLV);
    std::string CommonTags(const TEmuDocument& ADoc) const;
    std::string RegistrationTLV(uint8_t AReason) const;
    uint8_t RegistrationsMade() const;  // registration and re-registration reports stored
    struct TUnsent {
        uint32_t Count = 0, First = 0;  // documents not yet sent to the operator, the first of them
        int64_t FirstTime = 0;
    };
    TUnsent UnsentDocuments() const;
    // A receipt's close: the command's fields and what the items and the
    // payments give.
    struct TClose {
        std::vector<uint64_t> Pay = std::vector<uint64_t>(16);            // payment slots 1..16, kopecks
        std::vector<uint64_t> Tax = std::vector<uint64_t>(EmuTaxGroups);  // by group; computed once checked
        uint8_t Rounding = 0, TaxSystem = 0;
        std::string Text;
        // By tax group (index 0 unused): the items' tax, or their turnover at 0% and without VAT.
        std::vector<uint64_t> ByGroup = std::vector<uint64_t>(EmuTaxGroups + 1);
        uint64_t Due = 0, Change = 0, NetCash = 0, Electronic = 0;
        uint8_t Sign = 0;  // calculation sign 1..4
        bool Correction = false;
    };
    static TClose ReadClose(std::string_view AData);
    // The result code of the close in the order a register checks it, 0 when
    // it may close; fills the sums of AC.
    uint8_t CheckClose(TClose& AC) const;
    void CountClose(const TClose& AC);   // registers and shift counters
    std::string PendingCashier() const;  // tag 1021 sent for the document, UTF-8
    void PrintReceiptEnd(const TClose& AC, const TEmuDocument& ADoc, const std::string& ACashier);
    std::string ReceiptTLV(const TReceipt& AReceipt, const TClose& AC) const;
    std::string ShiftCountersTLV() const;
    void PrintTaxLines(const std::vector<uint64_t>& ATaxes);
    std::string ItemTLV(const TItem& AItem) const;
    void PrintDocumentFooter(const TEmuDocument& ADoc);
    static std::string MarkingCodeTLV(const std::string& ACode);

    // Marking codes (uEmuMarking.cpp).
    TKMCheck* FindKMCheck(const std::string& ACode);
    void MarkingReceiptEnded(bool AClosed);  // the receipt closed, or was cancelled

    mutable std::mutex FMutex;
    TEmuConfig FConfig;
    std::vector<std::string> FCommands;
    std::vector<TFailRule> FFailRules;
    TEmuLinkFaults FLinkFaults;
    TEmuTape FTape;
    std::vector<TEmuTapeEntry> FHeldOutput;  // printout waiting for paper
    std::vector<TEmuTapeEntry> FLastDocPrint;
    bool FCollectDocPrint = false;
    std::map<uint8_t, TTable> FTables;
    std::map<uint8_t, std::string> FGraphics;  // graphics memory line -> row
    std::string FQRBuffer;

    // Clock: device time = host time + offset.
    int64_t FClockOffset = 0;
    int FPendingDay = -1, FPendingMonth = -1, FPendingYear = -1;

    // Printer.
    int FPrintPollsLeft = 0;
    bool FPaperOut = false;
    int FPaperPolls = -1;
    bool FWaitContinue = false;  // paper is back, output waits for 0xB0
    int FDrawerPolls = 0;

    // Shift and receipts.
    bool FShiftOpen = false;
    uint16_t FShiftNumber = 0;
    uint16_t FReceiptNumber = 0;  // last receipt in the shift
    int64_t FShiftOpenTime = 0;
    uint32_t FShiftDocuments = 0;
    TReceipt FReceipt;
    bool FCorrectionBegun = false;
    std::string FPendingTLV;  // document requisites waiting for their document
    std::map<uint16_t, uint64_t> FCashRegs;
    std::map<uint8_t, uint32_t> FOperRegs;
    TEmuCounters FCounters[5], FCorrectionCounters[5];  // by calculation sign 1 to 4

    // Fiscal storage.
    uint8_t FLifeState = lsReady;
    uint8_t FWarningFlags = 0;
    int FBegunReport = -1;  // type of the registration report begun by 0xFF 0x05; -1: none
    std::vector<TEmuDocument> FDocuments;
    uint32_t FRegistrationDoc = 0;
    uint8_t FRegTaxSystems = 0, FRegWorkModes = 0;
    uint32_t FRegReasons = 0;  // reason of the last change of registration (0 after a registration)
    std::string FRegINN, FRegNumber;
    int64_t FRegTime = 0;
    // Document being read out (data-output mode).
    bool FDataOutput = false;
    std::string FReadOut;
    size_t FReadPos = 0;

    // Marking codes checked in the storage.
    std::vector<TKMCheck> FKMChecks;
    std::map<std::string, TEmuMarkAnswer> FKMAnswers;
    TEmuMarkAnswer FKMDefaultAnswer = TEmuMarkAnswer::Valid;
    int FKMBusy = 0, FKMBusyRun = 0;
    uint32_t FKMReceiptBinds = 0;  // codes bound in the open receipt
    uint32_t FRealizations = 0;
};

}  // namespace fr
