// One connected cash register: builds the protocol commands of its
// operations, runs them over the serial or TCP link, checks the device's
// result code and decodes the answers with bounds-checked reads.
//
// Command procedure: the answer's result code (offset 0 of FResponse) or the
// link's code is checked; a failure raises EquException 1001 with the
// operation's failure text, ". " and the code's description, and keeps the
// code as its DeviceCode; an answer too short for the fields read raises
// EquException 1014 "Ошибка протокола обмена". Dates and times are seconds since 1970 in the device's own local
// time (no time-zone conversion).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "base/uCurrency.h"
#include "base/uValue.h"
#include "device/uDeviceLayouts.h"
#include "device/uTLVStructure.h"

namespace fr {

class TComPort;
class TCustomComProtocol;
class TCustomSocketProtocol;
class TSocketProtocol;

// Fiscal data format version in use.
enum TFFDVersion : uint8_t { ffd10 = 0, ffd105 = 1, ffd11 = 2, ffd12 = 3 };

// One marking-code check result.
struct TKMResult {
    std::string GUID;
    std::string KM;
    int32_t MarkingValidationResult = 0;
    int32_t OnlineValidationError = 0;
    int32_t StatusInfo = 0;
    int32_t ProcessingResult = 0;
    int32_t ProcessingCode = 0;
    int32_t KMType = 0;
    int32_t RequestDate = 0;
    int32_t LocalValidationResult = 0;
    int32_t OfflineValidationError = 0;
    std::string TLVList;
    int32_t PlannedStatus = 0;
    int32_t RequestStatus = 0;
};

// Tax sums of a receipt by the device's tax group 1..12: VAT 20%, 10%, 0%,
// without VAT, 20/120, 10/110, 5%, 7%, 5/105, 7/107, 22%, 22/122.
inline constexpr size_t TaxGroupCount = 12;
using TTaxSums = std::array<TCurrency, TaxGroupCount>;

// State of the fiscal storage.
struct TFNCurrentStatus {
    uint8_t FNLifeState = 0;
    uint8_t FNCurrentDocument = 0;
    uint8_t FNDocumentData = 0;
    uint8_t FNSessionState = 0;
    uint8_t FNWarningFlags = 0;
    int64_t DocumentNumber = 0;  // last fiscal document
};

// Graphic text to print: UTF-8 text, font name, style words (bold,
// italic, underline, strikeout separated by spaces) and size in points.
struct TTextGraphic {
    TTextGraphic() = default;
    TTextGraphic(std::string AText, std::string AFontName, std::string AFontStyle, int32_t AFontSize)
        : FText(std::move(AText)),
          FFontName(std::move(AFontName)),
          FFontStyle(std::move(AFontStyle)),
          FFontSize(AFontSize) {}
    std::string FText;
    std::string FFontName;
    std::string FFontStyle;
    int32_t FFontSize = 0;
};

class TDevice {
public:
    TDevice();
    virtual ~TDevice();
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    // ---- link ---------------------------------------------------------------
    // One exchange: clears FResponse, sends ACmd (+ password) + AData, and
    // with AWaitResponse stores the answer from its result code on. 0 or a
    // link code (1007, 1014, 605, 606). ATimeout 0: the default 2000 ms. The
    // base class has no link and returns 0 without doing anything.
    virtual int32_t RunCommand(const std::string& ACmd, const std::string& AData, int32_t ATimeout, bool ASendPwd,
                               bool AWaitResponse);
    virtual int32_t Enable(int32_t APort, int32_t ABaud);
    virtual int32_t Enable(const std::string& AIPAddress, int32_t ATCPPort);
    virtual void Disable();
    virtual std::string GetIPAddress() const { return FIPAddress; }
    virtual void SetIPAddress(const std::string& AValue) { FIPAddress = AValue; }
    virtual int32_t GetTCPPort() const { return 0; }
    virtual void SetTCPPort(int32_t AValue) { FTCPPort = AValue; }
    virtual int32_t GetPortNumber() const { return 0; }
    virtual void SetPortNumber(int32_t AValue) { FPortNumber = AValue; }
    virtual int32_t GetBaudRate() const { return 0; }
    virtual void SetBaudRate(int32_t AValue) { FBaudRate = AValue; }

