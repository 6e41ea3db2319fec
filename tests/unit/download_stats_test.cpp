// The arithmetic behind the loopback download figures: medians and spreads of repetitions, and
// the reports that the timed runs write.

#include <gtest/gtest.h>

#include "bench/download_stats.h"

namespace fw::bench {
namespace {

TEST(DownloadStats, SpreadIsTheMedianAndTheExtremesWhateverTheOrder) {
    struct Case {
        std::vector<double> values;
        double median, low, high;
    };
    const Case cases[] = {
        {{}, 0, 0, 0},
        {{4}, 4, 4, 4},
        {{3, 1, 2}, 2, 1, 3},
        {{10, 2, 4, 8}, 6, 2, 10},  // an even count takes the mean of the middle two
        {{5, 5, 1, 9, 5}, 5, 1, 9},
    };
    for (const Case& c : cases) {
        Spread s = SpreadOf(c.values);
        EXPECT_DOUBLE_EQ(s.median, c.median);
        EXPECT_DOUBLE_EQ(s.low, c.low);
        EXPECT_DOUBLE_EQ(s.high, c.high);
    }
}

TEST(DownloadStats, RatesAreDecimalMegabytesPerSecond) {
    EXPECT_DOUBLE_EQ(MegabytesPerSecond(268435456, 0.5), 536.870912);
    EXPECT_DOUBLE_EQ(MegabytesPerSecond(1000000, 2), 0.5);
    EXPECT_DOUBLE_EQ(MegabytesPerSecond(1000000, 0), 0);
}

TEST(DownloadStats, ReportLinesAreNameAndValue) {
    auto values = ParseReport("total_seconds=0.25\r\nnoise\n=x\ntransfer_seconds=0.2\n"
                              "problem=a=b\ntotal_seconds=0.5");
    EXPECT_EQ(values.size(), 3u);
    EXPECT_EQ(values["total_seconds"], "0.5");
    EXPECT_EQ(values["transfer_seconds"], "0.2");
    EXPECT_EQ(values["problem"], "a=b");
}

TEST(DownloadStats, SecondsMustBeANonNegativeNumber) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"0.251234", 0.251234}, {"2\n", 2.0},          {"1.5 \r\n", 1.5},
        {"", std::nullopt},     {"-1", std::nullopt}, {"0.2s", std::nullopt},
        {"x", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseSeconds(c.text), c.value);
    }
}

}  // namespace
}  // namespace fw::bench
