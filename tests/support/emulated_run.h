// A test run against the emulated device, for the tests of the device threads: the emulator's
// scenario, a fresh run state with its stop event and the opened device, the tool's threads
// started and joined as the tool does it, and the standard output they print.
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "app/run_state.h"
#include "device/device_open.h"
#include "device/error_text.h"
#include "emulator/emulator.h"
#include "platform/platform.h"
#include "portable/faults.h"
#include "portable/handles.h"

namespace testing_support {

using SteadyClock = std::chrono::steady_clock;

inline double seconds_since(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// The system's text for a code as the tool prints it: "" when there is none.
inline std::string error_text(DWORD code) {
    char* text = system_error_text(code);
    std::string result = text != nullptr ? text : "";
    release_error_text(text);
    return result;
}

class EmulatedRun : public ::testing::Test {
  protected:
    // Sets the scenario, then gives the run state a stop event and the opened device 0.
    // Faults are armed afterwards with arm(), so that only the code under test counts.
    void start_run(const std::string& scenario) {
        close_run();
        std::string error;
        ASSERT_EQ(emulator::configure(scenario.c_str(), &error), 0) << scenario << ": " << error;
        reset_run_state();
        run_state.stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(run_state.stop_event, nullptr);
        run_state.device_handle =
            open_device_interface(&device_interface_class, 0, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(run_state.device_handle, INVALID_HANDLE_VALUE);
        events_before_ = standin::live_handles(standin::Kind::event);
    }

    void TearDown() override {
        if (capturing_) {
            testing::internal::GetCapturedStdout();
        }
        close_run();
        emulator::configure("", nullptr);
    }

    // Closes what start_run made; the run state goes back to its initial values.
    static void close_run() {
        standin::disarm_all_faults();
        if (run_state.device_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(run_state.device_handle);
        }
        if (run_state.stop_event != nullptr) {
            CloseHandle(run_state.stop_event);
        }
        reset_run_state();
    }

    void capture() {
        testing::internal::CaptureStdout();
        capturing_ = true;
    }
    std::string captured() {
        capturing_ = false;
        return testing::internal::GetCapturedStdout();
    }

    // Events that the code under test made and did not close.
    int events_left() const { return standin::live_handles(standin::Kind::event) - events_before_; }

    static HANDLE start_thread(unsigned(__stdcall* entry)(void*)) {
        return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, entry, nullptr, 0, nullptr));
    }

    // Waits for the thread's end and closes its handle. A thread still running after
    // `limit_ms` fails the test; the run is then stopped so that the thread ends after all.
    static DWORD join(HANDLE thread, DWORD limit_ms = 10000) {
        DWORD code = 0xDEADBEEF;
        if (WaitForSingleObject(thread, limit_ms) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "thread still running after " << limit_ms << " ms";
            request_stop();
            if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) {
                // It would go on using the run state under the next test.
                fprintf(stderr, "thread does not end even after a stop\n");
                abort();
            }
        }
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        return code;
    }

    static bool stop_event_signalled() {
        return WaitForSingleObject(run_state.stop_event, 0) == WAIT_OBJECT_0;
    }

  private:
    bool capturing_ = false;
    int events_before_ = 0;
};

}  // namespace testing_support