    // ErrorCode when not 0; 1014 when the answer is empty; else the device's
    // result code.
    int32_t CheckResultCode(int32_t ErrorCode) const;
    const std::string& Response() const { return FResponse; }

    // ---- properties -------------------------------------------------------------
    int32_t ConnectionType() const { return FConnectionType; }
    void SetConnectionType(int32_t AValue) { FConnectionType = AValue; }
    uint8_t LineLen() const { return FLineLen; }
    void SetLineLen(uint8_t AValue) { FLineLen = AValue; }
    uint8_t FRLineLen() const { return FFRLineLen; }
    const std::string& ConnectPwd() const { return FConnectPwd; }
    void SetConnectPwd(const std::string& AValue) { FConnectPwd = AValue; }
    const std::string& OperatorPwd() const { return FOperatorPwd; }
    void SetOperatorPwd(const std::string& AValue) { FOperatorPwd = AValue; }
    int32_t FeedCount() const { return FFeedCount; }
    // Values outside 0..255 store 0.
    void SetFeedCount(int32_t AValue) { FFeedCount = (AValue >= 0 && AValue <= 255) ? AValue : 0; }
    bool DisableCut() const { return FDisableCut; }
    void SetDisableCut(bool AValue) { FDisableCut = AValue; }
    std::map<std::string, TKMResult>& KMListResult() { return FKMListResult; }
    TFFDVersion FFDVersion() const { return FFFDVersion; }
    void SetFFDVersion(TFFDVersion AValue) { FFFDVersion = AValue; }
    int32_t CheckMarkCount() const { return FCheckMarkCount; }
    void SetCheckMarkCount(int32_t AValue) { FCheckMarkCount = AValue; }
    const TDocElementList& DocElementList() const { return FDocElementList; }
    std::map<int32_t, TValue>& TagList() { return FTagList; }

    // Pauses of the printing waits, in ms (50 and 1000); tests shorten them.
    void SetPrintPollIntervals(uint32_t AEndPrinting, uint32_t APaperChange) {
        FEndPrintingPoll = AEndPrinting;
        FPaperChangePoll = APaperChange;
    }
    // Longest time WaitForEndPrinting waits for a printing device (5 minutes);
    // tests shorten it.
    static constexpr std::chrono::milliseconds DefaultEndPrintingLimit = std::chrono::minutes(5);
    void SetEndPrintingLimit(std::chrono::milliseconds AValue) { FEndPrintingLimit = AValue; }

    // ---- state ------------------------------------------------------------------
    void SetParams();
    void GetLineLength(uint8_t& AValue);
    void GetStateKKT(uint8_t& AMode);
    // ADateTime is left unchanged when the device's date or time is invalid.
    void GetDateTimeKKT(int64_t& ADateTime);
    void GetECRState(std::string& AFlag, uint8_t& AMode, uint8_t& ASubmode);
    void GetDeviceType(uint8_t& AProtocolVersion, uint8_t& AProtocolSubversion, uint8_t& ALngCode, uint8_t& AModelIndex,
                       std::string& AModelName);

    // ---- registers -------------------------------------------------------------
    void GetCashReg(uint8_t ARegNum, double& AData);
    void GetCashKReg(int32_t ARegNum, double& AData);
    void GetOperationReg(uint8_t ARegNum, std::string& AData);
    void GetOperationRegAsInt(uint8_t ARegNum, int32_t& AData);

    // ---- date and time, printing waits ------------------------------------------
    // Years outside 2000..2099 raise std::out_of_range (the device keeps two digits).
    void SetDateTime(int64_t AValue);
    // Polls the short state until the device no longer prints; a device
    // still printing after the limit (SetEndPrintingLimit) raises
    // std::runtime_error "Ошибка ожидания конца печати. <reason>".
    void WaitForEndPrinting();
    void WaitForPrint();
    void UnlockDataOutputMode();
    void ContinuePrint();
    void Beep();
    // AQueryType outside 0..255 raises std::out_of_range.
    void RunQueryEx(int32_t AQueryType, std::string& AData);

