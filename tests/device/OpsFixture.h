// Fixtures of the device-operation suites: the project's emulator on a
// pseudo-terminal or loopback TCP, and a scripted cash register on loopback
// TCP for answers the emulator never gives (short or odd ones).
#pragma once

#if __has_include("uEmulator.h")
#define FR_OPS_WITH_EMULATOR 1
#include "uEmulator.h"
#endif

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ScriptedKKT.h"
#include "base/uCommonUtils.h"
#include "device/uDevice.h"
#include "device/uDeviceFields.h"
#include "TestBytes.h"
#include "link/uCommManager.h"

namespace fr::ops {

using test::Bytes;
using test::Hex;
using test::TTransport;

inline const std::string Pwd = Bytes({30, 0, 0, 0});

// Code (one or two bytes), password, data: a payload as the device gets it.
inline std::string Cmd(uint16_t ACode, const std::string& AData = {}) {
    const std::string Code = ACode > 0xFF ? Bytes({0xFF, ACode & 0xFF}) : Bytes({ACode});
    return Code + Pwd + AData;
}

inline uint16_t CodeOf(const std::string& APayload) {
    if (APayload.empty()) return 0;
    return uint8_t(APayload[0]) == 0xFF && APayload.size() > 1 ? uint16_t(0xFF00 | uint8_t(APayload[1]))
                                                               : uint8_t(APayload[0]);
}

inline TCurrency Money(const char* AText) {
    return *TCurrency::Parse(AText);
}

#ifdef FR_OPS_WITH_EMULATOR
class OpsOnEmulator : public ::testing::TestWithParam<TTransport> {
protected:
    void SetUp() override {
        if (GetParam() == TTransport::Serial) {
            auto C = std::make_unique<TComDevice>();
            C->ComPort().SetDevicePath(Emu.StartSerial());
            C->SetConnectPwd(Pwd);
            ASSERT_EQ(C->Enable(1, 115200), 0);
            Device = std::move(C);
        } else {
            auto S = std::make_unique<TSocketDevice>();
            S->SetConnectPwd(Pwd);
            ASSERT_EQ(S->Enable("127.0.0.1", Emu.StartTCP(0)), 0);
            Device = std::move(S);
        }
        Device->SetPrintPollIntervals(1, 5);
        Emu.Device().ClearCommands();
    }
    void TearDown() override {
        Device.reset();
        Emu.Stop();
    }

    // The payloads the device received, without the short-state polls of
    // the printing waits.
    std::vector<std::string> Sent() {
        std::vector<std::string> R;
        for (const std::string& C : Emu.Device().Commands())
            if (CodeOf(C) != 0x10) R.push_back(C);
        return R;
    }
    void Forget() { Emu.Device().ClearCommands(); }
    void OpenShift() {
        Device->OpenDay({}, {});
        Device->WaitForPrint();
        Forget();
    }

    TEmulator Emu;
    std::unique_ptr<TDevice> Device;
};
#endif

// A cash register on loopback TCP that answers from a script: answers
// queued per command code (the last one repeats), else result 0.
class OpsScripted : public ::testing::Test {
protected:
    void SetUp() override {
        KKT =
            std::make_unique<test::TScriptedKKT>(TTransport::Tcp, [this](const std::string& P) { return Respond(P); });
        auto S = std::make_unique<TSocketDevice>();
        S->SetConnectPwd(Pwd);
        ASSERT_EQ(S->Enable("127.0.0.1", KKT->Port()), 0);
        Device = std::move(S);
        Device->SetPrintPollIntervals(1, 5);
        KKT->ClearCommands();
    }
    void TearDown() override {
        Device.reset();
        KKT.reset();
    }

    std::string Respond(const std::string& P) {
        std::lock_guard<std::mutex> L(FMutex);
        auto It = FScript.find(CodeOf(P));
        if (It != FScript.end() && !It->second.empty()) {
            const std::string A = It->second.front();
            if (It->second.size() > 1) It->second.pop_front();
            return A;
        }
        if (CodeOf(P) == 0x1F) return Bytes({0, 48});
        if (CodeOf(P) == 0x10) return std::string(15, '\0');  // idle, no document open
        return Bytes({0});
    }
    void On(uint16_t ACode, std::deque<std::string> AAnswers) {
        std::lock_guard<std::mutex> L(FMutex);
        FScript[ACode] = std::move(AAnswers);
    }
    std::vector<std::string> Sent() const {
        std::vector<std::string> R;
        for (const std::string& C : KKT->Commands())
            if (CodeOf(C) != 0x10) R.push_back(C);
        return R;
    }

    std::mutex FMutex;
    std::map<uint16_t, std::deque<std::string>> FScript;
    std::unique_ptr<test::TScriptedKKT> KKT;
    std::unique_ptr<TDevice> Device;
};

}  // namespace fr::ops
