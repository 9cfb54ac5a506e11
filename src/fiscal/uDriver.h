// The fiscal-registrar driver class the host creates: its settings, its
// device sessions and the fiscal operations.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "device/uDevice.h"
#include "driver/uEcrDriver.h"
#include "fiscal/uDriverSettings.h"
#include "fiscal/uReceiptValues.h"

namespace fr {

// Host packages, read and checked whole before their first command (each
// defined beside the operation that reads it).
struct TReceiptPackage;
struct TFiscalItem;
struct TLegacyCorrection;

// One opened cash register: its device object, the settings copied at Open
// and the state of the operation in progress.
class TDeviceDriver : public TPropertyHolder {
public:
    static const TClassDecl& Decl();
    const TClassDecl& ClassDecl() const override { return Decl(); }

    // The device; raises "Устройство не включено" while there is none.
    TDevice& GetDevice() const;
    bool HasDevice() const { return FDevice != nullptr; }

    std::unique_ptr<TDevice> FDevice;
    bool FAutoCut = false;
    std::string FCashierName;  // of the current operation (UTF-8)
    std::string FCashierINN;
    TFFDVersion FFFDVersion = ffd10;
    int32_t FRequestCounter = 0;
    TKMResult FKMResult;
    std::string FCurrentKM;
    std::string FCutMarker;
    int64_t FDateTime = 0;
    std::string FFiscalSign;
    uint8_t FInitPrintSetting = 0;  // device table 17, field 7 at Open
    int32_t FLineLen = 0;           // line length in effect
    TTaxValues FTaxValues;

    // The settings as they were at Open.
    TDriverSettings FSettings;
    bool FMteDriver = false;
    bool FLogEnabled = false;
};

class TDriver : public TEcrDriver {
public:
    TDriver();
    ~TDriver() override;

    static const TClassDecl& Decl();
    const TClassDecl& ClassDecl() const override { return Decl(); }

    // The driver answers interface revision 3004; the inherited entry
    // further down the method table still answers 3002.
    void HostGetInterfaceRevision(TV8Call& ACall);

    void SelectDevice(const std::string& ADeviceID) override;
    void Open() override;
    void Close(const std::string& ADeviceID) override;
    void DeviceTest(std::string& ADescription, std::string& ADemoModeIsActivated) override;
    std::string GetAdditionalActions() override;

    void GetKKTParams();
    // 0 closed, 1 open, 2 open longer than 24 hours.
    int32_t GetShiftState();

    void GetDataKKT(pugi::xml_document& AOut) override;
    void OperationFN(uint8_t AOperationType, pugi::xml_document& AIn) override;
    void OpenShift(pugi::xml_document& AIn, pugi::xml_document& AOut) override;
    void CloseShift(pugi::xml_document& AIn, pugi::xml_document& AOut) override;
    void ProcessCheck(bool AElectronically, pugi::xml_document& AIn, pugi::xml_document& AOut,
                      bool AIsCorrection) override;
    void ProcessCorrectionCheck(pugi::xml_document& AIn, pugi::xml_document& AOut) override;
    void PrintTextDocument(pugi::xml_document& AIn) override;
    void CashInOutcome(pugi::xml_document& AIn, TCurrency AAmount) override;
    void PrintXReport(pugi::xml_document& AIn) override;
    void GetCurrentStatus(pugi::xml_document& AIn, pugi::xml_document& AOut) override;
    void ReportCurrentStatusOfSettlements(pugi::xml_document& AIn, pugi::xml_document& AOut) override;
    void OpenCashDrawer() override;
    int32_t GetLineLength() override;
    void PrintCheckCopy(const std::string& ACheckNumber) override;
    void OpenSessionRegistrationKM() override;
    void CloseSessionRegistrationKM() override;
    void RequestKM(pugi::xml_document& AIn, pugi::xml_document& AOut) override;
    void GetProcessingKMResult(pugi::xml_document& AOut, int32_t& ARequestStatus) override;
    void ConfirmKM(const std::string& ARequestGUID, int32_t AConfirmationType) override;
    void SetDateTime(const std::string& ADateTime) override;
    std::string GetDateTime() override;
    void GetDocumentInformation(int32_t ADocumentNumber, pugi::xml_document& AOut) override;

    // Settings (host properties).
    TDriverSettings FSettings;

    bool GetMteDriver() const { return FMteDriver; }
    void SetMteDriver(bool AValue) { FMteDriver = AValue; }

