// Ctrl-C at the console stops a run as SIGINT does on Linux: the stop flag
// is set and the tool's exit status is 130. Built for Windows only. Wine's
// console generates no Ctrl-Break for a test to send; the handler takes it
// in the same case as Ctrl-C.

#include "platform/StopSignals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <windows.h>

TEST(ConsoleStop, CtrlCStopsTheRunWith130)
{
    // A console of its own, heeding Ctrl-C: a test program may have been
    // started without one, or told to ignore the key.
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole()) << ::GetLastError();
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    std::atomic<int> nStop{0};
    CStopSignals signals(&nStop);
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << ::GetLastError();
    // The system calls the handler on a thread of its own.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (nStop.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_NE(nStop.load(), 0);
    EXPECT_EQ(CStopSignals::ExitStatus(), 130);
}
