#include "fiscal/uKKTParams.h"

#include <cstdlib>
#include <ctime>
#include <exception>
#include <iterator>
#include <vector>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"
#include "device/uTLVStructure.h"
#include "driver/uServiceWindows.h"
#include "fiscal/uDriver.h"
#include "frame/uCustomDriver.h"
#include "log/uLog.h"

namespace fr {

namespace {

// How an attribute becomes the text of its row.
enum TValueKind { vkText, vkBool, vkDateTime, vkTaxation, vkRecState, vkDrawer, vkCover, vkShiftState };

struct TRowDecl {
    const char* Name;
    const char* Attribute;
    TValueKind Kind;
};

const TRowDecl RegistrationDecl[] = {
    {"Версия ФФД ФН", "FFDVersionFN", vkText},
    {"Версия ФФД ККТ", "FFDVersionKKT", vkText},
    {"Признак регистрации ФН", "Fiscal", vkBool},
    {"Регистрационный номер ККТ", "KKTNumber", vkText},
    {"Заводской номер ККТ", "KKTSerialNumber", vkText},
    {"Заводской номер ФН", "FNSerialNumber", vkText},
    {"Номер документа регистрации ФН", "DocumentNumber", vkText},
    {"Дата и время операции регистрации ФН", "DateTime", vkText},
    {"Название организации", "CompanyName", vkText},
    {"ИНН организации", "INN", vkText},
    {"Адрес проведения расчетов", "SaleAddress", vkText},
    {"Место проведения расчетов", "SaleLocation", vkText},
    {"Системы налогообложения", "TaxationSystems", vkTaxation},
    {"Признак шифрование данных", "IsEncrypted", vkBool},
    {"Признак автономного режима", "IsOffline", vkBool},
    {"Признак автоматического режима", "IsAutomatic", vkBool},
    {"Признак расчетов за услуги", "IsService", vkBool},
    {"Признак ККТ для расчетов в Интернет", "IsOnline", vkBool},
    {"Признак формирования АС БСО", "BSOSing", vkBool},
    {"Признак проведения лотереи", "IsLottery", vkBool},
    {"Признак проведения азартных игр", "IsGambling", vkBool},
    {"Признак продажи подакцизного товара", "IsExcisable", vkBool},
    {"Признак применения маркированных товаров", "IsMarking", vkBool},
    {"Признак применения при осуществлении ломбардами", "IsPawnshop", vkBool},
    {"Признак применения при осуществлении страхования", "IsAssurance", vkBool},
    {"Коды признаков агента", "AgentTypes", vkText},
    {"Номер автомата для автоматического режима", "AutomaticNumber", vkText},
    {"Название организации ОФД", "OFDCompany", vkText},
    {"ИНН организации ОФД", "OFDCompanyINN", vkText},
    {"Адрес сайта ФНС", "FNSURL", vkText},
    {"Адрес электронной почты отправителя чека", "SenderEmail", vkText},
};

// The last row of the state tab, the device clock, comes from GetDateTime.
const TRowDecl StateDecl[] = {
    {"Признак необходимости срочной замены ФН", "FNError", vkBool},
    {"Признак исчерпания ресурса ФН", "FNFail", vkBool},
    {"Признак переполнения памяти ФН", "FNOverflow", vkBool},
    {"Остаток наличных денежных средств в кассе", "CashBalance", vkText},
    {"Состояние ЧЛ", "RecState", vkRecState},
    {"Состояние денежного ящика", "DrawerState", vkDrawer},
    {"Состояние крышки", "CoverOpen", vkCover},
    {"Номер последнего фискального документа", "CheckNumber", vkText},
    {"Номер последнего чека за смену", "ShiftClosingCheckNumber", vkText},
    {"Номер открытой смены/Номер закрытой смены", "ShiftNumber", vkText},
    {"Дата и время формирования фискального документа", "DateTime", vkDateTime},
    {"Состояние смены", "ShiftState", vkShiftState},
    {"Количество непереданных документов", "BacklogDocumentsCounter", vkText},
    {"Номер первого непереданного документа", "BacklogDocumentFirstNumber", vkText},
    {"Дата и время первого из непереданных документов", "BacklogDocumentFirstDateTime", vkDateTime},
};
const char ClockRowName[] = "Текущее время ККТ";

// A pair of counter rows: the element, where it hangs (under Parameters, or
// under Payments of OutputParameters) and its two attributes.
struct TCounterDecl {
    const char* First;
    const char* Second;
    const char* Element;
    bool InPayments;
    const char* FirstAttribute;
    const char* SecondAttribute;
};
const TCounterDecl CounterDecl[] = {
    {"Кол-во чеков продаж", "Сумма чеков продаж", "CountersOperationType1", false, "CheckCount", "TotalChecksAmount"},
    {"Кол-во чеков возвратов", "Сумма чеков возвратов", "CountersOperationType2", false, "CheckCount",
     "TotalChecksAmount"},
    {"Кол-во чеков внесений", "Сумма чеков внесений", "CashIn", false, "Count", "TotalAmount"},
    {"Кол-во чеков изъятий", "Сумма чеков изъятий", "CashOut", false, "Count", "TotalAmount"},
    {"Сумма наличными продаж", "Сумма наличными возвратов", "Cash", true, "Sell", "SellReturn"},
    {"Сумма электронными продаж", "Сумма электронными возвратов", "NonCash", true, "Sell", "SellReturn"},
    {"Сумма авансом продаж", "Сумма авансом возвратов", "Prepaid", true, "Sell", "SellReturn"},
    {"Сумма кредитом продаж", "Сумма кредитом возвратов", "Credit", true, "Sell", "SellReturn"},
    {"Сумма встречными продаж", "Сумма встречными возвратов", "Barter", true, "Sell", "SellReturn"},
};

// The text of a numbered state; a number without a name gives an empty text.
std::string StateName(const std::string& AValue, std::initializer_list<std::pair<const char*, const char*>> ANames) {
    const std::string V = Trim(AValue);
    for (const auto& [Code, Name] : ANames)
        if (V == Code) return Name;
    return "";
}

std::string ValueText(const std::string& AValue, TValueKind AKind, const TDateTimeFormat& AFormat) {
    switch (AKind) {
        case vkText:
            return AValue;
        case vkBool:
            return SameTextAscii(Trim(AValue), "true") ? "Да" : "Нет";
        case vkDateTime:
            return FormatKKTDateTime(AValue, AFormat);
        case vkTaxation:
            return TaxationSystemNames(AValue);
        case vkRecState:
            return StateName(AValue, {{"0", "Ok"}, {"1", "Заканчивается"}, {"2", "Отсутствует"}});
        case vkDrawer:
            return StateName(AValue, {{"0", "Закрыт"}, {"1", "Открыт"}});
        case vkCover:
            return StateName(AValue, {{"0", "Закрыта"}, {"1", "Открыта"}});
        case vkShiftState:
            return StateName(AValue, {{"1", "Закрыта"}, {"2", "Открыта"}, {"3", "Истекла"}});
    }
    return AValue;
}

template <size_t N>
void AddRows(TKKTRows& ARows, const TRowDecl (&ADecl)[N], pugi::xml_node AParameters, const TDateTimeFormat& AFormat) {
    for (const TRowDecl& D : ADecl)
        ARows.push_back({D.Name, ValueText(AParameters.attribute(D.Attribute).value(), D.Kind, AFormat)});
}

}  // namespace

std::string FormatKKTDateTime(const std::string& AIsoText, const TDateTimeFormat& AFormat) {
    if (Trim(AIsoText).empty()) return "";
    int64_t Seconds = 0;
    try {
        Seconds = ISODateToUnix(Trim(AIsoText));
    } catch (const std::exception&) {
        return AIsoText;
    }
    // The device's date-times carry no zone: they are shown as they stand.
    const struct tm Tm = UtcTimeOf(Seconds);
    const std::string Pattern = AFormat.Date + " " + AFormat.Time;
    char Buf[256];
    const size_t N = strftime(Buf, sizeof Buf, Pattern.c_str(), &Tm);
    return N ? std::string(Buf, N) : AIsoText;
}

std::string TaxationSystemNames(const std::string& ACodes) {
    static const char* const Names[] = {"ОСН", "УСН (Доход)", "УСН (Доход минус Расход)", "ЕНВД", "ЕСХН", "ПСН"};
    std::string Result;
    size_t From = 0;
    while (From <= ACodes.size()) {
        size_t To = ACodes.find(',', From);
        if (To == std::string::npos) To = ACodes.size();
        const std::optional<int64_t> N = ParseInt(Trim(std::string_view(ACodes).substr(From, To - From)));
        From = To + 1;
        if (!N || *N < 0 || *N >= int64_t(std::size(Names))) continue;
        if (!Result.empty()) Result += ", ";
        Result += Names[*N];
    }
    return Result;
}

TKKTRows RegistrationRows(pugi::xml_node AParameters, const TDateTimeFormat& AFormat) {
    TKKTRows Rows;
    AddRows(Rows, RegistrationDecl, AParameters, AFormat);
    return Rows;
}

TKKTRows StateRows(pugi::xml_node AParameters, const std::string& AClock, const TDateTimeFormat& AFormat) {
    TKKTRows Rows;
    AddRows(Rows, StateDecl, AParameters, AFormat);
    Rows.push_back({ClockRowName, FormatKKTDateTime(AClock, AFormat)});
    return Rows;
}

TKKTRows CounterRows(pugi::xml_node AOutputParameters) {
    TKKTRows Rows;
    const pugi::xml_node Parameters = AOutputParameters.child("Parameters");
    const pugi::xml_node Payments = AOutputParameters.child("Payments");
    for (const TCounterDecl& D : CounterDecl) {
        const pugi::xml_node E = (D.InPayments ? Payments : Parameters).child(D.Element);
        if (!E) continue;
        Rows.push_back({D.First, E.attribute(D.FirstAttribute).value()});
        Rows.push_back({D.Second, E.attribute(D.SecondAttribute).value()});
    }
    return Rows;
}

// ------------------------------------------------------------ operations

std::optional<TKKTRows> TKKTParams::ReadRegistration() {
    pugi::xml_document Data;
    FDriver.GetDataKKT(Data);
    const pugi::xml_node P = Data.child("Parameters");
    if (!P) return std::nullopt;
    return RegistrationRows(P, FFormat);
}

std::optional<TKKTParams::TStateRows> TKKTParams::ReadState() {
    pugi::xml_document In, Out;
    In.append_child("InputParameters").append_child("Parameters").append_attribute("GetCounters") = "true";
    FDriver.GetCurrentStatus(In, Out);
    const pugi::xml_node Output = Out.child("OutputParameters");
    const pugi::xml_node P = Output.child("Parameters");
    if (!P) return std::nullopt;
    const std::string Clock = FDriver.GetDateTime();
    return TStateRows{StateRows(P, Clock, FFormat), CounterRows(Output)};
}

int32_t TKKTParams::ShiftState() {
    return FDriver.GetShiftState();
}

void TKKTParams::CloseShift() {
    pugi::xml_document In, Out;
    pugi::xml_node P = In.append_child("InputParameters").append_child("Parameters");
    P.append_attribute("CashierName") = "Администратор";
    P.append_attribute("CashierINN") = "";
    FDriver.CloseShift(In, Out);
}

void TKKTParams::SetClock(int64_t ALocalTime) {
    // Marked as UTC, so that the local time reaches the device unchanged.
    FDriver.SetDateTime(UnixTimeToXmlDateTime(ALocalTime) + "Z");
}

// ---------------------------------------------------------------- the window

namespace {

// Copies AText into a caller's buffer, cut at a character boundary.
void CopyText(char* ABuffer, size_t ASize, const std::string& AText) {
    if (!ABuffer || ASize == 0) return;
    size_t N = std::min(AText.size(), ASize - 1);
    while (N > 0 && N < AText.size() && (uint8_t(AText[N]) & 0xC0) == 0x80) --N;
    AText.copy(ABuffer, N);
    ABuffer[N] = 0;
}

// Runs a step for the window: no exception crosses into the module; the
// failure goes to the log and to the window as text.
template <class F>
int Guarded(char* AErrorText, size_t AErrorTextSize, F ABody) {
    try {
        ABody();
        return 0;
    } catch (...) {
        const std::string Message = CurrentExceptionMessage();
        WriteLog("Exception", "GetKKTParams: " + Message, llError);
        CopyText(AErrorText, AErrorTextSize, Message);
        return 1;
    }
}

void HandRows(TFrKktRowsSink ASink, void* ASinkContext, uint32_t AGrid, const TKKTRows& ARows) {
    std::vector<TFrKktRow> Rows;
    Rows.reserve(ARows.size());
    for (const TKKTRow& R : ARows) Rows.push_back({R.Name.c_str(), R.Value.c_str()});
    ASink(ASinkContext, AGrid, Rows.data(), Rows.size());
}

int KktRead(void* AContext, uint32_t AGrid, TFrKktRowsSink ASink, void* ASinkContext, char* AErrorText,
            size_t AErrorTextSize) {
    TKKTParams& P = *static_cast<TKKTParams*>(AContext);
    return Guarded(AErrorText, AErrorTextSize, [&] {
        // Every row is read before any grid is handed over, so a failure
        // leaves the grids as they were.
        if (AGrid == kgRegistration) {
            if (const std::optional<TKKTRows> Rows = P.ReadRegistration())
                HandRows(ASink, ASinkContext, kgRegistration, *Rows);
            return;
        }
        if (const std::optional<TKKTParams::TStateRows> Rows = P.ReadState()) {
            HandRows(ASink, ASinkContext, kgState, Rows->State);
            HandRows(ASink, ASinkContext, kgCounters, Rows->Counters);
        }
    });
}

int KktShiftState(void* AContext, int32_t* AState, char* AErrorText, size_t AErrorTextSize) {
    return Guarded(AErrorText, AErrorTextSize, [&] { *AState = static_cast<TKKTParams*>(AContext)->ShiftState(); });
}

int KktCloseShift(void* AContext, char* AErrorText, size_t AErrorTextSize) {
    return Guarded(AErrorText, AErrorTextSize, [&] { static_cast<TKKTParams*>(AContext)->CloseShift(); });
}

int KktSetClock(void* AContext, char* AErrorText, size_t AErrorTextSize) {
    return Guarded(AErrorText, AErrorTextSize, [&] { static_cast<TKKTParams*>(AContext)->SetClock(LocalNow()); });
}

}  // namespace

void TDriver::GetKKTParams() {
    // Without a session the window opens one with the current parameters,
    // filed under the empty identifier like the device test's, and leaves it
    // open when it closes: in single-session mode the host's next operations
    // use it, and Close("") ends it in either mode.
    if (!FEnabled) {
        const std::string SavedID = FDeviceID;
        struct TRestoreID {
            std::string& ID;
            std::string Saved;
            ~TRestoreID() { ID = Saved; }
        } RestoreID{FDeviceID, SavedID};
        FDeviceID.clear();
        Open();
    }
    TKKTParams Params(*this, DesktopDateTimeFormat());
    TFrWindowRequest R{};
    R.Kind = wkKktData;
    R.Caption = "Данные ККТ";
    R.KktContext = &Params;
    R.KktRead = KktRead;
    R.KktShiftState = KktShiftState;
    R.KktCloseShift = KktCloseShift;
    R.KktSetClock = KktSetClock;
    RunServiceWindow(R);
}

}  // namespace fr
