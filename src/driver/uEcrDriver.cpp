#include "driver/uEcrDriver.h"

#include <cmath>
#include <optional>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "base/uXmlUtils.h"

namespace fr {

TEcrDriver::TEcrDriver() { ChangeDriverInfo(&TEcrDriver::UpdateDriverInfo); }

const TClassDecl& TEcrDriver::Decl() {
    static const TClassDecl D = MakeClassDecl<TEcrDriver>(&TCommonDriver::Decl(), [](auto& B) {
        using T = TEcrDriver;
        B.template Method<&T::HostGetDataKKT>("GetDataKKT", "ПолучитьПараметрыККТ", 2);
        B.template Method<&T::HostOperationFN>("OperationFN", "ОперацияФН", 3);
        B.template Method<&T::HostOpenShift>("OpenShift", "ОткрытьСмену", 3);
        B.template Method<&T::HostCloseShift>("CloseShift", "ЗакрытьСмену", 3);
        B.template Method<&T::HostProcessCheck>("ProcessCheck", "СформироватьЧек", 4);
        B.template Method<&T::HostProcessCorrectionCheck>("ProcessCorrectionCheck", "СформироватьЧекКоррекции", 3);
        B.template Method<&T::HostPrintTextDocument>("PrintTextDocument", "НапечататьТекстовыйДокумент", 2);
        B.template Method<&T::HostCashInOutcome>("CashInOutcome", "НапечататьЧекВнесенияВыемки", 3);
        B.template Method<&T::HostPrintXReport>("PrintXReport", "НапечататьОтчетБезГашения", 2);
        B.template Method<&T::HostGetCurrentStatus>("GetCurrentStatus", "ПолучитьТекущееСостояние", 3);
        B.template Method<&T::HostReportCurrentStatusOfSettlements>("ReportCurrentStatusOfSettlements",
                                                                    "ОтчетОТекущемСостоянииРасчетов", 3);
        B.template Method<&T::HostOpenCashDrawer>("OpenCashDrawer", "ОткрытьДенежныйЯщик", 1);
        B.template Method<&T::HostGetLineLength>("GetLineLength", "ПолучитьШиринуСтроки", 2);
        B.template Method<&T::HostPrintCheckCopy>("PrintCheckCopy", "НапечататьКопиюЧека", 2);
        B.template Method<&T::HostOpenSessionRegistrationKM>("OpenSessionRegistrationKM",
                                                             "ОткрытьСессиюРегистрацииКМ", 1);
        B.template Method<&T::HostCloseSessionRegistrationKM>("CloseSessionRegistrationKM",
                                                              "ЗакрытьСессиюРегистрацииКМ", 1);
        B.template Method<&T::HostRequestKM>("RequestKM", "ЗапросКМ", 3);
        B.template Method<&T::HostGetProcessingKMResult>("GetProcessingKMResult", "ПолучитьРезультатыЗапросаКМ", 3);
        B.template Method<&T::HostConfirmKM>("ConfirmKM", "ПодтвердитьКМ", 3);
        B.template Method<&T::HostSetDateTime>("SetDateTime", "УстановитьДатуВремя", 2);
        B.template Method<&T::HostGetDateTime>("GetDateTime", "ПолучитьДатуВремя", 2);
        B.template Method<&T::HostGetDocumentInformation>("GetDocumentInformation", "ПолучитьИнформациюПоДокументу",
                                                          3);
    });
    return D;
}

void TEcrDriver::UpdateDriverInfo(TDriverInfo& ADriverInfo) {
    TCommonDriver::UpdateDriverInfo(ADriverInfo);
    ADriverInfo.EquipmentType = etECR;
    ADriverInfo.IntegrationComponent = false;
}

void TEcrDriver::HandleDriverException(tVariant* RetValue) {
    HandleException(CurrentExceptionMessage(), RetValue, CurrentExceptionCode());
}

void TEcrDriver::ReadInput(const TV8Call& ACall, long I, pugi::xml_document& ADoc) {
    LoadXml(ADoc, StripInvalidXmlChars(std::string_view(ACall.GetString(I))));
}

template <void (TEcrDriver::*Op)(pugi::xml_document&, pugi::xml_document&)>
void TEcrDriver::InOut(TV8Call& ACall, long IIn, long IOut) {
    Wrapped(ACall, [&] {
        pugi::xml_document In, Out;
        ReadInput(ACall, IIn, In);
        NewXmlDocument(Out);
        (this->*Op)(In, Out);
        ACall.SetString(IOut, XmlToText(Out));
    });
}

void TEcrDriver::HostGetDataKKT(TV8Call& ACall) {
    Wrapped(ACall, [&] {
        pugi::xml_document Out;
        NewXmlDocument(Out);
        GetDataKKT(Out);
        ACall.SetString(1, XmlToText(Out));
    });
}

void TEcrDriver::HostOperationFN(TV8Call& ACall) {
    Wrapped(ACall, [&] {
        // A type beyond one byte would otherwise arrive as another operation
        // (257 as a registration).
        const int32_t Type = ACall.GetInt(1);
        if (Type < 0 || Type > 255) RaiseEquError(1004);
        // A text without any element is an input without its document
        // element, which the operation refuses as bad input; any other
        // parse error is reported as such.
        pugi::xml_document In;
        LoadXml(In, StripInvalidXmlChars(std::string_view(ACall.GetString(2))), /*AAllowNoElement=*/true);
        OperationFN(uint8_t(Type), In);
    });
}

void TEcrDriver::HostOpenShift(TV8Call& ACall) { InOut<&TEcrDriver::OpenShift>(ACall, 1, 2); }
void TEcrDriver::HostCloseShift(TV8Call& ACall) { InOut<&TEcrDriver::CloseShift>(ACall, 1, 2); }

void TEcrDriver::HostProcessCheck(TV8Call& ACall) {
    Wrapped(ACall, [&] {
        const bool Electronically = ACall.GetBool(1);
        pugi::xml_document In, Out;
        ReadInput(ACall, 2, In);
        NewXmlDocument(Out);
        ProcessCheck(Electronically, In, Out, false);
        ACall.SetString(3, XmlToText(Out));
    });
}

void TEcrDriver::HostProcessCorrectionCheck(TV8Call& ACall) {
    InOut<&TEcrDriver::ProcessCorrectionCheck>(ACall, 1, 2);
}

void TEcrDriver::HostPrintTextDocument(TV8Call& ACall) {
    Wrapped(ACall, [&] {
        pugi::xml_document In;
        ReadInput(ACall, 1, In);
        PrintTextDocument(In);
    });
}

// The amount of a cash document as four-decimal money (x 10 000, halves to
// even). A text that is not a number, NaN, an infinity or a value beyond the
// money range is refused naming the value, instead of becoming zero.
TCurrency TEcrDriver::CashAmount(const TV8Call& ACall, long I) {
    const auto Refuse = [](const std::string& AValue) {
        throw EquException(1004, "Ошибка входных параметров команды. Недопустимая сумма внесения/выемки: «" +
                                     AValue + "»");
    };
    if (ACall.IsString(I)) {
        const std::string Text = ACall.GetString(I);
        const std::optional<TCurrency> V = TCurrency::Parse(Text);
        if (!V) Refuse(Text);
        return *V;
    }
    const double V = ACall.GetDouble(I);
    if (!std::isfinite(V) || std::fabs(V) > 9e14) Refuse(FormatDouble(V));
    return TCurrency::FromDouble(V);
}

void TEcrDriver::HostCashInOutcome(TV8Call& ACall) {
    Wrapped(ACall, [&] {
        pugi::xml_document In;
        ReadInput(ACall, 1, In);
        CashInOutcome(In, CashAmount(ACall, 2));
    });
}

void TEcrDriver::HostPrintXReport(TV8Call& ACall) {
    Wrapped(ACall, [&] {
        pugi::xml_document In;
        ReadInput(ACall, 1, In);
        PrintXReport(In);
    });
}

void TEcrDriver::HostGetCurrentStatus(TV8Call& ACall) { InOut<&TEcrDriver::GetCurrentStatus>(ACall, 1, 2); }

void TEcrDriver::HostReportCurrentStatusOfSettlements(TV8Call& ACall) {
    InOut<&TEcrDriver::ReportCurrentStatusOfSettlements>(ACall, 1, 2);
}

void TEcrDriver::HostOpenCashDrawer(TV8Call& ACall) {
    Wrapped(ACall, [&] { OpenCashDrawer(); });
}

void TEcrDriver::HostGetLineLength(TV8Call& ACall) {
    Wrapped(ACall, [&] { ACall.SetInt(1, GetLineLength()); });
}

void TEcrDriver::HostPrintCheckCopy(TV8Call& ACall) {
    Wrapped(ACall, [&] { PrintCheckCopy(ACall.GetString(1)); });
}

void TEcrDriver::HostOpenSessionRegistrationKM(TV8Call& ACall) {
    Wrapped(ACall, [&] { OpenSessionRegistrationKM(); });
}

void TEcrDriver::HostCloseSessionRegistrationKM(TV8Call& ACall) {
    Wrapped(ACall, [&] { CloseSessionRegistrationKM(); });
}

void TEcrDriver::HostRequestKM(TV8Call& ACall) { InOut<&TEcrDriver::RequestKM>(ACall, 1, 2); }

void TEcrDriver::HostGetProcessingKMResult(TV8Call& ACall) {
    Wrapped(ACall, [&] {
        pugi::xml_document Out;
        NewXmlDocument(Out);
        int32_t Status = 0;
        GetProcessingKMResult(Out, Status);
        ACall.SetString(1, XmlToText(Out));
        ACall.SetInt(2, Status);
    });
}

void TEcrDriver::HostConfirmKM(TV8Call& ACall) {
    Wrapped(ACall, [&] { ConfirmKM(ACall.GetString(1), ACall.GetInt(2)); });
}

void TEcrDriver::HostSetDateTime(TV8Call& ACall) {
    Wrapped(ACall, [&] { SetDateTime(ACall.GetString(1)); });
}

void TEcrDriver::HostGetDateTime(TV8Call& ACall) {
    Wrapped(ACall, [&] { ACall.SetString(1, GetDateTime()); });
}

void TEcrDriver::HostGetDocumentInformation(TV8Call& ACall) {
    Wrapped(ACall, [&] {
        const int32_t Number = ACall.GetInt(1);
        pugi::xml_document Out;
        NewXmlDocument(Out);
        GetDocumentInformation(Number, Out);
        ACall.SetString(2, XmlToText(Out));
    });
}

}  // namespace fr
