// Registration of the cash register and its fiscal storage: the registration
// data table, registration, change of the registration parameters, closing
// of the storage, and stored fiscal documents read back by number.
#include <ctime>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "base/uXmlUtils.h"
#include "fiscal/uDriver.h"
#include "log/uLog.h"

namespace fr {

namespace {

[[noreturn]] void RaiseBadInput() {
    throw EquException(1004, "Ошибка входных параметров команды");
}

void SetAttr(pugi::xml_node N, const char* AName, const std::string& AValue) {
    N.append_attribute(AName) = AValue.c_str();
}

// Indexes of the set bits among the low ACount bits, ascending, joined by ",".
std::string BitList(uint8_t AMask, int ACount) {
    std::string Out;
    for (int I = 0; I < ACount; ++I)
        if (AMask & (1u << I)) Out += (Out.empty() ? "" : ",") + std::to_string(I);
    return Out;
}

// Bit i (i below ACount) is set when the digit i occurs anywhere in AText.
uint8_t DigitMask(const std::string& AText, int ACount) {
    uint8_t Mask = 0;
    for (char C : AText)
        if (C >= '0' && C < '0' + ACount) Mask |= uint8_t(1u << (C - '0'));
    return Mask;
}

// Re-registration reasons: integers separated by "." or ","; code n sets bit
// n-1. An empty text gives no codes.
uint32_t ReasonMask(const std::string& AText) {
    uint32_t Mask = 0;
    if (AText.empty()) return Mask;
    size_t Start = 0;
    for (;;) {
        const size_t End = AText.find_first_of(".,", Start);
        const std::string Item = AText.substr(Start, End == std::string::npos ? std::string::npos : End - Start);
        const std::optional<int64_t> Code = ParseInt(Item);
        if (!Code)
            throw std::runtime_error("Код причины изменения сведений о ККТ «" + Item + "» не является целым числом");
        // A code outside the 32 bits of the mask cannot be sent.
        if (*Code < 1 || *Code > 32) RaiseBadInput();
        Mask |= uint32_t(1) << (*Code - 1);
        if (End == std::string::npos) break;
        Start = End + 1;
    }
    return Mask;
}

// A company INN goes into a 12-byte field of the report command (any other
// length would shift the fields after it), and the storage refuses one whose
// check digits do not fit only after the tables have been written.
bool IsCompanyINN(const std::string& AValue) {
    return IsValidINN(Trim(AValue));
}

// The input of OperationFN, read and checked before anything is sent.
struct TFiscalInput {
    uint8_t FormatCode = 0;  // 3 for "1.1", 4 for "1.2"
    std::string CashierName;
    std::string CashierINN;
    std::string KKTNumber;  // padded to at least 20 bytes
    std::string CompanyName;
    std::string INN;  // normalized
    std::string SaleAddress;
    std::string SaleLocation;
    uint8_t TaxationSystems = 0;
    uint8_t WorkModes = 0;
    bool IsAutomatic = false;
    uint32_t Reasons = 0;
    uint8_t AgentTypes = 0;
    std::string AutomaticNumber;  // padded to at least 20 bytes
    std::string OFDCompany;
    std::string OFDCompanyINN;  // normalized
    std::string SenderEmail;
    std::string FNSURL;
    uint8_t ExtendedModes = 0;
};

// Texts are converted to the device code page; the table holds ANSI text.
TFiscalInput ReadFiscalInput(const pugi::xml_document& AIn, bool ARegisters) {
    TFiscalInput R;
    const pugi::xml_node E = AIn.document_element();
    if (!E) RaiseBadInput();
    const auto Text = [&E](const char* AName) { return std::string(E.attribute(AName).value()); };
    const auto Ansi = [&Text](const char* AName) { return Utf8ToAnsi(Text(AName)); };
    const auto Bool = [&Text](const char* AName) { return SameTextAscii(Text(AName), "True"); };
    const std::string Version = Text("FFDVersion");
    if (Version == "1.1")
        R.FormatCode = 3;
    else if (Version == "1.2")
        R.FormatCode = 4;
    else
        RaiseBadInput();
    R.CashierName = Ansi("CashierName");
    try {
        R.CashierINN = Utf8ToAnsi(TDriver::CheckCashierINN(Text("CashierINN")));
    } catch (const EquException&) {
        RaiseBadInput();
    }
    R.KKTNumber = PadAnsiRight(Ansi("KKTNumber"), 20, false);
    R.CompanyName = Ansi("CompanyName");
    if (ARegisters && !IsCompanyINN(Text("INN"))) RaiseBadInput();
    R.INN = Utf8ToAnsi(TDriver::NormalizeINN(Text("INN")));
    R.SaleAddress = Ansi("SaleAddress");
    R.SaleLocation = Ansi("SaleLocation");
    R.TaxationSystems = DigitMask(Text("TaxationSystems"), 6);
    const bool Offline = Bool("IsOffline");
    R.IsAutomatic = Bool("IsAutomatic");
    const bool Online = Bool("IsOnline");
    const bool Encrypted = Bool("IsEncrypted");
    const bool Service = Bool("IsService");
    const bool BSO = Bool("BSOSing");
    SetBitTo8(R.WorkModes, 0, Encrypted);
    SetBitTo8(R.WorkModes, 1, Offline);
    SetBitTo8(R.WorkModes, 2, R.IsAutomatic);
    SetBitTo8(R.WorkModes, 3, Service);
    SetBitTo8(R.WorkModes, 4, BSO);
    SetBitTo8(R.WorkModes, 5, Online);
    const std::string Reasons = Text("RegistrationLabelCodes");
    R.AgentTypes = DigitMask(Text("AgentTypes"), 7);
    R.AutomaticNumber = PadAnsiRight(Ansi("AutomaticNumber"), 20, false);
    R.OFDCompany = Ansi("OFDCompany");
    const std::string OFDINN = Trim(Text("OFDCompanyINN"));
    if (ARegisters && !OFDINN.empty() && !IsCompanyINN(OFDINN)) RaiseBadInput();
    R.OFDCompanyINN = Utf8ToAnsi(TDriver::NormalizeINN(OFDINN));
    R.SenderEmail = Ansi("SenderEmail");
    R.FNSURL = Ansi("FNSURL");
    const char* const Extended[] = {"IsExcisable", "IsGambling", "IsLottery",  "IsAutomaticPrinter",
                                    "IsMarking",   "IsPawnshop", "IsAssurance"};
    for (int I = 0; I < 7; ++I) SetBitTo8(R.ExtendedModes, I, Bool(Extended[I]));
    R.Reasons = ReasonMask(Reasons);
    return R;
}

}  // namespace

std::string TDriver::FFDVersionText(int32_t ACode) {
    switch (ACode) {
        case 1:
            return "1.0";
        case 2:
            return "1.0.5";
        case 3:
            return "1.1";
        case 4:
            return "1.2";
        default:
            throw std::runtime_error("Неизвестная версия ФФД");
    }
}

void TDriver::GetDataKKT(pugi::xml_document& AOut) {
    WithTCP([&] {
        TDevice& D = Device();
        std::string FNVersion;
        D.GetFFDVersionFN(FNVersion);
        const bool Fiscal = IsFiscalModeOpen();
        // What could be read goes to the host even when a later field fails:
        // a device without one of the fields still reports the others.
        try {
            pugi::xml_node P = AOut.append_child("Parameters");
            SetAttr(P, "Fiscal", XmlBool(Fiscal));
            if (!Fiscal) return;
            int64_t FiscDateTime = 0, DocNumber = 0;
            std::string UserINN, RegNum;
            int32_t TaxSystem = 0;
            uint8_t ExtSigns = 0;
            D.GetFiscalizationParameters(FiscDateTime, UserINN, RegNum, TaxSystem, DocNumber, ExtSigns);
            const auto Str = [&D](uint8_t AField) {
                std::string V;
                D.GetFieldAsStr(18, 1, AField, V);
                return V;
            };
            const auto Text = [&Str](uint8_t AField) { return AnsiToUtf8(Trim(Str(AField))); };
            const auto Mask = [&Str](uint8_t AField) {
                const std::string V = Str(AField);
                return V.empty() ? uint8_t(0) : uint8_t(V[0]);
            };
            const auto Byte = [&D](uint8_t AField) {
                uint8_t V = 0;
                D.GetFieldAsByte(18, 1, AField, V);
                return V;
            };
            SetAttr(P, "DocumentNumber", std::to_string(DocNumber));
            SetAttr(P, "DateTime", UnixTimeToXmlDateTime(FiscDateTime));
            SetAttr(P, "KKTSerialNumber", Text(1));
            SetAttr(P, "FFDVersionFN", FNVersion);
            const std::string Version = FFDVersionText(Session().FFFDVersion + 1);
            SetAttr(P, "FFDVersionKKT", Version);
            SetAttr(P, "FFDVersion", Version);
            SetAttr(P, "INN", Text(2));
            SetAttr(P, "KKTNumber", Text(3));
            SetAttr(P, "FNSerialNumber", Text(4));
            SetAttr(P, "TaxationSystems", BitList(Mask(5), 6));
            SetAttr(P, "CompanyName", Text(7));
            SetAttr(P, "SaleAddress", Text(9));
            SetAttr(P, "SaleLocation", Text(14));
            SetAttr(P, "OFDCompany", Text(10));
            SetAttr(P, "OFDCompanyINN", Text(12));
            SetAttr(P, "AgentTypes", BitList(Mask(16), 7));
            SetAttr(P, "FNSURL", Text(13));
            SetAttr(P, "SenderEmail", Text(15));
            const uint8_t Modes = Byte(6);
            const char* const ModeNames[] = {"IsEncrypted", "IsOffline", "IsAutomatic",
                                             "IsService",   "BSOSing",   "IsOnline"};
            for (int I = 0; I < 6; ++I) SetAttr(P, ModeNames[I], XmlBool(Modes & (1u << I)));
            const uint8_t Extended = Byte(21);
            const char* const ExtendedNames[] = {"IsExcisable", "IsGambling", "IsLottery",  "IsAutomaticPrinter",
                                                 "IsMarking",   "IsPawnshop", "IsAssurance"};
            for (int I = 0; I < 7; ++I) SetAttr(P, ExtendedNames[I], XmlBool(Extended & (1u << I)));
        } catch (const std::exception& E) {
            WriteLog("TDriver", std::string("GetDataKKT: ") + E.what(), llError);
        }
    });
}

void TDriver::OperationFN(uint8_t AOperationType, pugi::xml_document& AIn) {
    // Every refusal of the input comes before the first command, so that a
    // refused call leaves the device as it was.
    if (AOperationType < 1 || AOperationType > 3) RaiseBadInput();
    const TFiscalInput In = ReadFiscalInput(AIn, AOperationType != 3);
    WithReportBracket(true, [&] {
        TDeviceDriver& S = Session();
        TDevice& D = S.GetDevice();
        // Changing the registration needs a closed shift; a storage waiting for
        // its first registration has no shift to ask about.
        if (AOperationType == 2) CheckShift(true);
        D.PrintPrevDoc();
        D.SetDateTime(LocalNow());
        if (AOperationType == 3) {
            D.FNClose();
        } else {
            // The begin command lets the storage refuse a registration in its
            // present state before any table is written.
            const uint8_t ReportType = AOperationType == 1 ? 0 : (In.Reasons & 0x01) ? 1 : 2;
            D.FNBeginRegistrationReport(ReportType);
            if (!Trim(In.CashierINN).empty()) D.SetFNRequisite(1203, In.CashierINN);
            D.SetFieldAsStr(18, 1, 10, In.OFDCompany);
            D.SetFieldAsStr(18, 1, 12, In.OFDCompanyINN);
            D.SetFieldAsStr(18, 1, 7, In.CompanyName);
            D.SetFieldAsStr(18, 1, 8, In.CashierName);
            D.SetFieldAsStr(18, 1, 9, In.SaleAddress);
            D.SetFieldAsStr(18, 1, 14, In.SaleLocation);
            D.SetFieldAsStr(18, 1, 15, In.SenderEmail);
            D.SetFieldAsStr(18, 1, 13, In.FNSURL);
            D.SetFieldAsByte(17, 1, 17, In.FormatCode);
            D.SetFieldAsByte(18, 1, 21, In.ExtendedModes);
            if (In.IsAutomatic) D.SetFieldAsStr(24, 1, 1, In.AutomaticNumber);
            if (In.FormatCode == 3) D.SetFieldAsByte(18, 1, 16, In.AgentTypes);
            if (AOperationType == 1) {
                D.FNBuildRegistrationReport(In.INN, In.KKTNumber, In.TaxationSystems, In.WorkModes);
            } else {
                const uint8_t Reason = (In.Reasons & 0x01) ? 1 : (In.Reasons & 0x02) ? 2 : 4;
                D.FNBuildReregistrationReport(In.INN, In.KKTNumber, In.TaxationSystems, In.WorkModes, Reason);
            }
            // The device now works in the format just registered.
            S.FFFDVersion = In.FormatCode == 3 ? ffd11 : ffd12;
            D.SetFFDVersion(S.FFFDVersion);
        }
        D.WaitForPrint();
        CutReceipt(false, true, -1);
    });
}

void TDriver::GetDocumentInformation(int32_t ADocumentNumber, pugi::xml_document& AOut) {
    WithTCP([&] {
        // A document left half-read would make the storage refuse the request.
        Device().UnlockDataOutputMode();
        Device().GetDocumentFromFN(ADocumentNumber, AOut);
    });
}

}  // namespace fr
