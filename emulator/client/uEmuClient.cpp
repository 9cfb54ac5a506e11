#include <fstream>
#include <stdexcept>

#include "uEmuChannel.h"
#include "uEmuWire.h"
#include "uEmulator.h"

namespace fr {
namespace {

using emuwire::Hex;

std::string Text(int64_t AValue) {
    return std::to_string(AValue);
}

std::runtime_error BadAnswer(const std::string& ARequest) {
    return std::runtime_error("emulator: unreadable answer to " + ARequest.substr(0, ARequest.find(' ')));
}

// The one token of an answer.
const std::string& Single(const std::vector<std::string>& AAnswer, const std::string& ARequest) {
    if (AAnswer.size() != 1) throw BadAnswer(ARequest);
    return AAnswer[0];
}

std::string Bytes(const std::vector<std::string>& AAnswer, const std::string& ARequest) {
    const auto V = emuwire::Unhex(Single(AAnswer, ARequest));
    if (!V) throw BadAnswer(ARequest);
    return *V;
}

// A list answer: its count, then each element read by AParse.
template <typename T, typename F>
std::vector<T> List(const std::vector<std::string>& AAnswer, const std::string& ARequest, F AParse) {
    const auto Count = AAnswer.empty() ? std::nullopt : emuwire::Number(AAnswer[0]);
    if (!Count || *Count != int64_t(AAnswer.size()) - 1) throw BadAnswer(ARequest);
    std::vector<T> Out;
    Out.reserve(AAnswer.size() - 1);
    for (size_t I = 1; I < AAnswer.size(); ++I) {
        const std::optional<T> V = AParse(AAnswer[I]);
        if (!V) throw BadAnswer(ARequest);
        Out.push_back(*V);
    }
    return Out;
}

}  // namespace

// The picture is drawn by the emulator program, which has the fonts and
// libraries for it; this program only writes the file.
void TEmuTape::WritePNG(const std::string& AFileName) const {
    std::string R = "TapePNG";
    for (const TEmuTapeEntry& E : FEntries) R += " " + emuwire::TapeEntryText(E);
    TEmuChannel Channel;
    const std::string Png = Bytes(Channel.Call(R), "TapePNG");
    std::ofstream F(AFileName, std::ios::binary | std::ios::trunc);
    F << Png;
    if (!F.flush()) throw std::runtime_error("cannot write " + AFileName);
}

// ---- TEmuDevice ----------------------------------------------------------------

std::vector<std::string> TEmuDevice::Call(const std::string& ARequest) const {
    return FChannel.Call(ARequest);
}

int64_t TEmuDevice::Number(const std::string& ARequest) const {
    const auto V = emuwire::Number(Single(Call(ARequest), ARequest));
    if (!V) throw BadAnswer(ARequest);
    return *V;
}

std::string TEmuDevice::Execute(std::string_view APayload, int AForcedResult) {
    const std::string R = "Execute " + Hex(APayload) + " " + Text(AForcedResult);
    return Bytes(Call(R), R);
}

std::vector<std::string> TEmuDevice::Commands() const {
    return List<std::string>(Call("Commands"), "Commands", emuwire::Unhex);
}

void TEmuDevice::ClearCommands() {
    Call("ClearCommands");
}

TEmuTape TEmuDevice::Tape() const {
    TEmuTape T;
    for (TEmuTapeEntry& E : List<TEmuTapeEntry>(Call("Tape"), "Tape", emuwire::ParseTapeEntry)) T.Add(std::move(E));
    return T;
}

void TEmuDevice::ClearTape() {
    Call("ClearTape");
}

uint8_t TEmuDevice::Mode() const {
    return uint8_t(Number("Mode"));
}
uint8_t TEmuDevice::Submode() const {
    return uint8_t(Number("Submode"));
}
bool TEmuDevice::ShiftOpen() const {
    return Number("ShiftOpen") != 0;
}
uint16_t TEmuDevice::ShiftNumber() const {
    return uint16_t(Number("ShiftNumber"));
}
bool TEmuDevice::ReceiptOpen() const {
    return Number("ReceiptOpen") != 0;
}
bool TEmuDevice::Fiscalised() const {
    return Number("Fiscalised") != 0;
}
uint8_t TEmuDevice::FNLifeState() const {
    return uint8_t(Number("FNLifeState"));
}
uint64_t TEmuDevice::CashRegister(uint16_t ANumber) const {
    return uint64_t(Number("CashRegister " + Text(ANumber)));
}
uint32_t TEmuDevice::OperationRegister(uint8_t ANumber) const {
    return uint32_t(Number("OperationRegister " + Text(ANumber)));
}

std::vector<TEmuDocument> TEmuDevice::Documents() const {
    return List<TEmuDocument>(Call("Documents"), "Documents", emuwire::ParseDocument);
}

uint32_t TEmuDevice::LastDocumentNumber() const {
    return uint32_t(Number("LastDocumentNumber"));
}

std::string TEmuDevice::TableField(uint8_t ATable, uint16_t ARow, uint8_t AField) const {
    const std::string R = "TableField " + Text(ATable) + " " + Text(ARow) + " " + Text(AField);
    return Bytes(Call(R), R);
}

int64_t TEmuDevice::Clock() const {
    return Number("Clock");
}

void TEmuDevice::FailCommand(uint16_t ACode, int AOccurrence, uint8_t AResult) {
    Call("FailCommand " + Text(ACode) + " " + Text(AOccurrence) + " " + Text(AResult));
}
void TEmuDevice::SetPaperOut(int APollsUntilReload) {
    Call("SetPaperOut " + Text(APollsUntilReload));
}
void TEmuDevice::LoadPaper() {
    Call("LoadPaper");
}
void TEmuDevice::SetClock(int64_t ALocalTime) {
    Call("SetClock " + Text(ALocalTime));
}
void TEmuDevice::AgeShift(int64_t ASeconds) {
    Call("AgeShift " + Text(ASeconds));
}
void TEmuDevice::SetFNWarningFlags(uint8_t AFlags) {
    Call("SetFNWarningFlags " + Text(AFlags));
}
void TEmuDevice::MarkDocumentsSent() {
    Call("MarkDocumentsSent");
}
void TEmuDevice::SetMarkingCodeInvalid(const std::string& ACode) {
    Call("SetMarkingCodeInvalid " + Hex(ACode));
}
void TEmuDevice::SetMarkingAnswer(TEmuMarkAnswer AAnswer, const std::string& ACode) {
    Call(std::string("SetMarkingAnswer ") + emuwire::MarkAnswerName(AAnswer) + " " + Hex(ACode));
}
void TEmuDevice::SetMarkingBusy(int AAttempts) {
    Call("SetMarkingBusy " + Text(AAttempts));
}

TEmuMarkState TEmuDevice::MarkingCodeState(const std::string& ACode) const {
    const std::string R = "MarkingCodeState " + Hex(ACode);
    const auto V = emuwire::ParseMarkState(Single(Call(R), R));
    if (!V) throw BadAnswer(R);
    return *V;
}

void TEmuDevice::SetTableField(uint8_t ATable, uint16_t ARow, uint8_t AField, std::string_view AValue) {
    Call("SetTableField " + Text(ATable) + " " + Text(ARow) + " " + Text(AField) + " " + Hex(AValue));
}
void TEmuDevice::SetArithmeticChecks(bool AOn) {
    Call("SetArithmeticChecks " + Text(AOn));
}

// ---- TEmulator -----------------------------------------------------------------

TEmulator::TEmulator(TEmuConfig AConfig)
    : FChannel(std::make_unique<TEmuChannel>()), FDevice(std::make_unique<TEmuDevice>(*FChannel)) {
    FChannel->Call("Reset " + emuwire::ConfigText(AConfig));
}

TEmulator::~TEmulator() = default;

uint16_t TEmulator::StartTCP(uint16_t APort, const std::string& AAddress) {
    const std::string R = "StartTCP " + Text(APort) + " " + Hex(AAddress);
    const auto Port = emuwire::Number(Single(FChannel->Call(R), R));
    if (!Port || *Port <= 0 || *Port > 65535) throw BadAnswer(R);
    return FTCPPort = uint16_t(*Port);
}

std::string TEmulator::StartSerial(int APortNumber, const std::string& ALinkDir) {
    const std::string R =
        "StartSerial " + Text(APortNumber > 0 ? APortNumber : UnnumberedSerialRequest()) + " " + Hex(ALinkDir);
    const auto A = FChannel->Call(R);
    const auto Path = A.size() == 3 ? emuwire::Unhex(A[0]) : std::nullopt;
    const auto Link = A.size() == 3 ? emuwire::Unhex(A[1]) : std::nullopt;
    const auto Number = A.size() == 3 ? emuwire::Number(A[2]) : std::nullopt;
    if (!Path || !Link || !Number) throw BadAnswer(R);
    FSerialLink = *Link;
    return FSerialPath = LocalSerialName(*Path, int(*Number));
}

void TEmulator::Stop() {
    FChannel->Call("Stop");
    FTCPPort = 0;
    FSerialPath.clear();
    FSerialLink.clear();
}

void TEmulator::NakNextFrames(int N) {
    FChannel->Call("NakNextFrames " + Text(N));
}
void TEmulator::CorruptNextAnswers(int N) {
    FChannel->Call("CorruptNextAnswers " + Text(N));
}
void TEmulator::TruncateNextAnswers(int N) {
    FChannel->Call("TruncateNextAnswers " + Text(N));
}
void TEmulator::SilenceNext(int N) {
    FChannel->Call("SilenceNext " + Text(N));
}
void TEmulator::DropNextConnection(int N) {
    FChannel->Call("DropNextConnection " + Text(N));
}
void TEmulator::SetAnswerDelay(int AMs) {
    FChannel->Call("SetAnswerDelay " + Text(AMs));
}
void TEmulator::FaultAtCommand(int AK, TEmuFault AKind, uint8_t ADeviceResult) {
    FChannel->Call("FaultAtCommand " + Text(AK) + " " + emuwire::FaultName(AKind) + " " + Text(ADeviceResult));
}
void TEmulator::ClearFaultsAtCommand() {
    FChannel->Call("ClearFaultsAtCommand");
}

uint64_t TEmulator::CommandFrameCount() const {
    return uint64_t(FDevice->Number("CommandFrameCount"));
}
uint64_t TEmulator::BytesReceived() const {
    return uint64_t(FDevice->Number("BytesReceived"));
}
uint64_t TEmulator::BytesSent() const {
    return uint64_t(FDevice->Number("BytesSent"));
}

void TEmulator::Restart() {
    FChannel->Call("Restart");
}

}  // namespace fr