    // Session helpers: they act on the current session.
    void ConnectTCP();
    void DisconnectTCP();
    bool IsPrintingEnabled();
    void CutReceipt(bool ASkip, bool ARespectAutoCut, int32_t AMode);
    void PrepareDevice();
    bool IsFiscalModeOpen();
    void CheckShift(bool AMustBeClosed);
    void ReadCashier(const pugi::xml_document& AInputParameters);
    static std::string CheckCashierINN(const std::string& AValue);
    static std::string NormalizeINN(const std::string& AValue);
    // The print switch (PrintSwitchCell) := AValue; TPrintSwitch sets it for
    // one document and puts it back.
    void SetPrintSwitch(uint8_t AValue);
    // The value of the print switch for documents (EnablePrinting) and for
    // reports (EnableReportPrinting): 2 keeps them off paper.
    uint8_t DocumentPrintSwitch() const;
    uint8_t ReportPrintSwitch() const;
    // Text of a format version code (1 to 4: "1.0", "1.0.5", "1.1", "1.2");
    // any other code raises "Неизвестная версия ФФД".
    static std::string FFDVersionText(int32_t ACode);
    // The output document of the shift and status methods; AMask selects
    // the attributes and elements.
    void FillOutputParameters(pugi::xml_document& AOutputParameters, uint32_t AMask);

    // Text documents and graphic text (uDriverText.cpp). PrintGraphicTextTag
    // prints the text between the first graphic-text tag pair of ALine in
    // the tag's font slot; false (nothing printed) without a complete pair.
    bool PrintGraphicTextTag(const std::string& ALine);
    void GetGraphicTextFont(int32_t ASlot, std::string& AFontName, std::string& AFontStyle, int32_t& AFontSize);
    // A Barcode element of a text document or a receipt.
    void PrintBarcodeElement(pugi::xml_node AElement);
    // A GraphicText element of a text document or a receipt.
    void PrintGraphicTextElement(pugi::xml_node AElement);

    // Receipts (uDriverReceipt.cpp) and their positions (uDriverPositions.cpp).
    struct TReceiptState {
        int32_t OperationType = 0;  // 1..4
        bool IsCorrection = false;
        TTaxSums Taxes{};
    };
    void WriteDocumentOutputParameters(pugi::xml_document& ADocumentOutputParameters);
    void ProcessPositions(pugi::xml_node APositions, TReceiptState& AState);
    // Agent and supplier requisites of a receipt (AForReceipt) or of the item
    // registered last.
    void SendAgentData(pugi::xml_node AAgentData, pugi::xml_node AVendorData, bool AForReceipt,
                       int32_t ACalculationAgent = -1);
    static std::string SetAgentPhones(int32_t ATag, const std::string& APhones);
    void SetHeaderAgentPhones(int32_t ATag, const std::string& APhones);
    // Tag 1162 of the older formats from a marking code (ANSI bytes).
    static std::string MarkingCodeToProductCode(const std::string& ACode);
    // ALabel, then AAmount with two decimals at the right margin of AWidth
    // characters (0: the session's line length, else 24).
    std::string FormatAmountLine(const std::string& ALabel, TCurrency AAmount, int32_t AWidth);