    // ---- device tables ----------------------------------------------------------
    void SetFieldAsByte(uint8_t ATable, uint8_t ARow, uint8_t ACol, uint8_t AValue);
    void SetFieldAsByte(const TTableCell& ACell, uint8_t AValue);
    void SetFieldAsBCD(uint8_t ATable, uint8_t ARow, uint8_t ACol, int32_t AValue);
    void SetFieldAsCurrency(uint8_t ATable, uint16_t ARow, uint8_t ACol, TCurrency AValue);
    void SetFieldAsHex(uint8_t ATable, uint16_t ARow, uint8_t ACol, const std::string& AValue, uint8_t ASize);
    void SetFieldAsStr(uint8_t ATable, uint16_t ARow, uint8_t ACol, const std::string& AValue);
    // Reads raise EquException 1014 when the answer holds no value.
    void GetFieldAsByte(uint8_t ATable, uint8_t ARow, uint8_t ACol, uint8_t& AValue);
    void GetFieldAsByte(const TTableCell& ACell, uint8_t& AValue);
    void GetFieldAsCurrency(uint8_t ATable, uint16_t ARow, uint8_t ACol, TCurrency& AValue);
    void GetFieldAsStr(uint8_t ATable, uint16_t ARow, uint8_t ACol, std::string& AValue);
    void GetFieldAsHex(uint8_t ATable, uint16_t ARow, uint8_t ACol, std::string& AValue);
    // AValue points at FResponse (valid until the next command).
    void GetFieldAsBIN(uint8_t ATable, uint8_t ARow, uint8_t ACol, const std::string*& AValue);
    void GetFieldStruct(uint8_t ATable, uint8_t ACol, uint8_t& FieldSize);
    // Returns the link or device code instead of raising.
    int32_t GetFRLineLen();

    // ---- fiscal storage -----------------------------------------------------------
    void GetFNCurrentStatus(TFNCurrentStatus& AFNCurrentStatus);
    std::string GetFNValidityDate();
    void GetFFDVersionFN(std::string& AFNVersion);
    // AFiscDateTime is set only when valid; AExtSigns only with ffd12.
    void GetFiscalizationParameters(int64_t& AFiscDateTime, std::string& AUserINN, std::string& ARegNum,
                                    int32_t& ATaxSystem, int64_t& ADocNumber, uint8_t& AExtSigns);
    void GetFNInfoExchangeStatus(int32_t& ADocCount, int64_t& ADocFirstNumber, int64_t& ADocFirstDateTime);
    // Returns the device's code instead of raising; 1014 for an answer
    // without type and length. ADocNumber outside 0..4294967295 raises
    // std::out_of_range.
    int32_t GetFNRequestFiscalDocumentTLV(int64_t ADocNumber, int32_t& ADocType, int32_t& ADocLength);
    void GetFNReadFiscalDocumentTLV(std::string& AData);
    TFFDVersion GetFFD();

    // ---- TLV documents ------------------------------------------------------------
    static int32_t Convert2CharToInt(uint8_t ASecond, uint8_t AFirst) { return ASecond * 256 + AFirst; }
    static bool FindTag(const std::string& AValue, int32_t& ATag, std::string& AReqName, TFFD& ADataType) {
        return fr::FindTag(AValue, ATag, AReqName, ADataType);
    }
    // ALen bytes from offset 4 (ALen 0: all of them); never past the end.
    static std::string GetTLVData(const std::string& AValue, int32_t ALen);
    static TCurrency GetVLN(const std::string& AValue) { return fr::GetVLN(AValue); }
    static TCurrency GetFVLN(const std::string& AValue) { return fr::GetFVLN(AValue); }
    static TValue GetTLVValue(const std::string& AValue, int32_t ATag, TFFD ADataType, int32_t ALen) {
        return fr::GetTLVValue(AValue, ATag, ADataType, ALen);
    }
    void ReadTLVList(std::string& AData, std::map<int32_t, TValue>& ATagList);
    // Reads one stored document into DocElementList; returns the device's
    // code (115 also when a pending document was read out).
    int32_t GetFiscalTagList(int64_t ADocNumber, int32_t& ADocumentType);
    // Value of the first element with Tag; empty text when there is none.
    TValue GetTagValue(int32_t Tag) const;
    void GetDocumentFromFN(int32_t ADocNumber, pugi::xml_node AOutputParameters);

    // ---- receipts ---------------------------------------------------------------
    // Amounts are sent as 5-byte kopecks; a negative amount or one beyond the
    // field raises std::out_of_range before anything is sent.

