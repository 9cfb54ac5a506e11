#include "frame/v8napi.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <stdexcept>

#include "base/uCommonUtils.h"
#include "base/uStrings.h"
#include "log/uLog.h"

namespace fr {

std::atomic<bool> SingleSessionMode{false};

void TDeviceLogFlags::Set(const std::string& ADeviceID, bool AEnabled) {
    std::lock_guard G(FLock);
    FFlags[ADeviceID] = AEnabled;
}

void TDeviceLogFlags::Remove(const std::string& ADeviceID) {
    std::lock_guard G(FLock);
    FFlags.erase(ADeviceID);
}

std::optional<bool> TDeviceLogFlags::Find(const std::string& ADeviceID) const {
    std::lock_guard G(FLock);
    const auto It = FFlags.find(ADeviceID);
    if (It == FFlags.end()) return std::nullopt;
    return It->second;
}

size_t TDeviceLogFlags::Count() const {
    std::lock_guard G(FLock);
    return FFlags.size();
}

void TDeviceLogFlags::Clear() {
    std::lock_guard G(FLock);
    FFlags.clear();
}

TDeviceLogFlags& DeviceLogFlags() {
    static TDeviceLogFlags Flags;
    return Flags;
}

TClassRegList& ClassRegList() {
    static TClassRegList List;
    return List;
}

// ---------------------------------------------------------------- registry

tVariant& TDefParamList::Add(int32_t AParamNum, uint16_t AType) {
    Values.push_back(TDefParamValue{AParamNum - 1, tVariant{}});
    TempParam = &Values.back();
    TempParam->Value.vt = AType;
    return TempParam->Value;
}

void TDefParamList::AddInt(int32_t AValue, int32_t AParamNum) { Add(AParamNum, VTYPE_I4).lVal = AValue; }
void TDefParamList::AddDouble(double AValue, int32_t AParamNum) { Add(AParamNum, VTYPE_R8).dblVal = AValue; }
void TDefParamList::AddDate(double AValue, int32_t AParamNum) { Add(AParamNum, VTYPE_DATE).date = AValue; }
void TDefParamList::AddBool(bool AValue, int32_t AParamNum) { Add(AParamNum, VTYPE_BOOL).bVal = AValue; }

void TDefParamList::AddWString(const WCHAR_T* AValue, uint32_t ALength, int32_t AParamNum) {
    tVariant& V = Add(AParamNum, VTYPE_PWSTR);
    V.pwstrVal = const_cast<WCHAR_T*>(AValue);
    V.wstrLen = ALength;
}

void TDefParamList::AddAString(const char* AValue, uint32_t ALength, int32_t AParamNum) {
    tVariant& V = Add(AParamNum, VTYPE_PSTR);
    V.pstrVal = const_cast<char*>(AValue);
    V.strLen = ALength;
}

const TDefParamValue* TDefParamList::Find(int32_t ANum) const {
    for (const auto& V : Values)
        if (V.Num == ANum) return &V;
    return nullptr;
}

TMethReg& TClassReg::AddMethod(std::u16string AMethName, std::u16string AMethNameLoc, bool AIsFunction,
                               TFuncEntry AFunc, TProcEntry AProc, int32_t AParamCount) {
    TMethReg M;
    M.MethName = std::move(AMethName);
    M.MethNameLoc = std::move(AMethNameLoc);
    M.IsFunction = AIsFunction;
    M.ExecuteFunc = AFunc;
    M.ExecuteProc = AProc;
    M.ParamCount = AParamCount;
    M.DefParams = std::make_unique<TDefParamList>();
    MethList.push_back(std::move(M));
    return MethList.back();
}

TMethReg& TClassReg::AddFunc(std::u16string AMethName, std::u16string AMethNameLoc, TFuncEntry AExecute,
                             int32_t AParamCount) {
    return AddMethod(std::move(AMethName), std::move(AMethNameLoc), true, AExecute, nullptr, AParamCount);
}

TMethReg& TClassReg::AddProc(std::u16string AMethName, std::u16string AMethNameLoc, TProcEntry AExecute,
                             int32_t AParamCount) {
    return AddMethod(std::move(AMethName), std::move(AMethNameLoc), false, nullptr, AExecute, AParamCount);
}

TPropReg& TClassReg::AddProp(std::u16string APropName, std::u16string APropNameLoc, bool AIsReadable,
                             bool AIsWritable, TPropEntry APropGetSet) {
    PropList.push_back(TPropReg{std::move(APropName), std::move(APropNameLoc), AIsReadable, AIsWritable, APropGetSet});
    return PropList.back();
}

TClassReg& TClassRegList::RegisterClass(TObjectFactory AUserClass, std::u16string ARegisterExtensionAs,
                                        std::u16string ANatApiClassName) {
    auto R = std::make_unique<TClassReg>();
    R->UserClass = std::move(AUserClass);
    R->RegisterExtensionAs = std::move(ARegisterExtensionAs);
    R->NatApiClassName = std::move(ANatApiClassName);
    if (!FClassNames.empty()) FClassNames += u'|';
    FClassNames += R->NatApiClassName;
    FHostClassNames = ToHostText(FClassNames);
    ClassList.push_back(std::move(R));
    return *ClassList.back();
}

const TClassReg* TClassRegList::Find(std::u16string_view ANatApiClassName) const {
    for (const auto& C : ClassList)
        if (C->NatApiClassName == ANatApiClassName) return C.get();
    return nullptr;
}

void TClassRegList::Clear() {
    ClassList.clear();
    FClassNames.clear();
    FHostClassNames.clear();
}

// ------------------------------------------------------------ host text

std::u16string FromHostText(const WCHAR_T* AText) {
    if (!AText) return {};
    size_t N = 0;
    while (AText[N]) ++N;
    return FromHostText(AText, N);
}

std::u16string FromHostText(const WCHAR_T* AText, size_t ALength) {
    if (!AText) return {};
    std::u16string S(ALength, u'\0');
    for (size_t I = 0; I < ALength; ++I) S[I] = char16_t(AText[I]);
    return S;
}

std::basic_string<WCHAR_T> ToHostText(std::u16string_view AText) {
    std::basic_string<WCHAR_T> S(AText.size(), WCHAR_T(0));
    for (size_t I = 0; I < AText.size(); ++I) S[I] = WCHAR_T(AText[I]);
    return S;
}

bool SameHostText(std::u16string_view AText, const WCHAR_T* AHost) {
    if (!AHost) return false;
    for (const char16_t C : AText)
        if (*AHost == 0 || char16_t(*AHost++) != C) return false;
    return *AHost == 0;
}

// ------------------------------------------------------------ host values

std::string V8GetWString(const tVariant* V) {
    if (!V || (V->vt & VTYPE_TYPEMASK) != VTYPE_PWSTR || (V->vt & ~VTYPE_TYPEMASK) || !V->pwstrVal) return {};
    return Utf16ToUtf8(FromHostText(V->pwstrVal, V->wstrLen));
}

bool V8IsString(const tVariant* V) { return V && (V->vt == VTYPE_PSTR || V->vt == VTYPE_PWSTR); }

namespace {

// The host's one-byte boolean: any byte other than 0 is true. Read as a byte,
// since a value other than 0 or 1 is not a valid C++ bool.
bool HostBool(const tVariant& V) {
    uint8_t B = 0;
    std::memcpy(&B, &V.bVal, 1);
    return B != 0;
}

int32_t TruncToInt(double D) {
    if (std::isnan(D)) return 0;
    const double T = std::trunc(D);
    if (T <= -2147483648.0) return INT32_MIN;
    if (T >= 2147483647.0) return INT32_MAX;
    return int32_t(T);
}

}  // namespace

int32_t V8GetInt(const tVariant* V) {
    if (!V) return 0;
    switch (V->vt) {
        case VTYPE_I4: return V->lVal;
        case VTYPE_ERROR: return V->errCode;
        case VTYPE_I2: return V->shortVal;
        case VTYPE_UI1: return V->ui8Val;
        case VTYPE_R4: return TruncToInt(V->fltVal);
        case VTYPE_R8: return TruncToInt(V->dblVal);
        case VTYPE_DATE: return TruncToInt(V->date);
        case VTYPE_PWSTR: {
            const auto N = ParseInt(V8GetWString(V));
            return (N && *N >= INT32_MIN && *N <= INT32_MAX) ? int32_t(*N) : 0;
        }
        default: return 0;
    }
}

double V8GetDouble(const tVariant* V) {
    if (!V) return 0;
    switch (V->vt) {
        case VTYPE_R8: return V->dblVal;
        case VTYPE_I2: return V->shortVal;
        case VTYPE_I4: return V->lVal;
        case VTYPE_ERROR: return V->errCode;
        case VTYPE_UI1: return V->ui8Val;
        case VTYPE_R4: return V->fltVal;
        case VTYPE_DATE: return V->date;
        case VTYPE_PWSTR: return ParseDouble(V8GetWString(V)).value_or(0);
        default: return 0;
    }
}

bool V8GetBool(const tVariant* V) {
    if (V && V->vt == VTYPE_BOOL) return HostBool(*V);
    return V8GetInt(V) != 0;
}

std::string V8TypeName(const tVariant* V) {
    static const char* const Names[] = {
        "VTYPE_EMPTY", "VTYPE_NULL", "VTYPE_I2",   "VTYPE_I4",   "VTYPE_R4",      "VTYPE_R8",    "VTYPE_DATE",
        "VTYPE_TM",    "VTYPE_PSTR", "VTYPE_INTERFACE", "VTYPE_ERROR", "VTYPE_BOOL", "VTYPE_VARIANT", "VTYPE_I1",
        "VTYPE_UI1",   "VTYPE_UI2",  "VTYPE_UI4",  "VTYPE_I8",   "VTYPE_UI8",     "VTYPE_INT",   "VTYPE_UINT",
        "VTYPE_HRESULT", "VTYPE_PWSTR", "VTYPE_BLOB", "VTYPE_CLSID"};
    if (!V) return "unknown type";
    const unsigned Code = V->vt & VTYPE_TYPEMASK;
    std::string S;
    if (Code < std::size(Names))
        S = Names[Code];
    else if (Code == VTYPE_STR_BLOB)
        S = "VTYPE_STR_BLOB";
    else
        S = "unknown type";
    if (V->vt & VTYPE_BYREF)
        S += " by ref";
    else if (V->vt & VTYPE_ARRAY)
        S += " array";
    else if (V->vt & VTYPE_VECTOR)
        S += " vector";
    return S;
}

std::string TmToText(const struct tm& T) {
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%02d.%02d.%04d", T.tm_mday, T.tm_mon + 1, T.tm_year + 1900);
    std::string S = Buf;
    if (T.tm_hour || T.tm_min || T.tm_sec) {
        std::snprintf(Buf, sizeof Buf, " %02d:%02d:%02d", T.tm_hour, T.tm_min, T.tm_sec);
        S += Buf;
    }
    return S;
}

namespace {

// DATE: days since 1899-12-30, the time of day as the fraction.
std::string DateToText(double ADays) {
    constexpr double kEpochDays = 25569.0;  // 1970-01-01
    const double Seconds = std::round((ADays - kEpochDays) * 86400.0);
    // Years 1 to 9999 only; anything else is shown as the number it is.
    if (!(Seconds >= -62135596800.0 && Seconds <= 253402300799.0)) return FormatDouble(ADays);
    return TmToText(UtcTimeOf(int64_t(Seconds)));
}

}  // namespace

std::string V8ToText(const tVariant* V) {
    if (!V) return {};
    switch (V->vt) {
        case VTYPE_EMPTY: return {};
        case VTYPE_NULL: return "NULL";
        case VTYPE_I1: return std::to_string(V->i8Val);
        case VTYPE_I2: return std::to_string(V->shortVal);
        case VTYPE_I4: return std::to_string(V->lVal);
        case VTYPE_INT: return std::to_string(V->intVal);
        case VTYPE_ERROR: return std::to_string(V->errCode);
        case VTYPE_HRESULT: return std::to_string(V->hRes);
        case VTYPE_I8: return std::to_string(V->llVal);
        case VTYPE_UI1: return std::to_string(V->ui8Val);
        case VTYPE_UI2: return std::to_string(V->ushortVal);
        case VTYPE_UI4: return std::to_string(V->ulVal);
        case VTYPE_UINT: return std::to_string(V->uintVal);
        case VTYPE_UI8: return std::to_string(V->ullVal);
        case VTYPE_R4: return FormatDouble(V->fltVal, 7);
        case VTYPE_R8: return FormatDouble(V->dblVal);
        case VTYPE_DATE: return DateToText(V->date);
        case VTYPE_TM: return TmToText(V->tmVal);
        case VTYPE_BOOL: return HostBool(*V) ? "True" : "False";
        case VTYPE_PWSTR: return V8GetWString(V);
        // Narrow text is taken as UTF-8; broken sequences become U+FFFD.
        case VTYPE_PSTR:
            return V->pstrVal ? Utf16ToUtf8(Utf8ToUtf16(std::string_view(V->pstrVal, V->strLen))) : std::string();
        case VTYPE_BLOB: return "BLOB";
        // Values without a text of their own (interfaces, references,
        // arrays, ...) show their type.
        default: return V8TypeName(V);
    }
}

std::string V8ParamsText(const tVariant* Params, long Count) {
    std::string S = "[";
    for (long I = 0; Params && I < Count; ++I) {
        if (I) S += "; ";
        S += V8ToText(&Params[I]);
    }
    return S + "]";
}

// ------------------------------------------------------------ user object

bool TV8UserObject::Init(IAddInDefBase*) { return true; }
long TV8UserObject::GetInfo() { return 2000; }
void TV8UserObject::SetLocale() {}
void TV8UserObject::Done() {}
bool TV8UserObject::SetMemManager(IMemoryManager*) { return true; }

void TV8UserObject::V8ClearVar(tVariant* V) {
    if (!V) return;
    const auto T = V->vt;
    if ((T == VTYPE_PSTR || T == VTYPE_PWSTR || T == VTYPE_BLOB) && V->pstrVal && V8MM) {
        try {
            void* P = V->pstrVal;
            V8MM->FreeMemory(&P);
        } catch (const std::exception& E) {
            WriteLog("EXCEPTION V8ClearVar", E.what(), llError);
        } catch (...) {
            WriteLog("EXCEPTION V8ClearVar", "Unknown exception", llError);
        }
    }
    // Interface values are never created by this component; there is no
    // release protocol for them on this platform, so they are only dropped.
    std::memset(static_cast<void*>(V), 0, sizeof(tVariant));
}

void TV8UserObject::V8SetBool(tVariant* V, bool AValue) {
    if (!V) return;
    V8ClearVar(V);
    V->vt = VTYPE_BOOL;
    V->bVal = AValue;
}

void TV8UserObject::V8SetInt(tVariant* V, int32_t AValue) {
    if (!V) return;
    V8ClearVar(V);
    V->vt = VTYPE_I4;
    V->lVal = AValue;
}

void TV8UserObject::V8SetInt64(tVariant* V, int64_t AValue) {
    if (!V) return;
    V8ClearVar(V);
    V->vt = VTYPE_I8;
    V->llVal = AValue;
}

void TV8UserObject::V8SetDouble(tVariant* V, double AValue) {
    if (!V) return;
    V8ClearVar(V);
    V->vt = VTYPE_R8;
    V->dblVal = AValue;
}

void TV8UserObject::V8SetDate(tVariant* V, double AValue) {
    if (!V) return;
    V8ClearVar(V);
    V->vt = VTYPE_DATE;
    V->date = AValue;
}

// The value's type is set only once the host's block exists: a failed
// allocation leaves the value empty and the writer answers false.
bool TV8UserObject::V8SetWString(tVariant* V, std::u16string_view AValue) {
    if (!V) return false;
    V8ClearVar(V);
    WCHAR_T* P = HostWString(AValue);
    if (!P) return false;
    V->pwstrVal = P;
    V->wstrLen = uint32_t(AValue.size());
    V->vt = VTYPE_PWSTR;
    return true;
}

bool TV8UserObject::V8SetWString(tVariant* V, std::string_view AUtf8) {
    return V8SetWString(V, std::u16string_view(Utf8ToUtf16(AUtf8)));
}

bool TV8UserObject::V8SetPChar(tVariant* V, const char* AValue) {
    if (!V) return false;
    if (!AValue) return true;
    V8ClearVar(V);
    const size_t Len = std::strlen(AValue);
    void* P = HostAlloc(Len + 1);
    if (!P) return false;
    std::memcpy(P, AValue, Len + 1);
    V->pstrVal = static_cast<char*>(P);
    V->strLen = uint32_t(Len);
    V->vt = VTYPE_PSTR;
    return true;
}

bool TV8UserObject::V8SetString(tVariant* V, const std::string& AValue) { return V8SetPChar(V, AValue.c_str()); }

bool TV8UserObject::V8SetBlob(tVariant* V, const void* AValue, uint32_t ALength) {
    if (!V || !AValue) return false;
    V8ClearVar(V);
    void* P = HostAlloc(ALength ? ALength : 1);
    if (!P) return false;
    std::memcpy(P, AValue, ALength);
    V->pstrVal = static_cast<char*>(P);
    V->strLen = ALength;
    V->vt = VTYPE_BLOB;
    return true;
}

void* TV8UserObject::HostAlloc(size_t ABytes) {
    if (!V8MM) return nullptr;
    void* P = nullptr;
    try {
        if (!V8MM->AllocMemory(&P, static_cast<unsigned long>(ABytes))) return nullptr;
    } catch (...) {
        return nullptr;
    }
    return P;
}

WCHAR_T* TV8UserObject::HostWString(std::u16string_view AText) {
    auto* W = static_cast<WCHAR_T*>(HostAlloc((AText.size() + 1) * sizeof(WCHAR_T)));
    if (!W) return nullptr;
    for (size_t I = 0; I < AText.size(); ++I) W[I] = WCHAR_T(AText[I]);
    W[AText.size()] = 0;
    return W;
}

void TV8Call::SetString(long I, std::string_view AUtf8) {
    if (auto* V = Out(I); V && !FObject.V8SetWString(V, AUtf8))
        throw std::runtime_error(HostMemoryRefusedText);
}
void TV8Call::SetInt(long I, int32_t AValue) {
    if (auto* V = Out(I)) FObject.V8SetInt(V, AValue);
}
void TV8Call::SetBool(long I, bool AValue) {
    if (auto* V = Out(I)) FObject.V8SetBool(V, AValue);
}
void TV8Call::SetDouble(long I, double AValue) {
    if (auto* V = Out(I)) FObject.V8SetDouble(V, AValue);
}
void TV8Call::SetResultInt(int32_t AValue) { FObject.V8SetInt(FRetValue, AValue); }
void TV8Call::SetResultBool(bool AValue) { FObject.V8SetBool(FRetValue, AValue); }

// --------------------------------------------------------- call log switch

namespace {

bool IsDeviceIdentifier(const std::string& S) {
    struct TPattern {
        pcre2_code* Code = nullptr;
        TPattern() {
            int Err = 0;
            PCRE2_SIZE Off = 0;
            static const char P[] =
                "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$";
            Code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(P), PCRE2_ZERO_TERMINATED, 0, &Err, &Off, nullptr);
        }
        ~TPattern() { pcre2_code_free(Code); }
    };
    static const TPattern Pattern;
    if (!Pattern.Code) return false;
    pcre2_match_data* M = pcre2_match_data_create_from_pattern(Pattern.Code, nullptr);
    if (!M) return false;
    const int Rc = pcre2_match(Pattern.Code, reinterpret_cast<PCRE2_SPTR>(S.data()), S.size(), 0, 0, M, nullptr);
    pcre2_match_data_free(M);
    return Rc >= 0;
}

bool SameAsciiName(std::u16string_view A, std::u16string_view B) {
    if (A.size() != B.size()) return false;
    for (size_t I = 0; I < A.size(); ++I) {
        char16_t X = A[I], Y = B[I];
        if (X >= u'A' && X <= u'Z') X += 32;
        if (Y >= u'A' && Y <= u'Z') Y += 32;
        if (X != Y) return false;
    }
    return true;
}

}  // namespace

