#include "v8host/uV8Host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "base/uStrings.h"

namespace fr::host {
namespace {

// Host text is WCHAR_T: char16_t on Linux, wchar_t on Windows, UTF-16 on both.
std::string FromHost(const WCHAR_T* S, size_t N) {
    return Utf16ToUtf8(std::u16string(S, S + N));
}
std::string FromHost(const WCHAR_T* S) {
    size_t N = 0;
    while (S && S[N]) ++N;
    return S ? FromHost(S, N) : std::string();
}
std::basic_string<WCHAR_T> ToHost(const std::string& AUtf8) {
    const std::u16string U = Utf8ToUtf16(AUtf8);
    return std::basic_string<WCHAR_T>(U.begin(), U.end());
}

}  // namespace

// ---------------------------------------------------------- memory manager

THostMemoryManager::~THostMemoryManager() {
    for (auto& [P, Size] : FBlocks) std::free(const_cast<void*>(P));
}

bool ADDIN_API THostMemoryManager::AllocMemory(void** pMemory, unsigned long ulCountByte) {
    if (!pMemory) return false;
    if (FFailCount > 0) {
        --FFailCount;
        *pMemory = nullptr;
        return false;
    }
    void* P = std::calloc(1, ulCountByte ? ulCountByte : 1);
    if (!P) return false;
    FBlocks[P] = ulCountByte;
    FFreed.erase(P);
    *pMemory = P;
    return true;
}

void ADDIN_API THostMemoryManager::FreeMemory(void** pMemory) {
    if (!pMemory || !*pMemory) return;
    const void* P = *pMemory;
    auto It = FBlocks.find(P);
    if (It == FBlocks.end()) {
        char Buf[96];
        std::snprintf(Buf, sizeof Buf, "%s of block %p", FFreed.count(P) ? "double free" : "free of unknown", P);
        FErrors.emplace_back(Buf);
        return;
    }
    FBlocks.erase(It);
    FFreed.insert(P);
    std::free(*pMemory);
    *pMemory = nullptr;
}

bool ADDIN_API THostConnection::AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr,
                                         long scode) {
    THostError E{wcode, FromHost(source), FromHost(descr), scode};
    Errors.push_back(E);
    // The description is a copy in host memory that the host now owns.
    if (descr) {
        if (FMem.Owns(descr)) {
            void* P = const_cast<WCHAR_T*>(descr);
            FMem.FreeMemory(&P);
        } else {
            DescriptionsInHostMemory = false;
        }
    }
    return true;
}

// ------------------------------------------------------------------ values

THostValue THostValue::String(std::string S) {
    THostValue V;
    V.Type = VTYPE_PWSTR;
    V.Str = std::move(S);
    return V;
}
THostValue THostValue::Int32(int32_t X) {
    THostValue V;
    V.Type = VTYPE_I4;
    V.Int = X;
    return V;
}
THostValue THostValue::Int64(int64_t X) {
    THostValue V;
    V.Type = VTYPE_I8;
    V.Int = X;
    return V;
}
THostValue THostValue::Double(double X) {
    THostValue V;
    V.Type = VTYPE_R8;
    V.Dbl = X;
    return V;
}
THostValue THostValue::Boolean(bool X) {
    THostValue V;
    V.Type = VTYPE_BOOL;
    V.Bool = X;
    return V;
}
THostValue THostValue::Date(double X) {
    THostValue V;
    V.Type = VTYPE_DATE;
    V.Dbl = X;
    return V;
}
THostValue THostValue::DateTime(const struct tm& X) {
    THostValue V;
    V.Type = VTYPE_TM;
    V.Tm = X;
    return V;
}
THostValue THostValue::Blob(std::string Bytes) {
    THostValue V;
    V.Type = VTYPE_BLOB;
    V.Str = std::move(Bytes);
    return V;
}
THostValue THostValue::OfType(uint16_t AType) {
    THostValue V;
    V.Type = AType;
    return V;
}

std::string THostValue::Text() const {
    switch (Type) {
        case VTYPE_EMPTY: return "<empty>";
        case VTYPE_BOOL: return Bool ? "true" : "false";
        case VTYPE_I2:
        case VTYPE_I4:
        case VTYPE_I8:
        case VTYPE_UI1:
        case VTYPE_ERROR: return std::to_string(Int);
        case VTYPE_R4:
        case VTYPE_R8:
        case VTYPE_DATE: return FormatDouble(Dbl);
        case VTYPE_PWSTR:
        case VTYPE_PSTR: return Str;
        case VTYPE_BLOB: return "<blob of " + std::to_string(Str.size()) + " bytes>";
        case VTYPE_TM: {
            char Buf[64];
            std::strftime(Buf, sizeof Buf, "%Y-%m-%dT%H:%M:%S", &Tm);
            return Buf;
        }
        default: return "<type " + std::to_string(Type) + ">";
    }
}