    // Waits for printing to end, then opens a receipt of type APaymentType
    // (0 sale, 1 purchase, 2 sale return, 3 purchase return; +128 correction).
    void OpenReceipt(uint8_t APaymentType);
    // Registers one item of the open receipt; a calculation method of 3 sends
    // no name whatever AName holds.
    void RegisterItem(uint8_t APaymentType, double AQuantity, TCurrency APrice, TCurrency ASum, TCurrency ATaxSum,
                      uint8_t ATax, uint8_t ADepartment, uint8_t ASignMethodCalculation, uint8_t ASignCalculationObject,
                      const std::string& AName);
    // One TLV: tag and length as 2-byte LE, then the value bytes. A value
    // longer than 65535 bytes raises std::length_error.
    static std::string SetTLV(int32_t ATag, const std::string& AValue);
    // One TLV with a one-byte value; AValue outside 0..255 raises
    // std::out_of_range instead of sending a cut number.
    static std::string SetTLV(int32_t ATag, int32_t AValue);
    // A requisite of the whole document.
    void SetFNRequisite(int32_t ATag, const std::string& AValue);
    void SetFNRequisite(int32_t ATag, int32_t AValue);
    // A requisite bound to the item registered last; AValue in the device
    // code page.
    void SetFNOperationRequisite(int32_t ATag, const std::string& AValue);
    void SetFNOperationRequisite(int32_t ATag, int32_t AValue);
    // The same with a UTF-8 text, converted to the device code page.
    void SetFNOperationRequisiteUtf8(int32_t ATag, const std::string& AValue);
    // Closes the receipt: payment sums 1..16, the rounding in kopecks (0..255),
    // tax sums 1..12, the taxation system and up to 64 bytes of text. Result
    // 80 (still printing) counts as success. AFiscalSign: decimal digits;
    // ADateTime: the device clock after closing.
    void CloseCheckEx(const std::array<TCurrency, 16>& ASum, TCurrency ARoundSum, const TTaxSums& ATax,
                      uint8_t ATaxVariant, const std::string& AText, std::string& AFiscalSign, int64_t& ADateTime);
    // Cancels the open document, if the short state says one is open.
    void CancelReceipt();
    // Correction receipt in the older form: begin (its failure ignored),
    // cashier, base and date of the correction as requisites, then the
    // totals. ACorrectionBaseDate: device date-time; only its date is sent.
    void ProcessCorrectionCheck(std::string& AFiscalSign, int64_t& ADocumentNumber, uint8_t ACorrectionType,
                                uint8_t APaymentType, uint8_t ATaxVariant, TCurrency ACorrectionSum, TCurrency ACash,
                                TCurrency AElectronicPayment, TCurrency APrePayment, TCurrency APostPayment,
                                TCurrency ABarter, const TTaxSums& ATax, const std::string& ABaseCorrection,
                                const std::string& ADocNumberCorrection, int64_t ACorrectionBaseDate,
                                const std::string& ACashierName, const std::string& ACashierVATIN);
    // Cash in (positive Summ) or out (negative); zero sends nothing.
    void Encash(TCurrency Summ);

    // ---- marking codes ----------------------------------------------------------
    // Checks one code in the fiscal storage and fills AKMResult; result 4
    // (storage busy) is retried after a second while CheckMarkCount is below
    // 3. The result is also kept in KMListResult unless the code is there.
    // A code or TLV block longer than 255 bytes raises std::length_error.
    void CheckMarkingCode(int32_t APlannedStatus, const std::string& AMarkingCode, double AQuantity,
                          int32_t AMeasureOfQuantity, int32_t ANumerator, int32_t ADenominator, TKMResult& AKMResult);
    // Accepts (true) or rejects (false) the code checked last.
    void AcceptMarkingCode(bool AIsAccepted);
    // Clears the storage's buffer of checked codes.
    void ClearBufferKM();
    // Binds the code to the item registered last; AGTINSale appends 0xFF.
    void BindMarkingCode(const std::string& AMarkingCode, bool AGTINSale);
    void GetMarkingCodeWorkStatus(int32_t& ACheckStatus, int32_t& ANotificationStatus, int32_t& ACommandFlags,
                                  int32_t& ACheckResultSavedCount, int32_t& ARealizationCount, int32_t& AStorageSize,
                                  int32_t& AMessageCount);
    // Value of tag 1023: the count of decimals, then the digits as a 7-byte
    // LE integer (2.5 gives 01h and 25). Negative, non-finite or too large
    // quantities raise std::out_of_range.
    static std::string EncodeFVLNQuantity(double AQuantity);

