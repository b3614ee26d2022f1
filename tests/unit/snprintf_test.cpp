// The program formats its paths and failure texts itself; whatever it is asked to format,
// text and result must be those of the C library's snprintf.
#include <cstdio>
#include <cstring>

#include "platform/win.h"
#include "test_support.h"

namespace {

#define EXPECT_AS_LIBRARY(size, ...)                                              \
    do {                                                                          \
        char ours[24];                                                            \
        char library[24];                                                         \
        std::memset(ours, '#', sizeof ours);                                      \
        std::memset(library, '#', sizeof library);                                \
        const int ourResult = Win::snprintf(ours, size, __VA_ARGS__);             \
        const int libraryResult = std::snprintf(library, size, __VA_ARGS__);      \
        EXPECT_EQ(libraryResult, ourResult) << #__VA_ARGS__ << " in " << size;    \
        EXPECT_EQ(std::string(library, sizeof library), std::string(ours, sizeof ours)) \
            << #__VA_ARGS__ << " in " << size;                                    \
    } while (0)

TEST(SnprintfTest, TextsAndResultsAreTheLibrarys) {
    for (std::size_t size : {0u, 1u, 5u, 11u, 12u, 13u, 24u}) {
        EXPECT_AS_LIBRARY(size, "%s FAILURE: (0x%08x)%s\n", "A()", 0x7bu, "text");
        EXPECT_AS_LIBRARY(size, "%s FAILURE: (0x%08x)\n", "", 0xffffffffu);
        EXPECT_AS_LIBRARY(size, "ENUM\\%s", "PCMCIA\\X-1");
        EXPECT_AS_LIBRARY(size, "%s%sinf\\oem%d.inf", "C:", "\\", 254);
        EXPECT_AS_LIBRARY(size, "%s%s%s%s", "", "", "", "");
        EXPECT_AS_LIBRARY(size, "%d|%d|%5d|%05d|%x|%3x|100%%", 0, -2147483647 - 1, -12, -12, 0u, 0xabu);
        EXPECT_AS_LIBRARY(size, "[%6s][%1s]", "ab", "cd");
    }
}

TEST(SnprintfTest, AnUnknownConversionGivesNoText) {
    for (const char* format : {"%u", "%c", "%.3s", "%ld", "%-4d", "x%", "%0"}) {
        char text[16] = "untouched";
        EXPECT_EQ(-1, Win::snprintf(text, sizeof text, format, 1)) << format;
        EXPECT_STREQ("", text) << format;
        // With no room, not even the terminating NUL is written.
        char guard = '#';
        EXPECT_EQ(-1, Win::snprintf(&guard, 0, format, 1)) << format;
        EXPECT_EQ('#', guard) << format;
    }
}

}  // namespace
