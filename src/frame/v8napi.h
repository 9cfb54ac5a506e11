// The component frame: the class registry the host queries, the component
// object handed to the host, host values and their conversions, and the
// dispatch of host calls with the call log.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/v8types.h"

namespace fr {

class TV8UserObject;

// Entry routines stored in the registry. Self is the driver object.
using TFuncEntry = bool (*)(TV8UserObject* Self, tVariant* RetValue, tVariant* Params, long ParamCount,
                            IAddInDefBase* Connection);
using TProcEntry = bool (*)(TV8UserObject* Self, tVariant* Params, long ParamCount, IAddInDefBase* Connection);
using TPropEntry = bool (*)(TV8UserObject* Self, const std::string& PropName, tVariant* Value, bool Get,
                            IAddInDefBase* Connection);
using TObjectFactory = std::function<std::unique_ptr<TV8UserObject>()>;

// Default values of one method's parameters. The driver adds none, so every
// list stays empty; GetParamDefValue then answers false.
struct TDefParamValue {
    int32_t Num;
    tVariant Value;
};

class TDefParamList {
public:
    void AddInt(int32_t AValue, int32_t AParamNum);
    void AddDouble(double AValue, int32_t AParamNum);
    void AddDate(double AValue, int32_t AParamNum);
    void AddBool(bool AValue, int32_t AParamNum);
    // The text is not copied: it must outlive the registry.
    void AddWString(const WCHAR_T* AValue, uint32_t ALength, int32_t AParamNum);
    void AddAString(const char* AValue, uint32_t ALength, int32_t AParamNum);
    int32_t ValueCount() const { return int32_t(Values.size()); }
    const TDefParamValue* Find(int32_t ANum) const;

    std::vector<TDefParamValue> Values;
    TDefParamValue* TempParam = nullptr;

private:
    tVariant& Add(int32_t AParamNum, uint16_t AType);
};

struct TMethReg {
    std::u16string MethName;
    std::u16string MethNameLoc;
    bool IsFunction = true;
    int32_t ParamCount = 0;
    std::unique_ptr<TDefParamList> DefParams;
    TFuncEntry ExecuteFunc = nullptr;
    TProcEntry ExecuteProc = nullptr;
};

struct TPropReg {
    std::u16string PropName;
    std::u16string PropNameLoc;
    bool IsReadable = true;
    bool IsWritable = true;
    TPropEntry PropGetSet = nullptr;
};

struct TClassReg {
    TObjectFactory UserClass;
    std::u16string RegisterExtensionAs;
    std::u16string NatApiClassName;
    std::vector<TPropReg> PropList;
    std::vector<TMethReg> MethList;

    int32_t PropCount() const { return int32_t(PropList.size()); }
    int32_t MethCount() const { return int32_t(MethList.size()); }
    TMethReg& AddMethod(std::u16string AMethName, std::u16string AMethNameLoc, bool AIsFunction,
                        TFuncEntry AFunc, TProcEntry AProc, int32_t AParamCount);
    TMethReg& AddFunc(std::u16string AMethName, std::u16string AMethNameLoc, TFuncEntry AExecute,
                      int32_t AParamCount);
    TMethReg& AddProc(std::u16string AMethName, std::u16string AMethNameLoc, TProcEntry AExecute,
                      int32_t AParamCount);
    TPropReg& AddProp(std::u16string APropName, std::u16string APropNameLoc, bool AIsReadable, bool AIsWritable,
                      TPropEntry APropGetSet);
};

class TClassRegList {
public:
    TClassReg& RegisterClass(TObjectFactory AUserClass, std::u16string ARegisterExtensionAs,
                             std::u16string ANatApiClassName);
    int32_t ClassCount() const { return int32_t(ClassList.size()); }
    const TClassReg* Find(std::u16string_view ANatApiClassName) const;
    // Names of all classes joined by "|", zero-terminated.
    const std::u16string& ClassNames() const { return FClassNames; }
    // The same text in the host's character type, for GetClassNames.
    const WCHAR_T* HostClassNames() const { return FHostClassNames.c_str(); }
    void Clear();

