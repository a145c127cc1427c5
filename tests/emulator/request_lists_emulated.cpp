// Rules that name several requests of a kind, "K1,K2,...,Kn[+]": what the parser takes and
// refuses, which requests they hit, and the device failing exactly those requests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulated_device.h"
#include "emulator/emulator.h"

namespace {

using emulator::Scenario;

// The request numbers from 1 to `up_to` that a rule hits.
std::vector<uint64_t> hits(const emulator::Nth& nth, uint64_t up_to) {
    std::vector<uint64_t> numbers;
    for (uint64_t n = 1; n <= up_to; ++n) {
        if (nth.matches(n)) {
            numbers.push_back(n);
        }
    }
    return numbers;
}

TEST(RequestListTest, AListHitsEachOfItsRequestsAndAPlusEverythingAfterTheLast) {
    struct Case {
        const char* text;
        std::vector<uint64_t> hit;  // among requests 1 to 12
    };
    const Case cases[] = {
        {"ep0_hang=3", {3}},
        {"ep0_hang=3+", {3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"ep0_hang=2,5,9", {2, 5, 9}},
        {"ep0_hang=2,5,9+", {2, 5, 9, 10, 11, 12}},
        {"ep0_hang=0x2,0xA", {2, 10}},
        {"ep0_hang=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"ep0_hang=11,12", {11, 12}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Scenario s;
        std::string error;
        ASSERT_EQ(emulator::parse_scenario(c.text, &s, &error), 0) << error;
        EXPECT_EQ(hits(s.ep0_hang, 12), c.hit);
    }
}

TEST(RequestListTest, ListsWorkInEveryRuleThatCountsRequests) {
    Scenario s;
    std::string error;
    ASSERT_EQ(emulator::parse_scenario("read_fail=2,4:121:at_once;write_fail=3,6+;"
                                       "ep0_fail=5,7:31;read_hang=8,9;write_short=1,3:100",
                                       &s, &error),
              0)
        << error;
    EXPECT_EQ(hits(s.read_fail.nth, 8), (std::vector<uint64_t>{2, 4}));
    EXPECT_EQ(s.read_fail.code, 121u);
    EXPECT_TRUE(s.read_fail.at_once);
    EXPECT_EQ(hits(s.write_fail.nth, 8), (std::vector<uint64_t>{3, 6, 7, 8}));
    EXPECT_EQ(s.write_fail.code, 31u);
    EXPECT_EQ(hits(s.ep0_fail.nth, 8), (std::vector<uint64_t>{5, 7}));
    EXPECT_EQ(hits(s.read_hang, 10), (std::vector<uint64_t>{8, 9}));
    EXPECT_EQ(hits(s.write_short.nth, 4), (std::vector<uint64_t>{1, 3}));
    EXPECT_EQ(s.write_short.bytes, 100u);
}

TEST(RequestListTest, BadListsAreRefused) {
    const char* cases[] = {
        "ep0_fail=2,",    "ep0_fail=,2",     "ep0_fail=2,,3",
        "ep0_fail=3,2",   "ep0_fail=2,2",    "ep0_fail=2+,3",
        "ep0_fail=0,2",   "ep0_fail=2,x:31", "ep0_fail=2, 3",
        "read_short=1,2", "ep0_hang=2,3++",  "ep0_hang=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        Scenario s;
        s.devices = 5;
        std::string error;
        EXPECT_EQ(emulator::parse_scenario(text, &s, &error), 1);
        EXPECT_NE(error.find(std::string(text).substr(0, 8)), std::string::npos) << error;
        EXPECT_EQ(s.devices, 5u);
    }
}

using ListedFailures = emulator_testing::EmulatedDevice;

TEST_F(ListedFailures, TheDeviceFailsEveryListedRequestAndNoOther) {
    start("read_mbps=0;read_fail=2,4:121;read_short=5,6:1000");
    emulator_testing::Transfer t;
    const DWORD expected_error[] = {0, 121, 0, 121, 0, 0, 0};
    const DWORD expected_bytes[] = {65536, 0, 65536, 0, 1000, 1000, 65536};
    for (unsigned i = 0; i < 7; ++i) {
        SCOPED_TRACE("read " + std::to_string(i + 1));
        DWORD error = 0;
        const BOOL done = bulk_to_end(t, 0x81, &error);
        EXPECT_EQ(done != FALSE, expected_error[i] == 0);
        EXPECT_EQ(error, expected_error[i]);
        if (done) {
            EXPECT_EQ(t.bytes, expected_bytes[i]);
        }
    }
    const emulator::EndpointFigures in = emulator::figures(0x81);
    EXPECT_EQ(in.failed, 2u);
    EXPECT_EQ(in.succeeded, 5u);
    EXPECT_EQ(in.bytes_moved, 3u * 65536u + 2000u);
}

}  // namespace
