// Stored fiscal documents read back record by record, registration and the
// storage's life cycle, marking codes, printing and paper.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "EmuTestUtil.h"
#include "TestBytes.h"
#include "uEmuDevice.h"

namespace fr {
namespace {

using namespace emutest;
using fr::test::Hex;
using fr::test::ShowHex;

struct TRecord {
    uint16_t Tag;
    std::string Value;
};

std::vector<TRecord> Records(std::string S) {
    std::vector<TRecord> R;
    while (S.size() >= 4) {
        size_t N = AtLE(S, 2, 2);
        R.push_back({uint16_t(AtLE(S, 0, 2)), S.substr(4, N)});
        S.erase(0, 4 + N);
    }
    return R;
}

const TRecord* Find(const std::vector<TRecord>& R, uint16_t ATag) {
    for (const auto& X : R)
        if (X.Tag == ATag) return &X;
    return nullptr;
}

// Reads document N through 0xFF 0x3A / 0xFF 0x3B as the driver does.
struct TReadBack {
    uint16_t Type = 0;
    size_t Length = 0;
    std::vector<std::string> Records;
};
TReadBack ReadDocument(TEmuDevice& D, uint32_t N) {
    TReadBack R;
    std::string A = Cmd(D, B({0xFF, 0x3A}), LEn(N, 4));
    EXPECT_EQ(At(A, 0), 0);
    R.Type = uint16_t(AtLE(A, 1, 2));
    R.Length = AtLE(A, 3, 2);
    EXPECT_EQ(At(Cmd(D, B({0x11})), 14), 1) << "data-output mode while the document is read";
    for (int I = 0; I < 500; ++I) {
        std::string Rec = Cmd(D, B({0xFF, 0x3B}));
        EXPECT_EQ(At(Rec, 0), 0);
        if (Rec.size() <= 1) break;
        R.Records.push_back(Rec.substr(1));
    }
    return R;
}

std::string Item(uint64_t AQty, uint64_t APrice, const std::string& AName, uint8_t AMethod = 4) {
    return B({1}) + LEn(AQty, 6) + LEn(APrice, 5) + LEn(APrice * AQty / 1000000, 5) + LEn(0, 5) +
           B({1, 1, AMethod, 1}) + AName;
}

std::string CloseData(uint64_t ACash) {
    return LEn(ACash, 5) + std::string(15 * 5, '\0') + B({0}) + std::string(30, '\0') + B({1}) + std::string(64, '\0') +
           std::string(20, '\0');
}

TEST(EmuDocuments, ReceiptIsStoredAsTLVAndReadBackRecordByRecord) {
    TEmuDevice D;
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x41})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x0C}), LEn(1021, 2) + LEn(4, 2) + "Ivan"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}), Item(2500000, 4000, "\xCC\xEE\xEB\xEE\xEA\xEE")), 0), 0);  // "Молоко"
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x4D}), LEn(2108, 2) + LEn(1, 2) + B({0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x0C}), LEn(1008, 2) + LEn(5, 2) + "a@b.c"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x45}), CloseData(10000)), 0), 0);

    std::string Status = Cmd(D, B({0xFF, 0x01}));
    uint32_t Last = uint32_t(AtLE(Status, 27, 4));
    EXPECT_EQ(Last, 3u) << "registration, shift open, receipt";
    EXPECT_EQ(At(Status, 1), 3) << "fiscal mode";
    EXPECT_EQ(At(Status, 4), 1) << "shift open";

    TReadBack R = ReadDocument(D, Last);
    EXPECT_EQ(R.Type, 3);
    size_t Total = 0;
    for (const auto& Rec : R.Records) Total += Rec.size();
    EXPECT_EQ(Total, R.Length);
    EXPECT_EQ(At(Cmd(D, B({0x11})), 14), 2) << "the empty record ended data output";

    std::vector<TRecord> Top;
    for (const auto& Rec : R.Records) {
        EXPECT_EQ(AtLE(Rec, 2, 2) + 4, Rec.size()) << "one whole record per answer";
        Top.push_back({uint16_t(AtLE(Rec, 0, 2)), Rec.substr(4)});
    }
    ASSERT_NE(Find(Top, 1040), nullptr);
    EXPECT_EQ(Find(Top, 1040)->Value, LEn(3, 4));
    EXPECT_EQ(Find(Top, 1054)->Value, B({1}));
    EXPECT_EQ(Find(Top, 1020)->Value, LEn(10000, 2)) << "100.00 as the fewest bytes";
    EXPECT_EQ(Find(Top, 1031)->Value, LEn(10000, 2));
    EXPECT_EQ(Find(Top, 1008)->Value, "a@b.c") << "document requisite kept as sent";
    std::string Sign = Find(Top, 1077)->Value;
    ASSERT_EQ(Sign.size(), 6u);
    EXPECT_EQ((uint32_t(uint8_t(Sign[2])) << 24 | uint32_t(uint8_t(Sign[3])) << 16 | uint32_t(uint8_t(Sign[4])) << 8 |
               uint8_t(Sign[5])),
              D.Documents().back().FiscalSign);
    const TRecord* It = Find(Top, 1059);
    ASSERT_NE(It, nullptr);
    std::vector<TRecord> Inner = Records(It->Value);
    EXPECT_EQ(Find(Inner, 1030)->Value, "\x8C\xAE\xAB\xAE\xAA\xAE") << "name in code page 866";
    EXPECT_EQ(Find(Inner, 1079)->Value, LEn(4000, 2));
    EXPECT_EQ(Find(Inner, 1023)->Value, B({1, 25})) << "2.5: one decimal place, 25";
    EXPECT_EQ(Find(Inner, 1043)->Value, LEn(10000, 2));
    EXPECT_EQ(Find(Inner, 1214)->Value, B({4}));
    EXPECT_EQ(Find(Inner, 2108)->Value, B({0})) << "item requisite inside the item";

    // The shift-open document carries the cashier sent before 0xE0.
    TReadBack Shift = ReadDocument(D, 2);
    EXPECT_EQ(Shift.Type, 2);
    std::vector<TRecord> ST;
    for (const auto& Rec : Shift.Records) ST.push_back({uint16_t(AtLE(Rec, 0, 2)), Rec.substr(4)});
    EXPECT_EQ(Find(ST, 1021)->Value, "Ivan");
    EXPECT_EQ(Find(ST, 1038)->Value, LEn(1, 4));
}

