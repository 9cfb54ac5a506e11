// What the KKT data window shows, without a display: the value texts, the
// rows of each grid in order, and the window's operations run in-process
// against the emulator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "base/uCommonUtils.h"
#include "fiscal/uDriver.h"
#include "fiscal/uKKTParams.h"
#include "uEmulator.h"

namespace fr {

void PrintTo(const TKKTRow& ARow, std::ostream* AOut) {
    *AOut << "{\"" << ARow.Name << "\", \"" << ARow.Value << "\"}";
}

namespace {

const TDateTimeFormat kRu{"%d.%m.%Y", "%H:%M:%S"};

std::string Value(const TKKTRows& ARows, const std::string& AName) {
    for (const TKKTRow& R : ARows)
        if (R.Name == AName) return R.Value;
    ADD_FAILURE() << "no row " << AName;
    return "";
}

std::vector<std::string> Names(const TKKTRows& ARows) {
    std::vector<std::string> N;
    for (const TKKTRow& R : ARows) N.push_back(R.Name);
    return N;
}

TEST(KKTParamsTexts, DateTimesTaxationSystemsAndDesktopFormat) {
    struct {
        std::string Iso;
        TDateTimeFormat Format;
        std::string Shown;
    } const Dates[] = {
        {"2026-12-10T09:05:07", kRu, "10.12.2026 09:05:07"},
        {"2026-02-28T23:59:59", {"%m/%d/%Y", "%I:%M:%S %p"}, "02/28/2026 11:59:59 PM"},
        {"", kRu, ""},
        {"  ", kRu, ""},
        // Not a date-time: shown as it stands rather than lost.
        {"10.12.2026", kRu, "10.12.2026"},
        {"2026-13-01T00:00:00", kRu, "2026-13-01T00:00:00"},
    };
    for (const auto& D : Dates) EXPECT_EQ(FormatKKTDateTime(D.Iso, D.Format), D.Shown) << D.Iso;

    const std::pair<std::string, std::string> Taxation[] = {
        {"0", "ОСН"},
        {"0,1,2,3,4,5", "ОСН, УСН (Доход), УСН (Доход минус Расход), ЕНВД, ЕСХН, ПСН"},
        {"5, 2", "ПСН, УСН (Доход минус Расход)"},
        {"6,1,x,,-1,3", "УСН (Доход), ЕНВД"},
        {"", ""},
    };
    for (const auto& [Codes, Names] : Taxation) EXPECT_EQ(TaxationSystemNames(Codes), Names) << Codes;

    // A desktop without a locale of its own gets the Russian format.
    const char* const Saved = std::getenv("LC_ALL");
    const std::string SavedValue = Saved ? Saved : "";
    for (const char* Locale : {"C", "POSIX", "C.UTF-8", "xx_YY.UTF-8"}) {
        setenv("LC_ALL", Locale, 1);
        const TDateTimeFormat F = DesktopDateTimeFormat();
        EXPECT_EQ(F.Date + " " + F.Time, "%d.%m.%Y %H:%M:%S") << Locale;
    }
    if (Saved)
        setenv("LC_ALL", SavedValue.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

TEST(KKTParamsRows, StateValueTexts) {
    struct {
        const char* Attribute;
        const char* Name;
        std::vector<std::pair<std::string, std::string>> Texts;  // attribute value, shown text
    } const Cases[] = {
        {"FNError", "Признак необходимости срочной замены ФН", {{"true", "Да"}, {"True", "Да"}, {"false", "Нет"}}},
        {"RecState", "Состояние ЧЛ", {{"0", "Ok"}, {"1", "Заканчивается"}, {"2", "Отсутствует"}, {"3", ""}}},
        {"DrawerState", "Состояние денежного ящика", {{"0", "Закрыт"}, {"1", "Открыт"}, {"2", ""}}},
        {"CoverOpen", "Состояние крышки", {{"0", "Закрыта"}, {"1", "Открыта"}}},
        {"ShiftState", "Состояние смены", {{"1", "Закрыта"}, {"2", "Открыта"}, {"3", "Истекла"}, {"0", ""}, {"4", ""}}},
        {"CashBalance", "Остаток наличных денежных средств в кассе", {{"1234.5", "1234.5"}}},
        {"BacklogDocumentFirstDateTime",
         "Дата и время первого из непереданных документов",
         {{"2026-01-02T03:04:05", "02.01.2026 03:04:05"}}},
    };
    for (const auto& C : Cases)
        for (const auto& [Attribute, Shown] : C.Texts) {
            pugi::xml_document D;
            D.append_child("Parameters").append_attribute(C.Attribute) = Attribute.c_str();
            EXPECT_EQ(Value(StateRows(D.child("Parameters"), "", kRu), C.Name), Shown)
                << C.Attribute << "=" << Attribute;
        }
}

// The counters: each pair from its own element, only when it is there; the
// payment kinds hang under Payments, beside Parameters.
TEST(KKTParamsRows, CounterPairsFollowTheirElements) {
    pugi::xml_document D;
    D.load_string(
        "<OutputParameters><Parameters CashBalance=\"1\">"
        "<CountersOperationType2 CheckCount=\"2\" TotalChecksAmount=\"30.5\"/>"
        "<CashOut Count=\"1\" TotalAmount=\"7\"/></Parameters>"
        "<Payments><NonCash Sell=\"100\" SellReturn=\"30.5\"/><Barter Sell=\"0\" SellReturn=\"0\"/></Payments>"
        "<CashIn Count=\"9\" TotalAmount=\"9\"/>"  // not where the status puts it
        "</OutputParameters>");
    EXPECT_EQ(CounterRows(D.child("OutputParameters")), (TKKTRows{
                                                            {"Кол-во чеков возвратов", "2"},
                                                            {"Сумма чеков возвратов", "30.5"},
                                                            {"Кол-во чеков изъятий", "1"},
                                                            {"Сумма чеков изъятий", "7"},
                                                            {"Сумма электронными продаж", "100"},
                                                            {"Сумма электронными возвратов", "30.5"},
                                                            {"Сумма встречными продаж", "0"},
                                                            {"Сумма встречными возвратов", "0"},
                                                        }));
    pugi::xml_document Empty;
    EXPECT_TRUE(CounterRows(Empty.append_child("OutputParameters")).empty());
}

// The window's reads, clock and shift against the emulator, in-process.
class KKTParamsDevice : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = std::filesystem::temp_directory_path() / ("fr_kktparams_" + std::to_string(getpid()));
        setenv("FR_ORVALEN1C8X3N_DATA_DIR", FDir.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }
    // A driver with a session on AEmu.
    static std::unique_ptr<TDriver> Opened(TEmulator& AEmu) {
        auto Drv = std::make_unique<TDriver>();
        Drv->FSettings.PortNumber = 9999;
        Drv->FSettings.IPPort = AEmu.StartTCP();
        Drv->Open();
        return Drv;
    }
    std::filesystem::path FDir;
};

TEST_F(KKTParamsDevice, RegistrationTabOfAFiscalisedDevice) {
    TEmuConfig Config;
    Config.TaxSystems = 0x05;    // ОСН and УСН (Доход минус Расход)
    Config.WorkModes = 0x02;     // offline
    Config.ExtWorkModes = 0x11;  // excisable goods, marking
    TEmulator Emu(Config);
    auto Drv = Opened(Emu);
    TKKTParams P(*Drv, kRu);
    const std::optional<TKKTRows> Rows = P.ReadRegistration();
    ASSERT_TRUE(Rows);
    // The registration time is the emulator's own; it is shown as the
    // document holds it.
    const std::string Registered = Value(*Rows, "Дата и время операции регистрации ФН");
    EXPECT_EQ(Registered.size(), 19u);
    EXPECT_EQ(Registered[10], 'T');
    EXPECT_EQ(*Rows, (TKKTRows{
                         {"Версия ФФД ФН", "1.2"},
                         {"Версия ФФД ККТ", "1.2"},
                         {"Признак регистрации ФН", "Да"},
                         {"Регистрационный номер ККТ", "0000000001012345"},
                         {"Заводской номер ККТ", "0000000012345678"},
                         {"Заводской номер ФН", "9999078900012345"},
                         {"Номер документа регистрации ФН", "1"},
                         {"Дата и время операции регистрации ФН", Registered},
                         {"Название организации", "ООО \"ЭМУЛЯТОР\""},
                         {"ИНН организации", "7700000009"},
                         {"Адрес проведения расчетов", "г. Москва, ул. Тестовая, д. 1"},
                         {"Место проведения расчетов", "Магазин"},
                         {"Системы налогообложения", "ОСН, УСН (Доход минус Расход)"},
                         {"Признак шифрование данных", "Нет"},
                         {"Признак автономного режима", "Да"},
                         {"Признак автоматического режима", "Нет"},
                         {"Признак расчетов за услуги", "Нет"},
                         {"Признак ККТ для расчетов в Интернет", "Нет"},
                         {"Признак формирования АС БСО", "Нет"},
                         {"Признак проведения лотереи", "Нет"},
                         {"Признак проведения азартных игр", "Нет"},
                         {"Признак продажи подакцизного товара", "Да"},
                         {"Признак применения маркированных товаров", "Да"},
                         {"Признак применения при осуществлении ломбардами", "Нет"},
                         {"Признак применения при осуществлении страхования", "Нет"},
                         {"Коды признаков агента", ""},
                         // GetDataKKT does not read it.
                         {"Номер автомата для автоматического режима", ""},
                         {"Название организации ОФД", "ООО \"ОФД\""},
                         {"ИНН организации ОФД", "7700000016"},
                         {"Адрес сайта ФНС", "www.nalog.gov.ru"},
                         {"Адрес электронной почты отправителя чека", "kkt@example.ru"},
                     }));
}

TEST_F(KKTParamsDevice, RegistrationTabOfANewDeviceSaysNoEverywhere) {
    TEmuConfig Config;
    Config.Fiscalised = false;
    TEmulator Emu(Config);
    auto Drv = Opened(Emu);
    const std::optional<TKKTRows> Rows = TKKTParams(*Drv, kRu).ReadRegistration();
    ASSERT_TRUE(Rows);
    ASSERT_EQ(Rows->size(), 31u);
    const std::vector<std::string> Booleans = {"Признак регистрации ФН",
                                               "Признак шифрование данных",
                                               "Признак автономного режима",
                                               "Признак автоматического режима",
                                               "Признак расчетов за услуги",
                                               "Признак ККТ для расчетов в Интернет",
                                               "Признак формирования АС БСО",
                                               "Признак проведения лотереи",
                                               "Признак проведения азартных игр",
                                               "Признак продажи подакцизного товара",
                                               "Признак применения маркированных товаров",
                                               "Признак применения при осуществлении ломбардами",
                                               "Признак применения при осуществлении страхования"};
    for (const TKKTRow& R : *Rows) {
        const bool Boolean = std::find(Booleans.begin(), Booleans.end(), R.Name) != Booleans.end();
        EXPECT_EQ(R.Value, Boolean ? "Нет" : "") << R.Name;
    }
}

TEST_F(KKTParamsDevice, StateAndCountersTabs) {
    TEmulator Emu;
    Emu.Device().SetClock(ISODateToUnix("2026-12-10T14:30:15"));
    auto Drv = Opened(Emu);
    pugi::xml_document In, Out;
    In.load_string("<InputParameters><Parameters CashierName=\"К\"/></InputParameters>");
    Drv->OpenShift(In, Out);
    Drv->CashInOutcome(In, TCurrency::FromKopecks(150000));

    const std::optional<TKKTParams::TStateRows> Rows = TKKTParams(*Drv, kRu).ReadState();
    ASSERT_TRUE(Rows);
    // GetCurrentStatus gives no storage warnings and no document time.
    const TKKTRows& S = Rows->State;
    ASSERT_EQ(S.size(), 16u);
    EXPECT_EQ(S[0], (TKKTRow{"Признак необходимости срочной замены ФН", "Нет"}));
    EXPECT_EQ(S[1], (TKKTRow{"Признак исчерпания ресурса ФН", "Нет"}));
    EXPECT_EQ(S[2], (TKKTRow{"Признак переполнения памяти ФН", "Нет"}));
    EXPECT_EQ(S[3], (TKKTRow{"Остаток наличных денежных средств в кассе", "1500"}));
    EXPECT_EQ(S[4], (TKKTRow{"Состояние ЧЛ", "Ok"}));
    EXPECT_EQ(S[5], (TKKTRow{"Состояние денежного ящика", "Закрыт"}));
    EXPECT_EQ(S[6], (TKKTRow{"Состояние крышки", "Закрыта"}));
    EXPECT_EQ(S[7].Name, "Номер последнего фискального документа");
    EXPECT_EQ(S[7].Value, std::to_string(Emu.Device().LastDocumentNumber()));
    EXPECT_EQ(S[8].Name, "Номер последнего чека за смену");
    EXPECT_EQ(S[9], (TKKTRow{"Номер открытой смены/Номер закрытой смены", "1"}));
    EXPECT_EQ(S[10], (TKKTRow{"Дата и время формирования фискального документа", ""}));
    EXPECT_EQ(S[11], (TKKTRow{"Состояние смены", "Открыта"}));
    EXPECT_EQ(S[12].Name, "Количество непереданных документов");
    EXPECT_EQ(S[13].Name, "Номер первого непереданного документа");
    EXPECT_EQ(S[14].Name, "Дата и время первого из непереданных документов");
    EXPECT_EQ(S[14].Value.substr(0, 11), "10.12.2026 ");
    EXPECT_EQ(S[15].Name, "Текущее время ККТ");
    EXPECT_EQ(S[15].Value.substr(0, 16), "10.12.2026 14:30");

    EXPECT_EQ(
        Names(Rows->Counters),
        (std::vector<std::string>{
            "Кол-во чеков продаж", "Сумма чеков продаж", "Кол-во чеков возвратов", "Сумма чеков возвратов",
            "Кол-во чеков внесений", "Сумма чеков внесений", "Кол-во чеков изъятий", "Сумма чеков изъятий",
            "Сумма наличными продаж", "Сумма наличными возвратов", "Сумма электронными продаж",
            "Сумма электронными возвратов", "Сумма авансом продаж", "Сумма авансом возвратов", "Сумма кредитом продаж",
            "Сумма кредитом возвратов", "Сумма встречными продаж", "Сумма встречными возвратов"}));
    EXPECT_EQ(Value(Rows->Counters, "Кол-во чеков внесений"), "1");
    EXPECT_EQ(Value(Rows->Counters, "Сумма чеков внесений"), "1500");
}

// The clock button's steps: the shift state it asks about, the shift it
// closes as the administrator, and the clock it sets unchanged.
TEST_F(KKTParamsDevice, ClosesTheShiftAndSetsTheClock) {
    TEmulator Emu;
    Emu.Device().SetClock(ISODateToUnix("2020-01-01T00:00:00"));
    auto Drv = Opened(Emu);
    TKKTParams P(*Drv, kRu);
    EXPECT_EQ(P.ShiftState(), 0);
    pugi::xml_document In, Out;
    In.load_string("<InputParameters><Parameters CashierName=\"К\"/></InputParameters>");
    Drv->OpenShift(In, Out);
    EXPECT_EQ(P.ShiftState(), 1);
    P.CloseShift();
    EXPECT_FALSE(Emu.Device().ShiftOpen());
    EXPECT_EQ(Emu.Device().Documents().back().Type, 5);
    EXPECT_EQ(P.ShiftState(), 0);

    const int64_t Now = ISODateToUnix("2026-12-10T18:45:30");
    P.SetClock(Now);
    EXPECT_LE(std::abs(Emu.Device().Clock() - Now), 2);
}

}  // namespace
}  // namespace fr
