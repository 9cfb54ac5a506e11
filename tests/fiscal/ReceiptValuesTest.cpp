// Values of check packages (amount readers, Base64, phones, the product code
// of the older formats, the amount line), and receipts whose marking codes
// were checked in the session, run in-process against the emulator because
// the marking operations of the host are not part of this build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestBytes.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "fiscal/uDriver.h"
#include "fiscal/uReceiptValues.h"
#include "uEmulator.h"

namespace fr {
namespace {

using test::Hex;

pugi::xml_node Node(pugi::xml_document& ADoc, const std::string& AXml) {
    EXPECT_TRUE(ADoc.load_string(AXml.c_str()));
    return ADoc.document_element();
}

TEST(ReceiptValues, AmountsArePresentAndWellFormedOrRefused) {
    struct TCase {
        const char* Text;
        int64_t TenThousandths;  // -1: refused
    };
    const TCase Cases[] = {{"12.34", 123400}, {"12,34", 123400}, {" 7 ", 70000}, {"-5", -50000}, {"0.00005", 0},
                           {"0.00015", 2},    {"1e3", -1},       {"1.2.3", -1},  {"1,2.3", -1},  {"abc", -1},
                           {"1 000", -1},     {"-", -1},         {"+5", -1},     {"0x10", -1}};
    for (const TCase& C : Cases) {
        pugi::xml_document D;
        const pugi::xml_node N = Node(D, std::string("<P A=\"") + C.Text + "\"/>");
        if (C.TenThousandths == -1) {
            try {
                AttrMoney(N, "A");
                ADD_FAILURE() << C.Text;
            } catch (const EquException& E) {
                EXPECT_EQ(E.Code, 1004);
                EXPECT_EQ(std::string(E.what()),
                          std::string("Ошибка входных параметров команды. Недопустимое значение атрибута A: «") +
                              C.Text + "»");
            }
            EXPECT_THROW(AttrQuantity(N, "A", 1), EquException) << C.Text;
        } else {
            EXPECT_EQ(AttrMoney(N, "A").Value, C.TenThousandths) << C.Text;
        }
    }
    // Missing and empty take the default.
    pugi::xml_document D;
    const pugi::xml_node N = Node(D, "<P E=\"\"/>");
    EXPECT_EQ(AttrMoney(N, "A", TCurrency::FromKopecks(5)).Value, 500);
    EXPECT_EQ(AttrMoney(N, "E", TCurrency::FromKopecks(5)).Value, 500);
    EXPECT_EQ(AttrQuantity(N, "E", 2.5), 2.5);
}

TEST(ReceiptValues, PhonesAndTaxRates) {
    EXPECT_EQ(NormalizePhones("8 (900) 123-45-67, +7 900 7654321"), "+89001234567;+79007654321");
    EXPECT_EQ(NormalizePhones(";;+7(495)1112233;"), "+74951112233");
    EXPECT_EQ(NormalizePhones(""), "");
    EXPECT_EQ(SplitPhones("a;;b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(TDriver::SetAgentPhones(1073, "+1;+2"), std::string("\x31\x04\x02\x00+1\x31\x04\x02\x00+2", 12));

    const TTaxValues T;
    const struct {
        const char* Rate;
        uint8_t Byte;
    } Rates[] = {{"20", 0x01},     {"18", 0x01},     {"10", 0x02},     {"0", 0x04},      {"NONE", 0x08},
                 {"20/120", 0x10}, {"18/118", 0x10}, {"10/110", 0x20}, {"5", 0x81},      {"7", 0x82},
                 {"5/105", 0x84},  {"7/107", 0x88},  {"22", 0x90},     {"22/122", 0xA0}, {"21", 0x00}};
    for (const auto& R : Rates)
        EXPECT_EQ(TTaxValues::TaxByte(TTaxValues::TaxGroup(T.IDOfTax(R.Rate))), R.Byte) << R.Rate;
}

TEST(ReceiptValues, ProductCodeOfTheOlderFormats) {
    // "DM", the GTIN as six bytes (most significant first), the serial.
    EXPECT_EQ(TDriver::MarkingCodeToProductCode("010460043993125621ABCDEFG\x1D"
                                                "93xyz"),
              Hex("444D042F1F96817841424344454647"));
    EXPECT_EQ(TDriver::MarkingCodeToProductCode("x010460043993125621ABC9200"), Hex("444D042F1F968178414243"));
    for (const char* Bad : {"XX0460043993125621ABC\x1D", "0104600439931256ZZABC\x1D", "010460043993125621ABC",
                            "0104600439931x5621ABC\x1D"}) {
        try {
            TDriver::MarkingCodeToProductCode(Bad);
            ADD_FAILURE() << Bad;
        } catch (const std::runtime_error& E) {
            EXPECT_EQ(std::string(E.what()), std::string("Некорректный код маркировки ") + Bad);
        }
    }
}

TEST(ReceiptValues, AmountLine) {
    TDriver D;
    EXPECT_EQ(D.FormatAmountLine("СКИДКА", TCurrency::FromKopecks(500), 24), "СКИДКА              5.00");
    EXPECT_EQ(D.FormatAmountLine("НАЦЕНКА", TCurrency::FromKopecks(123456), 10), "НАЦ1234.56");
    EXPECT_EQ(Utf8Length(D.FormatAmountLine("X", TCurrency::FromKopecks(1), 30)), 30u);
}

// A code checked in the session is bound to its item (with the item's
// industry requisite); an unchecked one goes out as the item's product code.
TEST(CheckedMarkingCodes, AreBoundToTheirItems) {
    const auto Dir = std::filesystem::temp_directory_path() / ("fr_fiscal_" + std::to_string(getpid()));
    setenv("FR_ORVALEN1C8X3N_DATA_DIR", Dir.c_str(), 1);
    TEmuConfig Config;
    Config.PrintPolls = 0;
    TEmulator Emu(Config);
    const uint16_t Port = Emu.StartTCP();
    {
        TDriver Drv;
        Drv.FSettings.PortNumber = 9999;
        Drv.FSettings.IPPort = Port;
        Drv.Open();
        pugi::xml_document In, Out;
        In.load_string("<InputParameters><Parameters CashierName=\"К\"/></InputParameters>");
        Drv.OpenShift(In, Out);

        const std::string Checked =
            "010460043993125621JgXJ5.T\x1D"
            "8005112000";
        Drv.ConnectTCP();
        TKMResult R;
        Drv.Device().CheckMarkingCode(1, Checked, 1, 0, 0, 0, R);
        Drv.Device().AcceptMarkingCode(true);
        Drv.DisconnectTCP();

        // Base64 of the checked code and of another one.
        const std::string Package =
            "<CheckPackage><Parameters OperationType=\"1\" CashierName=\"К\"/><Positions>"
            "<FiscalString Name=\"А\" Quantity=\"1\" PriceWithDiscount=\"100\" AmountWithDiscount=\"100\" "
            "VATRate=\"20\" VATAmount=\"16.67\" PaymentMethod=\"4\" CalculationSubject=\"33\" "
            "MarkingCode=\"MDEwNDYwMDQzOTkzMTI1NjIxSmdYSjUuVB04MDA1MTEyMDAw\">"
            "<IndustryAttribute IdentifierFOIV=\"030\" AttributeValue=\"mode=test\"/></FiscalString>"
            "<FiscalString Name=\"Б\" Quantity=\"1\" PriceWithDiscount=\"100\" AmountWithDiscount=\"100\" "
            "VATRate=\"20\" VATAmount=\"16.67\" PaymentMethod=\"4\" CalculationSubject=\"33\" "
            "MarkingCode=\"MDEwNDYwMDQzOTkzMTI1NjIxWFhYWFhYWB05MzAwMDE=\"/>"
            "</Positions><Payments Cash=\"200\"/></CheckPackage>";
        pugi::xml_document Check, Result;
        ASSERT_TRUE(Check.load_string(Package.c_str()));
        Emu.Device().ClearCommands();
        Drv.ProcessCheck(false, Check, Result, false);
        std::vector<std::string> Sent;
        for (const auto& C : Emu.Device().Commands())
            if (uint8_t(C[0]) == 0xFF && (uint8_t(C[1]) == 0x67 || uint8_t(C[1]) == 0x4D)) Sent.push_back(C);
        EXPECT_EQ(Sent, (std::vector<std::string>{
                            Hex("FF4D1E0000003C08010000"),
                            Hex("FF671E00000024") + Checked,                // bound, sale not by GTIN
                            Hex("FF4D1E000000EE040300303330"),              // 1262 of the item's industry requisite
                            Hex("FF4D1E000000F10409006D6F64653D74657374"),  // 1265
                            Hex("FF4D1E0000003C08010000"),
                            // 1163 with 1305: the unchecked code up to its group separator
                            Hex("FF4D1E0000008B041D001905190030313034363030343339393331323536323158585858585858"),
                        }));
        const auto Docs = Emu.Device().Documents();
        EXPECT_EQ(Docs.back().Type, 3);
        EXPECT_FALSE(Emu.Device().ReceiptOpen());
    }
    Emu.Stop();
    std::filesystem::remove_all(Dir);
}

}  // namespace
}  // namespace fr