void ApplyLogModeSwitch(std::u16string_view AMethName, const tVariant* AParams, long ACount) {
    if (ACount <= 0 || !AParams || AParams[0].vt == VTYPE_BLOB) return;
    if (!SameAsciiName(AMethName, u"SetParameter") && !SameAsciiName(AMethName, u"Open") &&
        !SameAsciiName(AMethName, u"ConnectEquipment") && !SingleSessionMode)
        SetLogMode(lmSuspended);
    // Only a text can be a device identifier.
    if (AParams[0].vt != VTYPE_PWSTR) return;
    const std::string T = V8GetWString(&AParams[0]);
    if (!T.empty() && IsDeviceIdentifier(T)) SetLogMode(DeviceLogFlags().Find(T).value_or(false) ? lmAll : lmOff);
}

// -------------------------------------------------------- component object

namespace {

constexpr char16_t kErrorSource[] = u"Внешняя компонента";
constexpr long kFailResult = long(0x80004005);

// The object the host holds: the three platform interfaces, answered from
// the driver object's registry entry.
class TComponentShell final : public IComponentBase {
public:
    explicit TComponentShell(std::unique_ptr<TV8UserObject> ADriver) : FDriver(std::move(ADriver)) {}

    bool ADDIN_API Init(void* disp) override {
        FDriver->V8 = static_cast<IAddInDefBase*>(disp);
        return FDriver->Init(FDriver->V8);
    }
    bool ADDIN_API setMemManager(void* mem) override {
        FDriver->V8MM = static_cast<IMemoryManager*>(mem);
        return FDriver->SetMemManager(FDriver->V8MM);
    }
    long ADDIN_API GetInfo() override { return FDriver->GetInfo(); }
    void ADDIN_API Done() override { FDriver->Done(); }

