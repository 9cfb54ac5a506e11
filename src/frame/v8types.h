// The platform's Native API: the value type the host passes (tVariant) and
// the abstract interfaces on both sides of the component boundary, declared
// from the published calling conventions. The layout is what the host
// expects byte for byte. On Linux the host is built with GCC; on Windows with
// MSVC, which lays out the same declarations differently in three places
// (wide characters, the width of long, the vtable slot of a virtual
// destructor), so those differ here and the static_asserts below pin both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#ifdef _WIN32
// Every interface method is __stdcall on x86 (this on the stack, the callee
// pops); x86-64 has one calling convention and ignores it.
#define ADDIN_API __stdcall
using WCHAR_T = wchar_t;
// A .def file names the exports; symbol visibility does not exist in PE.
#define FR_V8_EXPORT_VISIBILITY
// MSVC gives a virtual destructor one vtable slot (the deleting destructor),
// GCC gives it two. A placeholder in its place puts every method on the slot
// the host calls. Nothing deletes through an interface pointer (DestroyObject
// deletes the concrete object), so the destructor is protected and the
// placeholder is never called.
#define FR_V8_DESTRUCTOR_SLOT(Class)                  \
public:                                               \
    virtual void ADDIN_API DestructorSlot##Class() {} \
                                                      \
protected:                                            \
    ~Class() = default;                               \
                                                      \
public:
#else
#define ADDIN_API
using WCHAR_T = char16_t;
#define FR_V8_EXPORT_VISIBILITY __attribute__((visibility("default")))
#define FR_V8_DESTRUCTOR_SLOT(Class) \
public:                              \
    virtual ~Class() {}
#endif
using DATE = double;  // days since 1899-12-30 with the time as fraction
using TYPEVAR = uint16_t;

struct V8Guid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = V8Guid;

enum ENUMVAR : uint16_t {
    VTYPE_EMPTY = 0,
    VTYPE_NULL,
    VTYPE_I2,
    VTYPE_I4,
    VTYPE_R4,
    VTYPE_R8,
    VTYPE_DATE,
    VTYPE_TM,
    VTYPE_PSTR,
    VTYPE_INTERFACE,
    VTYPE_ERROR,
    VTYPE_BOOL,
    VTYPE_VARIANT,
    VTYPE_I1,
    VTYPE_UI1,
    VTYPE_UI2,
    VTYPE_UI4,
    VTYPE_I8,
    VTYPE_UI8,
    VTYPE_INT,
    VTYPE_UINT,
    VTYPE_HRESULT,
    VTYPE_PWSTR,
    VTYPE_BLOB,
    VTYPE_CLSID,
    VTYPE_STR_BLOB = 0x0FFF,
    VTYPE_VECTOR = 0x1000,
    VTYPE_ARRAY = 0x2000,
    VTYPE_BYREF = 0x4000,
    VTYPE_RESERVED = 0x8000,
    VTYPE_ILLEGAL = 0xFFFF,
    VTYPE_ILLEGALMASKED = 0x0FFF,
    VTYPE_TYPEMASK = 0x0FFF
};

// The host's layout uses anonymous structs inside the value union.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
struct tVariant {
    union {
        int8_t i8Val;
        int16_t shortVal;
        int32_t lVal;
        int intVal;
        unsigned int uintVal;
        int64_t llVal;
        uint8_t ui8Val;
        uint16_t ushortVal;
        uint32_t ulVal;
        uint64_t ullVal;
        int32_t errCode;
        long hRes;
        float fltVal;
        double dblVal;
        bool bVal;
        char chVal;
        wchar_t wchVal;
        DATE date;
        IID IDVal;
        tVariant* pvarVal;
        struct tm tmVal;
        struct {
            void* pInterfaceVal;
            IID InterfaceID;
        };
        struct {
            char* pstrVal;
            uint32_t strLen;
        };
        struct {
            WCHAR_T* pwstrVal;
            uint32_t wstrLen;
        };
    };
    uint32_t cbElements;
    TYPEVAR vt;
};
#pragma GCC diagnostic pop

// A wrong size would shift every parameter after the first.
static_assert(sizeof(bool) == 1 && sizeof(WCHAR_T) == 2 && sizeof(DATE) == 8 && sizeof(IID) == 16);
static_assert(offsetof(tVariant, pwstrVal) == 0 && offsetof(tVariant, pstrVal) == 0);
#ifdef _WIN32
// MSVC's struct tm is nine ints; doubles are 8-byte aligned in structures on
// x86 and x86-64 alike, so both targets share one layout.
static_assert(sizeof(struct tm) == 36, "MSVC runtime struct tm");
static_assert(sizeof(long) == 4);
static_assert(offsetof(tVariant, cbElements) == 40);
static_assert(offsetof(tVariant, vt) == 44);
static_assert(sizeof(tVariant) == 48);
static_assert(offsetof(tVariant, wstrLen) == sizeof(void*) && offsetof(tVariant, strLen) == sizeof(void*));
#else
static_assert(sizeof(struct tm) == 56, "glibc struct tm");
static_assert(sizeof(long) == 8);
static_assert(offsetof(tVariant, cbElements) == 56);
static_assert(offsetof(tVariant, vt) == 60);
static_assert(sizeof(tVariant) == 64);
static_assert(offsetof(tVariant, wstrLen) == 8 && offsetof(tVariant, strLen) == 8);
#endif

