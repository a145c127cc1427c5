// The set-up service's records have the platform's sizes, which the device open hands over as
// cbSize: the stand-in must match Windows for each pointer size.
#include <gtest/gtest.h>

#include <stddef.h>

#include "platform/platform.h"

namespace {

#if UINTPTR_MAX > 0xFFFFFFFFu
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "64-bit interface record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8, "64-bit detail fixed part");
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "32-bit interface record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "32-bit detail fixed part");
#endif

TEST(SetupApiRecordsTest, DevicePathFollowsTheSizeField) {
    EXPECT_EQ(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath), 4u);
    EXPECT_EQ(sizeof(GUID), 16u);
}

}  // namespace
