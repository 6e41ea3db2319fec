// The program's texts are printf formats filled at run time; the formatter must give exactly what
// the C library gives for the conversions the texts use, and stay safe when they do not match.

#include "platform/ui/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace fw {
namespace {

std::string CFormatInt(const char* f, long long v) {
    char buf[256];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

TEST(FormatTest, MatchesTheCLibraryForTheProgramsConversions) {
    struct Case {
        const char* format;
        FormatArg arg;
        const char* expected;
    };
    const Case cases[] = {
        {"Step %d:", 1, "Step 1:"},
        {"%ld", -5, "-5"},
        {"%ld", 2147483647, "2147483647"},
        {"%02d", 5, "05"},
        {"%02d", 123, "123"},
        {"%3.1fK", 1.0009765625, "1.0K"},
        {"%3.1fM", 1024.0, "1024.0M"},
        {"%s bytes", "2.4M", "2.4M bytes"},
        {"code %d", -3, "code -3"},
        {"%x", 255u, "ff"},
        {"%5s|", "ab", "   ab|"},
        {"%-4d|", 7, "7   |"},
        {"100%%", 1, "100%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatV(c.format, {c.arg}), c.expected) << c.format;
    }
    for (double v : {0.05, 0.15, 0.25, 1.45, 2.55, 1023.95, 1e10}) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%3.1f", v);
        EXPECT_EQ(Format("%3.1f", v), buf) << v;
    }
}

TEST(FormatTest, SeveralArgumentsInOrder) {
    EXPECT_EQ(Format("Time remaining: %d:%02d:%02d. Bytes transferred: %s of %s.", 1, 2, 5,
                     "195.3K", "976.6K"),
              "Time remaining: 1:02:05. Bytes transferred: 195.3K of 976.6K.");
}

TEST(FormatTest, MismatchedArgumentsNeverReadGarbage) {
    // A text whose %s meets a number, or whose conversions outnumber the arguments, gives a
    // wrong text at worst.
    EXPECT_EQ(Format("%s", 42), "42");
    EXPECT_EQ(Format("%d", "text"), "0");
    EXPECT_EQ(Format("a %s b %s c", "x"), "a x b  c");
    EXPECT_EQ(Format("%d%%", LLONG_MIN), CFormatInt("%lld%%", LLONG_MIN));
    EXPECT_EQ(Format("trailing %"), "trailing %");
    EXPECT_EQ(Format("%q unknown", 1), "%q unknown");
}

TEST(FormatTest, LongTextsAreNotCut) {
    std::string big(5000, 'x');
    EXPECT_EQ(Format("[%s]", big), "[" + big + "]");
}

}  // namespace
}  // namespace fw
