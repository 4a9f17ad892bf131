// The COM ports tools/wine-com-test maps to ptys on the Linux side.
#pragma once

#include "WineSupport.h"

#include <gtest/gtest.h>

namespace vostrel {

constexpr const char* kStationPort = "COM1";  // the station simulator, greeting on each purge
constexpr const char* kRecordPort = "COM2";   // keeps every byte in VOSTREL_RECORD_FILE
constexpr const char* kSilentPort = "COM3";   // never read
constexpr const char* kHangUpPort = "COM4";   // hangs up at the first byte written

class ComLines : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (Env("VOSTREL_COM_LINES").empty())
            GTEST_SKIP() << "no COM ports mapped to test lines here (tools/wine-com-test maps them)";
    }
};

}  // namespace vostrel
