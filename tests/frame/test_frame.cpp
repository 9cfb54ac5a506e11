// The component frame in-process: a small driver class registered by hand,
// driven through the same host core the command-line host uses.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include "fiscal/uDriver.h"
#include "frame/uCustomDriver.h"
#include "log/uLog.h"
#include "v8host/uV8Host.h"

extern "C" {
const WCHAR_T* GetClassNames();
long GetClassObject(const WCHAR_T*, IComponentBase**);
long DestroyObject(IComponentBase**);
AttachType GetAttachType();
}

namespace fr {
namespace {

using host::TComponentHost;
using host::THostValue;

class TBaseDriver : public TCustomDriver {
public:
    static const TClassDecl& Decl() {
        static const TClassDecl D = MakeClassDecl<TBaseDriver>(&TCustomDriver::Decl(), [](auto& B) {
            B.template Method<&TBaseDriver::Which>("Which", "Который", 0);
            B.template Method<&TBaseDriver::Upper>("Upper", "Прописные", 1);
            B.Prop("BaseText", "БазовыйТекст", "Базовый текст", "base", false, &TBaseDriver::FBaseText);
        });
        return D;
    }
    const TClassDecl& ClassDecl() const override { return Decl(); }

    void Which(TV8Call& C) { C.SetResultInt(1); }
    void Upper(TV8Call& C) {
        try {
            std::string S = C.GetString(0);
            for (char& Ch : S) Ch = char(std::toupper(static_cast<unsigned char>(Ch)));
            C.SetString(0, S);
            ReportSuccess(C.RetValue());
        } catch (...) {
            HandleException(CurrentExceptionMessage(), C.RetValue(), 1001);
        }
    }
    std::string FBaseText = "base";
};

class TTestDriver : public TBaseDriver {
public:
    static const TClassDecl& Decl() {
        static const TClassDecl D = MakeClassDecl<TTestDriver>(&TBaseDriver::Decl(), [](auto& B) {
            B.template Method<&TTestDriver::Which>("Which", "Который", 0);
            B.template Method<&TTestDriver::Fail>("Fail", "Ошибка", 1);
            B.template Method<&TTestDriver::SetParameter>("SetParameter", "УстановитьПараметр", 2);
            B.Prop("Number", "Число", "Число", "7", false, &TTestDriver::FNumber);
            B.Prop("Text", "Текст", "Текст", "abc", false, &TTestDriver::FText);
            B.Prop("Flag", "Флаг", "Флаг", "true", false, &TTestDriver::FFlag);
            B.Prop("Ratio", "Доля", "Доля", "0.5", false, &TTestDriver::FRatio);
            B.Prop("Small", "Малое", "Малое", "3", false, &TTestDriver::FSmall);
            B.Prop("Fixed", "Неизменное", "Неизменное", "1", true, &TTestDriver::FFixed);
            B.Prop("LogEnabled", "ЛогВключен", "Вести лог", "false", false, &TTestDriver::FLogEnabled);
            B.template Action<&TTestDriver::Act>("Act", "Действие");
        });
        return D;
    }
    const TClassDecl& ClassDecl() const override { return Decl(); }

    void Which(TV8Call& C) { C.SetResultInt(2); }
    void Fail(TV8Call& C) {
        if (InsideFail) InsideFail();
        try {
            throw std::runtime_error("отказ: " + C.GetString(0));
        } catch (...) {
            HandleException(CurrentExceptionMessage(), C.RetValue(), 0);
        }
    }
    void SetParameter(TV8Call& C) {
        try {
            PropertySet(C.GetString(0), C.Param(1));
            ReportSuccess(C.RetValue());
        } catch (...) {
            HandleException(CurrentExceptionMessage(), C.RetValue(), 1001);
        }
    }
    void Act() { ++FActed; }
    // Runs inside Fail, before its log line (a device operation in progress).
    static inline std::function<void()> InsideFail;

