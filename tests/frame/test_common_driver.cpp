// Documents of the common driver layer that the end-to-end tests cannot
// reach: the settings form built from the declarations when the library
// carries no form, and the parser's message for malformed host XML.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "driver/uCommonDriver.h"
#include "base/uXmlUtils.h"
#include "fiscal/uDriver.h"

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

TEST(CommonDriver, EquipmentTypeNames) {
    EXPECT_EQ(EquipmentTypeText(etECR), "ККТ");
    EXPECT_EQ(EquipmentTypeText(etUnknown), "НеизвестныйТипОборудования");
    EXPECT_THROW(EquipmentTypeText(15), std::runtime_error);
}

}  // namespace
}  // namespace fr
