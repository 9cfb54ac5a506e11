// Host documents of every method that takes one (check package, correction,
// text document, registration data, marking-code request, cashier input),
// through the driver's own host wrappers: the document is parsed, checked
// and carried out against the emulator's state machine, which answers each
// command in the process (a fresh register, shift open, for every input).
// The session is opened once over loopback TCP, exactly as the host opens
// it; then its device object is replaced by one that hands each command
// payload to the state machine directly.
#include <memory>

#include "FuzzCommon.h"
#include "fiscal/uDriver.h"
#include "uEmuDevice.h"
#include "uEmulator.h"

namespace {

using fr::fuzz::THostParams;

fr::TEmuConfig Config() {
    fr::TEmuConfig C;
    C.PrintPolls = 0;
    return C;
}

// A device whose link is a direct call into the emulator's state machine.
class TEmuLinkDevice : public fr::TDevice {
public:
    int32_t RunCommand(const std::string& ACmd, const std::string& AData, int32_t, bool ASendPwd,
                       bool AWaitResponse) override {
        FResponse.clear();
        const std::string Payload = ASendPwd ? ACmd + FConnectPwd + AData : ACmd + AData;
        std::string Answer = Emu->Execute(Payload);
        // The answer echoes the command code; the device layer keeps the rest.
        const size_t CodeSize = (!Answer.empty() && uint8_t(Answer[0]) >= 0xFE) ? 2 : 1;
        if (AWaitResponse && Answer.size() >= CodeSize) FResponse = Answer.substr(CodeSize);
        return 0;
    }
    std::unique_ptr<fr::TEmuDevice> Emu;
};

struct TSetup {
    fr::fuzz::THostMemory Memory;
    fr::TDriver Driver;
    std::string ID;
    TEmuLinkDevice* Device = nullptr;

    TSetup() {
        Driver.V8MM = &Memory;
        fr::TEmulator Emulator(Config());
        Driver.FSettings.PortNumber = 9999;
        Driver.FSettings.IPPort = Emulator.StartTCP();
        THostParams P(1);
        Driver.HostOpen(*Call(P));
        if (!P.Ret()->bVal) abort();
        ID = fr::Utf16ToUtf8(std::u16string_view(P[0].pwstrVal, P[0].wstrLen));
        Emulator.Stop();
        Driver.SelectDevice(ID);
        fr::TDeviceDriver& S = Driver.Session();
        auto D = std::make_unique<TEmuLinkDevice>();
        D->SetConnectPwd(S.FDevice->ConnectPwd());
        D->SetFFDVersion(S.FDevice->FFDVersion());
        D->SetLineLen(S.FDevice->LineLen());
        D->SetFeedCount(S.FDevice->FeedCount());
        D->SetPrintPollIntervals(0, 0);
        Device = D.get();
        S.FDevice = std::move(D);
    }
    std::unique_ptr<fr::TV8Call> Call(THostParams& P) {
        return std::make_unique<fr::TV8Call>(Driver, P.Ret(), P.Params(), P.Count());
    }
};

const char* const kCashier =
    "<InputParameters><Parameters CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\"/></InputParameters>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    static TSetup* Setup = new TSetup;  // lives as long as the process
    fr::TDriver& Drv = Setup->Driver;
    fr::fuzz::TInput In(AData, ASize);
    const uint8_t Method = In.Byte() % 11;
    const uint8_t Flags = In.Byte();
    const std::string Document = In.Rest();

    Setup->Device->Emu = std::make_unique<fr::TEmuDevice>(Config());
    if (Method != 5) {
        THostParams P(3);
        P.SetString(0, Setup->ID);
        P.SetString(1, kCashier);
        Drv.HostOpenShift(*Setup->Call(P));
    }
    THostParams P(4);
    P.SetString(0, Setup->ID);
    auto C = [&](size_t ACount) { return std::make_unique<fr::TV8Call>(Drv, P.Ret(), P.Params(), long(ACount)); };
    switch (Method) {
        case 0:
            P.SetBool(1, Flags & 1);
            P.SetString(2, Document);
            Drv.HostProcessCheck(*C(4));
            break;
        case 1:
            P.SetString(1, Document);
            Drv.HostProcessCorrectionCheck(*C(3));
            break;
        case 2:
            P.SetString(1, Document);
            Drv.HostPrintTextDocument(*C(2));
            break;
        case 3:
            P.SetInt(1, Flags % 4);
            P.SetString(2, Document);
            Drv.HostOperationFN(*C(3));
            break;
        case 4:
            P.SetString(1, Document);
            Drv.HostRequestKM(*C(3));
            break;
        case 5:
            P.SetString(1, Document);
            Drv.HostOpenShift(*C(3));
            break;
        case 6:
            P.SetString(1, Document);
            Drv.HostCloseShift(*C(3));
            break;
        case 7:
            P.SetString(1, Document);
            Drv.HostPrintXReport(*C(2));
            break;
        case 8:
            P.SetString(1, Document);
            P.SetDouble(2, (Flags & 1) ? -10.5 : 1000);
            Drv.HostCashInOutcome(*C(3));
            break;
        case 9:
            P.SetString(1, Document);
            Drv.HostGetCurrentStatus(*C(3));
            break;
        case 10:
            P.SetString(1, Document);
            Drv.HostReportCurrentStatusOfSettlements(*C(3));
            break;
    }
    // The register goes with its input: what an input allocates is then
    // freed within it, and the fuzzer's leak check (run again for any input
    // whose allocations and frees do not match) stays for real leaks.
    Setup->Device->Emu.reset();
    return 0;
}
