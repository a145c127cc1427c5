// The scenario parser: every key with its values, and the items it must refuse.
#include <gtest/gtest.h>

#include <string>

#include "emulator/emulator.h"

namespace {

using emulator::Scenario;

TEST(ScenarioTest, DefaultsForNullAndEmpty) {
    for (const char* text : {static_cast<const char*>(nullptr), "", " ; ;"}) {
        Scenario s;
        s.devices = 77;
        ASSERT_EQ(emulator::parse_scenario(text, &s, nullptr), 0);
        EXPECT_EQ(s.devices, 1u);
        EXPECT_EQ(s.read_mbps, 380u);
        EXPECT_EQ(s.write_mbps, 380u);
        EXPECT_EQ(s.ep0_bytes, 59u);
        EXPECT_EQ(s.ep0_us, 125u);
        EXPECT_FALSE(s.has_locked);
        EXPECT_EQ(s.read_fail.nth.k, 0u);
    }
}

TEST(ScenarioTest, EveryKeyIsRead) {
    const char* text =
        "devices=3; locked=2;read_mbps=0x10;write_mbps=7;at_once=1;"
        "read_fail=4;write_fail=5+:121;ep0_fail=1:0x1F:at_once;read_hang=6;write_hang=7+;"
        "ep0_hang=8;read_short=2:1000;write_short=3+:1;ep0_bytes=38;ep0_us=0;"
        "phy=0x0807060504030201;lnk=5:0xFFFFFFFFFFFFFFFF;no_cancelioex=1;tick_start=4294967000;"
        "trace=/tmp/some trace.txt;event_fail=1;thread_fail=2;alloc_fail=3";
    Scenario s;
    std::string error;
    ASSERT_EQ(emulator::parse_scenario(text, &s, &error), 0) << error;
    EXPECT_EQ(s.devices, 3u);
    EXPECT_TRUE(s.has_locked);
    EXPECT_EQ(s.locked, 2u);
    EXPECT_EQ(s.read_mbps, 16u);
    EXPECT_EQ(s.write_mbps, 7u);
    EXPECT_TRUE(s.at_once);
    EXPECT_EQ(s.read_fail.nth.k, 4u);
    EXPECT_FALSE(s.read_fail.nth.and_later);
    EXPECT_EQ(s.read_fail.code, 31u);
    EXPECT_FALSE(s.read_fail.at_once);
    EXPECT_TRUE(s.write_fail.nth.and_later);
    EXPECT_EQ(s.write_fail.code, 121u);
    EXPECT_EQ(s.ep0_fail.code, 31u);
    EXPECT_TRUE(s.ep0_fail.at_once);
    EXPECT_EQ(s.read_hang.k, 6u);
    EXPECT_TRUE(s.write_hang.and_later);
    EXPECT_EQ(s.ep0_hang.k, 8u);
    EXPECT_EQ(s.read_short.nth.k, 2u);
    EXPECT_EQ(s.read_short.bytes, 1000u);
    EXPECT_TRUE(s.write_short.nth.and_later);
    EXPECT_EQ(s.ep0_bytes, 38u);
    EXPECT_EQ(s.ep0_us, 0u);
    EXPECT_EQ(s.phy.start, 0x0807060504030201ull);
    EXPECT_EQ(s.phy.step, 0u);
    EXPECT_EQ(s.lnk.start, 5u);
    EXPECT_EQ(s.lnk.step, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_TRUE(s.no_cancelioex);
    EXPECT_TRUE(s.has_tick_start);
    EXPECT_EQ(s.tick_start, 4294967000u);
    EXPECT_EQ(s.trace, "/tmp/some trace.txt");
    EXPECT_EQ(s.event_fail, 1u);
    EXPECT_EQ(s.thread_fail, 2u);
    EXPECT_EQ(s.alloc_fail, 3u);
}

TEST(ScenarioTest, NthMatchesItsRequestOrEveryLaterOne) {
    const emulator::Nth third{3, false};
    const emulator::Nth from_third{3, true};
    const emulator::Nth never;
    for (uint64_t n = 1; n <= 5; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(third.matches(n), n == 3);
        EXPECT_EQ(from_third.matches(n), n >= 3);
        EXPECT_FALSE(never.matches(n));
    }
}

TEST(ScenarioTest, BadItemsAreRefusedWithAMessageNamingThem) {
    struct Case {
        const char* text;
        const char* named;  // must appear in the message
    };
    const Case cases[] = {
        {"bogus=1", "'bogus'"},
        {"devices", "'devices'"},
        {"Devices=1", "'Devices'"},
        {"devices=", "devices"},
        {"devices=x", "'x'"},
        {"devices=-1", "'-1'"},
        {"devices=4294967296", "4294967296"},
        {"read_mbps=1.5", "'1.5'"},
        {"at_once=2", "'2'"},
        {"read_fail=0", "read_fail"},
        {"read_fail=1:", "read_fail"},
        {"read_fail=1:31:later", "'1:31:later'"},
        {"read_fail=+", "read_fail"},
        {"write_hang=1++", "write_hang"},
        {"read_short=1", "read_short"},
        {"read_short=1:", "read_short"},
        {"phy=1:2:3", "phy"},
        {"phy=0x", "phy"},
        {"lnk=18446744073709551616", "lnk"},
        {"trace=", "trace"},
        {"devices=1;locked=x", "locked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Scenario s;
        s.devices = 77;
        std::string error;
        EXPECT_EQ(emulator::parse_scenario(c.text, &s, &error), 1);
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(s.devices, 77u);  // untouched on failure
    }
}

TEST(ScenarioTest, ConfigureRefusesABadScenarioAndKeepsTheOneInForce) {
    ASSERT_EQ(emulator::configure("devices=4", nullptr), 0);
    std::string error;
    EXPECT_EQ(emulator::configure("devices=2;bogus=1", &error), 1);
    EXPECT_EQ(error, "unknown scenario key 'bogus'");
    EXPECT_EQ(emulator::current_scenario().devices, 4u);
    EXPECT_EQ(emulator::configure("", nullptr), 0);
    EXPECT_EQ(emulator::current_scenario().devices, 1u);
}

}  // namespace
