// The answer decoders of the device layer: a device whose answers (from the
// result code on) are the fuzzer's bytes, one length-prefixed piece per
// command, answers one query of the state, the registers, the device tables
// or the fiscal storage; when the pieces run out, the link reports no
// answer. Every decoder must stay within the answer it was given.
#include <array>
#include <chrono>

#include "FuzzCommon.h"
#include "base/uXmlUtils.h"
#include "device/uDevice.h"

namespace {

class TFuzzDevice : public fr::TDevice {
public:
    explicit TFuzzDevice(fr::fuzz::TInput& AInput) : FInput(AInput) {
        SetPrintPollIntervals(0, 0);
        SetEndPrintingLimit(std::chrono::milliseconds(0));
        SetCheckMarkCount(3);  // no one-second retry when the storage is busy
    }
    int32_t RunCommand(const std::string&, const std::string&, int32_t, bool, bool AWaitResponse) override {
        FResponse.clear();
        if (FInput.Empty()) return 1007;
        const std::string Answer = FInput.Chunk();
        if (AWaitResponse) FResponse = Answer;
        return 0;
    }

private:
    fr::fuzz::TInput& FInput;
};

void Query(TFuzzDevice& D, uint8_t AWhich) {
    uint8_t B1 = 0, B2 = 0, B3 = 0, B4 = 0;
    int32_t I1 = 0, I2 = 0, I3 = 0, I4 = 0, I5 = 0, I6 = 0, I7 = 0;
    int64_t L1 = 0, L2 = 0;
    double Dbl = 0;
    std::string S1, S2;
    fr::TCurrency C;
    switch (AWhich % 24) {
        case 0:
            D.GetECRState(S1, B1, B2);
            break;
        case 1:
            D.GetDeviceType(B1, B2, B3, B4, S1);
            break;
        case 2:
            D.GetCashReg(241, Dbl);
            break;
        case 3:
            D.GetCashKReg(4201, Dbl);
            break;
        case 4:
            D.GetOperationReg(148, S1);
            break;
        case 5:
            D.GetOperationRegAsInt(152, I1);
            break;
        case 6: {
            fr::TFNCurrentStatus St;
            D.GetFNCurrentStatus(St);
            break;
        }
        case 7:
            (void)D.GetFNValidityDate();
            break;
        case 8:
            D.GetFFDVersionFN(S1);
            break;
        case 9:
            D.GetFiscalizationParameters(L1, S1, S2, I1, L2, B1);
            break;
        case 10:
            D.GetFNInfoExchangeStatus(I1, L1, L2);
            break;
        case 11:
            D.GetCurrentSessionParams(B1, L1, L2);
            break;
        case 12:
            D.IsDayOpened(B1);
            break;
        case 13:
            D.GetDateTimeKKT(L1);
            break;
        case 14:
            D.GetStateKKT(B1);
            break;
        case 15:
            D.GetLineLength(B1);
            break;
        case 16:
            D.GetMarkingCodeWorkStatus(I1, I2, I3, I4, I5, I6, I7);
            break;
        case 17: {
            pugi::xml_document Doc;
            fr::NewXmlDocument(Doc);
            D.GetDocumentFromFN(0, Doc);
            (void)fr::XmlToText(Doc);
            break;
        }
        case 18:
            (void)D.GetFFD();
            break;
        case 19:
            D.GetFieldAsStr(1, 1, 1, S1);
            break;
        case 20:
            D.GetFieldAsHex(1, 1, 1, S1);
            break;
        case 21:
            D.GetFieldAsCurrency(1, 1, 1, C);
            break;
        case 22: {
            fr::TKMResult R;
            D.CheckMarkingCode(2,
                               "0104600439931256215Qbag!\x1d"
                               "93Zjqw",
                               1.0, 0, 0, 0, R);
            break;
        }
        case 23: {
            std::array<fr::TCurrency, 16> Sums{};
            fr::TTaxSums Taxes{};
            D.CloseCheckEx(Sums, fr::TCurrency(), Taxes, 0, "", S1, L1);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    fr::fuzz::TInput In(AData, ASize);
    const uint8_t Which = In.Byte();
    TFuzzDevice D(In);
    try {
        Query(D, Which);
    } catch (const std::exception&) {
        // Refused answers are the expected outcome of most inputs.
    }
    return 0;
}
