// SetParameter with every value type the host can pass (numbers of each
// width, dates in both forms, booleans, narrow and wide strings, blobs,
// empty and null), a few settings per input named in English, in Russian
// or not at all; then what was set is read back as the host reads a
// property, and the description document is written.
#include <ctime>
#include <memory>
#include <vector>

#include "FuzzCommon.h"
#include "fiscal/uDriver.h"

namespace {

using fr::fuzz::THostParams;

const uint16_t kTypes[] = {VTYPE_EMPTY, VTYPE_NULL, VTYPE_I2,   VTYPE_I4,   VTYPE_R4,    VTYPE_R8,   VTYPE_DATE,
                           VTYPE_TM,    VTYPE_PSTR, VTYPE_BOOL, VTYPE_I1,   VTYPE_UI1,   VTYPE_UI2,  VTYPE_UI4,
                           VTYPE_I8,    VTYPE_UI8,  VTYPE_INT,  VTYPE_UINT, VTYPE_PWSTR, VTYPE_BLOB, VTYPE_ERROR};

struct TSetup {
    fr::fuzz::THostMemory Memory;
    std::vector<const fr::TPropDecl*> Props = fr::TDriver::Decl().AllProps();
};

// The value of parameter 1: its type from the input, then its bytes.
void FillValue(fr::fuzz::TInput& In, tVariant& V) {
    const uint16_t Type = kTypes[In.Byte() % std::size(kTypes)];
    if (Type == VTYPE_PWSTR) {
        const std::string Bytes = In.Chunk();
        std::u16string Units(Bytes.size() / 2, u'\0');
        std::memcpy(Units.data(), Bytes.data(), Units.size() * 2);  // any code units, lone surrogates too
        V.vt = VTYPE_PWSTR;
        V.pwstrVal = static_cast<WCHAR_T*>(std::malloc((Units.size() + 1) * 2));
        std::memcpy(V.pwstrVal, Units.data(), Units.size() * 2);
        V.pwstrVal[Units.size()] = 0;
        V.wstrLen = uint32_t(Units.size());
        return;
    }
    if (Type == VTYPE_PSTR || Type == VTYPE_BLOB) {
        const std::string Bytes = In.Chunk();
        V.vt = Type;
        V.pstrVal = static_cast<char*>(std::malloc(Bytes.size() + 1));
        std::memcpy(V.pstrVal, Bytes.data(), Bytes.size());
        V.pstrVal[Bytes.size()] = 0;
        V.strLen = uint32_t(Bytes.size());
        return;
    }
    const std::string Bytes = In.Bytes(Type == VTYPE_TM ? sizeof(struct tm) : 8);
    std::memcpy(&V, Bytes.data(), Bytes.size());
    if (Type == VTYPE_TM) V.tmVal.tm_zone = nullptr;  // a pointer the host would own
    V.vt = Type;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    static TSetup* Setup = new TSetup;
    fr::TDriver Drv;
    Drv.V8MM = &Setup->Memory;
    fr::fuzz::TInput In(AData, ASize);
    std::vector<std::string> Names;
    for (int I = 0; I < 4 && !In.Empty(); ++I) {
        const uint8_t Which = In.Byte();
        THostParams P(2);
        const size_t N = Setup->Props.size();
        std::string Name;
        if (Which / 2 < N) {
            const fr::TPropDecl& D = *Setup->Props[Which / 2];
            Name = (Which & 1) ? D.NameLoc : D.Name;
        } else {
            Name = In.Chunk();
        }
        P.SetString(0, Name);
        FillValue(In, P[1]);
        fr::TV8Call Call(Drv, P.Ret(), P.Params(), P.Count());
        Drv.HostSetParameter(Call);
        Names.push_back(Name);
    }
    // What was set, read back as the host reads a property.
    for (const std::string& Name : Names) {
        tVariant V;
        std::memset(&V, 0, sizeof V);
        try {
            Drv.PropertyGetSet(Name, &V, true);
        } catch (const std::exception&) {
        }
        Drv.V8ClearVar(&V);
    }
    THostParams Out(1);
    fr::TV8Call Call(Drv, Out.Ret(), Out.Params(), Out.Count());
    Drv.HostGetDescription(Call);
    Drv.HostGetLastError(Call);
    return 0;
}
