// TDevice against the project's emulator over a pseudo-terminal and over
// loopback TCP. Built when the suite links the emulator library.
#if __has_include("uEmulator.h")

#include <gtest/gtest.h>

#include "TestBytes.h"

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uXmlUtils.h"
#include "device/uDevice.h"
#include "device/uDeviceFields.h"
#include "link/uCommManager.h"
#include "link/uSocketProtocol.h"
#include "uEmulator.h"

namespace fr {
namespace {

using test::Bytes;
using test::TTransport;

const std::string Pwd = Bytes({30, 0, 0, 0});

class DeviceOnEmulator : public ::testing::TestWithParam<TTransport> {
protected:
    void SetUp() override {
        if (GetParam() == TTransport::Serial) {
            const std::string Path = Emu.StartSerial();
            auto C = std::make_unique<TComDevice>();
            C->ComPort().SetDevicePath(Path);
            C->SetConnectPwd(Pwd);
            ASSERT_EQ(C->Enable(1, 115200), 0);
            Device = std::move(C);
        } else {
            const uint16_t Port = Emu.StartTCP(0);
            auto S = std::make_unique<TSocketDevice>();
            S->SetConnectPwd(Pwd);
            ASSERT_EQ(S->Enable("127.0.0.1", Port), 0);
            Device = std::move(S);
        }
        Device->SetPrintPollIntervals(1, 5);
        Emu.Device().ClearCommands();
    }
    void TearDown() override {
        Device.reset();
        Emu.Stop();
    }

    // Runs a raw command and expects success (set-up of documents whose
    // commands belong to other layers).
    void Raw(uint16_t ACode, const std::string& AData) {
        ASSERT_EQ(Device->CheckResultCode(Device->RunCommand(CommandCode(ACode), AData, 0, true, true)), 0)
            << std::hex << ACode;
    }
    // A sale of one item paid in cash: its document number.
    uint32_t Sell(const std::string& AName, double AQuantity, const char* APrice, const char* ASum) {
        Raw(0xFF41, {});
        Raw(0xE0, {});
        Device->WaitForPrint();
        Raw(0x8D, Bytes({0}));
        Raw(0xFF46, Bytes({1}) + QuantityToBytes(AQuantity) + MoneyToBytes(*TCurrency::Parse(APrice)) +
                        MoneyToBytes(*TCurrency::Parse(ASum)) + MoneyToBytes({}) + Bytes({6, 1, 4, 1}) +
                        Utf8ToAnsi(AName));
        std::string Close = MoneyToBytes(*TCurrency::Parse(ASum)) + std::string(15 * 5, '\0') + Bytes({0}) +
                            std::string(6 * 5, '\0') + Bytes({1}) + std::string(64, '\0') + std::string(4 * 5, '\0');
        Raw(0xFF45, Close);
        Device->WaitForPrint();
        return Emu.Device().LastDocumentNumber();
    }