    TDeviceDriver& Session() const;
    TDevice& Device() const { return Session().GetDevice(); }

private:
    // Runs ABody between ConnectTCP and DisconnectTCP (also on failure).
    template <class F>
    void WithTCP(F ABody);
    // The report bracket: print switch for reports, data output unlocked;
    // afterwards the print switch of Open is restored (a failed restore only
    // logged unless ARaiseRestoreError) and TCP disconnected.
    template <class F>
    void WithReportBracket(bool ARaiseRestoreError, F ABody);
    std::unique_ptr<TDeviceDriver> NewSession();
    uint8_t ConnectSession(TDeviceDriver& S);
    void ProcessFiscalString(pugi::xml_node AElement, TReceiptState& AState);
    // Its steps: the item read and checked, then its product and marking
    // codes on format 1.2 and on the older formats.
    TFiscalItem ReadFiscalItem(pugi::xml_node AElement) const;
    void SendItemCodes12(const TFiscalItem& AI, bool AIsCorrection);
    void SendItemCodesBefore12(const TFiscalItem& AI);
    // Correction receipts and cash documents (uDriverCorrection.cpp).
    void ProcessLegacyCorrectionCheck(pugi::xml_document& AIn, pugi::xml_document& AOut);
    // The device's correction command; a correction begun and neither formed
    // nor found stored is annulled.
    void FormLegacyCorrection(const TLegacyCorrection& AC);
    // The cash command, confirmed by the register's count after a failure.
    void RegisterCashDocument(TCurrency AAmount);
    // After a failed cash command: true when operation register ACounter
    // moved on by one from ABefore, so the device did the document.
    bool CashDocumentDone(uint8_t ACounter, int32_t ABefore);
    // After a failed shift command: true when the device reports the shift
    // open (AOpen) or closed, read over a fresh connection.
    bool ShiftStateIs(bool AOpen);
    // After a failed report command: true when the storage's last document,
    // read over a fresh connection, is a new one of type AType.
    bool StoredDocumentIs(int64_t ADocumentBefore, int32_t AType);
    // After a document the device has stored (a shift document, a
    // correction): the print wait and the cut, whose failures are only
    // logged with APrintFailedLog, then AWriteOutput fills AOut, tried up to
    // three times on fresh connections. When every read fails, AOut is
    // emptied and AReadFailedText with the last error is raised.
    void FinishStoredDocument(pugi::xml_document& AOut, const std::function<void()>& AWriteOutput,
                              const std::string& APrintFailedLog, const std::string& AReadFailedText);
    // The print wait and the cut after a registered document; a failure is
    // only logged, after AFailedLog.
    void FinishPrinting(const std::string& AFailedLog);
    // Marking codes (uDriverMarking.cpp): clears the storage's buffer of
    // checked codes and the session's list.
    void ResetMarkingSession();
    // Steps of ProcessCheck from the print setting to the output document;
    // AClosed is set once the device has closed the receipt.
    void RegisterReceipt(bool AElectronically, pugi::xml_document& ACheckPackage,
                         pugi::xml_document& ADocumentOutputParameters, bool AIsCorrection, bool& AClosed);
    // Its steps: the package read and checked, the requisites after the
    // receipt is opened, those before its close, and the close.
    TReceiptPackage ReadReceiptPackage(const pugi::xml_document& ACheckPackage, bool AIsCorrection);
    void SendReceiptHeader(const TReceiptPackage& AP, bool AIsCorrection);
    void SendReceiptClosingRequisites(const TReceiptPackage& AP);
    void CloseReceipt(const TReceiptPackage& AP, const TTaxSums& ATaxes);
    // After a failed close: true when the device did store the receipt as
    // the document after ADocumentBefore (its fiscal sign and time are then
    // in the session); false when it did not or cannot tell.
    bool RecoverClose(int64_t ADocumentBefore);
    // What a new stored document decides, given its number and type: true
    // or false, or nothing to read the storage again.
    using TStoredDocumentCheck = std::function<std::optional<bool>(int64_t ANumber, int32_t AType)>;
    // After a failed document command: reads the storage's last document
    // over a fresh connection, up to three times. False when it is still
    // ADocumentBefore or cannot be read; else what ACheck decides. Failed
    // reads are logged after AReadFailedLog.
    bool NewStoredDocument(int64_t ADocumentBefore, const TStoredDocumentCheck& ACheck,
                           const std::string& AReadFailedLog);
    // A fresh TCP connection after a link failure; nothing on serial.
    void Reconnect();

    std::map<std::string, std::unique_ptr<TDeviceDriver>> FDeviceDriverList;
    // The current session: borrowed from the list, or owned in
    // single-session mode.
    TDeviceDriver* FDeviceDriver = nullptr;
    std::unique_ptr<TDeviceDriver> FSingleSession;
};

// The print switch of the device for one document: set for it and put back
// to the value read at Open when the document is done, also after a failure,
// so that a "do not print" never outlives its document. Restore() puts it
// back on the way out and raises when that fails; otherwise the destructor
// puts it back and a failure is only logged (after a failure, or once a
// document is registered and a failed restore must not fail it).
class TPrintSwitch {
public:
    // From here on the value of Open goes back at the end; nothing is set yet.
    explicit TPrintSwitch(TDriver& ADriver) : FDriver(ADriver) {}
    // The same, with AValue set at once (put back also when setting it fails:
    // the device may have taken it though its answer was lost).
    TPrintSwitch(TDriver& ADriver, uint8_t AValue) : TPrintSwitch(ADriver) { Set(AValue); }
    ~TPrintSwitch();
    TPrintSwitch(const TPrintSwitch&) = delete;
    TPrintSwitch& operator=(const TPrintSwitch&) = delete;

    void Set(uint8_t AValue) { FDriver.SetPrintSwitch(AValue); }
    void Restore();

private:
    TDriver& FDriver;
    bool FRestored = false;
};

template <class F>
void TDriver::WithTCP(F ABody) {
    ConnectTCP();
    try {
        ABody();
    } catch (...) {
        DisconnectTCP();
        throw;
    }
    DisconnectTCP();
}

template <class F>
void TDriver::WithReportBracket(bool ARaiseRestoreError, F ABody) {
    WithTCP([&] {
        TPrintSwitch Switch(*this, ReportPrintSwitch());
        Device().UnlockDataOutputMode();
        ABody();
        if (ARaiseRestoreError) Switch.Restore();
    });
}

}  // namespace fr