    int32_t FNumber = 7;
    std::string FText = "abc";
    bool FFlag = true;
    double FRatio = 0.5;
    uint8_t FSmall = 3;
    int32_t FFixed = 1;
    bool FLogEnabled = false;
    int FActed = 0;
};

const char kDeviceID[] = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";

// The registry is global: both classes are registered once for the whole
// test program, and the log goes to a temporary folder.
class TFrameEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Dir = std::filesystem::temp_directory_path() / ("fr_frame_test_" + std::to_string(getpid()));
        std::filesystem::create_directories(Dir);
        GlobalLog().SetLogDirectory(Dir.string());
        GlobalLog().SetLogBaseName("frame");
        TCustomDriver::RegisterClass<TTestDriver>("TestDriver");
        TCustomDriver::RegisterClass<TBaseDriver>("Base");
    }
    void TearDown() override {
        SetLogMode(lmOff);
        std::filesystem::remove_all(Dir);
    }
    static inline std::filesystem::path Dir;
};

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new TFrameEnvironment);

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        Host.Attach(&::GetClassNames, &::GetClassObject, &::DestroyObject, &::GetAttachType);
        ASSERT_TRUE(Host.Create("TestDriver"));
        SetLogMode(lmOff);
        DeviceLogFlags().Clear();
    }
    void TearDown() override {
        Host.Destroy();
        EXPECT_TRUE(Host.Memory().Errors().empty());
        EXPECT_EQ(Host.Memory().LiveBlocks(), 0u);
    }
    std::string ReadLog() {
        std::ifstream F(GetLogFileName(false), std::ios::binary);
        std::stringstream S;
        S << F.rdbuf();
        return S.str();
    }
    TComponentHost Host;
};

TEST_F(FrameTest, ClassNamesAndObjectCreation) {
    EXPECT_EQ(Host.ClassNames(), "TestDriver|Base");
    EXPECT_EQ(Host.GetAttachType(), eCanAttachAny);
    IComponentBase* Obj = nullptr;
    EXPECT_EQ(::GetClassObject(u"testdriver", &Obj), 0);
    EXPECT_EQ(Obj, nullptr);
    EXPECT_EQ(::GetClassObject(nullptr, &Obj), 0);
    EXPECT_EQ(::DestroyObject(nullptr), 0);

    // A second object is independent of the first.
    TComponentHost Second;
    Second.Attach(&::GetClassNames, &::GetClassObject, &::DestroyObject, &::GetAttachType);
    ASSERT_TRUE(Second.Create("TestDriver"));
    EXPECT_NE(Second.Object(), Host.Object());
    Second.Destroy();
    EXPECT_TRUE(Host.Call("Which", {}).Called);
}

TEST_F(FrameTest, RegistryOrderOwnClassFirstThenAncestors) {
    const auto M = Host.Methods();
    ASSERT_EQ(M.size(), 5u);
    const std::vector<std::string> Names = {"Which", "Fail", "SetParameter", "Which", "Upper"};
    for (size_t I = 0; I < M.size(); ++I) EXPECT_EQ(M[I].Name, Names[I]) << I;
    EXPECT_EQ(M[4].NameLoc, "Прописные");
    EXPECT_EQ(M[4].ParamCount, 1);
    EXPECT_TRUE(M[4].HasRetVal);
    // The own entry answers; the ancestor's twin stays reachable by number.
    EXPECT_EQ(Host.Call("Which", {}).Result.Int, 2);
    EXPECT_EQ(Host.CallIndex(3, {}).Result.Int, 1);

    const auto P = Host.Props();
    ASSERT_EQ(P.size(), 8u);
    EXPECT_EQ(P[0].Name, "Number");
    EXPECT_EQ(P[7].Name, "BaseText");
    EXPECT_FALSE(P[5].Writable);  // Fixed
    EXPECT_TRUE(P[5].Readable);
}

TEST_F(FrameTest, NameLookUpIsExactAndTriesLocalizedFirst) {
    EXPECT_EQ(Host.FindMethod("Прописные"), 4);
    EXPECT_EQ(Host.FindMethod("Upper"), 4);
    EXPECT_EQ(Host.FindMethod("upper"), -1);
    EXPECT_EQ(Host.FindProp("Текст"), 1);
    EXPECT_EQ(Host.FindProp("text"), -1);
    EXPECT_EQ(Host.Object()->FindMethod(nullptr), -1);
    EXPECT_EQ(Host.Object()->GetMethodName(99, 0), nullptr);
    EXPECT_EQ(Host.Object()->GetNParams(-1), 0);
    tVariant V{};
    EXPECT_FALSE(Host.Object()->GetParamDefValue(4, 0, &V));
}