TEST(EmuDocuments, AnItemTooLongForOneAnswerKeepsWholeRecords) {
    TEmuDevice D;
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}), Item(1000000, 100, std::string(200, 'N'))), 0), 0);
    for (int I = 0; I < 4; ++I)
        ASSERT_EQ(At(Cmd(D, B({0xFF, 0x4D}), LEn(1191, 2) + LEn(60, 2) + std::string(60, char('a' + I))), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x45}), CloseData(100)), 0), 0);
    TReadBack R = ReadDocument(D, D.LastDocumentNumber());
    bool SawItem = false;
    for (const auto& Rec : R.Records) {
        EXPECT_LE(Rec.size() + 3, 255u) << "fits one answer frame";
        if (AtLE(Rec, 0, 2) != 1059) continue;
        SawItem = true;
        std::vector<TRecord> Inner = Records(Rec.substr(4));
        size_t Sum = 0;
        for (const auto& X : Inner) Sum += 4 + X.Value.size();
        EXPECT_EQ(Sum, Rec.size() - 4) << "no record cut in the middle";
        ASSERT_NE(Find(Inner, 1043), nullptr);
        ASSERT_NE(Find(Inner, 1030), nullptr);
        EXPECT_LT(Find(Inner, 1030)->Value.size(), 200u);
        EXPECT_EQ(Find(Inner, 1191)->Value, std::string(60, 'a'));
    }
    EXPECT_TRUE(SawItem);
}

TEST(EmuDocuments, DataOutputModeRules) {
    TEmuDevice D;
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x3A}), LEn(99, 4)), 0), 8) << "no such document";
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x3B})), 0), 115) << "nothing requested";
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x3A}), LEn(1, 4)), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x3A}), LEn(1, 4)), 0), 115) << "a document is waiting to be read";
    EXPECT_EQ(At(Cmd(D, B({0xE0})), 0), 115);
    std::string First = Cmd(D, B({0xFF, 0x3B}));
    EXPECT_EQ(AtLE(First, 1, 2), 1012u);
    while (Cmd(D, B({0xFF, 0x3B})).size() > 1) {
    }
    EXPECT_EQ(At(Cmd(D, B({0x10})), 4), 4);
}

std::vector<TRecord> TopRecords(const TReadBack& R) {
    std::vector<TRecord> T;
    for (const auto& Rec : R.Records) T.push_back({uint16_t(AtLE(Rec, 0, 2)), Rec.substr(4)});
    return T;
}