    void ADDIN_API SetLocale(const WCHAR_T* loc) override {
        try {
            FDriver->locale = FromHostText(loc);
            FDriver->SetLocale();
        } catch (...) {
            // Only memory can run out here; the locale is not used.
        }
    }

    bool ADDIN_API RegisterExtensionAs(WCHAR_T** wsExtensionName) override {
        // HostWString never throws: a failed allocation gives null.
        if (wsExtensionName) *wsExtensionName = FDriver->HostWString(Reg().RegisterExtensionAs);
        return true;
    }

    long ADDIN_API GetNProps() override { return Reg().PropCount(); }
    long ADDIN_API FindProp(const WCHAR_T* wsPropName) override {
        if (!wsPropName) return -1;
        const auto& L = Reg().PropList;
        for (size_t I = 0; I < L.size(); ++I)
            if (SameHostText(L[I].PropNameLoc, wsPropName) || SameHostText(L[I].PropName, wsPropName)) return long(I);
        return -1;
    }
    const WCHAR_T* ADDIN_API GetPropName(long lPropNum, long lPropAlias) override {
        const TPropReg* P = Prop(lPropNum);
        if (!P) return nullptr;
        return FDriver->HostWString(lPropAlias ? P->PropNameLoc : P->PropName);
    }
    bool ADDIN_API GetPropVal(const long lPropNum, tVariant* pvarPropVal) override {
        return PropCall(lPropNum, pvarPropVal, true);
    }
    bool ADDIN_API SetPropVal(const long lPropNum, tVariant* varPropVal) override {
        return PropCall(lPropNum, varPropVal, false);
    }
    bool ADDIN_API IsPropReadable(const long lPropNum) override {
        const TPropReg* P = Prop(lPropNum);
        return P && P->IsReadable;
    }
    bool ADDIN_API IsPropWritable(const long lPropNum) override {
        const TPropReg* P = Prop(lPropNum);
        return P && P->IsWritable;
    }

