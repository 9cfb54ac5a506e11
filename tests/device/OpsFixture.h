// Fixtures of the device-operation suites: the project's emulator on a
// pseudo-terminal or loopback TCP (the scripted cash register for answers
// the emulator never gives is ScriptedAnswersTest.cpp's).
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

#include "TestBytes.h"
#include "base/uCommonUtils.h"
#include "device/uDevice.h"
#include "device/uDeviceFields.h"
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

}  // namespace fr::ops