TEST_F(FrameTest, StringsComeBackAsHostCopies) {
    const auto R = Host.Call("Upper", {THostValue::String("abc")});
    EXPECT_TRUE(R.Called);
    EXPECT_EQ(R.Result.Type, VTYPE_BOOL);
    EXPECT_TRUE(R.Result.Bool);
    EXPECT_EQ(R.Params[0].Str, "ABC");
    EXPECT_TRUE(R.StringsInHostMemory);

    WCHAR_T* Ext = nullptr;
    EXPECT_TRUE(Host.Object()->RegisterExtensionAs(&Ext));
    ASSERT_NE(Ext, nullptr);
    EXPECT_TRUE(Host.Memory().Owns(Ext));
    EXPECT_EQ(std::u16string(Ext), u"TestDriver");
    void* P = Ext;
    Host.Memory().FreeMemory(&P);
}

TEST_F(FrameTest, RefusedAllocationFailsTheCall) {
    Host.Memory().FailNextAllocations(1);
    EXPECT_EQ(Host.Object()->GetPropName(0, 0), nullptr);
    WCHAR_T* Ext = reinterpret_cast<WCHAR_T*>(1);
    Host.Memory().FailNextAllocations(1);
    EXPECT_TRUE(Host.Object()->RegisterExtensionAs(&Ext));
    EXPECT_EQ(Ext, nullptr);

    // A method whose string result the host refuses reports failure and
    // leaves the parameter empty, not a string without its text.
    Host.Memory().FailNextAllocations(1);
    const auto R = Host.Call("Upper", {THostValue::Int32(5)});
    EXPECT_TRUE(R.Called);
    EXPECT_FALSE(R.Result.Bool);
    EXPECT_EQ(R.Params[0].Type, VTYPE_EMPTY);

    // The same for a text property read by the host.
    Host.Memory().FailNextAllocations(1);
    const auto P = Host.GetProp("Text");
    EXPECT_FALSE(P.Called);
    EXPECT_EQ(P.Result.Type, VTYPE_EMPTY);
    ASSERT_EQ(Host.Connection().Errors.size(), 1u);
    EXPECT_EQ(Host.Connection().Errors[0].Description, HostMemoryRefusedText);
}

TEST_F(FrameTest, PropertiesConvertBothWays) {
    EXPECT_TRUE(Host.SetProp("Число", THostValue::String("12")));
    EXPECT_EQ(Host.GetProp("Number").Result.Int, 12);
    EXPECT_TRUE(Host.SetProp("Number", THostValue::String("abc")));  // lenient: 0
    EXPECT_EQ(Host.GetProp("Number").Result.Int, 0);
    EXPECT_TRUE(Host.SetProp("Number", THostValue::Double(41.9)));
    EXPECT_EQ(Host.GetProp("Number").Result.Int, 41);
    EXPECT_TRUE(Host.SetProp("Ratio", THostValue::Int32(3)));
    EXPECT_EQ(Host.GetProp("Ratio").Result.Dbl, 3.0);
    EXPECT_TRUE(Host.SetProp("Small", THostValue::Int32(0x1FF)));
    EXPECT_EQ(Host.GetProp("Small").Result.Int, 0xFF);
    EXPECT_TRUE(Host.SetProp("Flag", THostValue::Int32(0)));
    const auto Flag = Host.GetProp("Flag").Result;
    EXPECT_EQ(Flag.Type, VTYPE_BOOL);
    EXPECT_FALSE(Flag.Bool);
    EXPECT_TRUE(Host.SetProp("Text", THostValue::String("Ёлка")));
    const auto Text = Host.GetProp("Текст");
    EXPECT_EQ(Text.Result.Str, "Ёлка");
    EXPECT_TRUE(Text.StringsInHostMemory);
    EXPECT_TRUE(Host.Connection().Errors.empty());
}

TEST_F(FrameTest, PropertyErrorsReachTheHostAsErrorMessages) {
    struct TCase {
        const char* Prop;
        THostValue Value;
        const char* Message;
    } Cases[] = {
        {"Text", THostValue::Int32(5), "Value type unacceptable"},
        {"Fixed", THostValue::Int32(5), "Property is read-only: Fixed"},
    };
    for (const auto& C : Cases) {
        Host.Connection().Errors.clear();
        EXPECT_FALSE(Host.SetProp(C.Prop, C.Value)) << C.Prop;
        ASSERT_EQ(Host.Connection().Errors.size(), 1u) << C.Prop;
        const auto& E = Host.Connection().Errors[0];
        EXPECT_EQ(E.Code, 1006);
        EXPECT_EQ(E.Source, "Внешняя компонента");
        EXPECT_EQ(E.Description, C.Message);
        EXPECT_EQ(E.SCode, long(0x80004005));
    }
    EXPECT_TRUE(Host.Connection().DescriptionsInHostMemory);
}

