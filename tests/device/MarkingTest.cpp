// Marking-code commands: the check layout with its extra requisites, the
// decoded result, the busy retry, accept, clear, bind and work status.
#include <chrono>
#include <cmath>
#include <limits>

#include "OpsFixture.h"
#include "base/uEquipmentErrors.h"

namespace fr::ops {
namespace {

const std::string KM =
    "010460043993125621JgXJ5.T\x1d"
    "91EE06\x1d"
    "92YWCXbmK6SN8vvwoxZFk7WAY8WoJNMGGr6Cgtiuja04c=";

TEST(MarkingFields, QuantityAsDecimalsAndDigits) {
    // Count of decimals, then the digits as a 7-byte LE number.
    const struct {
        double Quantity;
        const char* Bytes;
    } Cases[] = {{2.5, "01 19000000000000"},   {3, "00 03000000000000"},     {0.5, "01 05000000000000"},
                 {1.125, "03 65040000000000"}, {0.001, "03 01000000000000"}, {0, "00 00000000000000"},
                 {120.75, "02 2B2F0000000000"}};
    for (const auto& C : Cases) EXPECT_EQ(TDevice::EncodeFVLNQuantity(C.Quantity), Hex(C.Bytes)) << C.Quantity;
    for (double Bad : {-1.0, std::nan(""), 1e20, std::numeric_limits<double>::infinity()})
        EXPECT_THROW(TDevice::EncodeFVLNQuantity(Bad), std::out_of_range) << Bad;
}

#ifdef FR_OPS_WITH_EMULATOR

TEST_P(OpsOnEmulator, CheckDecodesTheResultAndKeepsTheFirst) {
    TKMResult R;
    Device->CheckMarkingCode(1, KM, 1, 0, 0, 0, R);
    ASSERT_EQ(Sent(), std::vector<std::string>{Cmd(0xFF61, Bytes({1, 0, int(KM.size()), 0}) + KM)});
    EXPECT_EQ(R.LocalValidationResult, 3);
    EXPECT_EQ(R.RequestStatus, 0);
    EXPECT_EQ(R.MarkingValidationResult, 0x0F);
    EXPECT_EQ(R.KMType, 5);
    EXPECT_EQ(R.StatusInfo, 1);
    EXPECT_EQ(R.ProcessingResult, 0x0F);
    EXPECT_EQ(R.ProcessingCode, 0);
    EXPECT_NEAR(double(R.RequestDate), double(Emu.Device().Clock()), 5);
    EXPECT_EQ(R.TLVList, "2005;2100;2105;2109;2114;");
    ASSERT_EQ(Device->KMListResult().count(KM), 1u);
    EXPECT_EQ(Device->KMListResult()[KM].MarkingValidationResult, 0x0F);

    Device->AcceptMarkingCode(true);  // the storage checks the next code only then
    Emu.Device().SetMarkingCodeInvalid(KM);
    TKMResult Again;
    Device->CheckMarkingCode(1, KM, 1, 0, 0, 0, Again);
    EXPECT_EQ(Again.MarkingValidationResult, 0x05);
    EXPECT_EQ(Device->KMListResult()[KM].MarkingValidationResult, 0x0F);  // first result kept

    int32_t Status = 0, Notify = 0, Flags = 0, Saved = 0, Sales = 0, Size = 0, Messages = 0;
    Device->GetMarkingCodeWorkStatus(Status, Notify, Flags, Saved, Sales, Size, Messages);
    EXPECT_EQ(Status, 1);
    EXPECT_EQ(Saved, 1);
    Device->AcceptMarkingCode(false);
    Device->ClearBufferKM();
    Device->GetMarkingCodeWorkStatus(Status, Notify, Flags, Saved, Sales, Size, Messages);
    EXPECT_EQ(Saved, 0);
    const std::vector<std::string> S = Sent();
    EXPECT_EQ(S[S.size() - 3], Cmd(0xFF69, Bytes({0})));
    EXPECT_EQ(S[S.size() - 2], Cmd(0xFF69, Bytes({2})));
}

TEST_P(OpsOnEmulator, CheckSendsQuantityRequisitesForPlannedSales) {
    TKMResult R;
    // Each check is rejected before the next: the storage checks one code at a time.
    Device->CheckMarkingCode(2, KM, 0.25, 0, 1, 4, R);  // a quarter of a piece
    Device->AcceptMarkingCode(false);
    Device->CheckMarkingCode(4, KM, 0.5, 0, 0, 0, R);
    Device->AcceptMarkingCode(false);
    Device->CheckMarkingCode(3, KM, 0.5, 0, 1, 4, R);  // statuses 1 and 3 send nothing extra
    // 2108 = 0; 1291 holding 1293 = 1 and 1294 = 4 (8 bytes each); 1023 = 1 (no decimals).
    const std::string Fraction =
        Hex("3C08 0100 00"
            "0B05 1800 0D05 0800 0100000000000000 0E05 0800 0400000000000000"
            "FF03 0800 00 01000000000000");
    // 2108 = 0; 1023 = 0.5 (one decimal, digits 5).
    const std::string Half = Hex("3C08 0100 00 FF03 0800 01 05000000000000");
    EXPECT_EQ(Sent(),
              (std::vector<std::string>{
                  Cmd(0xFF61, Bytes({2, 0, int(KM.size()), int(Fraction.size())}) + KM + Fraction),
                  Cmd(0xFF69, Bytes({0})), Cmd(0xFF61, Bytes({4, 0, int(KM.size()), int(Half.size())}) + KM + Half),
                  Cmd(0xFF69, Bytes({0})), Cmd(0xFF61, Bytes({3, 0, int(KM.size()), 0}) + KM)}));
}

TEST_P(OpsOnEmulator, BindToTheItemJustRegistered) {
    OpenShift();
    TKMResult R;
    Device->CheckMarkingCode(1, KM, 1, 0, 0, 0, R);
    Device->AcceptMarkingCode(true);
    Device->OpenReceipt(0);
    Device->RegisterItem(1, 1, Money("10"), Money("10"), {}, 6, 1, 4, 33, "X");
    Forget();
    Device->BindMarkingCode(KM, true);
    EXPECT_EQ(Sent(), std::vector<std::string>{Cmd(0xFF67, char(KM.size()) + KM + "\xFF")});
    EXPECT_THROW(Device->BindMarkingCode(std::string(256, 'k'), false), std::length_error);
}

#endif  // FR_OPS_WITH_EMULATOR

}  // namespace
}  // namespace fr::ops
