// The four request blocks byte for byte, and the two control codes from the CTL_CODE rule.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "device/transfer_block.h"

namespace {

std::string hex_of(const void* bytes, size_t count) {
    std::string text;
    char two[4];
    for (size_t i = 0; i < count; ++i) {
        snprintf(two, sizeof two, "%02X ", static_cast<const unsigned char*>(bytes)[i]);
        text += two;
    }
    return text;
}

TEST(TransferBlockTest, TheFourBlocksAreByteForByteTheDriversLayout) {
    const std::string zeros16 = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ";
    struct Case {
        const char* name;
        void (*fill)(TransferBlock*);
        std::string bytes;
    };
    const Case cases[] = {
        {"start request", [](TransferBlock* b) { fill_status_block(b, 1); },
         "C0 01 01 00 00 00 15 00 1E 00 00 00 00 00 " + zeros16 + "26 00 00 00 15 00 00 00 "},
        {"start request, any nonzero", [](TransferBlock* b) { fill_status_block(b, -7); },
         "C0 01 01 00 00 00 15 00 1E 00 00 00 00 00 " + zeros16 + "26 00 00 00 15 00 00 00 "},
        {"status poll", [](TransferBlock* b) { fill_status_block(b, 0); },
         "C0 01 00 00 00 00 15 00 1E 00 00 00 00 00 " + zeros16 + "26 00 00 00 15 00 00 00 "},
        {"bulk read", [](TransferBlock* b) { fill_bulk_block(b, ENDPOINT_BULK_IN); },
         "00 00 00 00 00 00 00 00 00 00 00 00 00 81 " + zeros16 + "00 00 00 00 00 00 00 00 "},
        {"bulk write", [](TransferBlock* b) { fill_bulk_block(b, ENDPOINT_BULK_OUT); },
         "00 00 00 00 00 00 00 00 00 00 00 00 00 01 " + zeros16 + "00 00 00 00 00 00 00 00 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransferBlock block;
        memset(&block, 0xA5, sizeof block);  // every byte must be written
        c.fill(&block);
        EXPECT_EQ(hex_of(&block, sizeof block), c.bytes);
    }
}

TEST(TransferBlockTest, FieldsSitAtTheirOffsets) {
    EXPECT_EQ(offsetof(TransferBlock, wLength), 6u);
    EXPECT_EQ(offsetof(TransferBlock, timeout), 8u);
    EXPECT_EQ(offsetof(TransferBlock, endpoint_address), 13u);
    EXPECT_EQ(offsetof(TransferBlock, driver_reserved), 14u);
    EXPECT_EQ(offsetof(TransferBlock, reserved_dword), 26u);
    EXPECT_EQ(offsetof(TransferBlock, data_offset), 30u);
    EXPECT_EQ(offsetof(TransferBlock, data_length), 34u);
}

TEST(TransferBlockTest, ControlCodesFollowTheDeviceControlCodeRule) {
    static_assert(IOCTL_CONTROL_TRANSFER == 0x00220020u, "control transfer code");
    static_assert(IOCTL_DATA_TRANSFER == 0x0022004Bu, "data transfer code");
    // Each part lands in its own bits.
    EXPECT_EQ(device_control_code(0x22, 0, 0, 0), 0x00220000u);
    EXPECT_EQ(device_control_code(0, 0, 0, 3), 0x0000C000u);
    EXPECT_EQ(device_control_code(0, 0xFFF, 0, 0), 0x00003FFCu);
    EXPECT_EQ(device_control_code(0, 0, 3, 0), 0x00000003u);
}

}  // namespace
