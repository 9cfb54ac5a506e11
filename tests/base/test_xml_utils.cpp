// Strict loading of host documents: references are decoded in attributes and
// text, left alone in CDATA, and odd documents are refused with 1004.
#include <gtest/gtest.h>

#include <string>

#include "base/uEquipmentErrors.h"
#include "base/uXmlUtils.h"

namespace fr {
namespace {

TEST(XmlUtils, ReferencesAreDecodedOutsideCdataOnly) {
    pugi::xml_document D;
    LoadXml(D, "<a v=\"&lt;&#1055;&#x44F;&amp;&quot;&apos;&gt;\">x&#10;y<![CDATA[&n;&#0;]]></a>");
    const pugi::xml_node A = D.child("a");
    EXPECT_STREQ(A.attribute("v").value(), "<Пя&\"'>");
    EXPECT_STREQ(A.first_child().value(), "x\ny");
    EXPECT_STREQ(A.last_child().value(), "&n;&#0;");
}

TEST(XmlUtils, RefusedDocumentsCarry1004) {
    for (const char* Text : {"<!DOCTYPE a><a/>", "<a>&#0;</a>", "<a b=\"1\" b=\"2\"/>", "<a>&x;</a>", "<a>&amp</a>",
                             "<a>&#;</a>", "<a>&#x;</a>", "<a>&#12a;</a>", "<a>&#99999999999999999999;</a>"}) {
        pugi::xml_document D;
        try {
            LoadXml(D, Text);
            ADD_FAILURE() << Text << " was accepted";
        } catch (const EquException& E) {
            EXPECT_EQ(E.Code, 1004) << Text;
        }
    }
}

TEST(XmlUtils, TextWithoutElement) {
    pugi::xml_document D;
    EXPECT_THROW(LoadXml(D, "  "), std::runtime_error);
    EXPECT_NO_THROW(LoadXml(D, "  ", true));
    EXPECT_FALSE(D.first_child());
    EXPECT_THROW(LoadXml(D, "<!DOCTYPE a>", true), EquException);
}

// Control characters of a value (a text read from the device may hold them)
// are left out of the written document instead of becoming references XML
// forbids; tab, line feed and carriage return stay.
TEST(XmlUtils, WrittenDocumentsReadBack) {
    pugi::xml_document D;
    NewXmlDocument(D);
    pugi::xml_node E = D.append_child("e");
    E.append_attribute("a") = "x\x03y\tz\r";
    E.text() = "1\x01\x1f" "2 &#3;";
    const std::string Text = XmlToText(D);
    pugi::xml_document Back;
    LoadXml(Back, Text);
    EXPECT_STREQ(Back.child("e").attribute("a").value(), "xy\tz\r");
    EXPECT_STREQ(Back.child("e").text().get(), "12 &#3;");
}

}  // namespace
}  // namespace fr