    std::vector<std::unique_ptr<TClassReg>> ClassList;

private:
    std::u16string FClassNames;
    std::basic_string<WCHAR_T> FHostClassNames;
};

// The one registry of the library.
TClassRegList& ClassRegList();

// Logging enabled per device identifier; written when a session copies its
// LogEnabled setting, read around every call. Calls may come from several
// threads at once, so every access takes the table's lock.
class TDeviceLogFlags {
public:
    void Set(const std::string& ADeviceID, bool AEnabled);
    void Remove(const std::string& ADeviceID);
    // nullopt for an identifier without an entry.
    std::optional<bool> Find(const std::string& ADeviceID) const;
    size_t Count() const;
    void Clear();

private:
    mutable std::mutex FLock;
    std::map<std::string, bool> FFlags;
};
TDeviceLogFlags& DeviceLogFlags();
// Set once a driver object opened a session with MteDriver: from then on the
// call log stops suspending logging around calls without a device.
extern std::atomic<bool> SingleSessionMode;

// Failure of a call whose string result the host could not allocate.
inline constexpr const char* HostMemoryRefusedText = "Не удалось передать строку: платформа не выделила память";

// Host wide text is UTF-16 on every platform; only its C++ character type
// differs (char16_t on Linux, wchar_t on Windows). All host text passes
// through these copies.
std::u16string FromHostText(const WCHAR_T* AText);  // zero-terminated; null gives empty
std::u16string FromHostText(const WCHAR_T* AText, size_t ALength);
std::basic_string<WCHAR_T> ToHostText(std::u16string_view AText);
// AText equals the zero-terminated host text AHost (null equals nothing).
bool SameHostText(std::u16string_view AText, const WCHAR_T* AHost);

// Readers of host values (text results are UTF-8).
std::string V8GetWString(const tVariant* V);
bool V8IsString(const tVariant* V);
int32_t V8GetInt(const tVariant* V);
double V8GetDouble(const tVariant* V);
bool V8GetBool(const tVariant* V);
// Text of a value for the call log; raises "Unsupported data type - %s".
std::string V8ToText(const tVariant* V);
std::string V8TypeName(const tVariant* V);
// "[a; b; c]" with "BLOB" for blobs.
std::string V8ParamsText(const tVariant* Params, long Count);

// Base of every driver class: the host's memory manager and connection, and
// the writers that put values into host variants.
class TV8UserObject {
public:
    TV8UserObject() = default;
    TV8UserObject(const TV8UserObject&) = delete;
    TV8UserObject& operator=(const TV8UserObject&) = delete;
    virtual ~TV8UserObject() = default;

    virtual bool Init(IAddInDefBase* AConnection);
    virtual long GetInfo();
    virtual void SetLocale();
    virtual void Done();
    virtual bool SetMemManager(IMemoryManager* AMemManager);

    void V8ClearVar(tVariant* V);
    void V8SetBool(tVariant* V, bool AValue);
    void V8SetInt(tVariant* V, int32_t AValue);
    void V8SetInt64(tVariant* V, int64_t AValue);
    void V8SetDouble(tVariant* V, double AValue);
    void V8SetDate(tVariant* V, double AValue);
    bool V8SetWString(tVariant* V, std::u16string_view AValue);
    bool V8SetWString(tVariant* V, std::string_view AUtf8);
    bool V8SetPChar(tVariant* V, const char* AValue);
    bool V8SetString(tVariant* V, const std::string& AValue);
    bool V8SetBlob(tVariant* V, const void* AValue, uint32_t ALength);
    // A block of the host's memory manager; null without one or when the
    // host refuses.
    void* HostAlloc(size_t ABytes);
    // A zero-terminated copy in host memory, or null (see HostAlloc).
    WCHAR_T* HostWString(std::u16string_view AText);

    const TClassReg* ClassReg = nullptr;
    IMemoryManager* V8MM = nullptr;
    IAddInDefBase* V8 = nullptr;
    std::u16string locale;
};

// Typed access to the parameters and result of one host call, so that method
// bodies read and write plain values. Reads past the host's parameter count
// give empty values; writes there are ignored.
class TV8Call {
public:
    TV8Call(TV8UserObject& AObject, tVariant* ARetValue, tVariant* AParams, long ACount)
        : FObject(AObject), FRetValue(ARetValue), FParams(AParams), FCount(AParams ? ACount : 0) {}

    long Count() const { return FCount; }
    const tVariant* Param(long I) const { return (I >= 0 && I < FCount) ? &FParams[I] : &FEmpty; }
    std::string GetString(long I) const { return V8GetWString(Param(I)); }
    int32_t GetInt(long I) const { return V8GetInt(Param(I)); }
    double GetDouble(long I) const { return V8GetDouble(Param(I)); }
    bool GetBool(long I) const { return V8GetBool(Param(I)); }
    bool IsString(long I) const { return V8IsString(Param(I)); }

    // Raises when the host cannot allocate the string.
    void SetString(long I, std::string_view AUtf8);
    void SetInt(long I, int32_t AValue);
    void SetBool(long I, bool AValue);
    void SetDouble(long I, double AValue);

    tVariant* RetValue() const { return FRetValue; }
    void SetResultInt(int32_t AValue);
    void SetResultBool(bool AValue);

private:
    tVariant* Out(long I) const { return (I >= 0 && I < FCount) ? &FParams[I] : nullptr; }
    TV8UserObject& FObject;
    tVariant* FRetValue;
    tVariant* FParams;
    long FCount;
    tVariant FEmpty{};
};

// Sets the log mode around a call from the device identifier in its first
// parameter (see the call dispatch).
void ApplyLogModeSwitch(std::u16string_view AMethName, const tVariant* AParams, long ACount);

// Date-time of a tm value as the call log shows it: "dd.MM.yyyy HH:mm:ss",
// the time left out at midnight.
std::string TmToText(const struct tm& T);

}  // namespace fr
