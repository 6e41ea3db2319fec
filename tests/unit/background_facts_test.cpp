// The sums made beside the transfer: the same size, checksum and digest as the accumulator on
// the transfer's own thread, however the bytes are cut, with or without a kept part read first.

#include "download/background_facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace fw {
namespace {

using Bytes = std::vector<unsigned char>;
constexpr std::size_t kPiece = BackgroundFacts::kPieceSize;

// A kept part in memory, given out a little at a time, that can fail once it has given
// `failAfter` bytes, and says when it is closed.
class MemoryFile : public ReadableFile {
public:
    MemoryFile(Bytes bytes, std::size_t failAfter, bool& closed)
        : bytes(std::move(bytes)), failAfter(failAfter), closed(closed) {}
    ~MemoryFile() override { closed = true; }
    std::ptrdiff_t Read(void* buffer, std::size_t size) override {
        if (at >= failAfter) return -1;
        std::size_t n = std::min({size, bytes.size() - at, std::size_t{7000}});
        std::memcpy(buffer, bytes.data() + at, n);
        at += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    Bytes bytes;
    std::size_t failAfter;
    bool& closed;
    std::size_t at = 0;
};

enum class Kept { kNone, kWhole, kMissing, kShort, kLonger, kFails };

struct Case {
    const char* name;
    std::vector<std::size_t> pieces;  // the sizes given to Add, in turn
    std::size_t keptSize = 0;
    Kept kept = Kept::kNone;
    bool ok = true;
};

TEST(BackgroundFactsTest, GivesTheAccumulatorsFactsOrFails) {
    const std::size_t many = BackgroundFacts::kPieces * 3 + 1;
    const Case cases[] = {
        {"nothing", {}},
        {"an empty piece", {0}},
        {"one byte", {1}},
        {"exactly one piece", {kPiece}},
        {"one byte more than a piece", {kPiece + 1}},
        {"a piece and a half at once, then small ones", {kPiece * 3 / 2, 1, 0, 4096, 3}},
        {"enough pieces for the pool to wrap", std::vector<std::size_t>(many, kPiece)},
        {"odd sizes past the pool", std::vector<std::size_t>(many, 4095)},
        {"more at once than the whole pool", {kPiece * BackgroundFacts::kPieces * 2 + 5}},
        {"a kept part, then pieces", {kPiece, kPiece, 17}, 300000, Kept::kWhole},
        {"a kept part and nothing more", {}, 5, Kept::kWhole},
        {"a kept file longer than the part", {kPiece}, 100000, Kept::kLonger},
        {"a kept part that is missing", {kPiece}, 1000, Kept::kMissing, false},
        {"a kept part that is short", {kPiece}, 100000, Kept::kShort, false},
        {"a kept part that cannot be read", std::vector<std::size_t>(many, kPiece), 100000,
         Kept::kFails, false},
    };
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t total = c.keptSize;
        for (std::size_t n : c.pieces) total += n;
        Bytes data(total);
        for (auto& b : data) b = static_cast<unsigned char>(rng());

        FileFactsAccumulator reference;
        reference.Add(data.data(), data.size());
        FileFacts expected;
        ASSERT_TRUE(reference.Finish(expected));

        std::unique_ptr<ReadableFile> keptFile;
        bool closed = true;
        Bytes kept(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(c.keptSize));
        if (c.kept == Kept::kLonger) kept.insert(kept.end(), 5000, 0xAB);
        if (c.kept == Kept::kShort) kept.pop_back();
        std::size_t failAfter = c.kept == Kept::kFails ? c.keptSize / 2 : kept.size() + 1;
        if (c.kept != Kept::kNone && c.kept != Kept::kMissing) {
            closed = false;
            keptFile = std::make_unique<MemoryFile>(kept, failAfter, closed);
        }

        BackgroundFacts facts(std::move(keptFile), static_cast<std::int64_t>(c.keptSize));
        std::size_t at = c.keptSize;
        for (std::size_t n : c.pieces) {
            facts.Add(data.data() + at, n);
            at += n;
        }
        FileFacts got;
        ASSERT_EQ(facts.Finish(got), c.ok);
        // The kept part's name may be given to the updater next, which Windows refuses while
        // the file is open.
        EXPECT_TRUE(closed);
        if (!c.ok) continue;
        EXPECT_EQ(got.size, expected.size);
        EXPECT_EQ(got.checksum, expected.checksum);
        EXPECT_EQ(got.digest, expected.digest);
        // The sums are given once.
        EXPECT_FALSE(facts.Finish(got));
    }
}

TEST(BackgroundFactsTest, GoingOutOfScopeMidwayEndsTheWorkAndClosesTheKeptPart) {
    // A full pool and a long kept part still in reading, as on a Cancel: the thread is
    // stopped and joined, and the part is closed, so that it can be removed at once.
    Bytes piece(kPiece, 1);
    for (int round = 0; round < 5; ++round) {
        bool closed = false;
        {
            BackgroundFacts facts(
                std::make_unique<MemoryFile>(Bytes(1 << 22, 2), 1u << 23, closed), 1 << 22);
            for (std::size_t i = 0; i < BackgroundFacts::kPieces; ++i) {
                facts.Add(piece.data(), kPiece);
            }
        }
        EXPECT_TRUE(closed);
    }
}

}  // namespace
}  // namespace fw