TEST_F(FrameTest, SetParameterMatchesEitherNameInAnyCase) {
    for (const char* Name : {"number", "ЧИСЛО", "Число", "NUMBER"}) {
        const auto R = Host.Call("SetParameter", {THostValue::String(Name), THostValue::Int32(99)});
        EXPECT_TRUE(R.Result.Bool) << Name;
        EXPECT_EQ(Host.GetProp("Number").Result.Int, 99);
        Host.SetProp("Number", THostValue::Int32(0));
    }
    const auto R = Host.Call("SetParameter", {THostValue::String("Нет такого"), THostValue::Int32(1)});
    EXPECT_FALSE(R.Result.Bool);
}

TEST_F(FrameTest, EveryParameterTypeReachesTheMethodAndTheLog) {
    // Logging off: the call runs, whatever the types.
    const auto Off = Host.Call("Upper", {THostValue::Date(45000.5)});
    EXPECT_TRUE(Off.Called);
    EXPECT_TRUE(Off.Result.Bool);
    EXPECT_TRUE(Host.Connection().Errors.empty());

    // Logging on: every type has its text in the call line.
    DeviceLogFlags().Set(kDeviceID, true);
    THostValue I2 = THostValue::OfType(VTYPE_I2), UI1 = THostValue::OfType(VTYPE_UI1),
               R4 = THostValue::OfType(VTYPE_R4), Narrow = THostValue::OfType(VTYPE_PSTR);
    I2.Int = -7;
    UI1.Int = 200;
    R4.Dbl = 2.5;
    Narrow.Str = "узкая";
    const auto On =
        Host.Call("Which", {THostValue::String(kDeviceID), I2, THostValue::OfType(VTYPE_I1), UI1, R4,
                            THostValue::Date(45000.5), Narrow, THostValue::OfType(VTYPE_NULL),
                            THostValue::OfType(VTYPE_INTERFACE), THostValue::OfType(VTYPE_I4 | VTYPE_ARRAY)});
    EXPECT_TRUE(On.Called);
    EXPECT_TRUE(Host.Connection().Errors.empty());
    EXPECT_NE(ReadLog().find("> Which: \tParams: [" + std::string(kDeviceID) +
                             "; -7; 0; 200; 2.5; 15.03.2023 12:00:00; узкая; NULL; VTYPE_INTERFACE; "
                             "VTYPE_I4 array]\r\n"),
              std::string::npos)
        << ReadLog();
    SetLogMode(lmOff);

    // SetParameter writes no call log, so it takes any value the readers know.
    EXPECT_TRUE(Host.Call("SetParameter", {THostValue::String("Number"), THostValue::Date(5.7)}).Result.Bool);
    EXPECT_EQ(Host.GetProp("Number").Result.Int, 5);
}

TEST_F(FrameTest, ExportedFailureIsAResultNotAHostError) {
    const auto R = Host.Call("Fail", {THostValue::String("x")});
    EXPECT_TRUE(R.Called);
    EXPECT_FALSE(R.Result.Bool);
    EXPECT_TRUE(Host.Connection().Errors.empty());
}