    long ADDIN_API GetNMethods() override { return Reg().MethCount(); }
    long ADDIN_API FindMethod(const WCHAR_T* wsMethodName) override {
        if (!wsMethodName) return -1;
        const auto& L = Reg().MethList;
        for (size_t I = 0; I < L.size(); ++I)
            if (SameHostText(L[I].MethNameLoc, wsMethodName) || SameHostText(L[I].MethName, wsMethodName))
                return long(I);
        return -1;
    }
    const WCHAR_T* ADDIN_API GetMethodName(const long lMethodNum, const long lMethodAlias) override {
        const TMethReg* M = Meth(lMethodNum);
        if (!M) return nullptr;
        return FDriver->HostWString(lMethodAlias ? M->MethNameLoc : M->MethName);
    }
    long ADDIN_API GetNParams(const long lMethodNum) override {
        const TMethReg* M = Meth(lMethodNum);
        return M ? M->ParamCount : 0;
    }
    bool ADDIN_API GetParamDefValue(const long lMethodNum, const long lParamNum, tVariant* pvarParamDefValue) override {
        const TMethReg* M = Meth(lMethodNum);
        if (!M || !M->DefParams || !pvarParamDefValue) return false;
        const TDefParamValue* D = M->DefParams->Find(int32_t(lParamNum));
        if (!D) return false;
        // Strings go to the host as its own copies, never as library memory.
        const tVariant& Def = D->Value;
        if (Def.vt == VTYPE_PWSTR)
            return FDriver->V8SetWString(
                pvarParamDefValue, std::u16string_view(FromHostText(Def.pwstrVal, Def.pwstrVal ? Def.wstrLen : 0)));
        if (Def.vt == VTYPE_PSTR) {
            const std::string Text(Def.pstrVal ? Def.pstrVal : "", Def.pstrVal ? Def.strLen : 0);
            return FDriver->V8SetString(pvarParamDefValue, Text);
        }
        *pvarParamDefValue = Def;
        return true;
    }
    bool ADDIN_API HasRetVal(const long lMethodNum) override {
        const TMethReg* M = Meth(lMethodNum);
        return M && M->IsFunction;
    }
    bool ADDIN_API CallAsProc(const long lMethodNum, tVariant* paParams, const long lSizeArray) override {
        return Call(lMethodNum, nullptr, paParams, lSizeArray, false);
    }
    bool ADDIN_API CallAsFunc(const long lMethodNum, tVariant* pvarRetValue, tVariant* paParams,
                              const long lSizeArray) override {
        return Call(lMethodNum, pvarRetValue, paParams, lSizeArray, true);
    }

private:
    const TClassReg& Reg() const {
        static const TClassReg Empty;
        return FDriver->ClassReg ? *FDriver->ClassReg : Empty;
    }
    const TMethReg* Meth(long N) const {
        const auto& L = Reg().MethList;
        return (N >= 0 && size_t(N) < L.size()) ? &L[size_t(N)] : nullptr;
    }
    const TPropReg* Prop(long N) const {
        const auto& L = Reg().PropList;
        return (N >= 0 && size_t(N) < L.size()) ? &L[size_t(N)] : nullptr;
    }