TEST(EmuStorage, RegistrationReregistrationAndClosingTheStorage) {
    TEmuConfig C;
    C.Fiscalised = false;
    TEmuDevice D(C);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x01})), 1), 1) << "ready for fiscalisation";
    std::string P = Cmd(D, B({0xFF, 0x09}));
    EXPECT_EQ(At(P, 0), 0);
    EXPECT_EQ(AtLE(P, 57, 4), 0u) << "no registration document yet";
    EXPECT_EQ(At(Cmd(D, B({0xE0})), 0), 2) << "no shift before registration";
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x61}), B({1, 0, 3, 0}) + "abc"), 0), 2);

    const std::string Inn = "7701234560  ", Reg = "0000000002012345    ";
    std::string Data = Inn + Reg + B({0x03, 0x24});  // automatic mode
    ASSERT_EQ(Data.size(), 34u);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x06}), Data), 0), 2) << "no begin";
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x05}), B({2})), 0), 2) << "a change of a storage never registered";
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x05}), B({3})), 0), 51);
    ASSERT_EQ(At(Cmd(D, B({0x1E}), B({17, 1, 0, 17, 4})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x1E}), B({18, 1, 0, 8}) + "Ann"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x1E}), B({18, 1, 0, 16, 0x05})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x1E}), B({24, 1, 0, 1}) + "A-17"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x05}), B({0})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x01})), 2), 0x01) << "the registration report is the current document";
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x34}), Data + B({4})), 0), 2) << "begun as a registration";
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x0C}), LEn(1203, 2) + LEn(12, 2) + "500100732259"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x0C}), LEn(1021, 2) + LEn(3, 2) + "Bob"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x06}), Data), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x01})), 2), 0x00);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x06}), Data), 0), 2) << "already registered";
    EXPECT_TRUE(D.Fiscalised());
    EXPECT_EQ(D.TableField(18, 1, 2), Inn);
    EXPECT_EQ(D.TableField(18, 1, 5), B({0x03}));

    P = Cmd(D, B({0xFF, 0x09}));
    ASSERT_GE(P.size(), 61u);
    EXPECT_EQ(P.substr(6, 12), Inn);
    EXPECT_EQ(P.substr(18, 20), Reg);
    EXPECT_EQ(At(P, 38), 0x03);
    EXPECT_EQ(AtLE(P, 53, 4), 0u) << "no change yet";
    EXPECT_EQ(AtLE(P, 57, 4), 1u);
    TReadBack R = ReadDocument(D, 1);
    EXPECT_EQ(R.Type, 1);
    std::vector<TRecord> T = TopRecords(R);
    const std::pair<uint16_t, std::string> Expected[] = {
        {1209, B({4})}, {1018, Inn},       {1021, "Bob"},  {1203, "500100732259"},
        {1036, "A-17"}, {1057, B({0x05})}, {1001, B({1})}, {1062, B({0x03})},
    };
    for (const auto& [Tag, Value] : Expected) {
        ASSERT_NE(Find(T, Tag), nullptr) << Tag;
        EXPECT_EQ(Find(T, Tag)->Value, Value) << Tag;
    }
    EXPECT_EQ(std::count_if(T.begin(), T.end(), [](const TRecord& X) { return X.Tag == 1021; }), 1)
        << "the cashier sent as a requisite replaces the table's";

    // Re-registration: 35 bytes with the reason, after a begin of type 1 or 2;
    // refused while the shift is open.
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x05}), B({2})), 0), 60);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x34}), Data + B({4})), 0), 60);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x3E})), 0), 60);
    ASSERT_EQ(At(Cmd(D, B({0x41})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x34}), Data + B({4})), 0), 2) << "no begin";
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x05}), B({2})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x01})), 2), 0x13);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x06}), Data), 0), 2) << "begun as a change";
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x34}), Data + B({4})), 0), 0);
    EXPECT_EQ(D.Documents().back().Type, 11);
    const uint32_t Changed = D.LastDocumentNumber();
    P = Cmd(D, B({0xFF, 0x09}));
    EXPECT_EQ(AtLE(P, 53, 4), 4u) << "the reason of the change";
    EXPECT_EQ(AtLE(P, 57, 4), Changed);
    T = TopRecords(ReadDocument(D, D.LastDocumentNumber()));
    ASSERT_NE(Find(T, 1205), nullptr);
    EXPECT_EQ(Find(T, 1205)->Value, LEn(4, 4));
    EXPECT_EQ(Find(T, 1101), nullptr) << "format 1.2 has the 4-byte reasons only";
    EXPECT_EQ(At(Cmd(D, B({0x11})), 47), 2) << "registrations made";
    std::string V = Cmd(D, B({0xFF, 0x03}));
    EXPECT_EQ(At(V, 4), 28);
    EXPECT_EQ(At(V, 5), 2);

    // A begun report is dropped by the next document.
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x05}), B({1})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x41})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x34}), Data + B({1})), 0), 2);

    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x3E})), 0), 0);
    EXPECT_EQ(D.Documents().back().Type, 6);
    T = TopRecords(ReadDocument(D, D.LastDocumentNumber()));
    ASSERT_NE(Find(T, 1038), nullptr);
    EXPECT_EQ(Find(T, 1038)->Value, LEn(2, 4)) << "the last shift";
    ASSERT_NE(Find(T, 1021), nullptr);
    EXPECT_EQ(Find(T, 1021)->Value, "Ann");
    EXPECT_NE(Find(T, 1048), nullptr);

    // Closed: post-fiscal while documents wait for the operator, then the
    // archive; no fiscal document any more, stored ones are still read.
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x01})), 1), 7) << "post-fiscal";
    D.MarkDocumentsSent();
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x01})), 1), 15) << "archive";
    for (const std::string& Code : {B({0xE0}), B({0xFF, 0x41}), B({0xFF, 0x3E})})
        EXPECT_EQ(At(Cmd(D, Code), 0), 2) << int(uint8_t(Code.back()));
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x05}), B({2})), 0), 2);
    EXPECT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 2);
    EXPECT_EQ(At(Cmd(D, B({0x50}), LEn(100, 5)), 0), 2);
    EXPECT_EQ(ReadDocument(D, 1).Type, 1);
    EXPECT_EQ(AtLE(Cmd(D, B({0xFF, 0x09})), 57, 4), Changed) << "the last registration stays";
}