TEST_F(FrameTest, CallLogFollowsTheDeviceFlag) {
    // A device with logging on: both lines; blobs show as BLOB.
    DeviceLogFlags().Set(kDeviceID, true);
    Host.Call("Upper", {THostValue::String(kDeviceID)});
    Host.Call("Fail", {THostValue::String(kDeviceID)});
    EXPECT_EQ(GetLogMode(), lmAll);
    std::string Log = ReadLog();
    EXPECT_NE(Log.find("DEBUG\t> Upper: \tParams: [" + std::string(kDeviceID) + "]\r\n"), std::string::npos) << Log;
    EXPECT_NE(Log.find("DEBUG\t< Upper: \tResult=True; Params: [0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9]"),
              std::string::npos);
    EXPECT_NE(Log.find("ERROR\tException: \tотказ: " + std::string(kDeviceID)), std::string::npos);

    // Lower-case digits still name a device; its flag is off: nothing at all.
    const size_t Before = ReadLog().size();
    std::string Lower = kDeviceID;
    for (char& C : Lower) C = char(std::tolower(static_cast<unsigned char>(C)));
    DeviceLogFlags().Set(Lower, false);
    Host.Call("Fail", {THostValue::String(Lower)});
    EXPECT_EQ(GetLogMode(), lmOff);
    // Switching from lmAll to lmOff wrote only the footer.
    const std::string After = ReadLog().substr(Before);
    EXPECT_EQ(After.find("Fail"), std::string::npos) << After;

    // SetParameter is never logged and leaves the mode alone.
    SetLogMode(lmAll);
    const size_t Mark = ReadLog().size();
    Host.Call("SetParameter", {THostValue::String("Number"), THostValue::Int32(1)});
    EXPECT_EQ(GetLogMode(), lmAll);
    EXPECT_EQ(ReadLog().size(), Mark);

    // Any other first parameter suspends logging; a blob leaves it alone.
    Host.Call("Upper", {THostValue::String("not a device")});
    EXPECT_EQ(GetLogMode(), lmSuspended);
    SetLogMode(lmAll);
    Host.Call("Which", {THostValue::Blob("\x01\x02")});
    EXPECT_EQ(GetLogMode(), lmAll);
    EXPECT_NE(ReadLog().find("Params: [BLOB]"), std::string::npos);
    SetLogMode(lmOff);
}

TEST_F(FrameTest, SingleSessionModeKeepsLoggingOn) {
    SingleSessionMode = true;
    SetLogMode(lmAll);
    Host.Call("Upper", {THostValue::String("x")});
    EXPECT_EQ(GetLogMode(), lmAll);
    SingleSessionMode = false;
    SetLogMode(lmOff);
}

// Two host threads call at once: each call's lines follow its own device's
// flag, while the shared tables (log flags, driver description) change.
TEST_F(FrameTest, TwoThreadsCallAtOnce) {
    const std::string Quiet = "11111111-2222-3333-4444-555555555555";
    DeviceLogFlags().Set(kDeviceID, true);
    DeviceLogFlags().Set(Quiet, false);
    TComponentHost Other;
    Other.Attach(&::GetClassNames, &::GetClassObject, &::DestroyObject, &::GetAttachType);
    ASSERT_TRUE(Other.Create("TestDriver"));
    const size_t Start = ReadLog().size();

    // A call of the unlogged device runs to its end while a call of the
    // logged one is half-way: the logged call still writes its own line.
    std::promise<void> Inside, OtherDone;
    std::shared_future<void> OtherDoneFuture = OtherDone.get_future().share();
    TTestDriver::InsideFail = [&] {
        Inside.set_value();
        OtherDoneFuture.wait();
    };
    std::thread Logged([&] { Host.Call("Fail", {THostValue::String(kDeviceID)}); });
    Inside.get_future().wait();
    EXPECT_TRUE(Other.Call("Upper", {THostValue::String(Quiet)}).Result.Bool);
    OtherDone.set_value();
    Logged.join();
    TTestDriver::InsideFail = nullptr;

    // Both at full speed.
    constexpr int Rounds = 200;
    std::atomic<int> Failed{0};
    std::atomic<bool> Done{false};
    std::thread Busy([&] {
        for (int I = 0; I < Rounds; ++I)
            if (!Host.Call("Upper", {THostValue::String(kDeviceID)}).Result.Bool) ++Failed;
        Done = true;
    });
    for (int I = 0; I < Rounds || !Done; ++I) {
        if (!Other.Call("Upper", {THostValue::String(Quiet)}).Result.Bool) ++Failed;
        const std::string Passing = "ABCDEF01-0000-0000-0000-" + std::to_string(100000000000 + I);
        DeviceLogFlags().Set(Passing, I % 2 == 0);
        DeviceLogFlags().Remove(Passing);
        TDriver Created;
        EXPECT_NE(Created.GetDescriptionXml().find("EquipmentType=\"ККТ\""), std::string::npos);
    }
    Busy.join();
    Other.Destroy();
    SetLogMode(lmOff);
    EXPECT_EQ(Failed.load(), 0);

    const std::string Log = ReadLog().substr(Start);
    const auto Count = [&Log](const std::string& AText) {
        int N = 0;
        for (size_t P = Log.find(AText); P != std::string::npos; P = Log.find(AText, P + 1)) ++N;
        return N;
    };
    EXPECT_EQ(Count("ERROR\tException: \tотказ: " + std::string(kDeviceID)), 1) << Log;
    EXPECT_EQ(Count("> Upper: \tParams: [" + std::string(kDeviceID) + "]"), Rounds);
    EXPECT_EQ(Count("< Upper: \tResult=True; Params: [" + std::string(kDeviceID) + "]"), Rounds);
    EXPECT_EQ(Count(Quiet), 0);
}

