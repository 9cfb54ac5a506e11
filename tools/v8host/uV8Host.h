// A host for native components that behaves like the platform: it loads the
// library (dlopen on Linux, LoadLibraryW on Windows), creates the object,
// hands it a memory manager and a connection, and calls methods and
// properties with hand-built values. The memory manager checks every block
// the component allocates or frees.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "frame/v8types.h"
#include "v8host/uV8Library.h"

namespace fr::host {

class THostMemoryManager final : public IMemoryManager {
public:
    ~THostMemoryManager();
    bool ADDIN_API AllocMemory(void** pMemory, unsigned long ulCountByte) override;
    void ADDIN_API FreeMemory(void** pMemory) override;

    bool Owns(const void* P) const { return FBlocks.count(P) != 0; }
    size_t LiveBlocks() const { return FBlocks.size(); }
    // Frees of blocks this manager did not hand out, or handed out and
    // already took back.
    const std::vector<std::string>& Errors() const { return FErrors; }
    // The next N allocations fail.
    void FailNextAllocations(int N) { FFailCount = N; }

private:
    std::map<const void*, size_t> FBlocks;
    std::set<const void*> FFreed;
    std::vector<std::string> FErrors;
    int FFailCount = 0;
};

struct THostError {
    unsigned short Code;
    std::string Source;
    std::string Description;
    long SCode;
};

class THostConnection final : public IAddInDefBase {
public:
    explicit THostConnection(THostMemoryManager& AMem) : FMem(AMem) {}
    bool ADDIN_API AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr, long scode) override;
    bool ADDIN_API Read(WCHAR_T*, tVariant*, long*, WCHAR_T**) override { return false; }
    bool ADDIN_API Write(WCHAR_T*, tVariant*) override { return false; }
    bool ADDIN_API RegisterProfileAs(WCHAR_T*) override { return false; }
    bool ADDIN_API SetEventBufferDepth(long) override { return false; }
    long ADDIN_API GetEventBufferDepth() override { return 0; }
    bool ADDIN_API ExternalEvent(WCHAR_T*, WCHAR_T*, WCHAR_T*) override { return false; }
    void ADDIN_API CleanEventBuffer() override {}
    bool ADDIN_API SetStatusLine(WCHAR_T*) override { return false; }
    void ADDIN_API ResetStatusLine() override {}

    std::vector<THostError> Errors;
    // True when every description handed to AddError was a block of the
    // host's memory manager.
    bool DescriptionsInHostMemory = true;

private:
    THostMemoryManager& FMem;
};

// A host value with its type code; strings are kept as UTF-8 here and
// turned into host-memory UTF-16 when passed.
struct THostValue {
    uint16_t Type = VTYPE_EMPTY;
    int64_t Int = 0;
    double Dbl = 0;
    bool Bool = false;
    std::string Str;  // text of PWSTR/PSTR, bytes of BLOB
    struct tm Tm {};

    static THostValue Empty() { return {}; }
    static THostValue String(std::string S);
    static THostValue Int32(int32_t V);
    static THostValue Int64(int64_t V);
    static THostValue Double(double V);
    static THostValue Boolean(bool V);
    static THostValue Date(double V);
    static THostValue DateTime(const struct tm& V);
    static THostValue Blob(std::string Bytes);
    static THostValue OfType(uint16_t AType);  // zeroed value of any type code

    // Readable text: the value, or "<empty>".
    std::string Text() const;
    bool operator==(const THostValue&) const;
};

struct TMethodInfo {
    long Index;
    std::string Name, NameLoc;
    long ParamCount;
    bool HasRetVal;
};

struct TPropInfo {
    long Index;
    std::string Name, NameLoc;
    bool Readable, Writable;
};

struct TCallResult {
    bool Called = false;  // what CallAsFunc returned
    THostValue Result;
    std::vector<THostValue> Params;
    // The result and every string parameter came back in host memory (or
    // were not strings).
    bool StringsInHostMemory = true;
};

class TComponentHost {
public:
    TComponentHost();
    ~TComponentHost();
    TComponentHost(const TComponentHost&) = delete;
    TComponentHost& operator=(const TComponentHost&) = delete;

    // Loads the library; raises std::runtime_error with the loader's text.
    void Load(const std::string& APath);
    // Uses entry points linked into this process instead of a loaded library.
    void Attach(TGetClassNames AGetClassNames, TGetClassObject AGetClassObject, TDestroyObject ADestroyObject,
                TGetAttachType AGetAttachType);
    std::string ClassNames() const;
    // GetClassObject with the name, then Init, setMemManager and SetLocale
    // as the platform does. False when the library refused the name.
    bool Create(const std::string& AClassName, const std::string& ALocale = "ru_RU");
    void Destroy();
    IComponentBase* Object() const { return FObject; }

    std::vector<TMethodInfo> Methods() const;
    std::vector<TPropInfo> Props() const;
    long FindMethod(const std::string& AName) const;
    long FindProp(const std::string& AName) const;

    // CallAsFunc with these parameters; out-parameters come back in Params.
    TCallResult Call(const std::string& AName, const std::vector<THostValue>& AParams);
    TCallResult CallIndex(long AIndex, const std::vector<THostValue>& AParams);
    // GetPropVal / SetPropVal; Called tells what the component answered.
    TCallResult GetProp(const std::string& AName);
    bool SetProp(const std::string& AName, const THostValue& AValue);
    // GetLastError: code and text.
    std::pair<int32_t, std::string> LastError();

    THostMemoryManager& Memory() { return FMem; }
    THostConnection& Connection() { return FConn; }
    AttachType GetAttachType() const { return FGetAttachType(); }

private:
    tVariant ToVariant(const THostValue& V);
    THostValue FromVariant(const tVariant& V, bool& AInHostMemory);
    void FreeVariant(tVariant& V);

    std::unique_ptr<TV8Library> FLib;
    TGetClassNames FGetClassNames = nullptr;
    TGetClassObject FGetClassObject = nullptr;
    TDestroyObject FDestroyObject = nullptr;
    TGetAttachType FGetAttachType = nullptr;
    IComponentBase* FObject = nullptr;
    THostMemoryManager FMem;
    THostConnection FConn;
};

}  // namespace fr::host
