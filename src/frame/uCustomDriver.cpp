#include "frame/uCustomDriver.h"

#include <stdexcept>

#include "base/uEquipmentErrors.h"
#include "base/uStrings.h"
#include "log/uLog.h"

namespace fr {

namespace {

template <class T, class F>
std::vector<const T*> Walk(const TClassDecl* D, F Member) {
    std::vector<const T*> Out;
    for (; D; D = D->Parent)
        for (const T& X : D->*Member) Out.push_back(&X);
    return Out;
}

[[noreturn]] void RaiseTypeUnacceptable() { throw std::runtime_error("Property type unacceptable"); }

bool PropMatches(const TPropDecl& P, const std::string& AName) {
    return SameText(P.Name, AName) || SameText(P.NameLoc, AName);
}

bool PropThunk(TV8UserObject* Self, const std::string& PropName, tVariant* Value, bool Get, IAddInDefBase*) {
    return static_cast<TCustomDriver*>(Self)->PropertyGetSet(PropName, Value, Get);
}

// Host value to the kind of a setting. Numbers are read leniently (a text
// that is no number gives 0), texts strictly.
TValue ValueFromHost(TPropKind AKind, const tVariant* V) {
    switch (AKind) {
        case pkInteger:
        case pkInt64:
        case pkByte: return TValue(int64_t(V->vt == VTYPE_I4 ? V->lVal : V8GetInt(V)));
        case pkBoolean: return TValue(V8GetBool(V));
        case pkDouble: return TValue(V->vt == VTYPE_R8 ? V->dblVal : V8GetDouble(V));
        case pkText:
            if (!V8IsString(V)) throw std::runtime_error("Value type unacceptable");
            return TValue(V8GetWString(V));
        case pkVariant: break;
    }
    RaiseTypeUnacceptable();
}

}  // namespace

std::vector<const TMethDecl*> TClassDecl::AllMethods() const { return Walk<TMethDecl>(this, &TClassDecl::Methods); }
std::vector<const TPropDecl*> TClassDecl::AllProps() const { return Walk<TPropDecl>(this, &TClassDecl::Props); }
std::vector<const TActionDecl*> TClassDecl::AllActions() const {
    return Walk<TActionDecl>(this, &TClassDecl::Actions);
}

TValue ConvertToKind(const TValue& AValue, TPropKind AKind) {
    switch (AKind) {
        case pkInteger:
        case pkByte: return TValue(int64_t(AValue.AsInt()));
        case pkInt64: return TValue(AValue.AsInt64());
        case pkBoolean: return TValue(AValue.AsBool());
        case pkDouble: return TValue(AValue.AsDouble());
        case pkText: return TValue(AValue.AsText());
        case pkVariant: return AValue;
    }
    RaiseTypeUnacceptable();
}

// ------------------------------------------------------------------ result

void TResult::Clear() {
    ErrorCode = 0;
    ErrorDescription.clear();
    BoolResult = true;
}

void TResult::SetError(const std::string& ADescription, int32_t AErrorCode) {
    ErrorDescription = ADescription;
    ErrorCode = AErrorCode;
    BoolResult = false;
}

int32_t TResult::GetIntResult() const {
    if (BoolResult) return 0;
    return ErrorCode ? ErrorCode : 1001;
}

std::string CurrentExceptionMessage() {
    try {
        throw;
    } catch (const std::exception& E) {
        return E.what();
    } catch (...) {
        return "Unknown exception";
    }
}

int32_t CurrentExceptionCode() {
    try {
        throw;
    } catch (const EquException& E) {
        return E.Code;
    } catch (...) {
        return 1001;
    }
}

// ----------------------------------------------------------- custom driver

const TClassDecl& TCustomDriver::Decl() {
    static const TClassDecl D;
    return D;
}

TClassReg& TCustomDriver::RegisterClassDecl(TObjectFactory AFactory, const TClassDecl& ADecl,
                                            const std::string& AExtension) {
    const std::u16string Ext = Utf8ToUtf16(AExtension);
    TClassReg& R = ClassRegList().RegisterClass(std::move(AFactory), Ext, Ext);
    for (const TMethDecl* M : ADecl.AllMethods())
        R.AddFunc(Utf8ToUtf16(M->Name), Utf8ToUtf16(M->NameLoc), M->Execute, M->ParamCount);
    for (const TPropDecl* P : ADecl.AllProps())
        R.AddProp(Utf8ToUtf16(P->Name), Utf8ToUtf16(P->NameLoc), true, !P->ReadOnly, &PropThunk);
    return R;
}

void TCustomDriver::AfterRegisterDriver(const std::string& AExtension) {
    GlobalLog().SetLogBaseName(AExtension);
    GlobalLog().WriteHeaderIfDue();
}

void TCustomDriver::HandleException(const std::string& AMessage, tVariant* RetValue, int32_t ACode) {
    FLastResult.SetError(AMessage, ACode);
    if (RetValue) V8SetBool(RetValue, false);
    WriteLog("Exception", AMessage, llError);
}

void TCustomDriver::ReportSuccess(tVariant* RetValue) {
    FLastResult.Clear();
    if (RetValue) V8SetBool(RetValue, true);
}

bool TCustomDriver::PropertyGetSet(const std::string& PropName, tVariant* propValue, bool Get) {
    if (!Get) {
        PropertySet(PropName, static_cast<const tVariant*>(propValue));
        return true;
    }
    bool Found = false;
    // Every matching declaration is served, not only the first.
    for (const TPropDecl* P : ClassDecl().AllProps()) {
        if (!PropMatches(*P, PropName)) continue;
        Found = true;
        const TValue V = P->Get(*this, *P);
        switch (P->Kind) {
            case pkInteger:
            case pkInt64:
            case pkByte: V8SetInt(propValue, int32_t(V.RawInt())); break;
            case pkBoolean: V8SetBool(propValue, V.RawBool()); break;
            case pkDouble: V8SetDouble(propValue, V.RawDouble()); break;
            case pkText:
                if (!V8SetWString(propValue, std::string_view(V.RawText())))
                    throw std::runtime_error(HostMemoryRefusedText);
                break;
            case pkVariant: RaiseTypeUnacceptable();
        }
    }
    if (!Found) throw std::runtime_error("Property not found: " + PropName);
    return true;
}

void TCustomDriver::PropertySet(const std::string& PropName, const tVariant* propValue) {
    bool Found = false;
    for (const TPropDecl* P : ClassDecl().AllProps()) {
        if (!PropMatches(*P, PropName)) continue;
        Found = true;
        if (P->ReadOnly) throw std::runtime_error("Property is read-only: " + PropName);
        if (!propValue) throw std::runtime_error("Value type unacceptable");
        P->Set(*this, *P, ValueFromHost(P->Kind, propValue));
    }
    if (!Found) throw std::runtime_error("Property not found: " + PropName);
}

void TCustomDriver::PropertyGetSet(const std::string& PropName, const TValue& AValue) {
    bool Found = false;
    for (const TPropDecl* P : ClassDecl().AllProps()) {
        if (!PropMatches(*P, PropName)) continue;
        Found = true;
        if (P->ReadOnly) throw std::runtime_error("Property is read-only: " + PropName);
        P->Set(*this, *P, ConvertToKind(AValue, P->Kind));
    }
    if (!Found) throw std::runtime_error("Property not found: " + PropName);
}

void TCustomDriver::PropertySet(const std::string& PropName, const TValue& AValue) {
    PropertyGetSet(PropName, AValue);
}

void TCustomDriver::PropertiesSetDefault() {
    for (const TPropDecl* P : ClassDecl().AllProps()) {
        // The log switch keeps its value: it is also the log mode.
        if (P->ReadOnly || SameTextAscii(P->Name, "LogEnabled")) continue;
        P->Set(*this, *P, ConvertToKind(TValue(P->DefValue), P->Kind));
    }
}

TValue TCustomDriver::GetPropertyValue(const TPropDecl& AProperty) const {
    const TValue V = AProperty.Get(*this, AProperty);
    switch (AProperty.Kind) {
        case pkInteger:
        case pkInt64:
        case pkByte: return TValue(int64_t(int32_t(V.RawInt())));
        case pkBoolean:
        case pkDouble:
        case pkText: return V;
        case pkVariant: break;
    }
    RaiseTypeUnacceptable();
}

bool TCustomDriver::CopyPropertyTo(const TPropDecl& AProperty, const TValue& AValue, TPropertyHolder& ATarget) {
    const TValue V = ConvertToKind(AValue, AProperty.Kind);
    const TPropDecl* Target = nullptr;
    for (const TPropDecl* P : ATarget.ClassDecl().AllProps())
        if (SameText(P->Name, AProperty.Name)) {
            Target = P;
            break;
        }
    if (!Target) throw std::runtime_error("Property \"" + AProperty.Name + "\" not found in Source object.");
    Target->Set(ATarget, *Target, ConvertToKind(V, Target->Kind));
    if (SameTextAscii(AProperty.Name, "LogEnabled") && !FDeviceID.empty()) DeviceLogFlags().Set(FDeviceID, V.AsBool());
    return true;
}

}  // namespace fr
