// Host documents are parsed strictly: a document type declaration, an
// entity the document does not predefine, an attribute given twice or a
// reference to a character XML forbids is refused with 1004 by every method
// that takes a document, before a single byte goes to the device.
#include "ReceiptFixture.h"

namespace rcpt {
namespace {

class TStrictXmlTest : public TReceiptBase {
protected:
    void SetUp() override {
        FTransport = TTransport::Tcp;
        Start();
    }
    // Calls AMethod with ADocument in its document parameter.
    TCallResult CallWith(const std::string& AMethod, const std::string& ADocument) {
        const V Doc = V::String(ADocument);
        if (AMethod == "ProcessCheck") return Call(AMethod, {V::String(ID), V::Boolean(false), Doc, V::Empty()});
        if (AMethod == "OperationFN") return Call(AMethod, {V::String(ID), V::Int32(1), Doc});
        if (AMethod == "CashInOutcome") return Call(AMethod, {V::String(ID), Doc, V::Double(100)});
        if (AMethod == "PrintTextDocument" || AMethod == "PrintXReport") return Call(AMethod, {V::String(ID), Doc});
        return Call(AMethod, {V::String(ID), Doc, V::Empty()});
    }
};

TEST_F(TStrictXmlTest, OddDocumentsAreRefusedBeforeAnythingIsSent) {
    const std::vector<std::string> Methods = {"OpenShift",         "CloseShift",
                                              "PrintXReport",      "CashInOutcome",
                                              "GetCurrentStatus",  "ReportCurrentStatusOfSettlements",
                                              "ProcessCheck",      "ProcessCorrectionCheck",
                                              "PrintTextDocument", "OperationFN",
                                              "RequestKM"};
    const std::string Open = "<InputParameters><Parameters CashierName=";
    const std::vector<std::pair<std::string, std::string>> Documents = {
        {"document type", "<!DOCTYPE InputParameters>" + Open + "\"Иванов\"/></InputParameters>"},
        {"entity declared", "<!DOCTYPE I [<!ENTITY n \"Петров\">]>" + Open + "\"&n;\"/></InputParameters>"},
        {"entity undeclared", Open + "\"Иванов &n;\"/></InputParameters>"},
        {"entity in text", "<InputParameters><Parameters>&n;</Parameters></InputParameters>"},
        {"NUL decimal", Open + "\"Ива&#0;нов\"/></InputParameters>"},
        {"NUL hexadecimal", Open + "\"Ива&#x0;нов\"/></InputParameters>"},
        {"control character", Open + "\"Ива&#1;нов\"/></InputParameters>"},
        {"surrogate", Open + "\"&#xD800;\"/></InputParameters>"},
        {"beyond Unicode", Open + "\"&#x110000;\"/></InputParameters>"},
        {"attribute twice", Open + "\"Иванов\" CashierName=\"Петров\"/></InputParameters>"},
    };
    for (const std::string& M : Methods) {
        for (const auto& [Case, Document] : Documents) {
            Emu->Device().ClearCommands();
            const TCallResult R = CallWith(M, Document);
            EXPECT_FALSE(R.Result.Bool) << M << ": " << Case;
            const auto [Code, Text] = LastError();
            EXPECT_EQ(Code, 1004) << M << ": " << Case << ": " << Text;
            EXPECT_EQ(Text.rfind("Ошибка входных параметров команды. ", 0), 0u) << M << ": " << Case << ": " << Text;
            EXPECT_TRUE(Commands().empty()) << M << ": " << Case;
        }
    }
}

// The five predefined entities and character references still reach the
// device as the characters they stand for: tag 1021 (cashier) carries
// "Ivanov & Co.!<>" when the shift opens.
TEST_F(TStrictXmlTest, PredefinedEntitiesAndCharacterReferencesAreDecoded) {
    ASSERT_TRUE(CallWith("OpenShift",
                         "<InputParameters><Parameters CashierName=\"Ivanov &amp; Co&#46;&#x21;&lt;&gt;\"/>"
                         "</InputParameters>")
                    .Result.Bool)
        << LastError().second;
    bool Found = false;
    for (const std::string& C : Commands())
        Found |= C.find(Hex("FD030F004976616E6F76202620436F2E213C3E")) != std::string::npos;
    EXPECT_TRUE(Found);
}

}  // namespace
}  // namespace rcpt