bool THostValue::operator==(const THostValue& O) const {
    return Type == O.Type && Int == O.Int && Dbl == O.Dbl && Bool == O.Bool && Str == O.Str;
}

// ---------------------------------------------------------------- the host

TComponentHost::TComponentHost() : FConn(FMem) {}

TComponentHost::~TComponentHost() {
    Destroy();
}

void TComponentHost::Load(const std::string& APath) {
    FLib = std::make_unique<TV8Library>(APath);
    FGetClassNames = reinterpret_cast<TGetClassNames>(FLib->Symbol("GetClassNames"));
    FGetClassObject = reinterpret_cast<TGetClassObject>(FLib->Symbol("GetClassObject"));
    FDestroyObject = reinterpret_cast<TDestroyObject>(FLib->Symbol("DestroyObject"));
    FGetAttachType = reinterpret_cast<TGetAttachType>(FLib->Symbol("GetAttachType"));
    if (!FGetClassNames || !FGetClassObject || !FDestroyObject || !FGetAttachType)
        throw std::runtime_error("the library does not export the four component entry points");
}

void TComponentHost::Attach(TGetClassNames AGetClassNames, TGetClassObject AGetClassObject,
                            TDestroyObject ADestroyObject, TGetAttachType AGetAttachType) {
    FGetClassNames = AGetClassNames;
    FGetClassObject = AGetClassObject;
    FDestroyObject = ADestroyObject;
    FGetAttachType = AGetAttachType;
}

std::string TComponentHost::ClassNames() const {
    const WCHAR_T* N = FGetClassNames();
    return FromHost(N);
}

bool TComponentHost::Create(const std::string& AClassName, const std::string& ALocale) {
    Destroy();
    const auto Name = ToHost(AClassName);
    IComponentBase* Obj = nullptr;
    if (FGetClassObject(Name.c_str(), &Obj) != 1 || !Obj) return false;
    FObject = Obj;
    FObject->Init(static_cast<IAddInDefBase*>(&FConn));
    FObject->setMemManager(static_cast<IMemoryManager*>(&FMem));
    const auto Loc = ToHost(ALocale);
    FObject->SetLocale(Loc.c_str());
    return true;
}

void TComponentHost::Destroy() {
    if (!FObject) return;
    FObject->Done();
    FDestroyObject(&FObject);
    FObject = nullptr;
}

namespace {

std::string TakeHostString(THostMemoryManager& Mem, const WCHAR_T* S, bool& InHost) {
    if (!S) return {};
    std::string R = FromHost(S);
    if (Mem.Owns(S)) {
        void* P = const_cast<WCHAR_T*>(S);
        Mem.FreeMemory(&P);
    } else {
        InHost = false;
    }
    return R;
}

}  // namespace

std::vector<TMethodInfo> TComponentHost::Methods() const {
    std::vector<TMethodInfo> Out;
    bool InHost = true;
    auto& Mem = const_cast<THostMemoryManager&>(FMem);
    for (long I = 0, N = FObject->GetNMethods(); I < N; ++I)
        Out.push_back({I, TakeHostString(Mem, FObject->GetMethodName(I, 0), InHost),
                       TakeHostString(Mem, FObject->GetMethodName(I, 1), InHost), FObject->GetNParams(I),
                       FObject->HasRetVal(I)});
    return Out;
}

std::vector<TPropInfo> TComponentHost::Props() const {
    std::vector<TPropInfo> Out;
    bool InHost = true;
    auto& Mem = const_cast<THostMemoryManager&>(FMem);
    for (long I = 0, N = FObject->GetNProps(); I < N; ++I)
        Out.push_back({I, TakeHostString(Mem, FObject->GetPropName(I, 0), InHost),
                       TakeHostString(Mem, FObject->GetPropName(I, 1), InHost), FObject->IsPropReadable(I),
                       FObject->IsPropWritable(I)});
    return Out;
}

long TComponentHost::FindMethod(const std::string& AName) const {
    return FObject->FindMethod(ToHost(AName).c_str());
}

long TComponentHost::FindProp(const std::string& AName) const { return FObject->FindProp(ToHost(AName).c_str()); }

