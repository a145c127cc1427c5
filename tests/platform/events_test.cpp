// Events and waits as Windows has them; builds for the stand-in and for Windows, so the
// stand-in is checked against the real thing under Wine.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/platform.h"

namespace {

struct Events {
    Events() {
        for (HANDLE& event : handles) {
            event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        }
    }
    ~Events() {
        for (HANDLE event : handles) {
            CloseHandle(event);
        }
    }
    HANDLE handles[3];
};

TEST(EventsTest, AManualResetEventStaysSignalledUntilReset) {
    Events e;
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(SetEvent(e.handles[0]));
    EXPECT_EQ(WaitForSingleObject(e.handles[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.handles[0], INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);  // success leaves the last error alone
    EXPECT_TRUE(ResetEvent(e.handles[0]));
    EXPECT_EQ(WaitForSingleObject(e.handles[0], 0), WAIT_TIMEOUT);
}

TEST(EventsTest, TheLowestSignalledIndexWinsAMultipleWait) {
    struct Case {
        bool set[3];
        DWORD result;
    };
    const Case cases[] = {
        {{false, false, true}, WAIT_OBJECT_0 + 2},
        {{false, true, true}, WAIT_OBJECT_0 + 1},
        {{true, true, true}, WAIT_OBJECT_0},
        {{false, false, false}, WAIT_TIMEOUT},
    };
    for (const Case& c : cases) {
        Events e;
        for (int i = 0; i < 3; ++i) {
            if (c.set[i]) {
                SetEvent(e.handles[i]);
            }
        }
        SCOPED_TRACE(c.result);
        EXPECT_EQ(WaitForMultipleObjects(3, e.handles, FALSE, 0), c.result);
        EXPECT_EQ(WaitForMultipleObjects(3, e.handles, FALSE, 0), c.result);  // none consumed
    }
}

TEST(EventsTest, ATimedWaitEndsWithWaitTimeoutAfterItsTime) {
    Events e;
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForMultipleObjects(2, e.handles, FALSE, 50), WAIT_TIMEOUT);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    EXPECT_GE(seconds, 0.04);
    EXPECT_LT(seconds, 2.0);
}

TEST(EventsTest, AnEventCreatedSignalledAndAnInvalidHandle) {
    HANDLE set = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(WaitForSingleObject(set, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(set));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
