#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "runtime/BaseThread.h"
#include "runtime/ThreadFactory.h"
#include "support/FakeDriver.h"

using namespace zentavo;
using halvencap_test::FakeDriver;

namespace {

class CWaitingThread : public CBaseThread {
public:
    using CBaseThread::CBaseThread;
    ~CWaitingThread() override { StopThread(2000); }
    void Run() override { m_stopEvent.Wait(INFINITE); }
};

// Sets the driver's thread limit for tests to the live count plus room.
class LimitScope {
public:
    explicit LimitScope(long room) {
        const std::string value = std::to_string(CThreadFactory::LiveThreads() + room);
        SetEnvironmentVariableA("HALVENCAP_TEST_THREAD_LIMIT", value.c_str());
    }
    ~LimitScope() { SetEnvironmentVariableA("HALVENCAP_TEST_THREAD_LIMIT", nullptr); }
};

}  // namespace

TEST(ThreadFactory, AThreadPastTheLimitFailsWithOneLineAndLeavesNothing) {
    FakeDriver driver;
    CWaitingThread first(&driver), second(&driver);
    const long liveBefore = CThreadFactory::LiveThreads();
    {
        LimitScope limit(1);
        ASSERT_TRUE(first.StartThread("first"));
        EXPECT_FALSE(second.StartThread("second"));
        EXPECT_FALSE(second.IsRunning());
        EXPECT_EQ(CThreadFactory::LiveThreads(), liveBefore + 1);
    }
    ASSERT_EQ(driver.CountContaining("could not start"), 1u);
    const std::string line = driver.Lines().back().text;
    EXPECT_EQ(line.rfind("zentavo::CBaseThread::StartThread: could not start thread \"second\" for device ", 0), 0u)
        << line;
    EXPECT_NE(line.find("the process has too many threads or too little address space left (error 8)"),
              std::string::npos)
        << line;
    // The same object starts once there is room again.
    EXPECT_TRUE(second.StartThread("second"));
    EXPECT_TRUE(second.StopThread(2000));
    EXPECT_TRUE(first.StopThread(2000));
    EXPECT_EQ(CThreadFactory::LiveThreads(), liveBefore);
}

TEST(ThreadFactory, ThreadsReserveASmallStack) {
    // The whole reservation the thread's stack lives in, seen from inside.
    struct Probe {
        static DWORD WINAPI Entry(LPVOID result) {
            volatile char local = 0;
            MEMORY_BASIC_INFORMATION region;
            if (VirtualQuery(const_cast<char*>(&local), &region, sizeof region) != sizeof region) return 1;
            char* const base = static_cast<char*>(region.AllocationBase);
            size_t size = 0;
            for (char* at = base; VirtualQuery(at, &region, sizeof region) == sizeof region &&
                                  region.AllocationBase == base && region.State != MEM_FREE;
                 at += region.RegionSize)
                size += region.RegionSize;
            *static_cast<size_t*>(result) = size;
            return 0;
        }
    };
    size_t reserved = 0;
    HANDLE thread = CThreadFactory::Create(&Probe::Entry, &reserved, false, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    RecordProperty("stack_reservation", std::to_string(reserved));
    // Windows keeps to the reservation asked for; Wine rounds it up to
    // 1 MiB. Either way it is less than the process's default (the
    // executable's header: 1 MiB for MSVC hosts, 2 MiB for this program).
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleA(nullptr));
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(dos) + dos->e_lfanew);
    const size_t processDefault = nt->OptionalHeader.SizeOfStackReserve;
    EXPECT_GT(reserved, 0u);
    EXPECT_LE(reserved, std::max<size_t>(2 * CThreadFactory::kStackReservation, 1024 * 1024)) << reserved;
    EXPECT_LT(reserved, processDefault) << reserved;
}