    // A failure outside the driver's own error handling reaches the host as
    // an error message of the platform.
    void ReportHostError(const std::string& AMessage) {
        try {
            if (FDriver->V8) {
                const std::u16string M = Utf8ToUtf16(AMessage);
                FDriver->V8->AddError(1006, ToHostText(kErrorSource).c_str(), FDriver->HostWString(M), kFailResult);
            }
            WriteLog("EXCEPTION", AMessage, llError);
        } catch (...) {
        }
    }

    bool PropCall(long N, tVariant* Value, bool Get) {
        const TPropReg* P = Prop(N);
        if (!P || !P->PropGetSet) return false;
        try {
            return P->PropGetSet(FDriver.get(), Utf16ToUtf8(P->PropName), Value, Get, FDriver->V8);
        } catch (const std::exception& E) {
            ReportHostError(E.what());
        } catch (...) {
            ReportHostError("Unknown exception");
        }
        return false;
    }

    bool Call(long N, tVariant* RetValue, tVariant* Params, long Count, bool AsFunction) {
        const TMethReg* M = Meth(N);
        if (!M) return false;
        if (!Params || Count < 0) Count = 0;
        // The log mode switches of this call stay with this call, also while
        // the host runs another one on another thread.
        const TLogModeScope LogModeScope;
        try {
            const bool Quiet = SameAsciiName(M->MethName, u"SetParameter");
            const std::string Name = Utf16ToUtf8(M->MethName);
            ApplyLogModeSwitch(M->MethName, Params, Count);
            // The call lines are built only when they are written.
            if (!Quiet && LogWrites(llDebug)) WriteLog("> " + Name, "Params: " + V8ParamsText(Params, Count), llDebug);
            bool Result = false;
            if (M->ExecuteFunc)
                Result = M->ExecuteFunc(FDriver.get(), AsFunction ? RetValue : nullptr, Params, Count, FDriver->V8);
            else if (M->ExecuteProc)
                Result = M->ExecuteProc(FDriver.get(), Params, Count, FDriver->V8);
            ApplyLogModeSwitch(M->MethName, Params, Count);
            if (!Quiet && LogWrites(llDebug)) {
                const std::string R = AsFunction ? "Result=" + V8ToText(RetValue) : std::string();
                WriteLog("< " + Name, R + "; Params: " + V8ParamsText(Params, Count), llDebug);
            }
            return Result;
        } catch (const std::exception& E) {
            ReportHostError(E.what());
        } catch (...) {
            ReportHostError("Unknown exception");
        }
        return false;
    }

