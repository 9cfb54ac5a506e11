#include "uEmuDevice.h"

#include <algorithm>
#include <chrono>

#include "base/uCommonUtils.h"
#include "uEmuBytes.h"

namespace fr {
namespace {

// Result codes the device answers with.
constexpr uint8_t rcOk = 0x00;
constexpr uint8_t rcUnknown = 0x01;        // unknown storage command or bad frame layout
constexpr uint8_t rcFNState = 0x02;        // wrong fiscal-storage state
constexpr uint8_t rcNoData = 0x08;         // no such document
constexpr uint8_t rcBadParams = 0x33;      // 51
constexpr uint8_t rcUnsupported = 0x37;    // 55
constexpr uint8_t rcShiftOpen = 0x3C;      // 60: shift is open, operation impossible
constexpr uint8_t rcPaymentsShort = 0x45;  // 69
constexpr uint8_t rcNoCash = 0x46;         // 70
constexpr uint8_t rcReceiptOpen = 0x4A;    // 74
constexpr uint8_t rcNonCashTooBig = 0x4D;  // 77
constexpr uint8_t rcShift24 = 0x4E;        // 78
constexpr uint8_t rcPassword = 0x4F;       // 79
constexpr uint8_t rcPrinting = 0x50;       // 80
constexpr uint8_t rcReceiptClosed = 0x55;  // 85
constexpr uint8_t rcNoCopy = 0x56;         // 86
constexpr uint8_t rcWaitContinue = 0x58;   // 88
constexpr uint8_t rcNoTable = 0x5D;        // 93
constexpr uint8_t rcNoPaper = 0x6B;        // 107
constexpr uint8_t rcMode = 0x73;           // 115
constexpr uint8_t rcDateMismatch = 0x7C;   // 124
constexpr uint8_t rcBadDate = 0x7D;        // 125
constexpr uint8_t rcZeroTotal = 0x8E;      // 142
constexpr uint8_t rcMarkingOff = 0xA0;     // 160
constexpr uint8_t rcMarkingOrder = 0xA1;   // 161
constexpr uint8_t rcMarkTable = 0xA3;      // 163
constexpr uint8_t rcMarkUnchecked = 0xA5;  // 165

std::string Ansi(const std::string& AUtf8) {
    return Utf8ToAnsi(AUtf8);
}

bool ValidDate(int D, int M, int Y) {
    if (M < 1 || M > 12 || D < 1) return false;
    static const int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int Max = Days[M - 1] + ((M == 2 && Y % 4 == 0) ? 1 : 0);
    return D <= Max;
}

// The last digits of the serial number that fit four bytes.
uint32_t SerialAsNumber(const std::string& ASerial) {
    uint64_t V = 0;
    for (char C : ASerial.substr(ASerial.size() > 9 ? ASerial.size() - 9 : 0))
        if (C >= '0' && C <= '9') V = V * 10 + uint64_t(C - '0');
    return uint32_t(V);
}

std::tm Split(int64_t T) {
    std::time_t TT = std::time_t(T);
    std::tm R{};
    gmtime_r(&TT, &R);
    return R;
}

int64_t Join(int Y, int Mo, int D, int H, int Mi, int S) {
    std::tm R{};
    R.tm_year = Y - 1900;
    R.tm_mon = Mo - 1;
    R.tm_mday = D;
    R.tm_hour = H;
    R.tm_min = Mi;
    R.tm_sec = S;
    return int64_t(timegm(&R));
}

}  // namespace

TEmuDevice::TEmuDevice(TEmuConfig AConfig) : FConfig(std::move(AConfig)) {
    // The device clock starts on the host's local wall time.
    std::time_t T = std::time(nullptr);
    std::tm L{};
    localtime_r(&T, &L);
    FClockOffset = L.tm_gmtoff;
    InitTables();
    if (FConfig.Fiscalised) {
        // A device that arrives registered carries its registration report.
        FRegINN = FConfig.INN;
        FRegNumber = FConfig.RegNumber;
        FRegTaxSystems = FConfig.TaxSystems;
        FRegWorkModes = FConfig.WorkModes;
        FRegTime = Now() - 86400 * 30;
        FLifeState = lsFiscal;
        TEmuDocument& D = StoreDocument(1, RegistrationTLV(0));
        D.Time = FRegTime;
        D.Sent = true;
        FRegistrationDoc = D.Number;
    }
}

// ---- tables -------------------------------------------------------------------

void TEmuDevice::InitTables() {
    auto Numeric = [](uint8_t ACount) {
        std::vector<TField> F(ACount);
        for (size_t I = 0; I < F.size(); ++I) {
            F[I].Name = "Поле " + std::to_string(I + 1);
            F[I].Size = 1;
            F[I].Value = std::string(1, '\0');
        }
        return F;
    };
    auto Set = [](TField& F, const std::string& AName, uint8_t ASize, bool AText, const std::string& AValue) {
        F.Name = AName;
        F.Size = ASize;
        F.IsText = AText;
        F.Value = AValue.substr(0, ASize);
        F.Value.resize(ASize, '\0');
    };

    TTable T1{"Тип и режимы кассы", 1, Numeric(20), {}};
    Set(T1.Fields[6], "Автоматическая отрезка чека", 1, false, std::string(1, '\0'));
    Set(T1.Fields[13], "Печать рекламного текста", 1, false, std::string(1, '\0'));
    FTables[1] = T1;

    TTable T9{"Параметры печати", 1, Numeric(3), {}};
    Set(T9.Fields[0], "Номер шрифта", 1, false, std::string(1, '\1'));
    Set(T9.Fields[1], "Межстрочный интервал", 1, false, std::string(1, '\0'));
    Set(T9.Fields[2], "Длина строки", 1, false, std::string(1, char(FConfig.LineLen)));
    FTables[9] = T9;

    TTable T17{"Региональные настройки", 1, Numeric(41), {}};
    Set(T17.Fields[6], "Режим печати документов", 1, false, std::string(1, '\0'));
    Set(T17.Fields[16], "Формат фискальных документов", 1, false, std::string(1, char(FConfig.FFD)));
    Set(T17.Fields[40], "Принимать все коды товаров", 1, false, std::string(1, '\0'));
    FTables[17] = T17;

    bool Fisc = FConfig.Fiscalised;
    std::string Inn = FConfig.INN.size() == 10 ? FConfig.INN + "  " : FConfig.INN;
    TTable T18{"Фискальный накопитель", 1, Numeric(21), {}};
    Set(T18.Fields[0], "Заводской номер ККТ", 20, true, FConfig.SerialNumber);
    Set(T18.Fields[1], "ИНН пользователя", 12, true, Fisc ? Inn : "");
    Set(T18.Fields[2], "Регистрационный номер ККТ", 20, true, Fisc ? FConfig.RegNumber : "");
    Set(T18.Fields[3], "Заводской номер ФН", 16, true, FConfig.FNSerial);
    Set(T18.Fields[4], "Системы налогообложения", 1, false, std::string(1, char(Fisc ? FConfig.TaxSystems : 0)));
    Set(T18.Fields[5], "Режимы работы", 1, false, std::string(1, char(Fisc ? FConfig.WorkModes : 0)));
    Set(T18.Fields[6], "Наименование пользователя", 128, true, Ansi(FConfig.CompanyName));
    Set(T18.Fields[7], "Кассир", 64, true, "");
    Set(T18.Fields[8], "Адрес расчетов", 128, true, Ansi(FConfig.Address));
    Set(T18.Fields[9], "Наименование ОФД", 64, true, Ansi("ООО \"ОФД\""));
    Set(T18.Fields[10], "Адрес сервера ОФД", 64, true, "ofd.example");
    Set(T18.Fields[11], "ИНН ОФД", 12, true, "7700000016  ");
    Set(T18.Fields[12], "Сайт ФНС", 64, true, "www.nalog.gov.ru");
    Set(T18.Fields[13], "Место расчетов", 128, true, Ansi("Магазин"));
    Set(T18.Fields[14], "Адрес электронной почты отправителя чека", 64, true, "kkt@example.ru");
    Set(T18.Fields[15], "Признаки агента", 1, false, std::string(1, '\0'));
    Set(T18.Fields[20], "Расширенные режимы работы", 1, false, std::string(1, char(FConfig.ExtWorkModes)));
    FTables[18] = T18;

    TTable T24{"Встраиваемая техника", 1, Numeric(1), {}};
    Set(T24.Fields[0], "Номер автомата", 20, true, "");
    FTables[24] = T24;
}

TEmuDevice::TField* TEmuDevice::Field(uint8_t ATable, uint16_t ARow, uint8_t AField, uint8_t& AResult) {
    auto It = FTables.find(ATable);
    if (It == FTables.end()) {
        AResult = rcNoTable;
        return nullptr;
    }
    TTable& T = It->second;
    if (ARow < 1 || ARow > T.Rows || AField < 1 || AField > T.Fields.size()) {
        AResult = rcBadParams;
        return nullptr;
    }
    return &T.Fields[AField - 1];
}

uint8_t TEmuDevice::FieldByte(uint8_t ATable, uint8_t AField) const {
    auto It = FTables.find(ATable);
    if (It == FTables.end() || AField < 1 || AField > It->second.Fields.size()) return 0;
    const std::string& V = It->second.Fields[AField - 1].Value;
    return V.empty() ? 0 : uint8_t(V[0]);
}

std::string TEmuDevice::FieldText(uint8_t ATable, uint8_t AField) const {
    auto It = FTables.find(ATable);
    if (It == FTables.end() || AField < 1 || AField > It->second.Fields.size()) return {};
    std::string V = It->second.Fields[AField - 1].Value;
    while (!V.empty() && (V.back() == '\0' || V.back() == ' ')) V.pop_back();
    return V;
}

// ---- clock and mode -------------------------------------------------------------

int64_t TEmuDevice::Now() const {
    return int64_t(std::time(nullptr)) + FClockOffset;
}

uint8_t TEmuDevice::CurrentMode() const {
    if (FDataOutput) return 1;
    if (FReceipt.Open || FCorrectionBegun) return 8;
    if (FShiftOpen) return Now() - FShiftOpenTime > 24 * 3600 ? 3 : 2;
    return 4;
}

// ---- printing -------------------------------------------------------------------

bool TEmuDevice::PrintingEnabled() const {
    return FieldByte(17, 7) == 0;
}

void TEmuDevice::Output(TEmuTapeEntry AEntry) {
    if (FCollectDocPrint) FLastDocPrint.push_back(AEntry);
    if (FPaperOut || FWaitContinue) {
        FHeldOutput.push_back(std::move(AEntry));
        return;
    }
    FTape.Add(std::move(AEntry));
    FPrintPollsLeft = FConfig.PrintPolls;
}

void TEmuDevice::Print(const std::string& AAnsiText, TEmuTextStyle AStyle, int AFont) {
    TEmuTapeEntry E;
    E.Kind = TEmuTapeKind::tkText;
    E.Style = AStyle;
    E.Font = AFont;
    E.Text = AnsiToUtf8(AAnsiText);
    Output(std::move(E));
}

void TEmuDevice::PrintUtf8(const std::string& AUtf8, TEmuTextStyle AStyle) {
    if (!PrintingEnabled()) return;
    TEmuTapeEntry E;
    E.Kind = TEmuTapeKind::tkText;
    E.Style = AStyle;
    E.Text = AUtf8;
    Output(std::move(E));
}

void TEmuDevice::BeginDocumentPrint() {
    FLastDocPrint.clear();
    FCollectDocPrint = true;
}

void TEmuDevice::EndDocumentPrint() {
    FCollectDocPrint = false;
    if (FPaperOut && !FHeldOutput.empty()) FPrintPollsLeft = 0;
}

bool TEmuDevice::PrintingAllowed(uint8_t& AResult) const {
    if (FPaperOut) {
        AResult = rcNoPaper;
        return false;
    }
    if (FWaitContinue) {
        AResult = rcWaitContinue;
        return false;
    }
    return true;
}

bool TEmuDevice::DocumentCommandAllowed(uint8_t& AResult, bool ANeedShift) const {
    if (FWaitContinue) {
        AResult = rcWaitContinue;
        return false;
    }
    if (FDataOutput) {
        AResult = rcMode;
        return false;
    }
    if (FReceipt.Open || FCorrectionBegun) {
        AResult = rcReceiptOpen;
        return false;
    }
    if (FLifeState != lsFiscal) {
        AResult = rcFNState;
        return false;
    }
    if (ANeedShift && !FShiftOpen) {
        AResult = rcMode;
        return false;
    }
    return true;
}

// ---- entry point ------------------------------------------------------------------

bool TEmuLinkFaults::NextFrame(TEmuScheduledFault& AFault) {
    ++Frames;
    auto It = std::find_if(Scheduled.begin(), Scheduled.end(),
                           [this](const TEmuScheduledFault& F) { return F.Frame == Frames; });
    bool Due = It != Scheduled.end();
    if (Due) AFault = *It;
    std::erase_if(Scheduled, [this](const TEmuScheduledFault& F) { return F.Frame <= Frames; });
    return Due;
}

std::string TEmuDevice::Execute(std::string_view APayload, int AForcedResult) {
    std::lock_guard<std::mutex> G(FMutex);
    FCommands.emplace_back(APayload);
    if (APayload.empty()) return std::string("\0\x01", 2);
    uint16_t Code = uint8_t(APayload[0]);
    size_t CodeLen = 1;
    if (Code == 0xFF) {
        if (APayload.size() < 2) return std::string("\xFF\x01", 2);
        Code = uint16_t(0xFF00 | uint8_t(APayload[1]));
        CodeLen = 2;
    }
    std::string Answer(APayload.substr(0, CodeLen));
    std::string_view Data = APayload.substr(CodeLen);
    const TCommandEntry* Entry = FindCommand(Code);
    if (!Entry || Entry->Password) {
        if (Data.size() < 4) return Answer + char(rcUnknown);
        if (GetLE(Data.substr(0, 4)) != FConfig.Password) return Answer + char(rcPassword);
        Data = Data.substr(4);
    }

    uint8_t Forced = 0;
    bool Force = false;
    // Every rule for this code counts the arrival; the first one due fires.
    for (auto& Rule : FFailRules) {
        if (Rule.Code != Code || --Rule.Left > 0 || Force) continue;
        Forced = Rule.Result;
        Force = true;
    }
    std::erase_if(FFailRules, [](const TFailRule& R) { return R.Left <= 0; });
    if (AForcedResult >= 0) {
        Forced = uint8_t(AForcedResult);
        Force = true;
    }
    // "Printing the previous command" still carries the command's own answer;
    // every other injected code stops the command.
    if (Force && Forced != rcPrinting) return Answer + char(Forced);

    uint8_t Result = rcOk;
    std::string Body;
    if (!Entry) {
        Result = Code >= 0xFF00 ? rcUnknown : rcUnsupported;
    } else if (Data.size() < Entry->MinData) {
        Result = rcBadParams;
    } else {
        try {
            Body = (this->*Entry->Run)(Code, Data, Result);
        } catch (const TEmuShortData&) {
            Result = rcBadParams;
            Body.clear();
        }
    }
    if (Force) Result = Forced;
    Answer += char(Result);
    if (Result == rcOk || Result == rcPrinting) Answer += Body;
    return Answer;
}

// The command catalogue: every command the device knows, the least data it
// takes after the password (a command with less answers 51; the handlers
// read through a bounds-checked reader all the same) and its handler.
const TEmuDevice::TCommandEntry* TEmuDevice::FindCommand(uint16_t ACode) {
    using D = TEmuDevice;
    static const TCommandEntry Catalogue[] = {
        // State and device information.
        {0x10, 0, true, &D::CmdShortState},
        {0x11, 0, true, &D::CmdFullState},
        {0xF7, 1, false, &D::CmdQueryEx},
        {0xFC, 0, false, &D::CmdDeviceType},
        // Registers and tables.
        {0x1A, 1, true, &D::CmdCashReg},  // two data bytes: a two-byte register number
        {0x1B, 1, true, &D::CmdOperReg},
        {0x1E, 5, true, &D::CmdWriteField},
        {0x1F, 4, true, &D::CmdReadField},
        {0x2E, 2, true, &D::CmdFieldStruct},
        // Clock.
        {0x21, 3, true, &D::CmdSetTime},
        {0x22, 3, true, &D::CmdSetDate},
        {0x23, 3, true, &D::CmdConfirmDate},
        // Printing.
        {0x12, 1, true, &D::CmdPrintLine},
        {0x17, 1, true, &D::CmdPrintLine},
        {0x2F, 2, true, &D::CmdPrintLine},
        {0x18, 32, true, &D::CmdPrintTitle},
        {0x25, 1, true, &D::CmdFeedCut},
        {0x29, 2, true, &D::CmdFeedCut},
        {0xC0, 1, true, &D::CmdGraphics},
        {0xC1, 2, true, &D::CmdGraphics},
        {0xC2, 5, true, &D::CmdBarcode},
        {0xDD, 2, true, &D::CmdBarcode},
        {0xDE, 10, true, &D::CmdBarcode},
        {0xB0, 0, true, &D::CmdContinuePrint},
        {0x8C, 0, true, &D::CmdDocCopy},
        {0x13, 0, true, &D::CmdBeep},
        {0x28, 1, true, &D::CmdOpenDrawer},
        // Receipts and cash.
        {0x8D, 1, true, &D::CmdOpenReceipt},
        {0xFF46, 26, true, &D::CmdRegisterItem},
        {0xFF0C, 4, true, &D::CmdRequisite},
        {0xFF4D, 4, true, &D::CmdRequisite},
        {0xFF45, 176, true, &D::CmdCloseReceipt},
        {0x88, 0, true, &D::CmdCancelReceipt},
        {0xFF35, 0, true, &D::CmdBeginDocument},
        {0xFF4A, 63, true, &D::CmdCorrection},
        {0x50, 5, true, &D::CmdEncash},
        {0x51, 5, true, &D::CmdEncash},
        // Shifts and reports.
        {0xE0, 0, true, &D::CmdOpenShift},
        {0x41, 0, true, &D::CmdCloseShift},
        {0x40, 0, true, &D::CmdXReport},
        {0xFF41, 0, true, &D::CmdBeginDocument},
        {0xFF42, 0, true, &D::CmdBeginDocument},
        {0xFF37, 0, true, &D::CmdBeginDocument},
        {0xFF38, 0, true, &D::CmdSettlementReport},
        {0xFF40, 0, true, &D::CmdSessionParams},
        // Fiscal storage.
        {0xFF01, 0, true, &D::CmdFNStatus},
        {0xFF03, 0, true, &D::CmdFNValidity},
        {0xFF04, 0, true, &D::CmdFNVersion},
        {0xFF05, 1, true, &D::CmdRegistration},
        {0xFF06, 34, true, &D::CmdRegistration},
        {0xFF34, 35, true, &D::CmdRegistration},
        {0xFF09, 0, true, &D::CmdFiscalisation},
        {0xFF39, 0, true, &D::CmdExchangeStatus},
        {0xFF3A, 4, true, &D::CmdRequestDocument},
        {0xFF3B, 0, true, &D::CmdReadDocument},
        {0xFF3E, 0, true, &D::CmdCloseFN},
        // Marking codes.
        {0xFF61, 4, true, &D::CmdCheckMark},
        {0xFF67, 1, true, &D::CmdBindMark},
        {0xFF69, 1, true, &D::CmdAcceptMark},
        {0xFF70, 0, true, &D::CmdMarkStatus},
    };
    for (const TCommandEntry& C : Catalogue)
        if (C.Code == ACode) return &C;
    return nullptr;
}

std::string TEmuDevice::CmdBeep(uint16_t, std::string_view, uint8_t&) {
    return {};
}

std::string TEmuDevice::CmdOpenDrawer(uint16_t, std::string_view, uint8_t&) {
    FDrawerPolls = 3;
    return std::string(1, char(30));  // operator number
}

// "Begin" commands of the storage: they check the state and drop requisites
// left from an earlier document.
std::string TEmuDevice::CmdBeginDocument(uint16_t ACode, std::string_view, uint8_t& AResult) {
    bool NeedShift = ACode == 0xFF35 || ACode == 0xFF42;
    if (!DocumentCommandAllowed(AResult, NeedShift)) return {};
    if (ACode == 0xFF41 && FShiftOpen) AResult = rcShiftOpen;
    if (ACode == 0xFF35) FCorrectionBegun = true;
    FPendingTLV.clear();
    FBegunReport = -1;
    return {};
}

// ---- state queries ------------------------------------------------------------------

std::string TEmuDevice::CmdShortState(uint16_t, std::string_view, uint8_t&) {
    // A status poll is where time passes for the printer.
    if (FPrintPollsLeft > 0) --FPrintPollsLeft;
    if (FDrawerPolls > 0) --FDrawerPolls;
    if (FPaperOut && FPaperPolls > 0 && --FPaperPolls == 0) {
        FPaperOut = false;
        FWaitContinue = !FHeldOutput.empty();
    }
    uint8_t Submode = FPaperOut ? 2 : FWaitContinue ? 3 : (FPrintPollsLeft > 0 ? 5 : 0);
    uint8_t Flags1 = FPaperOut ? 0x00 : 0x82;  // bits 1 and 7: receipt tape present
    uint8_t Flags2 = FDrawerPolls > 0 ? 0x08 : 0x00;
    std::string A;
    A += char(30);  // operator number
    A += char(Flags1);
    A += char(Flags2);
    A += char(CurrentMode());
    A += char(Submode);
    A += char(FReceipt.Items.size() & 0xFF);
    A += char(0x9C);  // battery voltage
    A += char(0xBE);  // supply voltage
    A += char(0);     // storage error code
    A += char(0);     // reserved
    A += char((FReceipt.Items.size() >> 8) & 0xFF);
    A += std::string(4, '\0');
    return A;  // 15 bytes of data, 16 with the result code
}

std::string TEmuDevice::CmdFullState(uint16_t, std::string_view, uint8_t&) {
    std::tm T = Split(Now());
    std::string A;
    A += char(30);                                                              // 1 operator number
    A += "A1";                                                                  // 2-3 firmware version
    PutLE(A, 1001, 2);                                                          // 4-5 firmware build
    A += char(1), A += char(1), A += char(24);                                  // 6-8 firmware date
    A += char(1);                                                               // 9 hall number
    PutLE(A, LastDocumentNumber(), 2);                                          // 10-11 current document number
    PutLE(A, FPaperOut ? 0 : 0x0082, 2);                                        // 12-13 flags
    A += char(CurrentMode());                                                   // 14 mode
    A += char(FPaperOut ? 2 : FWaitContinue ? 3 : 0);                           // 15 submode
    A += char(1);                                                               // 16 port
    A += std::string(7, '\0');                                                  // 17-23 reserved
    A += char(T.tm_mday), A += char(T.tm_mon + 1), A += char(T.tm_year % 100);  // 24-26 date
    A += char(T.tm_hour), A += char(T.tm_min), A += char(T.tm_sec);             // 27-29 time
    A += char(0);                                                               // 30 reserved
    PutLE(A, SerialAsNumber(FConfig.SerialNumber), 4);                          // 31-34 serial number as a number
    PutLE(A, FShiftNumber, 2);                                                  // 35-36 last closed shift
    A += std::string(10, '\0');                                                 // 37-46 reserved
    A += char(RegistrationsMade());                                             // 47 registrations made
    return A;  // 47 bytes of data, 48 with the result code
}

std::string TEmuDevice::CmdDeviceType(uint16_t, std::string_view, uint8_t&) {
    std::string A;
    A += char(0);   // 1 device type
    A += char(0);   // 2 subtype
    A += char(1);   // 3 protocol version
    A += char(6);   // 4 protocol subversion
    A += char(45);  // 5 model index
    A += char(0);   // 6 language: Russian
    A += Ansi(FConfig.ModelName);
    return A;
}

std::string TEmuDevice::CmdQueryEx(uint16_t, std::string_view AData, uint8_t& AResult) {
    uint8_t Type = TEmuReader(AData).Byte();
    if (Type != 1) {
        AResult = rcBadParams;
        return {};
    }
    std::string A(31, '\0');
    A[0] = char(Type);
    A[1] = char(FConfig.LineLen);
    A[2] = char(576 & 0xFF), A[3] = char(576 >> 8);  // print width in dots
    A[10] = 0;                                       // offset 11: first graphics line
    A[11] = char(255);                               // last graphics line
    return A;
}

std::string TEmuDevice::CmdCashReg(uint16_t, std::string_view AData, uint8_t&) {
    bool AWide = AData.size() >= 2;
    TEmuReader R(AData);
    uint16_t N = AWide ? uint16_t(R.Int(2)) : R.Byte();
    auto It = FCashRegs.find(N);
    std::string A(1, char(30));
    PutLE(A, It == FCashRegs.end() ? 0 : It->second, 6);
    return A;
}

std::string TEmuDevice::CmdOperReg(uint16_t, std::string_view AData, uint8_t&) {
    uint8_t N = TEmuReader(AData).Byte();
    auto It = FOperRegs.find(N);
    std::string A(1, char(30));
    PutLE(A, It == FOperRegs.end() ? 0 : It->second, 2);
    return A;
}

std::string TEmuDevice::CmdReadField(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    uint8_t Table = R.Byte();
    uint16_t Row = uint16_t(R.Int(2));
    uint8_t Col = R.Byte();
    // The line-length cell of the print controller, read as BCD digits.
    if (Table == 2 && Row == 0x100 && Col == 0x37) {
        uint8_t L = FConfig.LineLen;
        return std::string(1, '\0') + char(((L / 10) << 4) | (L % 10));
    }
    TField* F = Field(Table, Row, Col, AResult);
    return F ? F->Value : std::string();
}

std::string TEmuDevice::CmdWriteField(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    uint8_t Table = R.Byte();
    uint16_t Row = uint16_t(R.Int(2));
    uint8_t Col = R.Byte();
    std::string_view Value = R.Rest();
    TField* F = Field(Table, Row, Col, AResult);
    if (!F) return {};
    if (Value.empty() || Value.size() > F->Size) {
        AResult = rcBadParams;
        return {};
    }
    F->Value = std::string(Value);
    F->Value.resize(F->Size, '\0');
    if (Table == 9 && Col == 3) FConfig.LineLen = uint8_t(F->Value[0]);
    return {};
}

std::string TEmuDevice::CmdFieldStruct(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    uint8_t Table = R.Byte();
    uint8_t Col = R.Byte();
    TField* F = Field(Table, 1, Col, AResult);
    if (!F) return {};
    std::string A;
    PutFixed(A, Ansi(F->Name), 40);  // 1-40 name
    A += char(F->IsText ? 1 : 0);    // 41 type: 0 number, 1 text
    A += char(F->Size);              // 42 size
    if (!F->IsText) {
        PutLE(A, 0, F->Size);                                                   // minimum
        PutLE(A, F->Size >= 8 ? ~0ull : (1ull << (8 * F->Size)) - 1, F->Size);  // maximum
    }
    return A;
}

// ---- clock --------------------------------------------------------------------------

std::string TEmuDevice::CmdSetTime(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    int H = R.Byte(), M = R.Byte(), S = R.Byte();
    if (H > 23 || M > 59 || S > 59) {
        AResult = rcBadParams;
        return {};
    }
    std::tm T = Split(Now());
    int64_t Wanted = Join(T.tm_year + 1900, T.tm_mon + 1, T.tm_mday, H, M, S);
    FClockOffset += Wanted - Now();
    return {};
}

std::string TEmuDevice::CmdSetDate(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    int D = R.Byte(), M = R.Byte(), Y = R.Byte();
    if (!ValidDate(D, M, 2000 + Y)) {
        AResult = rcBadDate;
        return {};
    }
    FPendingDay = D, FPendingMonth = M, FPendingYear = Y;
    return {};
}

std::string TEmuDevice::CmdConfirmDate(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    int D = R.Byte(), M = R.Byte(), Y = R.Byte();
    if (D != FPendingDay || M != FPendingMonth || Y != FPendingYear) {
        AResult = rcDateMismatch;
        return {};
    }
    std::tm T = Split(Now());
    int64_t Wanted = Join(2000 + Y, M, D, T.tm_hour, T.tm_min, T.tm_sec);
    FClockOffset += Wanted - Now();
    FPendingDay = FPendingMonth = FPendingYear = -1;
    return {};
}

// ---- plain printing -------------------------------------------------------------------

std::string TEmuDevice::CmdPrintLine(uint16_t ACode, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    uint8_t Flags = R.Byte();
    int Font = ACode == 0x2F ? R.Byte() : 1;
    std::string Text(R.Rest());
    if (!PrintingAllowed(AResult)) return {};
    // Bit 1 of the flags selects the receipt tape; text past the line is lost.
    if (!(Flags & 0x02) || !PrintingEnabled()) return {};
    if (Text.size() > FConfig.LineLen) Text.resize(FConfig.LineLen);
    TEmuTextStyle Style = ACode == 0x12   ? TEmuTextStyle::tsBold
                          : ACode == 0x2F ? TEmuTextStyle::tsFont
                                          : TEmuTextStyle::tsNormal;
    Print(Text, Style, Font);
    return {};
}

std::string TEmuDevice::CmdPrintTitle(uint16_t, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    std::string Text(R.Take(30));
    R.Int(2);  // document number
    if (!PrintingAllowed(AResult)) return {};
    Text = Text.substr(0, Text.find('\0'));
    if (PrintingEnabled()) Print(Text, TEmuTextStyle::tsTitle);
    return {};
}

std::string TEmuDevice::CmdFeedCut(uint16_t ACode, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    TEmuTapeEntry E;
    if (ACode == 0x29) {
        R.Byte();  // flags
        E.Kind = TEmuTapeKind::tkFeed;
        E.Count = R.Byte();
    } else {
        E.Kind = TEmuTapeKind::tkCut;
        E.Count = R.Byte() ? 1 : 0;
    }
    if (!PrintingAllowed(AResult)) return {};
    if (PrintingEnabled()) Output(std::move(E));
    return {};
}

std::string TEmuDevice::CmdGraphics(uint16_t ACode, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    if (ACode == 0xC0) {
        uint8_t Line = R.Byte();
        std::string_view Row = R.Rest();
        if (Row.size() > 72) {
            AResult = rcBadParams;
            return {};
        }
        FGraphics[Line] = std::string(Row);
        return {};
    }
    uint8_t First = R.Byte(), Last = R.Byte();
    if (First > Last) {
        AResult = rcBadParams;
        return {};
    }
    if (!PrintingAllowed(AResult)) return {};
    if (!PrintingEnabled()) return {};
    TEmuTapeEntry E;
    E.Kind = TEmuTapeKind::tkGraphics;
    for (int L = First; L <= Last; ++L) {
        auto It = FGraphics.find(uint8_t(L));
        E.Rows.push_back(It == FGraphics.end() ? std::string(40, '\0') : It->second);
    }
    Output(std::move(E));
    return {};
}

std::string TEmuDevice::CmdBarcode(uint16_t ACode, std::string_view AData, uint8_t& AResult) {
    TEmuReader R(AData);
    if (ACode == 0xC2) {
        uint64_t N = R.Int(5);
        if (N > 999999999999ull) {
            AResult = rcBadParams;
            return {};
        }
        if (!PrintingAllowed(AResult)) return {};
        std::string Digits = std::to_string(N);
        Digits.insert(0, 12 - Digits.size(), '0');
        Digits += EAN13CheckDigit(Digits);
        TEmuTapeEntry E;
        E.Kind = TEmuTapeKind::tkEAN13;
        E.Text = Digits;
        if (PrintingEnabled()) Output(std::move(E));
        return {};
    }
    if (ACode == 0xDD) {
        R.Byte();  // data type
        uint8_t Block = R.Byte();
        std::string_view Chunk = R.Rest();
        if (Chunk.size() > 64) {
            AResult = rcBadParams;
            return {};
        }
        size_t At = size_t(Block) * 64;
        if (FQRBuffer.size() < At + Chunk.size()) FQRBuffer.resize(At + Chunk.size(), '\0');
        FQRBuffer.replace(At, Chunk.size(), Chunk);
        return {};
    }
    uint8_t Type = R.Byte();
    uint16_t Len = uint16_t(R.Int(2));
    R.Take(7);  // version, mask, dot size, error level, alignment
    if (Type != 3 || Len == 0 || Len > FQRBuffer.size()) {
        AResult = rcBadParams;
        return {};
    }
    if (!PrintingAllowed(AResult)) return {};
    TEmuTapeEntry E;
    E.Kind = TEmuTapeKind::tkQR;
    E.Text = FQRBuffer.substr(0, Len);
    FQRBuffer.clear();
    if (PrintingEnabled()) Output(std::move(E));
    return {};
}

std::string TEmuDevice::CmdContinuePrint(uint16_t, std::string_view, uint8_t& AResult) {
    if (FPaperOut) {
        AResult = rcNoPaper;
        return {};
    }
    FWaitContinue = false;
    for (auto& E : FHeldOutput) FTape.Add(std::move(E));
    if (!FHeldOutput.empty()) FPrintPollsLeft = FConfig.PrintPolls;
    FHeldOutput.clear();
    return std::string(1, char(30));  // operator number
}

std::string TEmuDevice::CmdDocCopy(uint16_t, std::string_view, uint8_t& AResult) {
    if (!PrintingAllowed(AResult)) return {};
    if (FLastDocPrint.empty()) {
        AResult = rcNoCopy;
        return {};
    }
    std::vector<TEmuTapeEntry> Copy = FLastDocPrint;
    PrintUtf8("КОПИЯ", TEmuTextStyle::tsTitle);
    for (auto& E : Copy) Output(std::move(E));
    return {};
}

// ---- registers ----------------------------------------------------------------------

void TEmuDevice::AddCash(uint16_t ARegister, int64_t AKopecks) {
    int64_t V = int64_t(FCashRegs[ARegister]) + AKopecks;
    FCashRegs[ARegister] = uint64_t(std::max<int64_t>(V, 0));
}

void TEmuDevice::ClearShiftRegisters() {
    uint64_t Drawer = FCashRegs[241];
    FCashRegs.clear();
    FCashRegs[241] = Drawer;
    FOperRegs.clear();
    for (auto& C : FCounters) C = TEmuCounters{};
    for (auto& C : FCorrectionCounters) C = TEmuCounters{};
}

// ---- inspection and controls ------------------------------------------------------------

std::vector<std::string> TEmuDevice::Commands() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FCommands;
}
void TEmuDevice::ClearCommands() {
    std::lock_guard<std::mutex> G(FMutex);
    FCommands.clear();
}
TEmuTape TEmuDevice::Tape() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FTape;
}
void TEmuDevice::ClearTape() {
    std::lock_guard<std::mutex> G(FMutex);
    FTape.Clear();
}
uint8_t TEmuDevice::Mode() const {
    std::lock_guard<std::mutex> G(FMutex);
    return CurrentMode();
}
uint8_t TEmuDevice::Submode() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FPaperOut ? 2 : FWaitContinue ? 3 : (FPrintPollsLeft > 0 ? 5 : 0);
}
bool TEmuDevice::ShiftOpen() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FShiftOpen;
}
uint16_t TEmuDevice::ShiftNumber() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FShiftNumber;
}
bool TEmuDevice::ReceiptOpen() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FReceipt.Open;
}
bool TEmuDevice::Fiscalised() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FLifeState == lsFiscal;
}
uint8_t TEmuDevice::FNLifeState() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FLifeState;
}
uint64_t TEmuDevice::CashRegister(uint16_t ANumber) const {
    std::lock_guard<std::mutex> G(FMutex);
    auto It = FCashRegs.find(ANumber);
    return It == FCashRegs.end() ? 0 : It->second;
}
uint32_t TEmuDevice::OperationRegister(uint8_t ANumber) const {
    std::lock_guard<std::mutex> G(FMutex);
    auto It = FOperRegs.find(ANumber);
    return It == FOperRegs.end() ? 0 : It->second;
}
std::vector<TEmuDocument> TEmuDevice::Documents() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FDocuments;
}
uint32_t TEmuDevice::LastDocumentNumber() const {
    return FDocuments.empty() ? 0 : FDocuments.back().Number;
}
std::string TEmuDevice::TableField(uint8_t ATable, uint16_t ARow, uint8_t AField) const {
    std::lock_guard<std::mutex> G(FMutex);
    auto It = FTables.find(ATable);
    if (It == FTables.end() || ARow < 1 || ARow > It->second.Rows || AField < 1 || AField > It->second.Fields.size())
        return {};
    return It->second.Fields[AField - 1].Value;
}
void TEmuDevice::SetTableField(uint8_t ATable, uint16_t ARow, uint8_t AField, std::string_view AValue) {
    std::lock_guard<std::mutex> G(FMutex);
    uint8_t R = 0;
    if (TField* F = Field(ATable, ARow, AField, R)) {
        F->Value = std::string(AValue.substr(0, F->Size));
        F->Value.resize(F->Size, '\0');
        if (ATable == 9 && AField == 3) FConfig.LineLen = uint8_t(F->Value[0]);
    }
}
TEmuCounters TEmuDevice::ShiftCounters(uint8_t ASign, bool ACorrection) const {
    std::lock_guard<std::mutex> G(FMutex);
    if (ASign < 1 || ASign > 4) return {};
    return (ACorrection ? FCorrectionCounters : FCounters)[ASign];
}
void TEmuDevice::SetArithmeticChecks(bool AOn) {
    std::lock_guard<std::mutex> G(FMutex);
    FConfig.CheckArithmetic = AOn;
}
TEmuConfig TEmuDevice::Config() const {
    std::lock_guard<std::mutex> G(FMutex);
    return FConfig;
}
int64_t TEmuDevice::Clock() const {
    std::lock_guard<std::mutex> G(FMutex);
    return Now();
}
void TEmuDevice::FailCommand(uint16_t ACode, int AOccurrence, uint8_t AResult) {
    std::lock_guard<std::mutex> G(FMutex);
    FFailRules.push_back({ACode, std::max(AOccurrence, 1), AResult});
}
void TEmuDevice::SetPaperOut(int APollsUntilReload) {
    std::lock_guard<std::mutex> G(FMutex);
    FPaperOut = true;
    FPaperPolls = APollsUntilReload;
    FPrintPollsLeft = 0;
}
void TEmuDevice::LoadPaper() {
    std::lock_guard<std::mutex> G(FMutex);
    if (!FPaperOut) return;
    FPaperOut = false;
    FWaitContinue = !FHeldOutput.empty();
}
void TEmuDevice::SetClock(int64_t ALocalTime) {
    std::lock_guard<std::mutex> G(FMutex);
    FClockOffset = ALocalTime - int64_t(std::time(nullptr));
}
void TEmuDevice::AgeShift(int64_t ASeconds) {
    std::lock_guard<std::mutex> G(FMutex);
    FShiftOpenTime -= ASeconds;
}
void TEmuDevice::SetFNWarningFlags(uint8_t AFlags) {
    std::lock_guard<std::mutex> G(FMutex);
    FWarningFlags = AFlags;
}
void TEmuDevice::MarkDocumentsSent() {
    std::lock_guard<std::mutex> G(FMutex);
    for (auto& D : FDocuments) D.Sent = true;
    if (FLifeState == lsPostFiscal) FLifeState = lsArchive;
}
}  // namespace fr
