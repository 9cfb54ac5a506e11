// Marking codes: the host checks a code with the fiscal storage (RequestKM),
// reads the result, and accepts or rejects it (ConfirmKM); a new request
// supersedes one left unconfirmed, which counts as rejected. Accepted codes
// stay in the device object's list of checked codes, from which a receipt
// binds them to their items; a rejected code leaves the list. Only fiscal
// storage format 1.2 knows these checks.
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "fiscal/uDriver.h"

namespace fr {

namespace {

// Room for the code in one check command: the frame's 255 bytes less the
// command code, the password, the four header bytes and the largest block
// of quantity TLVs (45 bytes).
constexpr size_t MaxMarkingCodeBytes = 200;
// ConfirmKM: 0 the good is sold with the code, 1 it is not.
constexpr int32_t ConfirmAccept = 0, ConfirmReject = 1;

void RequireFormat12(const TDeviceDriver& S) {
    if (S.FFFDVersion != ffd12) throw std::runtime_error("Данная операция не поддерживается");
}

[[noreturn]] void RaiseBadInput(const std::string& AWhat, const std::string& AValue) {
    throw EquException(1004, "Ошибка входных параметров команды. " + AWhat + ": «" + AValue + "»");
}

// An integer attribute from 0 to AMax; missing or empty is 0.
int32_t IntAttr(pugi::xml_node ANode, const char* AName, int64_t AMax) {
    const std::string T = AttrTrim(ANode, AName);
    if (T.empty()) return 0;
    const std::optional<int64_t> V = ParseInt(T);
    if (!V || *V < 0 || *V > AMax) RaiseBadAttribute(AName, AttrText(ANode, AName));
    return int32_t(*V);
}

const char* Bool(bool AValue) {
    return AValue ? "true" : "false";
}

}  // namespace

void TDriver::RequestKM(pugi::xml_document& AIn, pugi::xml_document& AOut) {
    TDeviceDriver& S = Session();
    RequireFormat12(S);

    const pugi::xml_node Request = AIn.child("RequestKM");
    if (!Request) throw EquException(1004, "Не найдена структура RequestKM");
    const pugi::xml_node Fraction = Request.child("FractionalQuantity");
    const std::string GUID = AttrText(Request, "GUID");
    const std::string Code = AttrBase64(Request, "MarkingCode");
    if (Code.empty()) RaiseBadAttribute("MarkingCode", AttrText(Request, "MarkingCode"));
    if (Code.size() > MaxMarkingCodeBytes)
        throw EquException(1004, "Ошибка входных параметров команды. Код маркировки длиннее " +
                                     std::to_string(MaxMarkingCodeBytes) + " байт");
    const int32_t PlannedStatus = IntAttr(Request, "PlannedStatus", 255);
    const double Quantity = AttrQuantity(Request, "Quantity", 0);
    if (!(Quantity >= 0 && Quantity < 1e9)) RaiseBadAttribute("Quantity", AttrText(Request, "Quantity"));
    const int32_t Measure = IntAttr(Request, "MeasureOfQuantity", 255);
    const int32_t Numerator = IntAttr(Fraction, "Numerator", INT32_MAX);
    const int32_t Denominator = IntAttr(Fraction, "Denominator", INT32_MAX);

    WithTCP([&] {
        CheckShift(false);
        TDevice& D = Device();
        // A request never confirmed is superseded: its code leaves the
        // checked list, so a receipt sends it as a product code and never
        // binds it, and the storage is told it is rejected, as it takes no
        // further check while a code waits for its decision.
        if (S.FRequestCounter == 1) {
            D.AcceptMarkingCode(false);
            D.KMListResult().erase(S.FCurrentKM);
            S.FRequestCounter = 0;
        }
        S.FCurrentKM = Code;
        D.SetCheckMarkCount(0);
        TKMResult Result;
        try {
            D.CheckMarkingCode(PlannedStatus, Code, Quantity, Measure, Numerator, Denominator, Result);
        } catch (...) {
            D.KMListResult().erase(Code);
            throw;
        }
        S.FKMResult = Result;
        S.FKMResult.GUID = GUID;
        pugi::xml_node R = AOut.append_child("RequestKMResult");
        R.append_attribute("Checking") = Bool((Result.LocalValidationResult & 1) != 0);
        R.append_attribute("CheckingResult") = Bool((Result.LocalValidationResult & 2) != 0);
        S.FRequestCounter = 1;
    });
}

void TDriver::GetProcessingKMResult(pugi::xml_document& AOut, int32_t& ARequestStatus) {
    const TDeviceDriver& S = Session();
    RequireFormat12(S);
    const TKMResult& K = S.FKMResult;
    pugi::xml_node R = AOut.append_child("ProcessingKMResult");
    R.append_attribute("GUID") = K.GUID.c_str();
    R.append_attribute("Result") = Bool((K.ProcessingResult & 2) != 0);
    R.append_attribute("ResultCode") = std::to_string(K.MarkingValidationResult).c_str();
    R.append_attribute("StatusInfo") = std::to_string(K.StatusInfo).c_str();
    R.append_attribute("HandleCode") = std::to_string(K.ProcessingCode).c_str();
    ARequestStatus = K.RequestStatus;
}

void TDriver::ConfirmKM(const std::string& ARequestGUID, int32_t AConfirmationType) {
    TDeviceDriver& S = Session();
    RequireFormat12(S);
    if (S.FRequestCounter != 1 || ARequestGUID != S.FKMResult.GUID)
        RaiseBadInput("Нет неподтвержденного запроса кода маркировки с идентификатором", ARequestGUID);
    if (AConfirmationType != ConfirmAccept && AConfirmationType != ConfirmReject)
        RaiseBadInput("Недопустимый тип подтверждения", std::to_string(AConfirmationType));
    WithTCP([&] {
        TDevice& D = Device();
        // The storage keeps an accepted result for the sale and drops a
        // rejected one; the driver's list follows it.
        D.AcceptMarkingCode(AConfirmationType == ConfirmAccept);
        if (AConfirmationType == ConfirmReject) D.KMListResult().erase(S.FCurrentKM);
        S.FRequestCounter = 0;
    });
}

void TDriver::ResetMarkingSession() {
    TDeviceDriver& S = Session();
    if (S.FFFDVersion != ffd12) return;
    WithTCP([&] {
        CheckShift(false);
        PrepareDevice();
        TDevice& D = Device();
        D.ClearBufferKM();
        D.KMListResult().clear();
        S.FRequestCounter = 0;
    });
}

void TDriver::OpenSessionRegistrationKM() {
    ResetMarkingSession();
}

void TDriver::CloseSessionRegistrationKM() {
    ResetMarkingSession();
}

}  // namespace fr