// ------------------------------------------------ declared-export helpers

TEST(CustomDriver, ResultCodes) {
    TResult R;
    EXPECT_EQ(R.GetIntResult(), 0);
    R.SetError("x", 0);
    EXPECT_EQ(R.GetIntResult(), 1001);
    R.SetError("y", 3015);
    EXPECT_EQ(R.GetIntResult(), 3015);
    EXPECT_EQ(R.ErrorDescription, "y");
    R.Clear();
    EXPECT_TRUE(R.BoolResult);
    EXPECT_EQ(R.GetIntResult(), 0);
}

TEST(CustomDriver, VariantFormsAreStrictAndDefaultsSkipLogEnabled) {
    TTestDriver D;
    D.PropertySet("number", TValue("12"));
    EXPECT_EQ(D.FNumber, 12);
    EXPECT_THROW(D.PropertySet("number", TValue("abc")), std::runtime_error);
    D.PropertySet("Флаг", TValue("FALSE"));
    EXPECT_FALSE(D.FFlag);
    try {
        D.PropertySet("nothing", TValue(1));
        FAIL();
    } catch (const std::exception& E) {
        EXPECT_STREQ(E.what(), "Property not found: nothing");
    }

    D.FNumber = 1;
    D.FText = "x";
    D.FLogEnabled = true;
    D.FBaseText = "changed";
    D.PropertiesSetDefault();
    EXPECT_EQ(D.FNumber, 7);
    EXPECT_EQ(D.FText, "abc");
    EXPECT_TRUE(D.FFlag);
    EXPECT_EQ(D.FRatio, 0.5);
    EXPECT_EQ(D.FBaseText, "base");
    EXPECT_TRUE(D.FLogEnabled);  // kept: it is the log switch
}

class TSession : public TPropertyHolder {
public:
    static const TClassDecl& Decl() {
        static const TClassDecl D = MakeClassDecl<TSession>(nullptr, [](auto& B) {
            B.Prop("Number", "Число", "", "0", false, &TSession::FNumber);
            B.Prop("LogEnabled", "ЛогВключен", "", "false", false, &TSession::FLogEnabled);
        });
        return D;
    }
    const TClassDecl& ClassDecl() const override { return Decl(); }
    int32_t FNumber = 0;
    bool FLogEnabled = false;
};

class TCopyingDriver : public TTestDriver {
public:
    void Copy(TPropertyHolder& ATarget, const std::string& AID) {
        FDeviceID = AID;
        for (const TPropDecl* P : ClassDecl().AllProps())
            if (P->Name == "Number" || P->Name == "LogEnabled") CopyPropertyTo(*P, GetPropertyValue(*P), ATarget);
        const TPropDecl* Text = ClassDecl().AllProps()[1];
        CopyPropertyTo(*Text, GetPropertyValue(*Text), ATarget);
    }
};

TEST(CustomDriver, CopyPropertyToKeepsDeviceLogFlags) {
    DeviceLogFlags().Clear();
    TCopyingDriver D;
    TSession S;
    D.FNumber = 42;
    D.FLogEnabled = true;
    try {
        D.Copy(S, kDeviceID);
        FAIL() << "Text has no counterpart in the session";
    } catch (const std::exception& E) {
        EXPECT_STREQ(E.what(), "Property \"Text\" not found in Source object.");
    }
    EXPECT_EQ(S.FNumber, 42);
    EXPECT_TRUE(S.FLogEnabled);
    EXPECT_EQ(DeviceLogFlags().Find(kDeviceID), std::optional<bool>(true));
}

TEST(CustomDriver, ActionsAreListedInRegistryOrder) {
    const auto A = TTestDriver::Decl().AllActions();
    ASSERT_EQ(A.size(), 1u);
    EXPECT_EQ(A[0]->Caption, "Действие");
    TTestDriver D;
    A[0]->Run(D);
    EXPECT_EQ(D.FActed, 1);
}

// ------------------------------------------------------------ host values

