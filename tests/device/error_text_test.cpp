// system_error_text: the system's text for a code it knows, ending in its line break; null for
// a code it has no text for; release_error_text takes both.
#include <gtest/gtest.h>

#include <string.h>

#include "device/error_text.h"

namespace {

TEST(ErrorTextTest, KnownCodesHaveATextEndingInALineBreak) {
    for (DWORD code : {2u, 5u, 6u, 21u, 31u, 32u, 87u, 121u, 259u, 995u, 997u, 1117u, 1167u}) {
        SCOPED_TRACE(code);
        char* text = system_error_text(code);
        ASSERT_NE(text, nullptr);
        const size_t length = strlen(text);
        ASSERT_GT(length, 2u);
        EXPECT_EQ(strcmp(text + length - 2, "\r\n"), 0);
        release_error_text(text);
    }
}

TEST(ErrorTextTest, AnUnknownCodeHasNoTextAndNullIsReleasedQuietly) {
    for (DWORD code : {0x2000FFFFu, 0x7FFFFFFFu}) {
        SCOPED_TRACE(code);
        SetLastError(0);
        char* text = system_error_text(code);
        EXPECT_EQ(text, nullptr);
        EXPECT_NE(GetLastError(), 0u);
        release_error_text(text);
    }
}

}  // namespace