    std::unique_ptr<TV8UserObject> FDriver;
};

}  // namespace

}  // namespace fr

// ----------------------------------------------------------- entry points

// Exported by name: the Linux version script and the Windows .def file list
// these four and nothing else.
#define FR_EXPORT extern "C" FR_V8_EXPORT_VISIBILITY

FR_EXPORT const WCHAR_T* GetClassNames() {
    return fr::ClassRegList().HostClassNames();
}

FR_EXPORT long GetClassObject(const WCHAR_T* wsName, IComponentBase** pIntf) {
    if (!wsName || !pIntf) return 0;
    try {
        const fr::TClassReg* Reg = fr::ClassRegList().Find(fr::FromHostText(wsName));
        if (!Reg || !Reg->UserClass) return 0;
        std::unique_ptr<fr::TV8UserObject> Driver = Reg->UserClass();
        if (!Driver) return 0;
        Driver->ClassReg = Reg;
        *pIntf = new fr::TComponentShell(std::move(Driver));
        return 1;
    } catch (...) {
        return 0;
    }
}

FR_EXPORT long DestroyObject(IComponentBase** pIntf) {
    if (!pIntf || !*pIntf) return 0;
    try {
        delete static_cast<fr::TComponentShell*>(*pIntf);
    } catch (...) {
    }
    return 0;
}

FR_EXPORT AttachType GetAttachType() { return eCanAttachAny; }