TEST(HostValues, ReadersByType) {
    auto Make = [](uint16_t T) {
        tVariant V{};
        V.vt = T;
        return V;
    };
    tVariant I4 = Make(VTYPE_I4);
    I4.lVal = -5;
    tVariant I2 = Make(VTYPE_I2);
    I2.shortVal = -7;
    tVariant UI1 = Make(VTYPE_UI1);
    UI1.ui8Val = 200;
    tVariant R8 = Make(VTYPE_R8);
    R8.dblVal = -2.9;
    tVariant R4 = Make(VTYPE_R4);
    R4.fltVal = 3.7f;
    tVariant B = Make(VTYPE_BOOL);
    B.bVal = true;
    std::u16string Text = u" 12 ";
    tVariant S = Make(VTYPE_PWSTR);
    S.pwstrVal = Text.data();
    S.wstrLen = uint32_t(Text.size());
    std::u16string Bad = u"1,5";
    tVariant SB = Make(VTYPE_PWSTR);
    SB.pwstrVal = Bad.data();
    SB.wstrLen = uint32_t(Bad.size());
    tVariant I8 = Make(VTYPE_I8);
    I8.llVal = 5;

    EXPECT_EQ(V8GetInt(&I4), -5);
    EXPECT_EQ(V8GetInt(&I2), -7);
    EXPECT_EQ(V8GetInt(&UI1), 200);
    EXPECT_EQ(V8GetInt(&R8), -2);
    EXPECT_EQ(V8GetInt(&R4), 3);
    EXPECT_EQ(V8GetInt(&S), 12);
    EXPECT_EQ(V8GetInt(&SB), 0);
    EXPECT_EQ(V8GetInt(&I8), 0);  // not among the integer types read
    EXPECT_EQ(V8GetDouble(&S), 12.0);
    EXPECT_EQ(V8GetDouble(&SB), 0.0);
    EXPECT_TRUE(V8GetBool(&B));
    EXPECT_TRUE(V8GetBool(&I4));
    EXPECT_TRUE(V8IsString(&S));
    EXPECT_FALSE(V8IsString(&I4));
    EXPECT_EQ(V8GetWString(&I4), "");

    EXPECT_EQ(V8ToText(&R8), "-2.9");
    EXPECT_EQ(V8ToText(&B), "True");
    EXPECT_EQ(V8ToText(&I8), "5");
    tVariant Tm = Make(VTYPE_TM);
    Tm.tmVal.tm_year = 124;
    Tm.tmVal.tm_mon = 2;
    Tm.tmVal.tm_mday = 3;
    EXPECT_EQ(V8ToText(&Tm), "03.03.2024");
    Tm.tmVal.tm_hour = 9;
    Tm.tmVal.tm_sec = 5;
    EXPECT_EQ(V8ToText(&Tm), "03.03.2024 09:00:05");
    tVariant Ref = Make(VTYPE_I4 | VTYPE_BYREF | VTYPE_ARRAY);
    EXPECT_EQ(V8TypeName(&Ref), "VTYPE_I4 by ref");
    tVariant Odd = Make(200);
    EXPECT_EQ(V8TypeName(&Odd), "unknown type");
    // A boolean byte other than 0 and 1 is true, and reading it is defined
    // (the sanitizers stop on a C++ bool holding 2).
    tVariant B2 = Make(VTYPE_BOOL);
    std::memset(&B2.bVal, 2, 1);
    EXPECT_TRUE(V8GetBool(&B2));
    EXPECT_EQ(V8ToText(&B2), "True");
}

