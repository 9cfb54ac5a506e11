// What the end-to-end tests cannot reach: the settings form built from the
// declarations when the library carries no form, the parser's message for
// malformed host XML, and the device log flags a failed Open leaves behind.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <pugixml.hpp>

#include "base/uXmlUtils.h"
#include "driver/uCommonDriver.h"
#include "fiscal/uDriver.h"
#include "log/uLog.h"

namespace fr {
namespace {

TEST(CommonDriver, SettingsFormFromDeclarationsWhenNoResource) {
    pugi::xml_document Doc;
    LoadXml(Doc, BuildParametersXml(nullptr, TDriver::Decl()));
    const pugi::xml_node Page = Doc.child("Settings").child("Page");
    EXPECT_STREQ(Page.attribute("Caption").value(), "Параметры");
    std::vector<pugi::xml_node> Params(Page.children("Parameter").begin(), Page.children("Parameter").end());
    ASSERT_EQ(Params.size(), 46u);
    struct TRow {
        size_t Index;
        const char *Name, *Caption, *Type, *Default;
    } Rows[] = {{0, "PortNumber", "Номер порта", "Number", "0"},
                {5, "IPAddress", "IP адрес", "String", "127.0.0.1"},
                {8, "DisableCut", "Запретить отрезку чека", "Boolean", "false"},
                {10, "EnablePrinting", "Включить печать", "Number", "0"},
                {44, "MteDriver", "Mte драйвер", "Boolean", "false"},
                {45, "LogEnabled", "Вести лог", "Boolean", "False"}};
    for (const auto& R : Rows) {
        const pugi::xml_node P = Params[R.Index];
        EXPECT_STREQ(P.attribute("Name").value(), R.Name);
        EXPECT_STREQ(P.attribute("Caption").value(), R.Caption);
        EXPECT_STREQ(P.attribute("TypeValue").value(), R.Type);
        EXPECT_STREQ(P.attribute("DefaultValue").value(), R.Default);
        EXPECT_STREQ(P.attribute("ReadOnly").value(), "false");
    }
}

TEST(CommonDriver, ResourceFormIsReserialised) {
    const std::string Form = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Settings><Page Caption=\"П\"/></Settings>";
    pugi::xml_document Doc;
    LoadXml(Doc, BuildParametersXml(&Form, TDriver::Decl()));
    EXPECT_STREQ(Doc.first_child().attribute("encoding").value(), "UTF-8");
    EXPECT_STREQ(Doc.child("Settings").child("Page").attribute("Caption").value(), "П");
}

TEST(CommonDriver, MalformedXmlGivesTheParsersMessage) {
    pugi::xml_document Doc;
    try {
        LoadXml(Doc, "<CheckPackage><Parameters></CheckPackage>");
        FAIL();
    } catch (const std::runtime_error& E) {
        EXPECT_EQ(std::string(E.what()).rfind("Ошибка разбора XML: ", 0), 0u) << E.what();
        EXPECT_NE(std::string(E.what()).find("позиция"), std::string::npos);
    }
}

// A port on loopback where nobody listens.
uint16_t ClosedPort() {
    const int Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof A;
    bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A);
    getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len);
    close(Fd);
    return ntohs(A.sin_port);
}

TEST(CommonDriver, FailedOpenLeavesNoDeviceLogFlag) {
    TDriver D;
    const size_t Before = DeviceLogFlags().Count();
    for (int I = 0; I < 3; ++I) {
        // Each Open starts from the defaults again; logging stays on.
        D.PropertySet("PortNumber", TValue("9999"));
        D.PropertySet("IPPort", TValue(std::to_string(ClosedPort())));
        D.PropertySet("LogEnabled", TValue("true"));
        tVariant Ret{};
        tVariant Param{};
        TV8Call Call(D, &Ret, &Param, 1);
        D.HostOpen(Call);
        EXPECT_EQ(Ret.vt, VTYPE_BOOL);
        EXPECT_FALSE(Ret.bVal);
        EXPECT_EQ(D.LastResult().ErrorDescription, "Ошибка соединения с ККТ");
    }
    EXPECT_EQ(DeviceLogFlags().Count(), Before);
    SetLogMode(lmOff);
}

TEST(CommonDriver, EquipmentTypeNames) {
    EXPECT_EQ(EquipmentTypeText(etECR), "ККТ");
    EXPECT_EQ(EquipmentTypeText(etUnknown), "НеизвестныйТипОборудования");
    EXPECT_THROW(EquipmentTypeText(15), std::runtime_error);
}

}  // namespace
}  // namespace fr