// Reports the storage refuses leave it as it was: no document, the same
// registration, the same life state.
TEST(EmuStorage, RefusedReportsChangeNothing) {
    const std::string Reg = "0000000002012345    ";
    const auto Report = [&](const std::string& AInn) { return AInn + Reg + B({0x01, 0x00}); };
    struct TCase {
        const char* Name;
        TEmuFFD Storage;
        bool Fiscalised;
        uint8_t Format;  // table 17 field 17 before the report
        std::string Begin, Command, Data;
        uint8_t Result;
    };
    const TCase Cases[] = {
        {"check digit", efFFD12, false, 4, B({0}), B({0xFF, 0x06}), Report("7701234567  "), 9},
        {"second check digit", efFFD12, true, 4, B({2}), B({0xFF, 0x34}), Report("500100732266") + B({4}), 9},
        {"short INN", efFFD12, false, 4, B({0}), B({0xFF, 0x06}), Report("770123456   "), 9},
        {"INN after blanks", efFFD12, false, 4, B({0}), B({0xFF, 0x06}), Report("  7701234560"), 9},
        {"1.2 on a 1.1 storage", efFFD11, false, 4, B({0}), B({0xFF, 0x06}), Report("7701234560  "), 9},
        {"1.1 on a 1.0 storage", efFFD105, true, 3, B({2}), B({0xFF, 0x34}), Report("7701234560  ") + B({4}), 9},
    };
    for (const TCase& T : Cases) {
        SCOPED_TRACE(T.Name);
        TEmuConfig C;
        C.FFD = T.Storage;
        C.Fiscalised = T.Fiscalised;
        TEmuDevice D(C);
        ASSERT_EQ(At(Cmd(D, B({0x1E}), B({17, 1, 0, 17, T.Format})), 0), 0);
        ASSERT_EQ(At(Cmd(D, B({0xFF, 0x05}), T.Begin), 0), 0);
        const std::string Status = Cmd(D, B({0xFF, 0x01})), Fisc = Cmd(D, B({0xFF, 0x09}));
        const size_t Documents = D.Documents().size();
        EXPECT_EQ(At(Cmd(D, T.Command, T.Data), 0), T.Result);
        EXPECT_EQ(Cmd(D, B({0xFF, 0x01})), Status);
        EXPECT_EQ(Cmd(D, B({0xFF, 0x09})), Fisc);
        EXPECT_EQ(D.Documents().size(), Documents);
    }

    // The 31st report: 30 registrations and changes are the storage's life.
    TEmuDevice D;
    const std::string Change = Report("7701234560  ") + B({4});
    for (int I = 1; I < 30; ++I) {
        ASSERT_EQ(At(Cmd(D, B({0xFF, 0x05}), B({2})), 0), 0) << I;
        ASSERT_EQ(At(Cmd(D, B({0xFF, 0x34}), Change), 0), 0) << I;
    }
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x03})), 4), 0) << "no registration left";
    const size_t Documents = D.Documents().size();
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x05}), B({2})), 0), 18);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x34}), Change), 0), 2);
    EXPECT_EQ(D.Documents().size(), Documents);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x3E})), 0), 0) << "it can still be closed";
}

TEST(EmuDocuments, OlderFormatAnswersTheShortRegistrationLayout) {
    TEmuConfig C;
    C.FFD = efFFD105;
    TEmuDevice D(C);
    std::string P = Cmd(D, B({0xFF, 0x09}));
    EXPECT_GE(P.size(), 48u);
    EXPECT_LE(P.size(), 52u);
    EXPECT_EQ(AtLE(P, 40, 4), 1u);
    std::string V = Cmd(D, B({0xFF, 0x04}));
    EXPECT_NE(V.substr(1, 16).find("1_0"), std::string::npos);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x61}), B({1, 0, 3, 0}) + "abc"), 0), 160) << "marking needs format 1.2";
}

TEST(EmuDocuments, CorrectionReceiptInTheOlderCommandForm) {
    TEmuDevice D;
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x35})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x0C}), LEn(1178, 2) + LEn(4, 2) + LEn(1700000000, 4)), 0), 0);
    std::string Data = B({0, 1}) + LEn(5000, 5) + LEn(5000, 5) + std::string(4 * 5, '\0') + std::string(30, '\0') +
                       B({1}) + std::string(20, '\0');
    ASSERT_EQ(Data.size(), 83u);
    std::string A = Cmd(D, B({0xFF, 0x4A}), Data);
    ASSERT_EQ(At(A, 0), 0);
    const TEmuDocument Doc = D.Documents().back();
    EXPECT_EQ(Doc.Type, 31);
    EXPECT_EQ(AtLE(A, 3, 4), Doc.Number);
    EXPECT_EQ(AtLE(A, 7, 4), Doc.FiscalSign);
    std::vector<TRecord> T = Records(Doc.TLV);
    EXPECT_EQ(Find(T, 1173)->Value, B({0}));
    EXPECT_EQ(Find(T, 1178)->Value, LEn(1700000000, 4));
    EXPECT_EQ(D.CashRegister(241), 5000u);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x4A}), B({0, 1}) + LEn(5000, 5) + std::string(56, '\0')), 0), 69)
        << "payments short of the total";
}

