// Long texts from the server shaped for message boxes and tooltips.

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/text_fit_win32.h"

namespace fw {
namespace {

std::string WithoutLineBreaks(std::string text) {
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 2);
    return text;
}

TEST(TextFitTest, MessageBoxTextKeepsEveryLineShortAndTheBoxSmall) {
    std::string name(5000, 'n');
    name[0] = 'A';
    name.back() = 'Z';
    struct Case {
        std::string text;
        bool unchanged;
        bool shortened;
    };
    const Case cases[] = {
        {"An error occurred downloading the file a.exe.", true, false},
        {"Short runs " + std::string(199, 'x') + " stay as they are.", true, false},
        {"A run of 250 is wrapped: " + std::string(250, 'w') + " done.", false, false},
        {"The longest run kept whole: " + std::string(603, 'w'), false, false},
        {"Cannot create C:\\Games\\temp\\" + name + ".exe. Try again?", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        std::string shown = MessageBoxText(c.text);
        // Exactly the texts it cuts are shown in the scrolling box instead.
        EXPECT_EQ(MessageBoxShortens(c.text), c.shortened);
        if (c.unchanged) {
            EXPECT_EQ(shown, c.text);
            continue;
        }
        EXPECT_LE(LongestRun(shown), 60u);
        if (!c.shortened) {
            EXPECT_EQ(WithoutLineBreaks(shown), c.text);  // wrapped, nothing dropped
            continue;
        }
        EXPECT_LT(shown.size(), 800u);
        std::string joined = WithoutLineBreaks(shown);
        EXPECT_EQ(joined.rfind("Cannot create C:\\Games\\temp\\A", 0), 0u) << joined;
        EXPECT_NE(joined.find("...nnn"), std::string::npos);
        EXPECT_EQ(joined.substr(joined.size() - 18), "nZ.exe. Try again?");
    }
}

TEST(TextFitTest, TipTextIsBoundedAndWrapped) {
    EXPECT_EQ(TipText("Fantasy"), "Fantasy");
    std::string tip = TipText(std::string(10000, 'W'));
    EXPECT_LE(LongestRun(tip), 60u);
    std::string joined = WithoutLineBreaks(tip);
    EXPECT_EQ(joined, std::string(1000, 'W') + "...");
}

}  // namespace
}  // namespace fw