class IMemoryManager {
    FR_V8_DESTRUCTOR_SLOT(IMemoryManager)
    virtual bool ADDIN_API AllocMemory(void** pMemory, unsigned long ulCountByte) = 0;
    virtual void ADDIN_API FreeMemory(void** pMemory) = 0;
};

class IAddInDefBase {
    FR_V8_DESTRUCTOR_SLOT(IAddInDefBase)
    virtual bool ADDIN_API AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr, long scode) = 0;
    virtual bool ADDIN_API Read(WCHAR_T* wszPropName, tVariant* pVal, long* pErrCode, WCHAR_T** errDescriptor) = 0;
    virtual bool ADDIN_API Write(WCHAR_T* wszPropName, tVariant* pVar) = 0;
    virtual bool ADDIN_API RegisterProfileAs(WCHAR_T* wszProfileName) = 0;
    virtual bool ADDIN_API SetEventBufferDepth(long lDepth) = 0;
    virtual long ADDIN_API GetEventBufferDepth() = 0;
    virtual bool ADDIN_API ExternalEvent(WCHAR_T* wszSource, WCHAR_T* wszMessage, WCHAR_T* wszData) = 0;
    virtual void ADDIN_API CleanEventBuffer() = 0;
    virtual bool ADDIN_API SetStatusLine(WCHAR_T* wszStatusLine) = 0;
    virtual void ADDIN_API ResetStatusLine() = 0;
};

class IInitDoneBase {
    FR_V8_DESTRUCTOR_SLOT(IInitDoneBase)
    virtual bool ADDIN_API Init(void* disp) = 0;
    virtual bool ADDIN_API setMemManager(void* mem) = 0;
    virtual long ADDIN_API GetInfo() = 0;
    virtual void ADDIN_API Done() = 0;
};

class ILanguageExtenderBase {
    FR_V8_DESTRUCTOR_SLOT(ILanguageExtenderBase)
    virtual bool ADDIN_API RegisterExtensionAs(WCHAR_T** wsExtensionName) = 0;
    virtual long ADDIN_API GetNProps() = 0;
    virtual long ADDIN_API FindProp(const WCHAR_T* wsPropName) = 0;
    virtual const WCHAR_T* ADDIN_API GetPropName(long lPropNum, long lPropAlias) = 0;
    virtual bool ADDIN_API GetPropVal(const long lPropNum, tVariant* pvarPropVal) = 0;
    virtual bool ADDIN_API SetPropVal(const long lPropNum, tVariant* varPropVal) = 0;
    virtual bool ADDIN_API IsPropReadable(const long lPropNum) = 0;
    virtual bool ADDIN_API IsPropWritable(const long lPropNum) = 0;
    virtual long ADDIN_API GetNMethods() = 0;
    virtual long ADDIN_API FindMethod(const WCHAR_T* wsMethodName) = 0;
    virtual const WCHAR_T* ADDIN_API GetMethodName(const long lMethodNum, const long lMethodAlias) = 0;
    virtual long ADDIN_API GetNParams(const long lMethodNum) = 0;
    virtual bool ADDIN_API GetParamDefValue(const long lMethodNum, const long lParamNum,
                                            tVariant* pvarParamDefValue) = 0;
    virtual bool ADDIN_API HasRetVal(const long lMethodNum) = 0;
    virtual bool ADDIN_API CallAsProc(const long lMethodNum, tVariant* paParams, const long lSizeArray) = 0;
    virtual bool ADDIN_API CallAsFunc(const long lMethodNum, tVariant* pvarRetValue, tVariant* paParams,
                                      const long lSizeArray) = 0;
};

class LocaleBase {
    FR_V8_DESTRUCTOR_SLOT(LocaleBase)
    virtual void ADDIN_API SetLocale(const WCHAR_T* loc) = 0;
};

class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase {
#ifdef _WIN32
protected:
    ~IComponentBase() = default;
#else
public:
    ~IComponentBase() override {}
#endif
};

enum AttachType { eCanAttachNotIsolated = 1, eCanAttachIsolated, eCanAttachAny };

// The four entry points the host looks up by name. They have the platform's
// default C calling convention on every target (not ADDIN_API).
extern "C" {
using TGetClassNames = const WCHAR_T* (*)();
using TGetClassObject = long (*)(const WCHAR_T*, IComponentBase**);
using TDestroyObject = long (*)(IComponentBase**);
using TGetAttachType = AttachType (*)();
}