TEST(EmuDocuments, CorrectionReceiptAsAReceiptOfType128) {
    TEmuDevice D;
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0x80})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x0C}), LEn(1173, 2) + LEn(1, 2) + B({1})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}), Item(1000000, 700, "Fix")), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x45}), CloseData(700)), 0), 0);
    const TEmuDocument Doc = D.Documents().back();
    EXPECT_EQ(Doc.Type, 31);
    std::vector<TRecord> T = Records(Doc.TLV);
    EXPECT_EQ(Find(T, 1054)->Value, B({1}));
    EXPECT_EQ(Find(T, 1173)->Value, B({1}));
    EXPECT_NE(Find(T, 1059), nullptr);
    EXPECT_EQ(D.CashRegister(241), 700u) << "the drawer moves";
    EXPECT_EQ(D.CashRegister(193), 0u) << "sales registers do not";
    EXPECT_EQ(D.OperationRegister(144), 0u);
}

// A shift of a sale (two VAT rates, cash with change and a card), a return
// and a correction: the close checks its tax sums, the receipt stores sums
// that add up, and the shift-close document carries the counters (1194).
TEST(EmuDocuments, TaxSumsAndShiftCounters) {
    TEmuDevice D;
    auto ItemOf = [](uint8_t AOp, uint64_t AQty, uint64_t APrice, uint64_t ASum, uint64_t ATax, uint8_t ATaxByte) {
        return B({AOp}) + LEn(AQty, 6) + LEn(APrice, 5) + LEn(ASum, 5) + LEn(ATax, 5) + B({ATaxByte, 1, 4, 1}) + "X";
    };
    auto Close = [&](uint64_t ACash, uint64_t ACard, uint64_t ATax20) {
        std::string Data = LEn(ACash, 5) + LEn(ACard, 5) + std::string(14 * 5, '\0') + B({0}) + LEn(ATax20, 5) +
                           std::string(25, '\0') + B({1}) + std::string(64, '\0') + std::string(20, '\0');
        return At(Cmd(D, B({0xFF, 0x45}), Data), 0);
    };
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}), ItemOf(1, 1000000, 12000, 12000, 2000, 0x01)), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}), ItemOf(1, 2000000, 5500, 11000, 0, 0x02)), 0), 0);  // tax left to the device
    EXPECT_EQ(Close(20000, 5000, 1900), 9) << "tax sum 1 does not match the items";
    ASSERT_TRUE(D.ReceiptOpen());
    ASSERT_EQ(Close(20000, 5000, 2000), 0);
    std::vector<TRecord> R = Records(D.Documents().back().TLV);
    EXPECT_EQ(Find(R, 1020)->Value, LEn(23000, 2));
    EXPECT_EQ(Find(R, 1031)->Value, LEn(18000, 2)) << "the cash kept, change deducted";
    EXPECT_EQ(Find(R, 1081)->Value, LEn(5000, 2));
    EXPECT_EQ(Find(R, 1102)->Value, LEn(2000, 2));
    EXPECT_EQ(Find(R, 1103)->Value, LEn(1000, 2)) << "computed from the 10% item";
    std::vector<TRecord> Second;
    for (const auto& X : R)
        if (X.Tag == 1059) Second = Records(X.Value);
    EXPECT_EQ(Find(Second, 1200)->Value, LEn(1000, 2));

    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({2})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}), ItemOf(2, 1000000, 12000, 12000, 2000, 0x01)), 0), 0);
    ASSERT_EQ(Close(12000, 0, 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x35})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x4A}), B({0, 1}) + LEn(5000, 5) + LEn(5000, 5) + std::string(71, '\0')), 0), 0);
    EXPECT_EQ(D.ShiftCounters(1).Count, 1u);
    EXPECT_EQ(D.ShiftCounters(1, true).Total, 5000u);

    ASSERT_EQ(At(Cmd(D, B({0x41})), 0), 0);
    TReadBack Z = ReadDocument(D, D.LastDocumentNumber());
    EXPECT_EQ(Z.Type, 5);
    std::string Counters;
    for (const auto& Rec : Z.Records)
        if (AtLE(Rec, 0, 2) == 1194) Counters = Rec.substr(4);
    ASSERT_FALSE(Counters.empty()) << "one whole record in one answer";
    std::vector<TRecord> C = Records(Counters);
    EXPECT_EQ(Find(C, 1134)->Value, LEn(3, 4));
    const std::vector<std::pair<uint16_t, std::string>> Sale = {{1135, LEn(1, 4)},     {1201, LEn(23000, 2)},
                                                                {1136, LEn(18000, 2)}, {1138, LEn(5000, 2)},
                                                                {1139, LEn(2000, 2)},  {1140, LEn(1000, 2)}};
    std::vector<TRecord> S = Records(Find(C, 1129)->Value);
    ASSERT_EQ(S.size(), Sale.size());
    for (size_t I = 0; I < Sale.size(); ++I) {
        EXPECT_EQ(S[I].Tag, Sale[I].first);
        EXPECT_EQ(S[I].Value, Sale[I].second) << Sale[I].first;
    }
    std::vector<TRecord> Ret = Records(Find(C, 1130)->Value);
    EXPECT_EQ(Find(Ret, 1201)->Value, LEn(12000, 2));
    EXPECT_EQ(Records(Find(C, 1131)->Value).size(), 1u) << "no purchases: the count alone";
    std::vector<TRecord> Corr = Records(Find(C, 1133)->Value);
    EXPECT_EQ(Find(Corr, 1144)->Value, LEn(1, 4));
    EXPECT_EQ(Find(Records(Find(Corr, 1129)->Value), 1136)->Value, LEn(5000, 2));
}