    // ---- shifts, reports, registration ------------------------------------------------
    // Opens the shift; with a cashier name, the begin command and tags 1021
    // (and 1203 when AVATIN is given) go first.
    void OpenDay(const std::string& ACashierName, const std::string& ACashierVATIN);
    // X report (no clearing).
    void XReport();
    // Closes the shift with the daily report; cashier as for OpenDay.
    void ZReport(const std::string& ACashierName, const std::string& ACashierVATIN);
    // Report on the state of settlements; result 80 counts as success.
    void CalculationStateReport(const std::string& ACashierName, const std::string& ACashierVATIN);
    // Shift state in the storage (0 closed, 1 open), shift and last receipt numbers.
    void GetCurrentSessionParams(uint8_t& AFNSessionState, int64_t& ASessionNumber, int64_t& AReceiptNumber);
    // 0 closed, 1 open, 2 open for more than 24 hours; any other storage value
    // leaves AState unchanged.
    void IsDayOpened(uint8_t& AState);
    void FNBeginRegistrationReport(uint8_t ATypeReport);
    // AUserINN and ARegNumber are sent as given (12 and 20+ bytes from the caller).
    void FNBuildRegistrationReport(const std::string& AUserINN, const std::string& ARegNumber, uint8_t ATaxVariant,
                                   uint8_t AMode);
    void FNBuildReregistrationReport(const std::string& AUserINN, const std::string& ARegNumber, uint8_t ATaxVariant,
                                     uint8_t AMode, uint8_t AReasonCode);
    // Closes the fiscal storage.
    void FNClose();

    // ---- printing ---------------------------------------------------------------
    // One line in the standard font / in bold / in device font AFontSize.
    void PrintNormalString(uint8_t AFlag, const std::string& AData);
    void PrintBoldString(uint8_t AFlag, const std::string& AData);
    void PrintFontString(uint8_t AFlag, const std::string& AData, uint8_t AFontSize);
    // Document title, cut or padded to 30 bytes.
    void PrintDocTitle(const std::string& AData);
    // Copy of the last document.
    void PrintDocCopy();
    // One row of dots into graphics line ALineNumber (0..255, else
    // std::out_of_range).
    void LoadGraphics(int32_t ALineNumber, const std::string& AData);
    // Prints graphics lines AFirstLineNumber..ALastLineNumber (0..255).
    void PrintGraphics(int32_t AFirstLineNumber, int32_t ALastLineNumber);
    // EAN-13 from the first 12 digits (the check digit is the device's).
    void PrintEAN13(const std::string& ABarCode);
    // QR code loaded in 64-byte blocks, then printed; empty prints nothing.
    // More than 16384 bytes (256 blocks) raises std::length_error.
    void PrintQRCode(const std::string& ABarCode);
    // ALineCount outside 0..255 raises std::out_of_range before anything is sent.
    void Feed(int32_t ALineCount);
    // Waits for printing to end; cuts unless DisableCut is set.
    void Cut(bool AFullCut);
    // Feed (when ALineCount is not 0), then a partial cut; the same range.
    void FeedAndCut(int32_t ALineCount);
    // Opens cash drawer 0.
    void OpenDrawer();
    // Text split at CR and into chunks of LineLen, each printed with flag 3.
    void PrintString(const std::string& AText);
    // Finishes a print stopped by a paper change; EquException 3027 when the
    // device still waits afterwards.
    void PrintPrevDoc();
    // Text rendered 40 mm wide, centred, and printed as graphics. Taller
    // pictures than the graphics memory holds are printed in parts; an empty
    // rendering prints nothing.
    void PrintGraphicText(const TTextGraphic& ATextGraphic);

protected:
    // Standard procedure: run, check, raise "AFailText. description".
    void Execute(uint16_t ACode, const std::string& AData, const char* AFailText, int32_t ATimeout = 0,
                 bool ASendPwd = true);
    // The standard procedure where one more device code, AAlsoSuccess,
    // counts as success (80: the device is still printing); returns the code.
    int32_t ExecuteAllowing(uint16_t ACode, const std::string& AData, const char* AFailText, int32_t AAlsoSuccess,
                            int32_t ATimeout = 0);
    // Raises "AFailText. description of ACode" (and logs it).
    [[noreturn]] static void RaiseCommandError(const char* AFailText, int32_t ACode);
    // Sends the begin command, then the cashier tags, for OpenDay, ZReport
    // and CalculationStateReport.
    void BeginWithCashier(uint16_t ABeginCode, const char* AFailText, const std::string& ACashierName,
                          const std::string& ACashierVATIN);
    // Raises EquException 1014 when FResponse has fewer than ALength bytes.
    void NeedLength(size_t ALength) const;
    // 0x1F for one cell; raises 1014 when the answer holds no value.
    void ReadTableCell(uint8_t ATable, uint16_t ARow, uint8_t ACol);
    void ReadCashRegister(const std::string& ARegister, double& AData);
    static std::string StuckPrintingText(std::chrono::milliseconds ALimit);
    uint8_t AnswerByte(size_t AOffset) const;
    uint64_t AnswerLE(size_t AOffset, size_t ACount) const;
    std::string AnswerBytes(size_t AOffset, size_t ACount) const;
    void Sleep(uint32_t AMs) const;

