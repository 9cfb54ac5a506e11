#include "device/uDevice.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "device/uDeviceCommon.h"
#include "device/uDeviceFields.h"
#include "link/uComProtocol.h"
#include "link/uCommManager.h"
#include "link/uSocketProtocol.h"
#include "log/uLog.h"

namespace fr {

namespace {

constexpr const char* StateFailText = "Ошибка команды запроса состояния ККТ";
constexpr const char* ShortStateFailText = "Ошибка команды короткого запроса состояния ККТ";
constexpr const char* TableWriteFailText = "Ошибка команды программирования системной таблицы";
constexpr const char* TableReadFailText = "Ошибка команды чтения системной таблицы";
constexpr const char* OperRegFailText = "Ошибка команды запроса операционного регистра";
constexpr const char* ProtocolErrorText = "Ошибка протокола обмена";
constexpr const char* PrintErrorText = "Ошибка печати чека (документа)";
constexpr const char* EndPrintingFailText = "Ошибка ожидания конца печати. ";

// Submodes of the short state up to this one mean the device is not printing.
constexpr uint8_t LastIdleSubmode = 3;
constexpr uint8_t PaperOutSubmode = 2;
constexpr uint8_t PaperBackSubmode = 3;
constexpr int PaperChangePolls = 100;

// Data of the line-length read of GetFRLineLen, as the device expects it.
const std::string FRLineLenQuery{0x02, 0x00, 0x01, 0x37};

}  // namespace

// ---- life cycle and link ----------------------------------------------------------

TDevice::TDevice() = default;
TDevice::~TDevice() = default;

int32_t TDevice::RunCommand(const std::string&, const std::string&, int32_t, bool, bool) {
    return 0;
}
int32_t TDevice::Enable(int32_t, int32_t) {
    return 0;
}
int32_t TDevice::Enable(const std::string&, int32_t) {
    return 0;
}
void TDevice::Disable() {}

int32_t TDevice::CheckResultCode(int32_t ErrorCode) const {
    if (ErrorCode != 0) return ErrorCode;
    if (FResponse.empty()) return 1014;
    return uint8_t(FResponse[0]);
}

void TDevice::Execute(uint16_t ACode, const std::string& AData, const char* AFailText, int32_t ATimeout,
                      bool ASendPwd) {
    const int32_t Code = CheckResultCode(RunCommand(CommandCode(ACode), AData, ATimeout, ASendPwd, true));
    if (Code != 0) RaiseCommandError(AFailText, Code);
}

void TDevice::NeedLength(size_t ALength) const {
    if (FResponse.size() < ALength) RaiseProtocolError();
}

uint8_t TDevice::AnswerByte(size_t AOffset) const {
    NeedLength(AOffset + 1);
    return uint8_t(FResponse[AOffset]);
}

uint64_t TDevice::AnswerLE(size_t AOffset, size_t ACount) const {
    NeedLength(AOffset + ACount);
    return LEBytesToInt(std::string_view(FResponse).substr(AOffset, ACount));
}

std::string TDevice::AnswerBytes(size_t AOffset, size_t ACount) const {
    NeedLength(AOffset + ACount);
    return FResponse.substr(AOffset, ACount);
}

std::string TDevice::StuckPrintingText(std::chrono::milliseconds ALimit) {
    const auto Minutes = std::chrono::duration_cast<std::chrono::minutes>(ALimit).count();
    const std::string Span = Minutes > 0 ? std::to_string(Minutes) + " мин." : std::to_string(ALimit.count()) + " мс";
    return "ККТ не закончила печать за " + Span +
           " и остаётся в режиме печати: проверьте принтер ККТ (бумагу, крышку, механизм) и перезапустите ККТ";
}

void TDevice::Sleep(uint32_t AMs) const {
    std::this_thread::sleep_for(std::chrono::milliseconds(AMs));
}

// ---- state ---------------------------------------------------------------------------

void TDevice::SetParams() {
    GetLineLength(FLineLen);
}

void TDevice::GetLineLength(uint8_t& AValue) {
    GetFieldAsByte(LineLengthCell, AValue);
}

void TDevice::GetStateKKT(uint8_t& AMode) {
    using L = TFullStateLayout;
    Execute(0x11, {}, StateFailText);
    NeedLength(L::Size);
    AMode = AnswerByte(L::Mode);
}

void TDevice::GetDateTimeKKT(int64_t& ADateTime) {
    using L = TFullStateLayout;
    Execute(0x11, {}, StateFailText);
    NeedLength(L::Size);
    const std::optional<int64_t> V =
        EncodeDeviceDateTime(2000 + AnswerByte(L::Year), AnswerByte(L::Month), AnswerByte(L::Day), AnswerByte(L::Hour),
                             AnswerByte(L::Minute), AnswerByte(L::Second));
    if (V) ADateTime = *V;
}

void TDevice::GetECRState(std::string& AFlag, uint8_t& AMode, uint8_t& ASubmode) {
    using L = TShortStateLayout;
    Execute(0x10, {}, ShortStateFailText);
    NeedLength(L::Size);
    AFlag = AnswerBytes(L::Flags, L::FlagsSize);
    AMode = AnswerByte(L::Mode) & L::ModeMask;
    ASubmode = AnswerByte(L::Submode);
}

void TDevice::GetDeviceType(uint8_t& AProtocolVersion, uint8_t& AProtocolSubversion, uint8_t& ALngCode,
                            uint8_t& AModelIndex, std::string& AModelName) {
    AProtocolVersion = AProtocolSubversion = ALngCode = AModelIndex = 0;
    AModelName.clear();
    using L = TDeviceTypeLayout;
    Execute(0xFC, {}, "Ошибка команды получения типа устройства", 2000, false);
    NeedLength(L::Size);
    AProtocolVersion = AnswerByte(L::ProtocolVersion);
    AProtocolSubversion = AnswerByte(L::ProtocolSubversion);
    AModelIndex = AnswerByte(L::ModelIndex);
    ALngCode = AnswerByte(L::Language);
    AModelName = AnsiToUtf8(std::string_view(FResponse).substr(L::ModelName));
}

// ---- registers --------------------------------------------------------------------------

void TDevice::ReadCashRegister(const std::string& ARegister, double& AData) {
    using L = TCashRegLayout;
    // Every failure of the money registers is a protocol error, device codes included.
    if (CheckResultCode(RunCommand(CommandCode(0x1A), ARegister, 0, true, true)) != 0 || FResponse.size() < L::Size)
        RaiseProtocolError();
    AData = double(AnswerLE(L::Value, L::ValueSize)) / 100.0;
}

void TDevice::GetCashReg(uint8_t ARegNum, double& AData) {
    ReadCashRegister(std::string(1, char(ARegNum)), AData);
}

void TDevice::GetCashKReg(int32_t ARegNum, double& AData) {
    ReadCashRegister(IntToLEBytesN(WordField(ARegNum, "Номер денежного регистра"), 2), AData);
}

void TDevice::GetOperationReg(uint8_t ARegNum, std::string& AData) {
    using L = TOperationRegLayout;
    Execute(0x1B, std::string(1, char(ARegNum)), OperRegFailText);
    AData = AnswerBytes(L::Value, L::ValueSize);
}

void TDevice::GetOperationRegAsInt(uint8_t ARegNum, int32_t& AData) {
    using L = TOperationRegLayout;
    Execute(0x1B, std::string(1, char(ARegNum)), OperRegFailText);
    if (FResponse.size() < L::Size) RaiseDeviceError(1014, ProtocolErrorText);
    AData = int32_t(AnswerLE(L::Value, L::ValueSize));
}

// ---- date and time, printing waits -------------------------------------------------------

void TDevice::SetDateTime(int64_t AValue) {
    const TDateTimeParts P = DecodeDeviceDateTime(AValue);
    // The device keeps two digits of the year: another century would be
    // stored as a different date.
    if (P.Year < 2000 || P.Year > 2099) throw std::out_of_range("Дата вне диапазона 2000-2099 годов");
    Execute(0x21, TimeToBytes(P.Hour, P.Minute, P.Second), "Ошибка команды программирования времени");
    const std::string Date = DateToBytes(P.Year, P.Month, P.Day);
    Execute(0x22, Date, "Ошибка команды программирования даты");
    Execute(0x23, Date, "Ошибка команды программирования даты");
}

void TDevice::WaitForEndPrinting() {
    std::string Flag;
    uint8_t Mode = 0, Submode = 0;
    const auto Deadline = std::chrono::steady_clock::now() + FEndPrintingLimit;
    for (;;) {
        try {
            GetECRState(Flag, Mode, Submode);
        } catch (const EquException& E) {
            RaiseDeviceError(E.DeviceCode, EndPrintingFailText + std::string(E.what()));
        } catch (const std::exception& E) {
            throw std::runtime_error(EndPrintingFailText + std::string(E.what()));
        }
        if (Submode <= LastIdleSubmode) return;
        // A device stuck in its printing state must not hold the cash desk
        // for good; long reports end well within the limit.
        if (std::chrono::steady_clock::now() >= Deadline)
            throw std::runtime_error(EndPrintingFailText + StuckPrintingText(FEndPrintingLimit));
        Sleep(FEndPrintingPoll);
    }
}

void TDevice::WaitForPrint() {
    std::string Flag;
    uint8_t Mode = 0, Submode = 0;
    for (;;) {
        WaitForEndPrinting();
        GetECRState(Flag, Mode, Submode);
        if (Submode != PaperOutSubmode) return;
        bool PaperBack = false;
        for (int I = 0; I < PaperChangePolls && !PaperBack; ++I) {
            Sleep(FPaperChangePoll);
            GetECRState(Flag, Mode, Submode);
            if (Submode == 0 || Submode == 1 || Submode == 4 || Submode == 5) throw EquException(3027, PrintErrorText);
            PaperBack = Submode == PaperBackSubmode;
        }
        if (!PaperBack) throw EquException(3027, PrintErrorText);
        ContinuePrint();
    }
}

void TDevice::ContinuePrint() {
    Execute(0xB0, {}, "Ошибка команды продолжения печати");
}

void TDevice::Beep() {
    RunCommand(CommandCode(0x13), {}, 0, true, true);
}

void TDevice::RunQueryEx(int32_t AQueryType, std::string& AData) {
    Execute(0xF7, std::string(1, char(ByteField(AQueryType, "Тип расширенного запроса"))),
            "Ошибка выполнения расширенного запроса", 0, false);
    NeedLength(TQueryExLayout::Size);
    AData = FResponse;
}

// ---- device tables ------------------------------------------------------------------------

void TDevice::SetFieldAsByte(uint8_t ATable, uint8_t ARow, uint8_t ACol, uint8_t AValue) {
    Execute(0x1E, TableCellBytes(ATable, ARow, ACol) + char(AValue), TableWriteFailText);
}

void TDevice::SetFieldAsBCD(uint8_t ATable, uint8_t ARow, uint8_t ACol, int32_t AValue) {
    Execute(0x1E, TableCellBytes(ATable, ARow, ACol) + IntToBCD(AValue, 2), TableWriteFailText);
}

void TDevice::SetFieldAsCurrency(uint8_t ATable, uint16_t ARow, uint8_t ACol, TCurrency AValue) {
    Execute(0x1E, TableCellBytes(ATable, ARow, ACol) + IntToBCD(AValue.ToKopecks(), 2), TableWriteFailText);
}

void TDevice::SetFieldAsHex(uint8_t ATable, uint16_t ARow, uint8_t ACol, const std::string& AValue, uint8_t ASize) {
    Execute(0x1E, TableCellBytes(ATable, ARow, ACol) + HexToBytes(AValue, ASize), TableWriteFailText);
}

void TDevice::SetFieldAsStr(uint8_t ATable, uint16_t ARow, uint8_t ACol, const std::string& AValue) {
    uint8_t Size = 0;
    GetFieldStruct(ATable, ACol, Size);
    Execute(0x1E, TableCellBytes(ATable, ARow, ACol) + PadAnsiWith(AValue, Size, '\0'), TableWriteFailText);
}

void TDevice::SetFieldAsByte(const TTableCell& ACell, uint8_t AValue) {
    Execute(0x1E, TableCellBytes(ACell.Table, ACell.Row, ACell.Field) + char(AValue), TableWriteFailText);
}

void TDevice::ReadTableCell(uint8_t ATable, uint16_t ARow, uint8_t ACol) {
    Execute(0x1F, TableCellBytes(ATable, ARow, ACol), TableReadFailText);
    // An answer without the value is malformed: a missing line length or
    // switch must not read as 0.
    NeedLength(TTableReadLayout::Size);
}

void TDevice::GetFieldAsByte(uint8_t ATable, uint8_t ARow, uint8_t ACol, uint8_t& AValue) {
    ReadTableCell(ATable, ARow, ACol);
    AValue = AnswerByte(TTableReadLayout::Value);
}

void TDevice::GetFieldAsByte(const TTableCell& ACell, uint8_t& AValue) {
    ReadTableCell(ACell.Table, ACell.Row, ACell.Field);
    AValue = AnswerByte(TTableReadLayout::Value);
}

void TDevice::GetFieldAsCurrency(uint8_t ATable, uint16_t ARow, uint8_t ACol, TCurrency& AValue) {
    using L = TTableReadLayout;
    ReadTableCell(ATable, ARow, ACol);
    AValue = TCurrency::FromKopecks(BCDToInt64(AnswerBytes(L::Value, L::CurrencySize)));
}

void TDevice::GetFieldAsStr(uint8_t ATable, uint16_t ARow, uint8_t ACol, std::string& AValue) {
    ReadTableCell(ATable, ARow, ACol);
    AValue = FResponse.substr(TTableReadLayout::Value);
}

void TDevice::GetFieldAsHex(uint8_t ATable, uint16_t ARow, uint8_t ACol, std::string& AValue) {
    ReadTableCell(ATable, ARow, ACol);
    AValue = BytesToHex(std::string_view(FResponse).substr(TTableReadLayout::Value), 0);
}

void TDevice::GetFieldAsBIN(uint8_t ATable, uint8_t ARow, uint8_t ACol, const std::string*& AValue) {
    ReadTableCell(ATable, ARow, ACol);
    AValue = &FResponse;
}

void TDevice::GetFieldStruct(uint8_t ATable, uint8_t ACol, uint8_t& FieldSize) {
    Execute(0x2E, std::string{char(ATable), char(ACol)}, TableReadFailText);
    NeedLength(TFieldStructLayout::Size);
    FieldSize = AnswerByte(TFieldStructLayout::FieldSize);
}

int32_t TDevice::GetFRLineLen() {
    using L = TFRLineLenLayout;
    const int32_t Code = CheckResultCode(RunCommand(CommandCode(0x1F), FRLineLenQuery, 0, true, true));
    if (Code != 0) return Code;
    if (FResponse.size() < L::Size) return 1014;
    FFRLineLen = uint8_t(BCDToInt64(FResponse.substr(L::Value, 1)));
    return 0;
}

// ---- serial device ---------------------------------------------------------------------------

TComDevice::TComDevice()
    : FComPort(std::make_unique<TComPort>()), FComProtocolImpl(std::make_unique<TComProtocol>(*FComPort)) {}

TComDevice::~TComDevice() {
    Disable();
}

int32_t TComDevice::RunCommand(const std::string& ACmd, const std::string& AData, int32_t ATimeout, bool ASendPwd,
                               bool AWaitResponse) {
    FResponse.clear();
    return FComProtocolImpl->RunCommand(FResponse, FConnectPwd, ACmd, AData, ATimeout, ASendPwd, AWaitResponse);
}

int32_t TComDevice::Enable(int32_t APort, int32_t ABaud) {
    FComPort->Close();
    FComPort->SetPortNumber(APort);
    if (ABaud > 0) FComPort->SetBaudRateAsInt(uint32_t(ABaud));
    if (!FComPort->Open()) return 1011;
    try {
        SetParams();
    } catch (...) {
        FComPort->Close();
        return 1011;
    }
    return 0;
}

void TComDevice::Disable() {
    if (FComPort && FComPort->Opened()) FComPort->Close();
}

int32_t TComDevice::GetPortNumber() const {
    return FComPort->PortNumber();
}
void TComDevice::SetPortNumber(int32_t AValue) {
    FComPort->SetPortNumber(AValue);
}
int32_t TComDevice::GetBaudRate() const {
    return int32_t(FComPort->BaudRateAsInt());
}
void TComDevice::SetBaudRate(int32_t AValue) {
    if (AValue > 0) FComPort->SetBaudRateAsInt(uint32_t(AValue));
}

// ---- TCP device -------------------------------------------------------------------------------

TSocketDevice::TSocketDevice() : FSocketProtocolImpl(std::make_unique<TSocketProtocol>()) {}

TSocketDevice::~TSocketDevice() {
    Disable();
}

int32_t TSocketDevice::RunCommand(const std::string& ACmd, const std::string& AData, int32_t ATimeout, bool ASendPwd,
                                  bool AWaitResponse) {
    FResponse.clear();
    return FSocketProtocolImpl->RunCommand(FResponse, FConnectPwd, ACmd, AData, ATimeout, ASendPwd, AWaitResponse);
}

int32_t TSocketDevice::Enable(const std::string& AIPAddress, int32_t ATCPPort) {
    FIPAddress = AIPAddress;
    FTCPPort = ATCPPort;
    const int32_t R = FSocketProtocolImpl->Connect(AIPAddress, ATCPPort);
    if (R != 0) return R;
    SetParams();
    return 0;
}

void TSocketDevice::Disable() {
    if (FSocketProtocolImpl) FSocketProtocolImpl->Disconnect();
}

std::string TSocketDevice::GetIPAddress() const {
    return FIPAddress;
}
void TSocketDevice::SetIPAddress(const std::string& AValue) {
    FIPAddress = AValue;
}
int32_t TSocketDevice::GetTCPPort() const {
    return FTCPPort;
}
void TSocketDevice::SetTCPPort(int32_t AValue) {
    FTCPPort = AValue;
}

}  // namespace fr
