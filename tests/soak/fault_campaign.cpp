// The fault campaign: thousands of host operations through the library,
// loaded as the platform loads it, against the emulator over loopback TCP or
// a serial line (a pseudo-terminal; COM<n> of the Wine prefix for the Windows
// DLL), with link and device faults and power cuts struck at random command
// frames. fault_campaign hosts the emulator in its process;
// fault_campaign_remote drives kkt-emulator --control. After every
// operation the emulator's own state is compared with what the driver
// reported:
//   - nothing reported successful that the register did not do (a receipt
//     reported closed is stored, with the number and fiscal sign reported);
//   - no receipt stays open after the operation that follows;
//   - a document the register stored while its answer was lost can be found
//     by the host (GetCurrentStatus and GetDocumentInformation);
//   - no operation runs past the worst case of the link (a watchdog), every
//     failure carries an error code and text, and every string the library
//     hands the host is a host block, freed again.
// The run ends with a table; any violation makes the exit code non-zero.
//
//   fault_campaign [--transport tcp|serial] [--ops N] [--seconds S]
//                  [--seed N] [--fault-rate P] [--format 1.05|1.2] [--verbose]
//                  [--log DIR]
// --log keeps the driver's log (LogEnabled) in DIR, for a violation to be
// followed exchange by exchange.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <pugixml.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e/E2EDevice.h"
#include "uEmulator.h"
#include "v8host/uV8Host.h"