TEST(EmuDocuments, MarkingCodeCheckBindAndStatus) {
    TEmuDevice D;
    const std::string Good =
        "010460043993125621JgXJ5.T\x1D"
        "91EE06\x1D"
        "92abcd";
    const std::string Bad = "0104600439931256215BADCODE";
    D.SetMarkingCodeInvalid(Bad);
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);

    std::string A = Cmd(D, B({0xFF, 0x61}), B({1, 0, int(Good.size()), 0}) + Good);
    ASSERT_EQ(At(A, 0), 0);
    EXPECT_EQ(At(A, 1), 0x03);
    size_t L = At(A, 4);
    ASSERT_EQ(A.size(), 5 + L);
    EXPECT_EQ(At(A, 5), 0) << "request answered";
    EXPECT_EQ(At(A, 6), 0x0F);
    std::vector<TRecord> T = Records(A.substr(7));
    for (uint16_t Tag : {2100, 2109, 2005, 2105, 2114}) EXPECT_NE(Find(T, Tag), nullptr) << Tag;
    std::map<uint16_t, int> Seen;
    for (const auto& X : T) EXPECT_EQ(++Seen[X.Tag], 1) << "each tag once";

    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x69}), B({1})), 0), 0);
    A = Cmd(D, B({0xFF, 0x61}), B({1, 0, int(Bad.size()), 0}) + Bad);
    EXPECT_EQ(At(A, 1), 0x01);
    EXPECT_EQ(At(A, 6), 0x05);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x69}), B({1})), 0), 0);

    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x67}), B({int(Good.size())}) + Good), 0), 85) << "no receipt";
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}), Item(1000000, 10000, "Shoes")), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x67}), B({3}) + "xyz"), 0), 165) << "never checked";
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x67}), B({int(Good.size())}) + Good), 0), 0);
    std::string S = Cmd(D, B({0xFF, 0x70}));
    EXPECT_EQ(At(S, 4), 2) << "two check results saved";
    EXPECT_EQ(At(S, 5), 1) << "one sale of marked goods";
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x45}), CloseData(10000)), 0), 0);

    std::vector<TRecord> Top = Records(D.Documents().back().TLV);
    std::vector<TRecord> Inner = Records(Find(Top, 1059)->Value);
    ASSERT_NE(Find(Inner, 1163), nullptr);
    std::vector<TRecord> Code = Records(Find(Inner, 1163)->Value);
    ASSERT_EQ(Code.size(), 1u);
    EXPECT_EQ(Code[0].Tag, 1305);
    EXPECT_EQ(Code[0].Value, "010460043993125621JgXJ5.T") << "up to the first group separator";

    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x69}), B({2})), 0), 0);
    EXPECT_EQ(At(Cmd(D, B({0xFF, 0x69}), B({1})), 0), 161) << "nothing left to accept";
}

