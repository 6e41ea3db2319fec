// The rules that decide whether a partial updater may be continued.

#include <gtest/gtest.h>

#include "download/resume.h"
#include "download/retry_after.h"
#include "platform/http_headers.h"

namespace fw {
namespace {

TEST(ResumeRulesTest, OnlyTheExactRestOfTheFileContinuesIt) {
    struct Case {
        const char* contentRange;
        bool continues;
    };
    const Case cases[] = {
        {"bytes 100-999/1000", true},   {"bytes 101-999/1000", false},
        {"bytes 100-998/1000", false},  {"bytes 100-999/1001", false},
        {"bytes 100-999/*", false},     {"bytes */1000", false},
        {"items 100-999/1000", false},  {"bytes 100-999/1000x", false},
        {"bytes -100-999/1000", false}, {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ContentRangeContinues(c.contentRange, 100, 1000), c.continues) << c.contentRange;
    }
}

TEST(ResumeRulesTest, AStrongTagIsPreferredAndAWeakOneNeverUsed) {
    EXPECT_EQ(ChooseValidator("\"abc\"", "Tue, 08 Dec 2026 10:00:00 GMT"), "\"abc\"");
    EXPECT_EQ(ChooseValidator("W/\"abc\"", "Tue, 08 Dec 2026 10:00:00 GMT"),
              "Tue, 08 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(ChooseValidator("W/\"abc\"", ""), "");
    EXPECT_EQ(ChooseValidator("\"a\r\nX-Evil: 1\"", ""), "");
}

TEST(ResumeRulesTest, ANoteReadsBackAndAnyOtherTextIsRefused) {
    PartialNote note{"\"tag\"", 1000, 0xdeadbeef};
    std::string text = FormatPartialNote(note);
    std::optional<PartialNote> back = ParsePartialNote(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->validator, note.validator);
    EXPECT_EQ(back->expectedSize, note.expectedSize);
    EXPECT_EQ(back->expectedChecksum, note.expectedChecksum);
    const std::string refused[] = {
        "",                                              // an older program left no note
        "fablewright-partial 0\n1000\n1\n\"t\"\n",       // another format
        "fablewright-partial 1\n1000\n1\n\n",            // no validator
        "fablewright-partial 1\n0\n1\n\"t\"\n",          // no size
        "fablewright-partial 1\n1000\nx\n\"t\"\n",       // a checksum that is no number
        "fablewright-partial 1\n1000\n1\n\"t\"\nmore\n", // more than a note holds
    };
    for (const std::string& t : refused) EXPECT_FALSE(ParsePartialNote(t)) << t;
}

TEST(ResumeRulesTest, HeaderValuesAreFoundWhateverTheirCase) {
    const std::string headers =
        "HTTP/1.1 206 Partial Content\r\nETag:  \"x\" \r\ncontent-range: bytes 1-2/3\r\n"
        "Retry-After: 2\r\nRetry-After: 9\r\n\r\n";
    std::string value;
    ASSERT_TRUE(FindHeaderValue(headers, "etag", value));
    EXPECT_EQ(value, "\"x\"");
    ASSERT_TRUE(FindHeaderValue(headers, "Content-Range", value));
    EXPECT_EQ(value, "bytes 1-2/3");
    ASSERT_TRUE(FindHeaderValue(headers, "retry-after", value));
    EXPECT_EQ(value, "2");
    EXPECT_FALSE(FindHeaderValue(headers, "Last-Modified", value));
    EXPECT_FALSE(FindHeaderValue(headers, "HTTP/1.1 206 Partial Content", value));
}

TEST(RetryAfterTest, SecondsOrADateWithinTenMinutes) {
    constexpr std::int64_t kNow = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    struct Case {
        const char* value;
        std::optional<std::uint32_t> seconds;
    };
    const Case cases[] = {
        {"0", 0u},
        {"120", 120u},
        {"601", 600u},
        {"99999999999", 600u},
        {"Sun, 06 Nov 1994 08:50:07 GMT", 30u},
        {"Sun, 06 Nov 1994 08:49:00 GMT", 0u},   // in the past
        {"Mon, 07 Nov 1994 08:49:37 GMT", 600u},  // a day away
        {"Sun, 06 Nov 1994 08:50:07 UTC", std::nullopt},
        {"Sun, 06 Xyz 1994 08:50:07 GMT", std::nullopt},
        {"-5", std::nullopt},
        {"2.5", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(RetryAfterSeconds(c.value, kNow), c.seconds) << c.value;
}

TEST(RetryAfterTest, TheSpreadAddsAtMostATenth) {
    for (std::uint32_t random : {0u, 1u, 700u, 701u, 0xFFFFFFFFu}) {
        std::uint32_t spread = WithSpread(7000, random);
        EXPECT_GE(spread, 7000u);
        EXPECT_LE(spread, 7700u);
    }
    EXPECT_NE(WithSpread(7000, 0), WithSpread(7000, 350));
}

}  // namespace
}  // namespace fw