namespace {

using fr::TEmuDocument;
using fr::TEmuFault;
using fr::TEmulator;
using fr::host::TCallResult;
using fr::host::TComponentHost;
using V = fr::host::THostValue;
using TClock = std::chrono::steady_clock;

// ---- options --------------------------------------------------------------------------

struct TOptions {
    bool Tcp = true;
    long Ops = 10000;
    double Seconds = 0;  // > 0: stop after this much time even before Ops
    uint64_t Seed = 1;
    double FaultRate = 0.1;  // share of operations with a fault set
    bool Verbose = false;
    std::string LogDir;   // non-empty: the driver logs there, and the folder stays
    bool Legacy = false;  // format 1.05: corrections by the register's correction command
};

[[noreturn]] void Usage(const char* AWhy) {
    std::fprintf(stderr,
                 "%s\nusage: fault_campaign [--transport tcp|serial] [--ops N] [--seconds S] [--seed N] "
                 "[--fault-rate P] [--format 1.05|1.2] [--verbose] [--log DIR]\n",
                 AWhy);
    std::exit(64);
}

TOptions ParseOptions(int argc, char** argv) {
    TOptions O;
    for (int I = 1; I < argc; ++I) {
        const std::string A = argv[I];
        auto Next = [&]() -> std::string {
            if (I + 1 >= argc) Usage(("missing value of " + A).c_str());
            return argv[++I];
        };
        try {
            if (A == "--transport") {
                const std::string T = Next();
                if (T != "tcp" && T != "serial") Usage("transport is tcp or serial");
                O.Tcp = T == "tcp";
            } else if (A == "--ops") {
                O.Ops = std::stol(Next());
            } else if (A == "--seconds") {
                O.Seconds = std::stod(Next());
            } else if (A == "--seed") {
                O.Seed = std::stoull(Next());
            } else if (A == "--fault-rate") {
                O.FaultRate = std::stod(Next());
            } else if (A == "--format") {
                const std::string F = Next();
                if (F != "1.05" && F != "1.2") Usage("format is 1.05 or 1.2");
                O.Legacy = F == "1.05";
            } else if (A == "--verbose") {
                O.Verbose = true;
            } else if (A == "--log") {
                O.LogDir = Next();
            } else {
                Usage(("unknown option " + A).c_str());
            }
        } catch (const std::logic_error&) {
            Usage(("bad value for " + A).c_str());
        }
    }
    if (O.Ops <= 0 || O.FaultRate < 0 || O.FaultRate > 1) Usage("bad option value");
    return O;
}

// ---- faults -----------------------------------------------------------------------------

// The emulator's link faults, then the power cut.
enum TFaultKind {
    fkSilence,
    fkNak,
    fkBadChecksum,
    fkCutAnswer,
    fkExtraBytes,
    fkDrop,
    fkDeviceError,
    fkPowerCut,
    fkCount
};
const char* const kFaultNames[fkCount] = {"silence",     "NAK",          "bad checksum", "cut answer",
                                          "extra bytes", "dropped link", "device error", "power cut"};

// Result codes of a refused command: wrong parameters, a command the mode
// does not allow, printing in progress, and a storage command refused.
const uint8_t kDeviceErrors[] = {0x33, 0x45, 0x50, 0x73};

// ---- operations -------------------------------------------------------------------------

enum TOpKind {
    okReceipt,
    okCorrection,
    okCashIn,
    okCashOut,
    okText,
    okMarkRequest,
    okMarkReceipt,
    okOpenShift,
    okCloseShift,
    okStatus,
    okDocInfo,
    okXReport,
    okSettlements,
    okCount
};
const char* const kOpNames[okCount] = {"receipt",       "correction",     "cash in",    "cash out",    "text document",
                                       "marking check", "marked receipt", "shift open", "shift close", "status read",
                                       "document read", "X report",       "settlements"};

// What happened to one operation.
enum TOutcome { ocSuccess, ocCleanFailure, ocLostFound, ocViolation, ocOutcomeCount };

struct TStats {
    long Ops = 0;
    long ByKind[okCount] = {};
    long Outcome[okCount][ocOutcomeCount] = {};
    long FaultsSet[fkCount] = {};
    long FaultsStruck[fkCount] = {};
    long SecondFaults = 0;       // operations with a second fault
    long StaleOpenReceipts = 0;  // open after an operation, closed by the next
    long MarkingResets = 0;      // marking sessions closed after failures in a row
    double MaxOpSeconds[okCount] = {};
};

// ---- watchdog -----------------------------------------------------------------------------

// Ends the process when one operation runs past its limit: a hung driver
// cannot be brought back, and the run must not hang with it.
class TWatchdog {
public:
    TWatchdog() : FThread([this] { Run(); }) {}
    ~TWatchdog() {
        {
            std::lock_guard<std::mutex> L(FMutex);
            FStop = true;
        }
        FCv.notify_all();
        FThread.join();
    }
    void Arm(double ASeconds, std::string AWhat) {
        std::lock_guard<std::mutex> L(FMutex);
        FDeadline = TClock::now() + std::chrono::milliseconds(long(ASeconds * 1000));
        FWhat = std::move(AWhat);
        FArmed = true;
        FCv.notify_all();
    }
    void Disarm() {
        std::lock_guard<std::mutex> L(FMutex);
        FArmed = false;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> L(FMutex);
        while (!FStop) {
            if (!FArmed) {
                FCv.wait(L);
                continue;
            }
            if (FCv.wait_until(L, FDeadline) == std::cv_status::timeout && FArmed && TClock::now() >= FDeadline) {
                std::fprintf(stderr, "VIOLATION: %s did not return within its limit; the driver hangs\n",
                             FWhat.c_str());
                std::fflush(stderr);
                _exit(3);
            }
        }
    }
    std::mutex FMutex;
    std::condition_variable FCv;
    bool FStop = false, FArmed = false;
    TClock::time_point FDeadline;
    std::string FWhat;
    std::thread FThread;
};

// A power cut when the device has received its AK-th command frame from
// now: a thread watches the frame count (a frame arrives at most every few
// hundred microseconds, so the cut lands during that command or its answer).
class TPowerCut {
public:
    TPowerCut(TEmulator& AEmu, int AK) : FEmu(AEmu), FTarget(AEmu.CommandFrameCount() + uint64_t(AK)) {
        FThread = std::thread([this] {
            while (!FStop.load()) {
                if (FEmu.CommandFrameCount() >= FTarget) {
                    FEmu.Restart();
                    FDone = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
    }
    ~TPowerCut() {
        FStop = true;
        FThread.join();
    }
    bool Done() const { return FDone.load(); }

private:
    TEmulator& FEmu;
    uint64_t FTarget;
    std::atomic<bool> FStop{false}, FDone{false};
    std::thread FThread;
};

// ---- the campaign -------------------------------------------------------------------------

const std::string kCashierDoc =
    "<InputParameters><Parameters CashierName=\"Кассир Полевой\" CashierINN=\"500100732259\"/></InputParameters>";

// Marking codes (base64 of the code as scanned) the register accepts.
const char* const kMarkCodes[] = {"MDEwNDYwMDQzOTkzMTI1NjIxNUtmY20z", "MDEwNDY1MDExNzI0MDQwODIxNXBxN1l0"};

class TCampaign {
public:
    explicit TCampaign(const TOptions& AOptions) : FOpt(AOptions), FRandom(AOptions.Seed) {}

    int Run();

private:
    // Setup and host calls.
    void Start();
    // Ends the faults of the operation: called after its own host call, so
    // that the checks that follow run on a sound link.
    void EndFaults();
    TCallResult Call(const std::string& AName, const std::vector<V>& AParams);
    std::string Error() { return FHost->LastError().second; }

    // One operation of the mix, with its fault, and the checks after it.
    TOpKind ChooseOperation();
    void RunOperation(long AIndex);
    TOutcome Perform(TOpKind AKind, long AIndex, std::string& AWhy);

    // Operations.
    TOutcome DoFiscalDocument(TOpKind AKind, std::string& AWhy);
    TOutcome DoCash(bool AIn, std::string& AWhy);
    TOutcome DoText(long AIndex, std::string& AWhy);
    TOutcome DoMarkRequest(std::string& AWhy);
    TOutcome DoMarkCall(std::string& AWhy);
    TOutcome DoShift(bool AOpen, std::string& AWhy);
    TOutcome DoStatus(std::string& AWhy);
    TOutcome DoDocInfo(std::string& AWhy);
    TOutcome DoReport(bool ASettlements, std::string& AWhy);

    // Whether the host finds document ADoc: GetCurrentStatus names it as the
    // last one and GetDocumentInformation gives its fiscal sign.
    bool HostFindsDocument(const TEmuDocument& ADoc, std::string& AWhy);
    std::vector<TEmuDocument> NewDocuments() const;

    // Random helpers.
    int Uniform(int ALow, int AHigh) { return std::uniform_int_distribution<int>(ALow, AHigh)(FRandom); }
    bool Chance(double P) { return std::uniform_real_distribution<double>(0, 1)(FRandom) < P; }
    // Sums are kopecks in 64 bits: the drawer outgrows a 32-bit long (Windows')
    // within a few thousand operations.
    std::string Money(int64_t AKopecks) const {
        char B[32];
        std::snprintf(B, sizeof B, "%lld.%02lld", static_cast<long long>(AKopecks / 100),
                      static_cast<long long>(AKopecks % 100));
        return B;
    }
    std::string ReceiptPackage(bool ACorrection, const std::string& AMarkCode);
    std::string LegacyCorrectionPackage();

    void PrintTable(double ASeconds, long ARssStart, long ARssEnd) const;

    TOptions FOpt;
    std::mt19937_64 FRandom;
    std::unique_ptr<TEmulator> FEmu;
    std::unique_ptr<TComponentHost> FHost;
    std::unique_ptr<TComNumber> FCom;
    std::string FID;
    uint32_t FDocsBefore = 0;   // documents stored before the current operation
    std::string FPendingGUID;   // a checked marking code not yet confirmed
    std::string FAcceptedCode;  // a code accepted for the next marked receipt
    long FGUIDCounter = 0;
    int FMarkFailures = 0;         // marking-code calls failed in a row
    int FMaxFrames[okCount] = {};  // most command frames one operation took without a fault
    bool FOpenAfterPrevious = false;
    TStats FStats;
    long FViolations = 0;
    std::filesystem::path FDataDir;
    std::unique_ptr<TWatchdog> FWatchdog;
    // Faults of the current operation.
    std::unique_ptr<TPowerCut> FCut;
    bool FFaultsLive = false, FCutDone = false;
    uint64_t FFrame0 = 0, FOpFrames = 0;
};

void TCampaign::EndFaults() {
    if (!FFaultsLive) return;
    FFaultsLive = false;
    FCutDone = FCut && FCut->Done();
    FCut.reset();
    FOpFrames = FEmu->CommandFrameCount() - FFrame0;
    FEmu->ClearFaultsAtCommand();
}

void TCampaign::Start() {
    fr::TEmuConfig C;
    C.PrintPolls = 0;
    if (FOpt.Legacy) C.FFD = fr::efFFD105;
    FEmu = std::make_unique<TEmulator>(C);
    FHost = std::make_unique<TComponentHost>();
    FHost->Load(FR_LIBRARY_PATH);
    if (!FHost->Create("fr_orvalen1c8x3n")) throw std::runtime_error("the library refused to create the component");
    auto Set = [&](const char* AName, const V& AValue) {
        if (!FHost->Call("SetParameter", {V::String(AName), AValue}).Result.Bool)
            throw std::runtime_error(std::string("SetParameter ") + AName + ": " + Error());
    };
    if (!FOpt.LogDir.empty()) Set("LogEnabled", V::Boolean(true));
    if (FOpt.Tcp) {
        Set("PortNumber", V::Int32(9999));
        Set("IPPort", V::Int32(FEmu->StartTCP()));
    } else {
        if (const char* Why = ComLinkUnavailable()) throw std::runtime_error(Why);
        FCom = std::make_unique<TComNumber>(120, 10);
        if (FCom->Number == 0) throw std::runtime_error("no free com number");
        FEmu->StartSerial(FCom->Number);
        Set("PortNumber", V::Int32(FCom->Number));
    }
    const TCallResult R = FHost->Call("Open", {V::Empty()});
    if (!R.Result.Bool) throw std::runtime_error("Open: " + Error());
    FID = R.Params[0].Str;
}

TCallResult TCampaign::Call(const std::string& AName, const std::vector<V>& AParams) {
    TCallResult R = FHost->Call(AName, AParams);
    EndFaults();
    if (!R.Called || !R.StringsInHostMemory || FHost->Memory().LiveBlocks() != 0 || !FHost->Memory().Errors().empty()) {
        ++FViolations;
        std::fprintf(stderr, "VIOLATION: %s: host memory broken (called %d, strings in host memory %d, live %zu)\n",
                     AName.c_str(), int(R.Called), int(R.StringsInHostMemory), FHost->Memory().LiveBlocks());
    }
    // A failure reaches the host with its code and text; a success clears them.
    const std::pair<int32_t, std::string> E = FHost->LastError();
    if (R.Result.Bool ? E.first != 0 : E.first == 0 || E.second.empty()) {
        ++FViolations;
        std::fprintf(stderr, "VIOLATION: %s %s with error %d «%s»\n", AName.c_str(),
                     R.Result.Bool ? "succeeded" : "failed", int(E.first), E.second.c_str());
    }
    return R;
}

std::vector<TEmuDocument> TCampaign::NewDocuments() const {
    std::vector<TEmuDocument> Out;
    if (FEmu->Device().LastDocumentNumber() == FDocsBefore) return Out;
    for (const TEmuDocument& D : FEmu->Device().Documents())
        if (D.Number > FDocsBefore) Out.push_back(D);
    return Out;
}

TOpKind TCampaign::ChooseOperation() {
    fr::TEmuDevice& D = FEmu->Device();
    if (!D.ShiftOpen() && Chance(0.9)) return okOpenShift;
    if (!FPendingGUID.empty()) return okMarkRequest;  // confirm the code first
    // The register forgets its checked codes when any receipt closes.
    if (!FAcceptedCode.empty()) return okMarkReceipt;
    // Weights: receipts dominate as on a real till.
    static const std::pair<TOpKind, int> Mix[] = {
        {okReceipt, 40}, {okCorrection, 5}, {okCashIn, 6},     {okCashOut, 4},   {okText, 6},    {okMarkRequest, 8},
        {okStatus, 16},  {okDocInfo, 8},    {okCloseShift, 2}, {okOpenShift, 1}, {okXReport, 2}, {okSettlements, 2}};
    int Total = 0;
    // Format 1.05 knows no marking-code checks.
    auto Weight = [&](const std::pair<TOpKind, int>& M) {
        return FOpt.Legacy && M.first == okMarkRequest ? 0 : M.second;
    };
    for (const auto& M : Mix) Total += Weight(M);
    int X = Uniform(1, Total);
    for (const auto& M : Mix) {
        if (X <= Weight(M)) return M.first;
        X -= Weight(M);
    }
    return okStatus;
}

std::string TCampaign::ReceiptPackage(bool ACorrection, const std::string& AMarkCode) {
    static const char* const Names[] = {"Хлеб",         "Молоко 3,2%", "Сыр «Российский»", "Вода", "Кофе & чай",
                                        "Батарейка AA", "Пакет",       "Шоколад <горький>"};
    static const char* const Rates[] = {"20", "10", "0", "none", "20/120", "10/110"};
    const int OperationType = ACorrection ? (Chance(0.5) ? 1 : 3) : Uniform(1, 4);
    const int Positions = AMarkCode.empty() ? Uniform(1, Chance(0.1) ? 40 : 6) : 1;
    std::string P;
    int64_t Total = 0;
    for (int I = 0; I < Positions; ++I) {
        const int64_t Price = Uniform(1, 500000);  // kopecks
        const int Quantity = Uniform(1, 5);
        const int64_t Sum = Price * Quantity;
        Total += Sum;
        const std::string Rate = Rates[Uniform(0, 5)];
        std::string Name = Names[Uniform(0, 7)];
        if (Chance(0.1)) Name = std::string(Uniform(100, 140), 'x');  // cut to the tag's length
        std::string Escaped;
        for (const char C : Name) {
            if (C == '&')
                Escaped += "&amp;";
            else if (C == '<')
                Escaped += "&lt;";
            else if (C == '>')
                Escaped += "&gt;";
            else
                Escaped += C;
        }
        // VATAmount 0 lets the register compute the tax.
        P += "<FiscalString Name=\"" + Escaped + "\" Quantity=\"" + std::to_string(Quantity) +
             "\" PriceWithDiscount=\"" + Money(Price) + "\" AmountWithDiscount=\"" + Money(Sum) + "\" VATRate=\"" +
             Rate + "\" VATAmount=\"0\" PaymentMethod=\"4\" CalculationSubject=\"1\"" +
             (AMarkCode.empty() ? std::string() : " MarkingCode=\"" + AMarkCode + "\"") + "/>";
        if (Chance(0.15)) P += "<TextString Text=\"Строка " + std::to_string(I) + "\"/>";
    }
    if (Chance(0.1))
        P += "<Barcode BarcodeType=\"QR\" Barcode=\"https://example.ru/r?" + std::to_string(Total) + "\"/>";
    // A return or a purchase pays cash out of the drawer, which may not hold
    // enough: those are paid electronically.
    std::string Pay;
    switch (OperationType == 1 || OperationType == 4 ? Uniform(0, 2) : 1) {
        case 0:
            Pay = "Cash=\"" + Money(Total) + "\"";
            break;
        case 1:
            Pay = "ElectronicPayment=\"" + Money(Total) + "\"";
            break;
        default: {
            const int64_t Cash = Total / 2;
            Pay = "Cash=\"" + Money(Cash) + "\" ElectronicPayment=\"" + Money(Total - Cash) + "\"";
        }
    }
    std::string Header = "<Parameters OperationType=\"" + std::to_string(OperationType) +
                         "\" CashierName=\"Кассир Полевой\" CashierINN=\"500100732259\" TaxationSystem=\"0\"";
    if (Chance(0.2)) Header += " CustomerEmail=\"buyer@example.ru\"";
    Header += ">";
    if (ACorrection)
        Header += "<CorrectionData Type=\"" + std::to_string(Uniform(0, 1)) +
                  "\" Description=\"Касса\" Date=\"2026-11-30\" Number=\"7\"/>";
    const char* Root = ACorrection ? "CheckCorrectionPackage" : "CheckPackage";
    return std::string("<") + Root + ">" + Header + "</Parameters><Positions>" + P + "</Positions><Payments " + Pay +
           "/></" + Root + ">";
}

// A correction of format 1.05: totals by payment kind and tax rate.
std::string TCampaign::LegacyCorrectionPackage() {
    static const char* const Rates[] = {"20", "10", "0", "none"};
    std::string Positions;
    for (int I = Uniform(1, 3); I > 0; --I)
        Positions += std::string("<FiscalString VATRate=\"") + Rates[Uniform(0, 3)] + "\" VATAmount=\"" +
                     Money(Uniform(0, 10000)) + "\"/>";
    return "<CheckCorrectionPackage><Parameters OperationType=\"" + std::string(Chance(0.5) ? "1" : "3") +
           "\" TaxationSystems=\"0\" CashierName=\"Кассир Полевой\"><CorrectionData Type=\"" +
           std::to_string(Uniform(0, 1)) + "\" Description=\"Касса\" Date=\"2026-11-30\" Number=\"7\"/></Parameters>" +
           "<Positions>" + Positions + "</Positions><Payments Cash=\"" + Money(Uniform(1, 100000)) +
           "\" ElectronicPayment=\"" + Money(Uniform(0, 100000)) + "\"/></CheckCorrectionPackage>";
}

// Receipts, corrections and marked receipts: a stored receipt document
// exactly when the driver said so, with the number and fiscal sign it
// reported; a receipt stored while the driver reported a failure must be
// found by the host.
TOutcome TCampaign::DoFiscalDocument(TOpKind AKind, std::string& AWhy) {
    const bool Correction = AKind == okCorrection;
    std::string Code;
    if (AKind == okMarkReceipt) {
        Code = FAcceptedCode;
        FAcceptedCode.clear();
    }
    const std::string Package =
        Correction && FOpt.Legacy ? LegacyCorrectionPackage() : ReceiptPackage(Correction, Code);
    const TCallResult R =
        Correction ? Call("ProcessCorrectionCheck", {V::String(FID), V::String(Package), V::Empty()})
                   : Call("ProcessCheck", {V::String(FID), V::Boolean(Chance(0.2)), V::String(Package), V::Empty()});
    const std::string Failure = R.Result.Bool ? std::string() : Error();
    const uint16_t Type = Correction ? 31 : 3;
    std::vector<TEmuDocument> Stored;
    for (const TEmuDocument& D : NewDocuments()) {
        if (D.Type == Type) {
            Stored.push_back(D);
        } else {
            AWhy = "the register stored a document of type " + std::to_string(D.Type) + " during a receipt";
            return ocViolation;
        }
    }
    if (Stored.size() > 1) {
        AWhy = std::to_string(Stored.size()) + " receipts stored by one call";
        return ocViolation;
    }
    if (R.Result.Bool) {
        if (Stored.empty()) {
            AWhy = "reported successful, but the register stored no receipt";
            return ocViolation;
        }
        pugi::xml_document Out;
        const size_t OutIndex = Correction ? 2 : 3;
        if (!Out.load_string(R.Params[OutIndex].Str.c_str())) {
            AWhy = "output document is not XML: " + R.Params[OutIndex].Str;
            return ocViolation;
        }
        const pugi::xml_node P = Out.child("DocumentOutputParameters").child("Parameters");
        const std::string Number = P.attribute("CheckNumber").as_string();
        const std::string Sign = P.attribute("FiscalSign").as_string();
        if (Number != std::to_string(Stored[0].Number) || Sign != std::to_string(Stored[0].FiscalSign)) {
            AWhy = "reported number " + Number + " and sign " + Sign + ", stored " + std::to_string(Stored[0].Number) +
                   " with sign " + std::to_string(Stored[0].FiscalSign);
            return ocViolation;
        }
        return ocSuccess;
    }
    if (Stored.empty()) return ocCleanFailure;
    if (!HostFindsDocument(Stored[0], AWhy)) {
        AWhy = "receipt " + std::to_string(Stored[0].Number) + " stored, reported failed (" + Failure +
               "), and the host cannot find it: " + AWhy;
        return ocViolation;
    }
    AWhy = "receipt " + std::to_string(Stored[0].Number) + " stored while the call failed: " + Failure;
    return ocLostFound;
}

bool TCampaign::HostFindsDocument(const TEmuDocument& ADoc, std::string& AWhy) {
    TCallResult R = Call("GetCurrentStatus", {V::String(FID), V::String("<InputParameters/>"), V::Empty()});
    if (!R.Result.Bool) {
        AWhy = "GetCurrentStatus failed: " + Error();
        return false;
    }
    pugi::xml_document Doc;
    Doc.load_string(R.Params[2].Str.c_str());
    const std::string Last = Doc.child("OutputParameters").child("Parameters").attribute("CheckNumber").as_string();
    if (Last != std::to_string(FEmu->Device().LastDocumentNumber())) {
        AWhy = "GetCurrentStatus names " + Last + " as the last document";
        return false;
    }
    if (ADoc.FiscalSign == 0) return true;  // a document without a sign: its number is all there is
    R = Call("GetDocumentInformation", {V::String(FID), V::Int32(int32_t(ADoc.Number)), V::Empty()});
    if (!R.Result.Bool) {
        AWhy = "GetDocumentInformation failed: " + Error();
        return false;
    }
    Doc.load_string(R.Params[2].Str.c_str());
    const std::string Sign = Doc.document_element().child("Parameters").attribute("FiscalSign").as_string();
    if (Sign != std::to_string(ADoc.FiscalSign)) {
        AWhy = "GetDocumentInformation gives fiscal sign «" + Sign + "»";
        return false;
    }
    return true;
}

// Cash in and out: the register counts each in an operation register; one
// done while the driver reported a failure must show in the host's counters.
TOutcome TCampaign::DoCash(bool AIn, std::string& AWhy) {
    fr::TEmuDevice& D = FEmu->Device();
    const uint8_t Register = AIn ? 153 : 154;
    const uint32_t Before = D.OperationRegister(Register);
    const uint64_t CashBefore = D.CashRegister(241);
    int64_t Amount = Uniform(1, 2000000);
    if (!AIn) Amount = std::min<int64_t>(Amount, int64_t(CashBefore));
    if (!AIn && Amount == 0) Amount = 100;  // refused by the register: no cash
    const TCallResult R = Call(
        "CashInOutcome", {V::String(FID), V::String(kCashierDoc), V::Double(double(AIn ? Amount : -Amount) / 100)});
    const std::string Failure = R.Result.Bool ? std::string() : Error();
    const uint32_t After = D.OperationRegister(Register);
    if (!NewDocuments().empty()) {
        AWhy = "a fiscal document was stored by a cash document";
        return ocViolation;
    }
    if (After > Before + 1) {
        AWhy = "cash document done " + std::to_string(After - Before) + " times";
        return ocViolation;
    }
    if (R.Result.Bool) {
        if (After != Before + 1) {
            AWhy = "reported successful, but the register did no cash document";
            return ocViolation;
        }
        const uint64_t CashAfter = D.CashRegister(241);
        if (CashAfter != (AIn ? CashBefore + uint64_t(Amount) : CashBefore - uint64_t(Amount))) {
            AWhy = "cash in the drawer " + std::to_string(CashAfter) + " after " + std::to_string(CashBefore) +
                   (AIn ? " + " : " - ") + std::to_string(Amount);
            return ocViolation;
        }
        return ocSuccess;
    }
    if (After == Before) return ocCleanFailure;
    // Done while reported failed: the host sees it in its counters.
    const TCallResult S =
        Call("GetCurrentStatus",
             {V::String(FID), V::String("<InputParameters><Parameters GetCounters=\"true\"/></InputParameters>"),
              V::Empty()});
    pugi::xml_document Doc;
    Doc.load_string(S.Params[2].Str.c_str());
    const std::string Count = Doc.child("OutputParameters")
                                  .child("Parameters")
                                  .child(AIn ? "CashIn" : "CashOut")
                                  .attribute("Count")
                                  .as_string();
    if (!S.Result.Bool || Count != std::to_string(After)) {
        AWhy = "cash document done, reported failed (" + Failure + "), and the host counts «" + Count +
               "» instead of " + std::to_string(After);
        return ocViolation;
    }
    AWhy = "cash document done while the call failed: " + Failure;
    return ocLostFound;
}

TOutcome TCampaign::DoText(long AIndex, std::string& AWhy) {
    const std::string Mark = "ТЕКСТ " + std::to_string(AIndex);
    std::string Doc = "<Document><Positions><TextString Text=\"" + Mark + "\"/>";
    for (int I = Uniform(0, 8); I > 0; --I) Doc += "<TextString Text=\"строка " + std::to_string(I) + "\"/>";
    if (Chance(0.3)) Doc += "<Barcode BarcodeType=\"QR\" Barcode=\"" + Mark + "\"/>";
    Doc += "</Positions></Document>";
    const TCallResult R = Call("PrintTextDocument", {V::String(FID), V::String(Doc)});
    if (!NewDocuments().empty()) {
        AWhy = "a fiscal document was stored by a text document";
        return ocViolation;
    }
    if (!R.Result.Bool) return ocCleanFailure;
    for (const std::string& L : FEmu->Device().Tape().Lines())
        if (L.find(Mark) != std::string::npos) return ocSuccess;
    AWhy = "reported printed, but «" + Mark + "» is not on the tape";
    return ocViolation;
}

// A check or confirmation whose answer was lost can leave the storage and
// the driver out of step (a result waiting that the driver dropped, or none
// where the driver waits for one): every later call is refused. The host
// recovers as the integrator's notes say: after three failed marking calls
// in a row it closes the marking session, which clears the storage's
// buffer, and checks the code again.
TOutcome TCampaign::DoMarkRequest(std::string& AWhy) {
    const TOutcome O = DoMarkCall(AWhy);
    FMarkFailures = O == ocSuccess ? 0 : FMarkFailures + 1;
    if (FMarkFailures >= 3) {
        FMarkFailures = 0;
        ++FStats.MarkingResets;
        if (Call("CloseSessionRegistrationKM", {V::String(FID)}).Result.Bool) {
            FPendingGUID.clear();
            FAcceptedCode.clear();
        }
    }
    return O;
}

// A code is checked, then accepted for the next marked receipt; a check
// whose confirmation failed is confirmed on the next turn.
TOutcome TCampaign::DoMarkCall(std::string& AWhy) {
    TOutcome O = ocCleanFailure;
    if (FPendingGUID.empty()) {
        const std::string GUID = "campaign-" + std::to_string(++FGUIDCounter);
        const std::string Code = kMarkCodes[Uniform(0, 1)];
        const TCallResult R =
            Call("RequestKM",
                 {V::String(FID),
                  V::String("<RequestKM GUID=\"" + GUID + "\" MarkingCode=\"" + Code + "\" PlannedStatus=\"1\"/>"),
                  V::Empty()});
        if (!R.Result.Bool) return ocCleanFailure;
        FPendingGUID = GUID;
        FAcceptedCode = Code;
        O = ocSuccess;
    } else {
        const TCallResult R = Call("ConfirmKM", {V::String(FID), V::String(FPendingGUID), V::Int32(0)});
        if (R.Result.Bool) {
            FPendingGUID.clear();
            O = ocSuccess;
        } else if (Error().find(FPendingGUID) != std::string::npos || FHost->LastError().first == 1004) {
            // The driver no longer knows the request (a refused confirmation
            // drops it): check the code again.
            FPendingGUID.clear();
            FAcceptedCode.clear();
        }
    }
    if (!NewDocuments().empty()) {
        AWhy = "a fiscal document was stored by a marking-code check";
        return ocViolation;
    }
    return O;
}

TOutcome TCampaign::DoShift(bool AOpen, std::string& AWhy) {
    fr::TEmuDevice& D = FEmu->Device();
    const bool WasOpen = D.ShiftOpen();
    const TCallResult R =
        Call(AOpen ? "OpenShift" : "CloseShift", {V::String(FID), V::String(kCashierDoc), V::Empty()});
    const std::string Failure = R.Result.Bool ? std::string() : Error();
    const std::vector<TEmuDocument> New = NewDocuments();
    const uint16_t Type = AOpen ? 2 : 5;
    for (const TEmuDocument& Doc : New)
        if (Doc.Type != Type) {
            AWhy = "the register stored a document of type " + std::to_string(Doc.Type) + " during a shift operation";
            return ocViolation;
        }
    if (New.size() > 1) {
        AWhy = "two shift documents from one call";
        return ocViolation;
    }
    const bool Changed = D.ShiftOpen() != WasOpen;
    if (Changed != !New.empty()) {
        AWhy = "shift state changed without its document, or the reverse";
        return ocViolation;
    }
    if (R.Result.Bool) {
        if (!Changed) {
            AWhy = "reported successful, but the shift did not change";
            return ocViolation;
        }
        return ocSuccess;
    }
    if (!Changed) return ocCleanFailure;
    if (!HostFindsDocument(New[0], AWhy)) {
        AWhy = "shift document stored, reported failed (" + Failure + "), host cannot find it: " + AWhy;
        return ocViolation;
    }
    AWhy = "shift document stored while the call failed: " + Failure;
    return ocLostFound;
}

TOutcome TCampaign::DoStatus(std::string& AWhy) {
    const TCallResult R = Call("GetCurrentStatus", {V::String(FID), V::String("<InputParameters/>"), V::Empty()});
    if (!NewDocuments().empty()) {
        AWhy = "a status read stored a document";
        return ocViolation;
    }
    if (!R.Result.Bool) return ocCleanFailure;
    pugi::xml_document Doc;
    Doc.load_string(R.Params[2].Str.c_str());
    const pugi::xml_node P = Doc.child("OutputParameters").child("Parameters");
    fr::TEmuDevice& D = FEmu->Device();
    const std::string Number = P.attribute("CheckNumber").as_string();
    const std::string Shift = P.attribute("ShiftNumber").as_string();
    if (Number != std::to_string(D.LastDocumentNumber()) || Shift != std::to_string(D.ShiftNumber())) {
        AWhy = "status names document " + Number + " of shift " + Shift + "; the register is at " +
               std::to_string(D.LastDocumentNumber()) + " of shift " + std::to_string(D.ShiftNumber());
        return ocViolation;
    }
    return ocSuccess;
}

TOutcome TCampaign::DoDocInfo(std::string& AWhy) {
    const std::vector<TEmuDocument> Docs = FEmu->Device().Documents();
    if (Docs.empty()) return DoStatus(AWhy);
    const TEmuDocument& Want = Docs[size_t(Uniform(0, int(Docs.size()) - 1))];
    const TCallResult R = Call("GetDocumentInformation", {V::String(FID), V::Int32(int32_t(Want.Number)), V::Empty()});
    if (!NewDocuments().empty()) {
        AWhy = "a document read stored a document";
        return ocViolation;
    }
    if (!R.Result.Bool) return ocCleanFailure;
    if (Want.FiscalSign == 0) return ocSuccess;
    pugi::xml_document Doc;
    Doc.load_string(R.Params[2].Str.c_str());
    const std::string Sign = Doc.document_element().child("Parameters").attribute("FiscalSign").as_string();
    if (Sign != std::to_string(Want.FiscalSign) && Want.Type != 1 && Want.Type != 11) {
        AWhy = "document " + std::to_string(Want.Number) + " read with fiscal sign «" + Sign + "», stored " +
               std::to_string(Want.FiscalSign);
        return ocViolation;
    }
    return ocSuccess;
}

// The X report stores nothing and is printed; the report on the current
// state of settlements is a fiscal document, checked as a shift document.
TOutcome TCampaign::DoReport(bool ASettlements, std::string& AWhy) {
    const auto XReports = [this] {
        const auto Lines = FEmu->Device().Tape().Lines();
        return std::count_if(Lines.begin(), Lines.end(),
                             [](const std::string& L) { return L.find("X-ОТЧЕТ") != std::string::npos; });
    };
    const auto XBefore = XReports();
    const TCallResult R =
        ASettlements ? Call("ReportCurrentStatusOfSettlements", {V::String(FID), V::String(kCashierDoc), V::Empty()})
                     : Call("PrintXReport", {V::String(FID), V::String(kCashierDoc)});
    const std::string Failure = R.Result.Bool ? std::string() : Error();
    const std::vector<TEmuDocument> New = NewDocuments();
    if (!ASettlements) {
        if (!New.empty()) {
            AWhy = "an X report stored a fiscal document";
            return ocViolation;
        }
        if (!R.Result.Bool) return ocCleanFailure;
        if (XReports() <= XBefore) {
            AWhy = "reported printed, but no X report is on the tape";
            return ocViolation;
        }
        return ocSuccess;
    }
    for (const TEmuDocument& Doc : New)
        if (Doc.Type != 21) {
            AWhy = "the register stored a document of type " + std::to_string(Doc.Type) + " during a report";
            return ocViolation;
        }
    if (New.size() > 1) {
        AWhy = "two reports from one call";
        return ocViolation;
    }
    if (R.Result.Bool) {
        if (New.empty()) {
            AWhy = "reported successful, but the register stored no report";
            return ocViolation;
        }
        return ocSuccess;
    }
    if (New.empty()) return ocCleanFailure;
    if (!HostFindsDocument(New[0], AWhy)) {
        AWhy = "report stored, reported failed (" + Failure + "), host cannot find it: " + AWhy;
        return ocViolation;
    }
    AWhy = "report stored while the call failed: " + Failure;
    return ocLostFound;
}

TOutcome TCampaign::Perform(TOpKind AKind, long AIndex, std::string& AWhy) {
    switch (AKind) {
        case okReceipt:
        case okCorrection:
        case okMarkReceipt:
            return DoFiscalDocument(AKind, AWhy);
        case okCashIn:
            return DoCash(true, AWhy);
        case okCashOut:
            return DoCash(false, AWhy);
        case okText:
            return DoText(AIndex, AWhy);
        case okMarkRequest:
            return DoMarkRequest(AWhy);
        case okOpenShift:
            return DoShift(true, AWhy);
        case okCloseShift:
            return DoShift(false, AWhy);
        case okStatus:
            return DoStatus(AWhy);
        case okDocInfo:
            return DoDocInfo(AWhy);
        case okXReport:
            return DoReport(false, AWhy);
        case okSettlements:
            return DoReport(true, AWhy);
        default:
            return ocViolation;
    }
}

void TCampaign::RunOperation(long AIndex) {
    const TOpKind Kind = ChooseOperation();
    fr::TEmuDevice& Dev = FEmu->Device();
    FDocsBefore = Dev.LastDocumentNumber();
    if (AIndex % 64 == 0) {
        Dev.ClearCommands();
        Dev.ClearTape();
    }

    // The fault: a kind and a frame within the frames this kind of operation
    // has taken so far.
    int Fault = -1, K = 0;
    if (Chance(FOpt.FaultRate)) {
        Fault = Uniform(0, fkCount - 1);
        K = Uniform(1, std::max(FMaxFrames[Kind], 4));
        ++FStats.FaultsSet[Fault];
    }
    // Sometimes a second link fault a few frames later strikes whatever the
    // driver does about the first (a resend, a recovery read, the clean-up).
    int Second = -1, K2 = 0;
    if (Fault >= 0 && Chance(0.25)) {
        Second = Uniform(0, fkDeviceError);
        K2 = K + Uniform(1, 4);
        ++FStats.SecondFaults;
    }
    FFrame0 = FEmu->CommandFrameCount();
    if (Fault == fkPowerCut) {
        FCut = std::make_unique<TPowerCut>(*FEmu, K);
    } else if (Fault >= 0) {
        FEmu->FaultAtCommand(K, TEmuFault(Fault), kDeviceErrors[Uniform(0, 3)]);
    }
    if (Second >= 0) FEmu->FaultAtCommand(K2, TEmuFault(Second), kDeviceErrors[Uniform(0, 3)]);
    FFaultsLive = true;

    // One exchange that never gets an answer may take the link's whole
    // worst case (TCP 90 s, serial 18 s); one fault costs at most that once,
    // and the operation's own commands and the checks add their time.
    static constexpr double kTcpWorst = 90, kSerialWorst = 18;
    std::string Why;
    const TClock::time_point T0 = TClock::now();
    TOutcome O;
    {
        TWatchdog& W = *FWatchdog;
        W.Arm((FOpt.Tcp ? kTcpWorst : kSerialWorst) * 2 + 30,
              std::string("operation ") + std::to_string(AIndex) + " (" + kOpNames[Kind] + ")");
        O = Perform(Kind, AIndex, Why);
        W.Disarm();
    }
    const double Seconds = std::chrono::duration<double>(TClock::now() - T0).count();
    FStats.MaxOpSeconds[Kind] = std::max(FStats.MaxOpSeconds[Kind], Seconds);
    EndFaults();
    const uint64_t Frames = FOpFrames;
    const bool Struck = Fault == fkPowerCut ? FCutDone : Fault >= 0 && Frames >= uint64_t(K);
    if (Struck) ++FStats.FaultsStruck[Fault];
    if (Fault < 0) FMaxFrames[Kind] = std::max(FMaxFrames[Kind], int(Frames));

    // A receipt left open must be gone after the next operation.
    const bool Open = Dev.ReceiptOpen();
    if (Open && FOpenAfterPrevious && O != ocViolation) {
        O = ocViolation;
        Why = "a receipt stays open after a second operation";
    } else if (Open) {
        ++FStats.StaleOpenReceipts;
    }
    FOpenAfterPrevious = Open;

    ++FStats.Ops;
    ++FStats.ByKind[Kind];
    ++FStats.Outcome[Kind][O];
    if (O == ocViolation) {
        ++FViolations;
        std::fprintf(stderr, "VIOLATION at operation %ld (%s, fault %s at frame %d of %llu): %s\n", AIndex,
                     kOpNames[Kind], Fault >= 0 ? kFaultNames[Fault] : "none", K,
                     static_cast<unsigned long long>(Frames), Why.c_str());
        // The commands the register took last (the operation's and the
        // checks' after it), the start of each in hex.
        const std::vector<std::string> Commands = Dev.Commands();
        std::string Shown;
        for (size_t I = Commands.size() > Frames + 16 ? Commands.size() - Frames - 16 : 0; I < Commands.size(); ++I) {
            Shown += "\n  ";
            for (size_t B = 0; B < std::min<size_t>(Commands[I].size(), 12); ++B) {
                char H[4];
                std::snprintf(H, sizeof H, "%02X ", unsigned(uint8_t(Commands[I][B])));
                Shown += H;
            }
        }
        std::fprintf(stderr, "  the register's last commands:%s\n", Shown.c_str());
    } else if (FOpt.Verbose && (Fault >= 0 || O != ocSuccess)) {
        std::fprintf(stderr, "op %ld %s, fault %s at %d/%llu%s: %s %s (%.2f s)\n", AIndex, kOpNames[Kind],
                     Fault >= 0 ? kFaultNames[Fault] : "none", K, static_cast<unsigned long long>(Frames),
                     Struck ? "" : " (not struck)",
                     O == ocSuccess        ? "success"
                     : O == ocCleanFailure ? "clean failure"
                                           : "lost answer, found",
                     Why.empty() ? Error().c_str() : Why.c_str(), Seconds);
    }
}

void TCampaign::PrintTable(double ASeconds, long ARssStart, long ARssEnd) const {
    std::printf("\nFault campaign over %s, format %s, seed %llu, fault rate %.2f: %ld operations in %.0f s\n\n",
                FOpt.Tcp ? "TCP" : "a pseudo-terminal", FOpt.Legacy ? "1.05" : "1.2",
                static_cast<unsigned long long>(FOpt.Seed), FOpt.FaultRate, FStats.Ops, ASeconds);
    std::printf("%-16s %8s %9s %9s %8s %10s %9s\n", "operation", "count", "success", "failed", "lost+", "violation",
                "max s");
    long Sum[ocOutcomeCount] = {};
    for (int K = 0; K < okCount; ++K) {
        std::printf("%-16s %8ld %9ld %9ld %8ld %10ld %9.2f\n", kOpNames[K], FStats.ByKind[K],
                    FStats.Outcome[K][ocSuccess], FStats.Outcome[K][ocCleanFailure], FStats.Outcome[K][ocLostFound],
                    FStats.Outcome[K][ocViolation], FStats.MaxOpSeconds[K]);
        for (int O = 0; O < ocOutcomeCount; ++O) Sum[O] += FStats.Outcome[K][O];
    }
    std::printf("%-16s %8ld %9ld %9ld %8ld %10ld\n\n", "all", FStats.Ops, Sum[ocSuccess], Sum[ocCleanFailure],
                Sum[ocLostFound], Sum[ocViolation]);
    std::printf("%-16s %8s %8s\n", "fault", "set", "struck");
    long Set = 0, Struck = 0;
    for (int F = 0; F < fkCount; ++F) {
        std::printf("%-16s %8ld %8ld\n", kFaultNames[F], FStats.FaultsSet[F], FStats.FaultsStruck[F]);
        Set += FStats.FaultsSet[F];
        Struck += FStats.FaultsStruck[F];
    }
    std::printf("%-16s %8ld %8ld\n", "all", Set, Struck);
    std::printf("operations with a second fault a few frames after the first: %ld\n\n", FStats.SecondFaults);
    std::printf("failed: a clean failure, nothing done on the register\n");
    std::printf("lost+:  done on the register while the call failed, found by the host\n");
    std::printf("receipts left open by one operation and closed by the next: %ld\n", FStats.StaleOpenReceipts);
    std::printf("marking sessions closed after three failed marking calls in a row: %ld\n", FStats.MarkingResets);
    // The emulator keeps every stored document in this process: its share of
    // the growth.
    size_t DocBytes = 0, Docs = 0;
    for (const TEmuDocument& D : FEmu->Device().Documents()) {
        DocBytes += sizeof D + D.TLV.capacity();
        ++Docs;
    }
    std::printf(
        "resident memory: %ld kB after the first operations, %ld kB at the end; the emulator holds %zu "
        "documents in %zu kB\n",
        ARssStart, ARssEnd, Docs, DocBytes / 1024);
    std::printf("violations: %ld\n", FViolations);
}

int TCampaign::Run() {
    FDataDir = FOpt.LogDir.empty()
                   ? std::filesystem::temp_directory_path() / ("fr_campaign_" + std::to_string(getpid()))
                   : std::filesystem::absolute(FOpt.LogDir);
    std::filesystem::create_directories(FDataDir);
#ifdef _WIN32
    _putenv_s("FR_ORVALEN1C8X3N_DATA_DIR", FDataDir.string().c_str());
#else
    setenv("FR_ORVALEN1C8X3N_DATA_DIR", FDataDir.c_str(), 1);
#endif
    FWatchdog = std::make_unique<TWatchdog>();
    int Exit = 0;
    try {
        Start();
        const TClock::time_point T0 = TClock::now();
        long RssStart = 0;
        for (long I = 1; I <= FOpt.Ops; ++I) {
            RunOperation(I);
            if (I == 1 || I == 200) RssStart = ResidentMemoryKb();
            const double Elapsed = std::chrono::duration<double>(TClock::now() - T0).count();
            if (I % 500 == 0) std::fprintf(stderr, "%ld operations, %.0f s, %ld violations\n", I, Elapsed, FViolations);
            if (FOpt.Seconds > 0 && Elapsed >= FOpt.Seconds) break;
        }
        const double Seconds = std::chrono::duration<double>(TClock::now() - T0).count();
        PrintTable(Seconds, RssStart, ResidentMemoryKb());
        FHost->Call("Close", {V::String(FID)});
        FHost->Destroy();
        if (FHost->Memory().LiveBlocks() != 0 || !FHost->Memory().Errors().empty()) {
            std::fprintf(stderr, "VIOLATION: host memory blocks left after Destroy\n");
            ++FViolations;
        }
        FHost.reset();
        FEmu->Stop();
        Exit = FViolations == 0 ? 0 : 1;
    } catch (const std::exception& E) {
        std::fprintf(stderr, "campaign could not run: %s\n", E.what());
        Exit = 2;
    }
    FEmu.reset();
    FWatchdog.reset();
    if (FOpt.LogDir.empty()) std::filesystem::remove_all(FDataDir);
    return Exit;
}

}  // namespace

int main(int argc, char** argv) {
    const TOptions O = ParseOptions(argc, argv);
    return TCampaign(O).Run();
}
