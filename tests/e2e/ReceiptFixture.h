// A driver loaded as the host loads it and opened on this test's emulator,
// over loopback TCP or a pseudo-terminal linked as com<n> (/dev/com<n>;
// COM<n> under Wine); helpers for check packages and the command payloads
// the emulator received.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "E2EDevice.h"
#include "E2EEnvironment.h"
#include "TestBytes.h"
#include "uEmulator.h"
#include "v8host/uV8Host.h"

namespace rcpt {

using fr::TEmuConfig;
using fr::TEmulator;
using fr::host::TCallResult;
using fr::host::TComponentHost;
using V = fr::host::THostValue;
using fr::test::Hex;
using fr::test::ShowHex;
using fr::test::TTransport;

inline const std::string kCashier =
    "<InputParameters><Parameters CashierName=\"Иванов И.И.\" CashierINN=\"500100732259\"/></InputParameters>";

// A check package from its parts.
inline std::string Package(const std::string& AParameters, const std::string& APositions,
                           const std::string& APayments) {
    return "<CheckPackage><Parameters " + AParameters + "</Parameters><Positions>" + APositions +
           "</Positions><Payments " + APayments + "/></CheckPackage>";
}

// One item with the attributes that every item needs and AExtra.
inline std::string Item(const std::string& AName, const std::string& AQuantity, const std::string& APrice,
                        const std::string& AAmount, const std::string& AVAT, const std::string& AVATAmount,
                        const std::string& AExtra = "", const std::string& AChildren = "") {
    return "<FiscalString Name=\"" + AName + "\" Quantity=\"" + AQuantity + "\" PriceWithDiscount=\"" + APrice +
           "\" AmountWithDiscount=\"" + AAmount + "\" VATRate=\"" + AVAT + "\" VATAmount=\"" + AVATAmount +
           "\" PaymentMethod=\"4\" CalculationSubject=\"1\" " + AExtra + ">" + AChildren + "</FiscalString>";
}

// The driver and the emulator of one test; FTransport selects the link.
class TReceiptBase : public ::testing::Test {
protected:
    void TearDown() override {
        if (Host) {
            Host->Destroy();
            EXPECT_TRUE(Host->Memory().Errors().empty());
            EXPECT_EQ(Host->Memory().LiveBlocks(), 0u);
        }
        if (Emu) Emu->Stop();
    }
    bool Tcp() const { return FTransport == TTransport::Tcp; }

    // (Re)starts the emulator with AConfig and opens a session on it. The
    // printer reports no "printing" polls, so no printing wait sleeps.
    void Start(TEmuConfig AConfig = Config()) {
        if (Host) Host->Destroy();
        Host.reset();
        if (Emu) Emu->Stop();
        Emu.reset();
        Emu = std::make_unique<TEmulator>(AConfig);
        if (Tcp()) {
            Port = Emu->StartTCP();
        } else {
            if (const char* Why = ComLinkUnavailable()) GTEST_SKIP() << Why;
            ASSERT_NE(Com.Number, 0) << "no free com number";
            Emu->StartSerial(Com.Number);
        }
        Host = std::make_unique<TComponentHost>();
        Host->Load(FR_LIBRARY_PATH);
        ASSERT_TRUE(Host->Create("fr_orvalen1c8x3n"));
        for (const auto& [Name, Value] : FSettings) Set(Name, Value);
        if (Tcp()) {
            Set("PortNumber", V::Int32(9999));
            Set("IPPort", V::Int32(Port));
        } else {
            Set("PortNumber", V::Int32(Com.Number));
        }
        const auto R = Host->Call("Open", {V::Empty()});
        ASSERT_TRUE(R.Result.Bool) << Host->LastError().second;
        ID = R.Params[0].Str;
    }
    static TEmuConfig Config() {
        TEmuConfig C;
        C.PrintPolls = 0;
        return C;
    }
    void Set(const std::string& AName, const V& AValue) {
        ASSERT_TRUE(Host->Call("SetParameter", {V::String(AName), AValue}).Result.Bool) << AName;
    }
    TCallResult Call(const std::string& AName, std::vector<V> AParams) {
        auto R = Host->Call(AName, AParams);
        EXPECT_TRUE(R.Called);
        EXPECT_TRUE(R.StringsInHostMemory);
        if (Tcp()) {
            EXPECT_EQ(ClientConnections(Port), 0) << AName << " left its connection open";
        }
        return R;
    }
    void OpenShift() { ASSERT_TRUE(Call("OpenShift", {V::String(ID), V::String(kCashier), V::Empty()}).Result.Bool); }
    TCallResult Check(const std::string& APackage, bool AElectronically = false) {
        return Call("ProcessCheck", {V::String(ID), V::Boolean(AElectronically), V::String(APackage), V::Empty()});
    }
    TCallResult Text(const std::string& ADocument) {
        return Call("PrintTextDocument", {V::String(ID), V::String(ADocument)});
    }
    std::pair<int32_t, std::string> LastError() { return Host->LastError(); }
    // The receipts (and correction receipts) the device stored.
    size_t StoredReceipts() const {
        size_t N = 0;
        for (const auto& D : Emu->Device().Documents()) N += D.Type == 3 || D.Type == 31;
        return N;
    }
    // The command payloads received since the last ClearCommands.
    std::vector<std::string> Commands() const { return Emu->Device().Commands(); }

    TTransport FTransport = TTransport::Tcp;
    std::vector<std::pair<std::string, V>> FSettings;  // set before every Open
    TComNumber Com;
    std::unique_ptr<TEmulator> Emu;
    std::unique_ptr<TComponentHost> Host;
    uint16_t Port = 0;
    std::string ID;
};

class TReceiptTest : public TReceiptBase, public ::testing::WithParamInterface<TTransport> {
protected:
    void SetUp() override {
        FTransport = GetParam();
        Start();
    }
};

// The connection password as the emulator records it (30, four bytes).
inline const std::string kPwd = "1E000000";

// "code + password + data" of a command as the emulator records it, from
// hex text.
inline std::string Cmd(const std::string& ACode, const std::string& AData = "") {
    return Hex(ACode + kPwd + AData);
}

// True when AActual holds exactly the payloads of AExpected, in this order.
inline ::testing::AssertionResult Exactly(const std::vector<std::string>& AActual,
                                          const std::vector<std::string>& AExpected) {
    if (AActual == AExpected) return ::testing::AssertionSuccess();
    auto Failure = ::testing::AssertionFailure() << "sent:";
    for (size_t I = 0; I < std::max(AActual.size(), AExpected.size()); ++I) {
        const std::string A = I < AActual.size() ? ShowHex(AActual[I]) : "(nothing)";
        Failure << "\n  " << A;
        if (I >= AExpected.size() || AActual[I] != AExpected[I])
            Failure << "\n    expected " << (I < AExpected.size() ? ShowHex(AExpected[I]) : "(nothing)");
    }
    return Failure;
}

// True when every payload of AExpected occurs in AActual, in this order.
inline ::testing::AssertionResult InOrder(const std::vector<std::string>& AActual,
                                          const std::vector<std::string>& AExpected) {
    size_t I = 0;
    for (const std::string& E : AExpected) {
        while (I < AActual.size() && AActual[I] != E) ++I;
        if (I == AActual.size()) {
            std::string All;
            for (const std::string& A : AActual) All += "\n  " + ShowHex(A);
            return ::testing::AssertionFailure() << "missing (or out of order): " << ShowHex(E) << "\nsent:" << All;
        }
        ++I;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace rcpt
