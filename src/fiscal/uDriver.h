// The fiscal-registrar driver class the host creates: its settings, its
// device sessions and the fiscal operations.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "driver/uEcrDriver.h"
#include "fiscal/uDriverSettings.h"

namespace fr {

// One opened cash register with the settings copied at Open.
class TDeviceDriver : public TPropertyHolder {
public:
    static const TClassDecl& Decl();
    const TClassDecl& ClassDecl() const override { return Decl(); }

    // The settings as they were at Open.
    TDriverSettings FSettings;
    bool FMteDriver = false;
    bool FLogEnabled = false;
};

class TDriver : public TEcrlDriver {
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

private:
    std::map<std::string, std::unique_ptr<TDeviceDriver>> FDeviceDriverList;
    // The current session: borrowed from the list, or owned in
    // single-session mode.
    TDeviceDriver* FDeviceDriver = nullptr;
    std::unique_ptr<TDeviceDriver> FSingleSession;
};

}  // namespace fr
