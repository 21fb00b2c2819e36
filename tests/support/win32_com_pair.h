#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/serial_device.h"

#include <windows.h>

namespace quillon {

// True under Wine. Wine's serial ports do not refuse a second open (Windows' serial drivers
// allow one handle per port), so that check is left to the real system.
inline bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Two COM ports joined back to back (scripts/wine-com-bridge behind two Wine COM ports), named
// by the environment variable QUILLON_TEST_COM_PAIR as "COMa,COMb". Tests that need them skip
// themselves when the variable is not set.
struct Win32ComPair {
    std::string port;  // the port under test
    std::string peer;  // the other end, played by the test

    static bool Find(Win32ComPair& pair) {
        const char* value = std::getenv("QUILLON_TEST_COM_PAIR");
        const std::string text = value != nullptr ? value : "";
        const std::size_t comma = text.find(',');
        if (comma == std::string::npos) {
            return false;
        }
        pair.port = text.substr(0, comma);
        pair.peer = text.substr(comma + 1);
        return !pair.port.empty() && !pair.peer.empty();
    }

    // Opens `port` configured for 57600 baud and drops what an earlier test left on the line.
    static void OpenClean(SerialDevice& device, const std::string& port) {
        ASSERT_TRUE(device.Open(port)) << port;
        ASSERT_TRUE(device.Configure({57600})) << port;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::uint8_t scratch[1024];
        while (device.Read(scratch, sizeof scratch) > 0) {
        }
    }
};

#define QUILLON_REQUIRE_COM_PAIR(pair)                                                   \
    if (!Win32ComPair::Find(pair)) {                                                     \
        GTEST_SKIP() << "QUILLON_TEST_COM_PAIR is not set (scripts/wine-tests sets it)"; \
    }

}  // namespace quillon
