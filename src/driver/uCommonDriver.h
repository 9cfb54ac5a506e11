// The ten host methods every driver of the equipment standard answers, the
// driver description, the settings form and the additional actions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "frame/uCustomDriver.h"

namespace fr {

enum TEquipmentType : uint8_t {
    etScanner,
    etMCR,
    etFR,
    etReceiptPrinter,
    etLabelPrinter,
    etCustomerDisplay,
    etDataCollectionTerminal,
    etAcquiringTerminal,
    etScale,
    etPrintingScale,
    etRFIDReader,
    etECR,
    etVideocamera,
    etElectronicLock,
    etUnknown
};

// Name of an equipment type as the description document writes it; raises
// "Enum value unacceptable" outside the enumeration.
std::string EquipmentTypeText(uint8_t AValue);

struct TDriverInfo {
    std::string Name;
    std::string Description;
    uint8_t EquipmentType = etUnknown;
    bool IntegrationComponent = false;
    bool MainDriverInstalled = false;
    std::string DriverVersion;
    std::string IntegrationComponentVersion;
    std::string DownloadURL;
    bool LogIsEnabled = false;
    std::string LogPath;
};

// The one description of the driver, shared by all driver objects: a copy
// to read, and a change made under the description's lock (objects are
// created and described from several threads).
TDriverInfo DriverInfo();
void ChangeDriverInfo(const std::function<void(TDriverInfo&)>& AChange);

// The settings form embedded in the library, or the form built from the
// declared settings when AResource is null.
std::string BuildParametersXml(const std::string* AResource, const TClassDecl& ADecl);

class TCommonDriver : public TCustomDriver {
public:
    TCommonDriver();
    ~TCommonDriver() override;

    static const TClassDecl& Decl();
    const TClassDecl& ClassDecl() const override { return Decl(); }

    static void UpdateDriverInfo(TDriverInfo& ADriverInfo);
    template <class C>
    static void RegisterDriver(const std::string& AExtension, const std::string& AName,
                               const std::string& ADescription) {
        TCustomDriver::RegisterDriver<C>(AExtension);
        ChangeDriverInfo([&](TDriverInfo& AInfo) {
            AInfo.Name = AName;
            AInfo.Description = ADescription;
            C::UpdateDriverInfo(AInfo);
        });
    }

    // Device-specific steps that the driver class overrides.
    virtual void SelectDevice(const std::string& ADeviceID);
    virtual int32_t InterfaceRevision();
    virtual void Open();
    virtual void Close(const std::string& ADeviceID);
    virtual void DeviceTest(std::string& ADescription, std::string& ADemoModeIsActivated);
    virtual std::string GetParametersXml();
    virtual std::string GetDescriptionXml();
    virtual std::string GetAdditionalActions();
    virtual void RunAdditionalAction(const std::string& AName);

    bool Enabled() const { return FEnabled; }
    bool GetLogEnabled() const;
    void SetLogEnabled(bool AValue);

    // Additional actions.
    void ViewLog();
    void ShowHelp();

    // Host methods. They share the names of the operations above, so they
    // carry the prefix Host; the host sees the English and Russian names
    // of the declaration table.
    void HostGetInterfaceRevision(TV8Call& ACall);
    void HostGetDescription(TV8Call& ACall);
    void HostGetLastError(TV8Call& ACall);
    void HostOpen(TV8Call& ACall);
    void HostClose(TV8Call& ACall);
    void HostGetParameters(TV8Call& ACall);
    void HostSetParameter(TV8Call& ACall);
    void HostDeviceTest(TV8Call& ACall);
    void HostGetAdditionalActions(TV8Call& ACall);
    void HostDoAdditionalAction(TV8Call& ACall);

protected:
    // The additional-actions document with the actions AListed accepts, in
    // registry order.
    std::string ActionsXml(const std::function<bool(const TActionDecl&)>& AListed) const;

    // Runs ABody as an exported method: success, or the failure recorded
    // with code 1001 and the host result false.
    template <class F>
    void Exported(TV8Call& ACall, F ABody) {
        try {
            ABody();
            ReportSuccess(ACall.RetValue());
        } catch (...) {
            HandleException(CurrentExceptionMessage(), ACall.RetValue(), 1001);
        }
    }

    bool FEnabled = false;
    // This object serves one session and ignores device identifiers (set by
    // the driver class when it opens with MteDriver); Open then hands the
    // host no identifier.
    bool FInSingleSessionMode = false;
    // LogEnabled as last written on this object.
    bool FLogEnabled = false;
};

}  // namespace fr