TEST(HostValues, EveryTypeHasALogText) {
    auto Make = [](uint16_t T, auto ASet) {
        tVariant V{};
        V.vt = T;
        ASet(V);
        return V;
    };
    char Narrow[] = "a\xFF";
    const std::pair<tVariant, const char*> Cases[] = {
        {Make(VTYPE_EMPTY, [](tVariant&) {}), ""},
        {Make(VTYPE_NULL, [](tVariant&) {}), "NULL"},
        {Make(VTYPE_I1, [](tVariant& V) { V.i8Val = -3; }), "-3"},
        {Make(VTYPE_I2, [](tVariant& V) { V.shortVal = -300; }), "-300"},
        {Make(VTYPE_UI1, [](tVariant& V) { V.ui8Val = 255; }), "255"},
        {Make(VTYPE_UI2, [](tVariant& V) { V.ushortVal = 65535; }), "65535"},
        {Make(VTYPE_UI4, [](tVariant& V) { V.ulVal = 4000000000u; }), "4000000000"},
        {Make(VTYPE_UI8, [](tVariant& V) { V.ullVal = 18000000000000000000u; }), "18000000000000000000"},
        {Make(VTYPE_INT, [](tVariant& V) { V.intVal = -9; }), "-9"},
        {Make(VTYPE_UINT, [](tVariant& V) { V.uintVal = 9; }), "9"},
        {Make(VTYPE_ERROR, [](tVariant& V) { V.errCode = 1006; }), "1006"},
        {Make(VTYPE_HRESULT, [](tVariant& V) { V.hRes = -5; }), "-5"},
        {Make(VTYPE_R4, [](tVariant& V) { V.fltVal = 3.7f; }), "3.7"},
        {Make(VTYPE_DATE, [](tVariant& V) { V.date = 45354.0; }), "03.03.2024"},
        {Make(VTYPE_DATE, [](tVariant& V) { V.date = 45354.25; }), "03.03.2024 06:00:00"},
        {Make(VTYPE_DATE, [](tVariant& V) { V.date = 1e300; }), "1e+300"},
        {Make(VTYPE_PSTR,
              [&](tVariant& V) {
                  V.pstrVal = Narrow;
                  V.strLen = 2;
              }),
         "a\xEF\xBF\xBD"},
        {Make(VTYPE_PSTR, [](tVariant&) {}), ""},
        {Make(VTYPE_BLOB, [](tVariant&) {}), "BLOB"},
        {Make(VTYPE_CLSID, [](tVariant&) {}), "VTYPE_CLSID"},
        {Make(VTYPE_I4 | VTYPE_BYREF, [](tVariant&) {}), "VTYPE_I4 by ref"},
        {Make(200, [](tVariant&) {}), "unknown type"},
    };
    for (const auto& [V, Text] : Cases) EXPECT_EQ(V8ToText(&V), Text) << V8TypeName(&V);
}

TEST(HostValues, UnpairedSurrogatesNeverBreakAConversion) {
    std::u16string Text = u"a";
    Text += char16_t(0xD800);
    Text += u"b";
    tVariant S{};
    S.vt = VTYPE_PWSTR;
    S.pwstrVal = Text.data();
    S.wstrLen = uint32_t(Text.size());
    EXPECT_EQ(V8GetWString(&S), "a\xEF\xBF\xBD" "b");
}

TEST(HostValues, WritersFreeTheOldBlock) {
    host::THostMemoryManager Mem;
    TTestDriver D;
    D.V8MM = &Mem;
    tVariant V{};
    EXPECT_TRUE(D.V8SetWString(&V, std::string_view("first")));
    EXPECT_TRUE(D.V8SetWString(&V, std::string_view("второй")));
    EXPECT_EQ(Mem.LiveBlocks(), 1u);
    EXPECT_EQ(V.wstrLen, 6u);
    EXPECT_EQ(std::u16string(V.pwstrVal), u"второй");
    D.V8SetInt(&V, 3);
    EXPECT_EQ(Mem.LiveBlocks(), 0u);
    EXPECT_EQ(V.vt, VTYPE_I4);
    EXPECT_TRUE(D.V8SetPChar(&V, nullptr));  // null source changes nothing
    EXPECT_EQ(V.vt, VTYPE_I4);
    EXPECT_TRUE(D.V8SetBlob(&V, "\x00\x01", 2));
    EXPECT_EQ(V.vt, VTYPE_BLOB);
    EXPECT_EQ(V.strLen, 2u);
    D.V8ClearVar(&V);
    EXPECT_EQ(V.vt, VTYPE_EMPTY);
    EXPECT_TRUE(Mem.Errors().empty());

    // A refused allocation leaves the value empty, never typed without its block.
    Mem.FailNextAllocations(1);
    EXPECT_FALSE(D.V8SetWString(&V, std::string_view("x")));
    EXPECT_EQ(V.vt, VTYPE_EMPTY);
    Mem.FailNextAllocations(1);
    EXPECT_FALSE(D.V8SetPChar(&V, "x"));
    EXPECT_EQ(V.vt, VTYPE_EMPTY);
    Mem.FailNextAllocations(1);
    EXPECT_FALSE(D.V8SetBlob(&V, "x", 1));
    EXPECT_EQ(V.vt, VTYPE_EMPTY);
    EXPECT_EQ(Mem.LiveBlocks(), 0u);
}

}  // namespace
}  // namespace fr