    TEmulator Emu;
    std::unique_ptr<TDevice> Device;
};

TEST_P(DeviceOnEmulator, ConnectsAndReadsTheDevice) {
    EXPECT_EQ(Device->LineLen(), 48);
    uint8_t V = 0, Sub = 0, Lng = 9, Model = 0, Mode = 0;
    std::string Name;
    Device->GetDeviceType(V, Sub, Lng, Model, Name);
    EXPECT_EQ(Name, "ОРВАЛЕН-Ф ЭМУЛЯТОР");
    Device->GetStateKKT(Mode);
    EXPECT_EQ(Mode, 4);  // shift closed
    Device->SetDateTime(*EncodeDeviceDateTime(2031, 3, 5, 10, 20, 30));
    int64_t Clock = 0;
    Device->GetDateTimeKKT(Clock);
    EXPECT_GE(Clock, *EncodeDeviceDateTime(2031, 3, 5, 10, 20, 30));
    EXPECT_LT(Clock, *EncodeDeviceDateTime(2031, 3, 5, 10, 21, 30));
    const std::vector<std::string> Cmds = Emu.Device().Commands();
    ASSERT_GE(Cmds.size(), 5u);
    EXPECT_EQ(Cmds[0], "\xFC");
    EXPECT_EQ(Cmds[2], "\x21" + Pwd + Bytes({10, 20, 30}));
    EXPECT_EQ(Cmds[3], "\x22" + Pwd + Bytes({5, 3, 31}));
    EXPECT_EQ(Cmds[4], "\x23" + Pwd + Bytes({5, 3, 31}));

    Device->SetFieldAsStr(18, 1, 1, "42");
    EXPECT_EQ(Emu.Device().TableField(18, 1, 1).substr(0, 3), Bytes({'4', '2', 0}));

    TFNCurrentStatus St;
    Device->GetFNCurrentStatus(St);
    EXPECT_EQ(St.FNLifeState, 3);
    EXPECT_EQ(St.DocumentNumber, 1);
    std::string Version;
    Device->GetFFDVersionFN(Version);
    EXPECT_EQ(Version, "1.2");
}

TEST_P(DeviceOnEmulator, DeviceErrorsAndFormatVersion) {
    Emu.Device().FailCommand(0x11, 1, 0x73);
    uint8_t Mode = 0;
    try {
        Device->GetStateKKT(Mode);
        ADD_FAILURE();
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(), "Ошибка команды запроса состояния ККТ. Команда не поддерживается в данном режиме");
    }
    EXPECT_EQ(Device->GetFFD(), ffd12);  // tag 1209 of the registration report
    Emu.Device().FailCommand(0xFF3A, 1, 8);
    Emu.Device().SetTableField(17, 1, 17, Bytes({2}));
    EXPECT_EQ(Device->GetFFD(), ffd105);  // document unreadable: the device table
}

TEST_P(DeviceOnEmulator, StoredReceiptReadBackAsCheckPackage) {
    const uint32_t Number = Sell("Хлеб ржаной", 1.5, "40.00", "60.00");
    pugi::xml_document Doc;
    NewXmlDocument(Doc);
    Device->GetDocumentFromFN(0, Doc);
    pugi::xml_node P = Doc.child("CheckPackage").child("Parameters");
    EXPECT_STREQ(P.attribute("DocumentType").value(), "3");
    EXPECT_EQ(std::string(P.attribute("DocNumber").value()), std::to_string(Number));
    EXPECT_STREQ(P.attribute("OperationType").value(), "1");
    EXPECT_EQ(std::string(P.attribute("DateTime").value()).size(), 19u);
    EXPECT_STREQ(Doc.child("CheckPackage").child("Payments").attribute("Cash").value(), "60");
    pugi::xml_node Item = Doc.child("CheckPackage").child("Positions").child("FiscalString");
    EXPECT_STREQ(Item.attribute("Name").value(), "Хлеб ржаной");
    EXPECT_STREQ(Item.attribute("Quantity").value(), "1.5");
    EXPECT_STREQ(Item.attribute("PriceWithDiscount").value(), "40");
    EXPECT_STREQ(Item.attribute("AmountWithDiscount").value(), "60");
    uint8_t Mode = 0;
    Device->GetStateKKT(Mode);
    EXPECT_NE(Mode, 1);  // the document was read to its end

    // A document that does not exist: the device's code as text.
    EXPECT_THROW(Device->GetDocumentFromFN(Number + 10, Doc), std::runtime_error);
}

TEST_P(DeviceOnEmulator, BrokenAnswersAreProtocolErrors) {
    if (GetParam() == TTransport::Tcp) static_cast<TSocketDevice&>(*Device).SocketProtocol().SetReceiveTimeout(300);
    Emu.TruncateNextAnswers(1);
    uint8_t Mode = 0;
    try {
        Device->GetStateKKT(Mode);
        ADD_FAILURE();
    } catch (const EquException& E) {
        // The link's code stays in the driver; the host gets the general code.
        EXPECT_EQ(E.Code, 1001);
        EXPECT_EQ(E.DeviceCode, 1014);
        EXPECT_EQ(std::string(E.what()), "Ошибка команды запроса состояния ККТ. " + GetEquipmentErrorText(1014));
    }
    Device->GetStateKKT(Mode);  // the next exchange works again
    EXPECT_EQ(Mode, 4);
}

INSTANTIATE_TEST_SUITE_P(Transports, DeviceOnEmulator, test::BothTransports(), test::TransportName);

}  // namespace
}  // namespace fr

#endif