tVariant TComponentHost::ToVariant(const THostValue& V) {
    tVariant T;
    std::memset(static_cast<void*>(&T), 0, sizeof T);
    T.vt = V.Type;
    switch (V.Type) {
        case VTYPE_PWSTR: {
            const auto W = ToHost(V.Str);
            void* P = nullptr;
            FMem.AllocMemory(&P, (W.size() + 1) * sizeof(WCHAR_T));
            std::memcpy(P, W.c_str(), (W.size() + 1) * sizeof(WCHAR_T));
            T.pwstrVal = static_cast<WCHAR_T*>(P);
            T.wstrLen = uint32_t(W.size());
            break;
        }
        case VTYPE_PSTR:
        case VTYPE_BLOB: {
            void* P = nullptr;
            FMem.AllocMemory(&P, V.Str.size() + 1);
            std::memcpy(P, V.Str.c_str(), V.Str.size() + 1);
            T.pstrVal = static_cast<char*>(P);
            T.strLen = uint32_t(V.Str.size());
            break;
        }
        case VTYPE_BOOL: T.bVal = V.Bool; break;
        case VTYPE_I2: T.shortVal = int16_t(V.Int); break;
        case VTYPE_I4:
        case VTYPE_ERROR: T.lVal = int32_t(V.Int); break;
        case VTYPE_UI1: T.ui8Val = uint8_t(V.Int); break;
        case VTYPE_I8: T.llVal = V.Int; break;
        case VTYPE_R4: T.fltVal = float(V.Dbl); break;
        case VTYPE_R8: T.dblVal = V.Dbl; break;
        case VTYPE_DATE: T.date = V.Dbl; break;
        case VTYPE_TM: T.tmVal = V.Tm; break;
        default: break;
    }
    return T;
}

THostValue TComponentHost::FromVariant(const tVariant& T, bool& AInHostMemory) {
    THostValue V;
    V.Type = T.vt;
    switch (T.vt) {
        case VTYPE_PWSTR:
            if (T.pwstrVal) {
                V.Str = FromHost(T.pwstrVal, T.wstrLen);
                if (!FMem.Owns(T.pwstrVal)) AInHostMemory = false;
            }
            break;
        case VTYPE_PSTR:
        case VTYPE_BLOB:
            if (T.pstrVal) {
                V.Str.assign(T.pstrVal, T.strLen);
                if (!FMem.Owns(T.pstrVal)) AInHostMemory = false;
            }
            break;
        case VTYPE_BOOL: V.Bool = T.bVal; break;
        case VTYPE_I2: V.Int = T.shortVal; break;
        case VTYPE_I4:
        case VTYPE_ERROR: V.Int = T.lVal; break;
        case VTYPE_UI1: V.Int = T.ui8Val; break;
        case VTYPE_I8: V.Int = T.llVal; break;
        case VTYPE_R4: V.Dbl = T.fltVal; break;
        case VTYPE_R8: V.Dbl = T.dblVal; break;
        case VTYPE_DATE: V.Dbl = T.date; break;
        case VTYPE_TM: V.Tm = T.tmVal; break;
        default: break;
    }
    return V;
}

void TComponentHost::FreeVariant(tVariant& T) {
    if ((T.vt == VTYPE_PWSTR || T.vt == VTYPE_PSTR || T.vt == VTYPE_BLOB) && T.pstrVal && FMem.Owns(T.pstrVal)) {
        void* P = T.pstrVal;
        FMem.FreeMemory(&P);
    }
    std::memset(static_cast<void*>(&T), 0, sizeof T);
}

TCallResult TComponentHost::CallIndex(long AIndex, const std::vector<THostValue>& AParams) {
    std::vector<tVariant> Params;
    for (const auto& P : AParams) Params.push_back(ToVariant(P));
    tVariant Ret;
    std::memset(static_cast<void*>(&Ret), 0, sizeof Ret);
    TCallResult R;
    R.Called = FObject->CallAsFunc(AIndex, &Ret, Params.empty() ? nullptr : Params.data(), long(Params.size()));
    R.Result = FromVariant(Ret, R.StringsInHostMemory);
    FreeVariant(Ret);
    for (auto& P : Params) {
        R.Params.push_back(FromVariant(P, R.StringsInHostMemory));
        FreeVariant(P);
    }
    return R;
}

TCallResult TComponentHost::Call(const std::string& AName, const std::vector<THostValue>& AParams) {
    const long I = FindMethod(AName);
    if (I < 0) throw std::runtime_error("no method " + AName);
    return CallIndex(I, AParams);
}

TCallResult TComponentHost::GetProp(const std::string& AName) {
    const long I = FindProp(AName);
    if (I < 0) throw std::runtime_error("no property " + AName);
    tVariant V;
    std::memset(static_cast<void*>(&V), 0, sizeof V);
    TCallResult R;
    R.Called = FObject->GetPropVal(I, &V);
    R.Result = FromVariant(V, R.StringsInHostMemory);
    FreeVariant(V);
    return R;
}

bool TComponentHost::SetProp(const std::string& AName, const THostValue& AValue) {
    const long I = FindProp(AName);
    if (I < 0) throw std::runtime_error("no property " + AName);
    tVariant V = ToVariant(AValue);
    const bool Ok = FObject->SetPropVal(I, &V);
    FreeVariant(V);
    return Ok;
}

std::pair<int32_t, std::string> TComponentHost::LastError() {
    const TCallResult R = Call("GetLastError", {THostValue::Empty()});
    return {int32_t(R.Result.Int), R.Params.at(0).Str};
}

}  // namespace fr::host