// The storage's order for checked codes, step by step: one check waits for
// its acceptance or rejection before the next, only an accepted code is
// bound, once per receipt, and the buffer outlives a cancelled receipt.
TEST(EmuDocuments, MarkingBufferKeepsTheStoragesOrder) {
    TEmuDevice D;
    const std::string A = "0104600439931256215Kfcm3", K = "0104650117240408215pq7Yt";
    const auto Check = [&](const std::string& ACode, int APlanned = 1, const std::string& AExtra = {}) {
        return At(Cmd(D, B({0xFF, 0x61}), B({APlanned, 0, int(ACode.size()), int(AExtra.size())}) + ACode + AExtra), 0);
    };
    const auto Confirm = [&](int AOp) { return At(Cmd(D, B({0xFF, 0x69}), B({AOp})), 0); };
    const auto Bind = [&](const std::string& ACode) {
        return At(Cmd(D, B({0xFF, 0x67}), B({int(ACode.size())}) + ACode), 0);
    };
    const auto Receipt = [&] {
        const uint8_t R = At(Cmd(D, B({0x8D}), B({0})), 0);
        return R ? R : At(Cmd(D, B({0xFF, 0x46}), Item(1000000, 10000, "Shoes")), 0);
    };
    const auto State = [&](const std::string& ACode) { return int(D.MarkingCodeState(ACode)); };
    const int None = int(TEmuMarkState::None), Pending = int(TEmuMarkState::Pending),
              Accepted = int(TEmuMarkState::Accepted);
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    struct TStep {
        std::function<int()> Run;
        int Expected;
        const char* What;
    };
    const TStep Steps[] = {
        {[&] { return Confirm(1); }, 161, "nothing to accept"},
        {[&] { return Check(A); }, 0, "A checked"},
        {[&] { return State(A); }, Pending, "A waits"},
        {[&] { return Check(K); }, 161, "another code while A waits"},
        {[&] { return Check(A); }, 161, "A again while it waits"},
        {[&] { return Receipt(); }, 0, "a receipt with an item"},
        {[&] { return Bind(A); }, 161, "A not accepted yet"},
        {[&] { return Confirm(1); }, 0, "A accepted"},
        {[&] { return Check(K); }, 0, "K checked"},
        {[&] { return Confirm(0); }, 0, "K rejected: the waiting code, not A"},
        {[&] { return State(A); }, Accepted, "A stays accepted"},
        {[&] { return State(K); }, None, "K left the buffer"},
        {[&] { return Confirm(0); }, 161, "nothing waits"},
        {[&] { return Bind(K); }, 165, "a rejected code counts as never checked"},
        {[&] { return Bind(A); }, 0, "A bound"},
        {[&] { return Bind(A); }, 161, "A sold once per receipt"},
        {[&] { return At(Cmd(D, B({0x88})), 0); }, 0, "the receipt cancelled"},
        {[&] { return State(A); }, Accepted, "the buffer outlives the cancelled receipt"},
        {[&] { return Receipt(); }, 0, "a new receipt"},
        {[&] { return Bind(A); }, 0, "A bound again"},
        {[&] {
             return At(Cmd(D, B({0xFF, 0x45}), CloseData(10000)), 0);
         },
         0, "the receipt closed"},
        {[&] { return State(A); }, None, "a sold code leaves the buffer"},
        {[&] { return Check(A, 2); }, 164, "a sale by measure without its measure (2108)"},
        {[&] { return Check(A, 2, Hex("3C08 0100")); }, 51, "a cut requisite"},
        {[&] { return Check(A, 2, Hex("3C08 0100 00")); }, 0, "with it"},
        {[&] { return Confirm(2); }, 0, "the buffer emptied"},
        {[&] { return State(A); }, None, "nothing left"},
        {[&] { return Check(""); }, 51, "an empty code"},
    };
    for (const TStep& S : Steps) EXPECT_EQ(S.Run(), S.Expected) << S.What;
}

// Each answer kind as the storage gives it, for one code or as the default,
// and a busy storage that answers 4 to the first attempts of every check.
TEST(EmuDocuments, MarkingAnswerKindsAndBusyStorage) {
    TEmuDevice D;
    // The storage's own check, the block's request-status and result bytes,
    // then the one-byte tags of the block (2114 holds the time).
    const auto Answer = [&](const std::string& ACode) {
        const std::string A = Cmd(D, B({0xFF, 0x61}), B({1, 0, int(ACode.size()), 0}) + ACode);
        if (At(A, 0) != 0) return "result " + std::to_string(At(A, 0));
        std::string S = ShowHex(A.substr(1, 1)) + " " + ShowHex(A.substr(5, 2));
        for (const TRecord& R : Records(A.substr(7)))
            S += " " + std::to_string(R.Tag) + (R.Value.size() == 1 ? "=" + ShowHex(R.Value) : "");
        EXPECT_EQ(At(Cmd(D, B({0xFF, 0x69}), B({0})), 0), 0);
        return S;
    };
    D.SetMarkingAnswer(TEmuMarkAnswer::Offline);
    D.SetMarkingAnswer(TEmuMarkAnswer::Invalid, "bad");
    D.SetMarkingAnswer(TEmuMarkAnswer::StatusNotConfirmed, "status");
    D.SetMarkingAnswer(TEmuMarkAnswer::Valid, "good");
    const std::pair<std::string, std::string> Cases[] = {
        {"good", "03 00 0F 2100=00 2109=01 2005=0F 2105=00 2114"},
        {"bad", "01 00 05 2100=00 2109=02 2005=05 2105=00 2114"},
        {"status", "03 00 07 2100=00 2109=02 2005=07 2105=00 2114"},
        {"0104600439931256215Kfcm3", "03 01 03 2100=05 2114"},  // the default: no answer from the marking system
    };
    for (const auto& [Code, Expected] : Cases) EXPECT_EQ(Answer(Code), Expected) << Code;

    D.SetMarkingBusy(2);
    EXPECT_EQ(Answer("good"), "result 4");
    EXPECT_EQ(Answer("good"), "result 4");
    EXPECT_EQ(Answer("good"), "03 00 0F 2100=00 2109=01 2005=0F 2105=00 2114") << "the third attempt in a row";
    ASSERT_EQ(At(Cmd(D, B({0x10})), 0), 0);
    EXPECT_EQ(Answer("good"), "result 4") << "another command between: a new check";
    D.SetMarkingBusy(0);
    ASSERT_EQ(At(Cmd(D, B({0x10})), 0), 0);
    EXPECT_EQ(Answer("good").substr(0, 8), "03 00 0F");
}

