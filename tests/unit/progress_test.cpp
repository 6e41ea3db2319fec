// Size texts, the rate window and the display computed after each block.

#include "download/progress.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/ui/format.h"
#include "res/resource.h"
#include "res/strings.h"

namespace fw {
namespace {

std::string Expected121(int h, int m, int s, const char* done, const char* total) {
    return Format(res::LoadString(res::kStrTimeRemaining), h, m, s, done, total);
}

TEST(FormatSizeTest, Table) {
    struct Case {
        std::int32_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0"},
        {1, "1"},
        {1024, "1024"},
        {1025, "1.0K"},
        {1536, "1.5K"},
        {200000, "195.3K"},
        {1000000, "976.6K"},
        {1048576, "1024.0K"},
        {1048577, "1.0M"},
        {10485760, "10.0M"},
        {INT32_MAX, "2048.0M"},
        {-5, "-5"},
        {INT32_MIN, "-2147483648"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

TEST(RateWindowTest, FewerThanTwoSamplesGiveMinusOne) {
    RateWindow window;
    EXPECT_EQ(window.BytesPerSecond(), -1);
    window.AddSample(1000, 4096);
    EXPECT_EQ(window.BytesPerSecond(), -1);
}

TEST(RateWindowTest, EqualTickStampsGiveNoEstimate) {
    RateWindow window;
    window.AddSample(5000, 4096);
    window.AddSample(5000, 4096);
    window.AddSample(5000, 4096);
    EXPECT_LT(window.BytesPerSecond(), 1);
}

TEST(RateWindowTest, RateOfAllButTheNewestSampleOverTheSpan) {
    struct Case {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> samples;  // (tick, bytes)
        std::int32_t expected;
    };
    const Case cases[] = {
        // The newest block's bytes are not counted: 1000 bytes in one second.
        {{{0, 1000}, {1000, 999999}}, 1000},
        {{{0, 1000}, {500, 1000}, {1000, 7}}, 2000},
        // Rounded to the nearest: 1 byte in 3 ms is 333.33 per second, 2 in 3 ms 666.67.
        {{{0, 1}, {3, 0}}, 333},
        {{{0, 2}, {3, 0}}, 667},
        // Half a byte per second rounds up to one.
        {{{0, 1}, {2000, 0}}, 1},
        {{{0, 1}, {2001, 0}}, 0},
        // Stamps on both sides of 2^31.
        {{{0x7FFFFFF0u, 4096}, {0x80000010u, 0}}, 128000},
        // The tick counter wraps between the first and the last stamp: 512 ms.
        {{{0xFFFFFF00u, 512}, {0x00000100u, 0}}, 1000},
        // Counts whose sum passes 2^32: two of 2^31 bytes over 2^32 / 1000000 ms.
        {{{0, 0x80000000u}, {100, 0x80000000u}, {4294967, 0}}, 1000000},
        // Beyond the 32-bit rate: the largest rate.
        {{{0, 0xFFFFFFFFu}, {1, 0}}, INT32_MAX},
    };
    for (const Case& c : cases) {
        RateWindow window;
        for (auto [tick, bytes] : c.samples) window.AddSample(tick, bytes);
        EXPECT_EQ(window.BytesPerSecond(), c.expected)
            << c.samples.size() << " samples, first tick " << c.samples.front().first;
    }
}

TEST(RateWindowTest, TheOldestSampleLeavesWhenTheFiveHundredAndFirstArrives) {
    RateWindow window;
    // A huge first block, then 499 blocks of 100 bytes 10 ms apart.
    window.AddSample(0, 1000000);
    for (std::uint32_t i = 1; i < 500; ++i) window.AddSample(i * 10, 100);
    ASSERT_EQ(window.Size(), 500u);
    // (1000000 + 498 × 100) bytes over 4990 ms.
    EXPECT_EQ(window.BytesPerSecond(), 210381);
    window.AddSample(5000, 100);
    EXPECT_EQ(window.Size(), 500u);
    // Now samples 1..500: 499 × 100 bytes over the 4990 ms from tick 10 to tick 5000.
    EXPECT_EQ(window.BytesPerSecond(), 10000);
    // A sudden change of speed shows fully once the older samples have left.
    for (std::uint32_t i = 1; i <= 500; ++i) window.AddSample(5000 + i * 10, 1000);
    EXPECT_EQ(window.Size(), 500u);
    EXPECT_EQ(window.BytesPerSecond(), 100000);
}

TEST(RateWindowTest, AFullWindowWithTheLargestCountsKeepsItsSum) {
    RateWindow window;
    for (std::uint32_t i = 0; i < 1200; ++i) window.AddSample(i * 1000000u, 0xFFFFFFFFu);
    // 499 × (2^32 - 1) bytes over 499000 seconds.
    EXPECT_EQ(window.BytesPerSecond(), 4294967);
}

TEST(RateWindowTest, ResetEmptiesTheWindow) {
    RateWindow window;
    for (std::uint32_t i = 0; i < 600; ++i) window.AddSample(i, 5000);
    window.Reset();
    EXPECT_EQ(window.Size(), 0u);
    EXPECT_EQ(window.BytesPerSecond(), -1);
    window.AddSample(0, 10);
    window.AddSample(1000, 10);
    EXPECT_EQ(window.BytesPerSecond(), 10);  // nothing from before the reset
}

TEST(TimeRemainingTextTest, HoursAreNotLimited) {
    struct Case {
        std::int32_t seconds;
        int h, m, s;
    };
    const Case cases[] = {
        {0, 0, 0, 0},
        {59, 0, 0, 59},
        {80, 0, 1, 20},
        {3599, 0, 59, 59},
        {3725, 1, 2, 5},
        {90000, 25, 0, 0},
        {INT32_MAX, 596523, 14, 7},
        {-10, 0, 0, 0},  // never a negative time
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TimeRemainingText(c.seconds, 1000, 4096),
                  Expected121(c.h, c.m, c.s, "1000", "4.0K"))
            << c.seconds;
    }
    EXPECT_EQ(TimeRemainingText(3725, 0, 0), "Time remaining: 1:02:05. Bytes transferred: 0 of 0.");
}

TEST(RemainingSecondsTest, Table) {
    struct Case {
        std::int32_t transferred, total, rate, expected;
    };
    const Case cases[] = {
        {200000, 1000000, 10000, 80},
        {0, 1000, 3, 333},  // truncated
        {1000, 1000, 5, 0},
        {1500, 1000, 5, 0},  // more than announced: no negative time
        {0, INT32_MAX, 1, INT32_MAX},
        {INT32_MIN, INT32_MAX, 1, INT32_MAX},  // the difference does not fit 32 bits
        {INT32_MIN, INT32_MAX, INT32_MAX, 2},
        {0, 1000, 0, 0},  // no rate: no division
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RemainingSeconds(c.transferred, c.total, c.rate), c.expected)
            << c.transferred << " of " << c.total << " at " << c.rate;
    }
}

TEST(ComputeProgressTest, WorkedExample) {
    std::int32_t last = -1;
    ProgressView view = ComputeProgress(50000, 100000, 200000, 1000000, 10000, last);
    EXPECT_EQ(view.filePercent, 50);
    EXPECT_EQ(view.totalPercent, 20);
    EXPECT_TRUE(view.hasEstimate);
    EXPECT_TRUE(view.textChanged);
    EXPECT_EQ(view.text, Expected121(0, 1, 20, "195.3K", "976.6K"));
    EXPECT_EQ(view.text, "Time remaining: 0:01:20. Bytes transferred: 195.3K of 976.6K.");
    EXPECT_EQ(last, 80);
}

TEST(ComputeProgressTest, LongEstimates) {
    std::int32_t last = -1;
    EXPECT_EQ(ComputeProgress(0, 1, 0, 3725 * 100, 100, last).text,
              Expected121(1, 2, 5, "0", "363.8K"));
    EXPECT_EQ(last, 3725);
    last = -1;
    EXPECT_EQ(ComputeProgress(0, 1, 0, 90000 * 20, 20, last).text,
              Expected121(25, 0, 0, "0", "1.7M"));
    EXPECT_EQ(last, 90000);
}

TEST(ComputeProgressTest, TheTextChangesOnlyWithTheEstimateInWholeSeconds) {
    std::int32_t last = -1;
    ProgressView first = ComputeProgress(4096, 100000, 4096, 100000, 1000, last);
    EXPECT_TRUE(first.textChanged);
    EXPECT_EQ(last, 95);
    // 95.0 and 95.9 seconds are the same whole estimate: no new text, though bytes moved on.
    ProgressView same = ComputeProgress(4196, 100000, 4196, 100000, 1000, last);
    EXPECT_FALSE(same.textChanged);
    EXPECT_TRUE(same.hasEstimate);
    EXPECT_EQ(same.filePercent, 4);
    EXPECT_EQ(last, 95);
    ProgressView next = ComputeProgress(5096, 100000, 5096, 100000, 1000, last);
    EXPECT_TRUE(next.textChanged);
    EXPECT_EQ(next.text, Expected121(0, 1, 34, "5.0K", "97.7K"));
    EXPECT_EQ(last, 94);
}

TEST(ComputeProgressTest, WithoutARateTheTextIsEmptiedAndTheLastEstimateKept) {
    for (std::int32_t rate : {-1, 0}) {
        std::int32_t last = 80;
        ProgressView view = ComputeProgress(10, 100, 10, 100, rate, last);
        EXPECT_FALSE(view.hasEstimate) << rate;
        EXPECT_TRUE(view.textChanged) << rate;
        EXPECT_EQ(view.text, "") << rate;
        EXPECT_EQ(view.filePercent, 10) << rate;
        EXPECT_EQ(view.totalPercent, 10) << rate;
        EXPECT_EQ(last, 80) << rate;
        // The same estimate as before the gap is not written again, so the text stays empty.
        ProgressView again = ComputeProgress(200000, 1000000, 200000, 1000000, 10000, last);
        EXPECT_FALSE(again.textChanged) << rate;
    }
}

TEST(ComputeProgressTest, BarPositions) {
    struct Case {
        std::int64_t part;
        std::int32_t whole;
        int expected;
    };
    const Case cases[] = {
        {0, 100, 0},
        {1, 3, 33},
        {2, 3, 66},
        {99999, 100000, 99},
        {100000, 100000, 100},
        {150000, 100000, 100},  // more than announced stays at the end of the bar
        {5, 0, 0},              // nothing announced: no division by zero
        {5, -7, 0},
        {-5, 100, 0},
        {std::int64_t{1} << 31, INT32_MAX, 100},
        {(std::int64_t{1} << 31) / 2, INT32_MAX, 50},
        {std::int64_t{1} << 40, 1, 100},
    };
    for (const Case& c : cases) {
        std::int32_t last = -1;
        ProgressView file = ComputeProgress(c.part, c.whole, 0, 1, -1, last);
        EXPECT_EQ(file.filePercent, c.expected) << c.part << " of " << c.whole;
        if (c.part >= INT32_MIN && c.part <= INT32_MAX) {
            ProgressView total =
                ComputeProgress(0, 1, static_cast<std::int32_t>(c.part), c.whole, -1, last);
            EXPECT_EQ(total.totalPercent, c.expected) << c.part << " of " << c.whole;
        }
    }
}

TEST(ComputeProgressTest, MoreBytesThanAnnouncedShowNoTimeLeft) {
    std::int32_t last = -1;
    ProgressView view = ComputeProgress(6000, 5000, 12000, 10000, 1000, last);
    EXPECT_EQ(view.filePercent, 100);
    EXPECT_EQ(view.totalPercent, 100);
    EXPECT_EQ(view.text, Expected121(0, 0, 0, "11.7K", "9.8K"));
    EXPECT_EQ(last, 0);
}

}  // namespace
}  // namespace fw
