// The Windows toolchain as the driver needs it: the posix thread model's
// std::thread and std::mutex (the win32 model of GCC 12 has neither), C++
// exceptions through the statically linked runtime, and wide text as UTF-16.
#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

TEST(WindowsToolchain, ThreadsShareACounterUnderAMutex) {
    std::mutex Lock;
    int Counter = 0;
    std::vector<std::thread> Threads;
    for (int T = 0; T < 4; T++)
        Threads.emplace_back([&] {
            for (int I = 0; I < 10000; I++) {
                std::lock_guard<std::mutex> Guard(Lock);
                Counter++;
            }
        });
    for (auto& T : Threads)
        T.join();
    EXPECT_EQ(Counter, 40000);
}

TEST(WindowsToolchain, ExceptionsCrossThreadsAndFrames) {
    std::exception_ptr Caught;
    std::thread([&] {
        try {
            throw std::runtime_error("from a thread");
        } catch (...) {
            Caught = std::current_exception();
        }
    }).join();
    EXPECT_THROW(std::rethrow_exception(Caught), std::runtime_error);
}

TEST(WindowsToolchain, WideTextIsUtf16) {
    static_assert(sizeof(wchar_t) == 2 && sizeof(long) == 4);
    std::wstring S = L"₽";
    ASSERT_EQ(S.size(), 1u);
    EXPECT_EQ(static_cast<unsigned>(S[0]), 0x20BDu);
}