TEST(EmuDocuments, PrintingGoesToTheTapeAndReportsPrintingForAFewPolls) {
    TEmuDevice D;
    ASSERT_EQ(At(Cmd(D, B({0x17}), B({3}) + "Hello"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x12}), B({3}) + "Bold"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x2F}), B({7, 2}) + "Font"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x17}), B({1}) + "control tape only"), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x17}), B({3}) + std::string(60, 'x')), 0), 0);
    std::string Title = "TITLE";
    Title.resize(30, '\0');
    ASSERT_EQ(At(Cmd(D, B({0x18}), Title + B({0, 1})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xC0}), B({0}) + std::string(40, '\xFF')), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xC0}), B({1}) + std::string(40, '\x01')), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xC1}), B({0, 1})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xC2}), LEn(460123456789ull, 5)), 0), 0);
    std::string Qr(130, 'q');
    for (int I = 0; I < 3; ++I) ASSERT_EQ(At(Cmd(D, B({0xDD}), B({0, I}) + Qr.substr(size_t(I) * 64, 64)), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xDE}), B({0x03, 0x82, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x02, 0x01})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x29}), B({2, 3})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x25}), B({1})), 0), 0);

    TEmuTape T = D.Tape();
    ASSERT_EQ(T.Size(), 10u);
    const auto& E = T.Entries();
    EXPECT_EQ(E[0].Text, "Hello");
    EXPECT_EQ(E[1].Style, TEmuTextStyle::tsBold);
    EXPECT_EQ(E[2].Font, 2);
    EXPECT_EQ(E[3].Text, std::string(48, 'x')) << "cut at the line length";
    EXPECT_EQ(E[4].Style, TEmuTextStyle::tsTitle);
    EXPECT_EQ(E[4].Text, "TITLE");
    EXPECT_EQ(E[5].Rows.size(), 2u);
    EXPECT_EQ(E[6].Text, "4601234567893");
    EXPECT_EQ(E[7].Text, Qr);
    EXPECT_EQ(E[8].Count, 3);
    EXPECT_EQ(E[9].Kind, TEmuTapeKind::tkCut);
    EXPECT_EQ(E[9].Count, 1) << "partial";

    EXPECT_EQ(At(Cmd(D, B({0x10})), 5), 5);
    EXPECT_EQ(At(Cmd(D, B({0x10})), 5), 0) << "two polls of printing by default";

    // Printing switched off in table 17: commands succeed, nothing is printed.
    ASSERT_EQ(At(Cmd(D, B({0x1E}), B({17, 1, 0, 7, 2})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0x17}), B({3}) + "silent"), 0), 0);
    EXPECT_EQ(D.Tape().Size(), 10u);

    EXPECT_EQ(At(Cmd(D, B({0xDE}), B({0x03, 0x10, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00, 0x02, 0x01})), 0), 51)
        << "no QR data loaded";
    EXPECT_EQ(At(Cmd(D, B({0xC1}), B({5, 1})), 0), 51);
    EXPECT_EQ(At(Cmd(D, B({0x8C})), 0), 86) << "no document to copy yet";
}

TEST(EmuDocuments, PaperRunsOutThenWaitsForContinue) {
    TEmuDevice D;
    ASSERT_EQ(At(Cmd(D, B({0xE0})), 0), 0);
    size_t Before = D.Tape().Size();
    D.SetPaperOut(2);
    EXPECT_EQ(At(Cmd(D, B({0x17}), B({3}) + "line"), 0), 107);
    ASSERT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x46}), Item(1000000, 500, "Tea")), 0), 0);
    ASSERT_EQ(At(Cmd(D, B({0xFF, 0x45}), CloseData(500)), 0), 0) << "the document is made";
    EXPECT_EQ(D.Tape().Size(), Before) << "its printout waits";
    std::string S = Cmd(D, B({0x10}));
    EXPECT_EQ(At(S, 5), 2);
    EXPECT_EQ(At(S, 2) & 0x82, 0) << "tape absent";
    EXPECT_EQ(At(Cmd(D, B({0xB0})), 0), 107);
    EXPECT_EQ(At(Cmd(D, B({0x10})), 5), 3) << "paper is back after two polls";
    EXPECT_EQ(At(Cmd(D, B({0x10})), 5), 3);
    EXPECT_EQ(At(Cmd(D, B({0x8D}), B({0})), 0), 88);
    EXPECT_EQ(At(Cmd(D, B({0xB0})), 0), 0);
    EXPECT_GT(D.Tape().Size(), Before + 5);
    EXPECT_EQ(At(Cmd(D, B({0x10})), 5), 5);
    EXPECT_EQ(At(Cmd(D, B({0x10})), 5), 0);
    // The copy of the last document repeats its printout.
    size_t After = D.Tape().Size();
    EXPECT_EQ(At(Cmd(D, B({0x8C})), 0), 0);
    EXPECT_GT(D.Tape().Size(), After + 5);
}

}  // namespace
}  // namespace fr
