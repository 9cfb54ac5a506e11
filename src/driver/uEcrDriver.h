// The fiscal-registrar method set of the equipment standard: thin wrappers
// that select the device, turn XML texts into documents, call the
// operation the driver class implements and report failures with their
// standard codes.
#pragma once

#include <pugixml.hpp>

#include "driver/uCommonDriver.h"
#include "base/uCurrency.h"

namespace fr {

class TEcrDriver : public TCommonDriver {
public:
    TEcrDriver();

    static const TClassDecl& Decl();
    const TClassDecl& ClassDecl() const override { return Decl(); }
    static void UpdateDriverInfo(TDriverInfo& ADriverInfo);

    // Operations of the driver class. Input documents are parsed, output
    // documents are new and empty (version "1.0").
    virtual void GetDataKKT(pugi::xml_document& AOut) = 0;
    virtual void OperationFN(uint8_t AOperationType, pugi::xml_document& AIn) = 0;
    virtual void OpenShift(pugi::xml_document& AIn, pugi::xml_document& AOut) = 0;
    virtual void CloseShift(pugi::xml_document& AIn, pugi::xml_document& AOut) = 0;
    virtual void ProcessCheck(bool AElectronically, pugi::xml_document& AIn, pugi::xml_document& AOut,
                              bool AIsCorrection) = 0;
    virtual void ProcessCorrectionCheck(pugi::xml_document& AIn, pugi::xml_document& AOut) = 0;
    virtual void PrintTextDocument(pugi::xml_document& AIn) = 0;
    virtual void CashInOutcome(pugi::xml_document& AIn, TCurrency AAmount) = 0;
    virtual void PrintXReport(pugi::xml_document& AIn) = 0;
    virtual void GetCurrentStatus(pugi::xml_document& AIn, pugi::xml_document& AOut) = 0;
    virtual void ReportCurrentStatusOfSettlements(pugi::xml_document& AIn, pugi::xml_document& AOut) = 0;
    virtual void OpenCashDrawer() = 0;
    virtual int32_t GetLineLength() = 0;
    virtual void PrintCheckCopy(const std::string& ACheckNumber) = 0;
    virtual void OpenSessionRegistrationKM() = 0;
    virtual void CloseSessionRegistrationKM() = 0;
    virtual void RequestKM(pugi::xml_document& AIn, pugi::xml_document& AOut) = 0;
    virtual void GetProcessingKMResult(pugi::xml_document& AOut, int32_t& ARequestStatus) = 0;
    virtual void ConfirmKM(const std::string& ARequestGUID, int32_t AConfirmationType) = 0;
    virtual void SetDateTime(const std::string& ADateTime) = 0;
    virtual std::string GetDateTime() = 0;
    virtual void GetDocumentInformation(int32_t ADocumentNumber, pugi::xml_document& AOut) = 0;

    // Host wrappers, one per operation.
    void HostGetDataKKT(TV8Call& ACall);
    void HostOperationFN(TV8Call& ACall);
    void HostOpenShift(TV8Call& ACall);
    void HostCloseShift(TV8Call& ACall);
    void HostProcessCheck(TV8Call& ACall);
    void HostProcessCorrectionCheck(TV8Call& ACall);
    void HostPrintTextDocument(TV8Call& ACall);
    void HostCashInOutcome(TV8Call& ACall);
    static TCurrency CashAmount(const TV8Call& ACall, long I);
    void HostPrintXReport(TV8Call& ACall);
    void HostGetCurrentStatus(TV8Call& ACall);
    void HostReportCurrentStatusOfSettlements(TV8Call& ACall);
    void HostOpenCashDrawer(TV8Call& ACall);
    void HostGetLineLength(TV8Call& ACall);
    void HostPrintCheckCopy(TV8Call& ACall);
    void HostOpenSessionRegistrationKM(TV8Call& ACall);
    void HostCloseSessionRegistrationKM(TV8Call& ACall);
    void HostRequestKM(TV8Call& ACall);
    void HostGetProcessingKMResult(TV8Call& ACall);
    void HostConfirmKM(TV8Call& ACall);
    void HostSetDateTime(TV8Call& ACall);
    void HostGetDateTime(TV8Call& ACall);
    void HostGetDocumentInformation(TV8Call& ACall);

protected:
    // An EquException keeps its code; anything else is reported as 1001.
    void HandleDriverException(tVariant* RetValue);

private:
    // The wrapper pattern: select the device from parameter 0, run ABody,
    // report success or the failure.
    template <class F>
    void Wrapped(TV8Call& ACall, F ABody) {
        try {
            SelectDevice(ACall.GetString(0));
            ABody();
            ReportSuccess(ACall.RetValue());
        } catch (...) {
            HandleDriverException(ACall.RetValue());
        }
    }
    // Parses host parameter I (after removing characters XML forbids).
    static void ReadInput(const TV8Call& ACall, long I, pugi::xml_document& ADoc);
    // An input document in, an output document back into parameter IOut.
    template <void (TEcrDriver::*Op)(pugi::xml_document&, pugi::xml_document&)>
    void InOut(TV8Call& ACall, long IIn, long IOut);
};

}  // namespace fr