    int32_t FConnectionType = 0;
    TDocElementList FDocElementList;
    std::map<int32_t, TValue> FTagList;
    uint8_t FLineLen = 0;
    uint8_t FFRLineLen = 0;
    int32_t FPortNumber = 0;
    int32_t FBaudRate = 0;
    std::string FIPAddress;
    int32_t FTCPPort = 0;
    int32_t FFeedCount = 0;
    bool FDisableCut = false;
    TFFDVersion FFFDVersion = ffd10;
    std::map<std::string, TKMResult> FKMListResult;
    std::string FOperatorPwd;
    std::string FConnectPwd = std::string(4, '\0');
    std::string FResponse;
    int32_t FCheckMarkCount = 0;
    uint32_t FEndPrintingPoll = 50;
    uint32_t FPaperChangePoll = 1000;
    std::chrono::milliseconds FEndPrintingLimit = DefaultEndPrintingLimit;
};

// A cash register on a serial port.
class TComDevice : public TDevice {
public:
    TComDevice();
    ~TComDevice() override;
    int32_t RunCommand(const std::string& ACmd, const std::string& AData, int32_t ATimeout, bool ASendPwd,
                       bool AWaitResponse) override;
    using TDevice::Enable;
    // Opens the port and reads the print line length: 0, or 1011 when the
    // port cannot be opened or the line length cannot be read.
    int32_t Enable(int32_t APort, int32_t ABaud) override;
    void Disable() override;
    int32_t GetPortNumber() const override;
    void SetPortNumber(int32_t AValue) override;
    int32_t GetBaudRate() const override;
    void SetBaudRate(int32_t AValue) override;
    // The port, for settings Enable does not make (a device path instead of
    // a port number, time limits).
    TComPort& ComPort() { return *FComPort; }
    TCustomComProtocol& ComProtocol() { return *FComProtocolImpl; }

private:
    std::unique_ptr<TComPort> FComPort;
    std::unique_ptr<TCustomComProtocol> FComProtocolImpl;
};

// A cash register on TCP.
class TSocketDevice : public TDevice {
public:
    TSocketDevice();
    ~TSocketDevice() override;
    int32_t RunCommand(const std::string& ACmd, const std::string& AData, int32_t ATimeout, bool ASendPwd,
                       bool AWaitResponse) override;
    using TDevice::Enable;
    // Connects and reads the print line length: 0 or the connection's code.
    int32_t Enable(const std::string& AIPAddress, int32_t ATCPPort) override;
    void Disable() override;
    std::string GetIPAddress() const override;
    void SetIPAddress(const std::string& AValue) override;
    int32_t GetTCPPort() const override;
    void SetTCPPort(int32_t AValue) override;
    TSocketProtocol& SocketProtocol() { return *FSocketProtocolImpl; }

private:
    std::unique_ptr<TSocketProtocol> FSocketProtocolImpl;
};

}  // namespace fr
