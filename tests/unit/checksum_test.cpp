// The download checksum: the worked values, the properties verification relies on, and the
// word-at-a-time computation against the plain byte loop for every length and every cut.

#include "download/checksum.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_platform.h"

namespace fw {
namespace {

using Bytes = std::vector<unsigned char>;

// The checksum as it is defined: one rotation and one XOR per byte.
std::uint32_t ReferenceChecksum(const Bytes& data) {
    std::uint32_t sum = 0;
    int r = 0;
    for (unsigned char b : data) {
        sum = Rotate32(sum, r % 2 == 0 ? r : -r);
        sum ^= b;
        if (++r > 31) r = 0;
    }
    return sum;
}

Bytes FromText(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes RandomBytes(std::mt19937& rng, std::size_t size) {
    Bytes data(size);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    return data;
}

// A file in memory that hands out at most `chunk` bytes per read and can fail on a given read.
class MemoryFile : public ReadableFile {
public:
    MemoryFile(Bytes data, std::size_t chunk, int failOnRead = -1, int* openCount = nullptr)
        : data(std::move(data)), chunk(chunk), failOnRead(failOnRead), openCount(openCount) {
        if (openCount) ++*openCount;
    }
    ~MemoryFile() override {
        if (openCount) --*openCount;
    }
    std::ptrdiff_t Read(void* buffer, std::size_t size) override {
        if (reads++ == failOnRead) return -1;
        std::size_t n = std::min({size, chunk, data.size() - offset});
        if (n > 0) std::memcpy(buffer, data.data() + offset, n);
        offset += n;
        return static_cast<std::ptrdiff_t>(n);
    }
    int reads = 0;

private:
    Bytes data;
    std::size_t offset = 0;
    std::size_t chunk;
    int failOnRead;
    int* openCount;
};

// Files in memory; every file handed out reports its closing through `openFiles`.
class MemoryFiles : public Files {
public:
    std::vector<std::string> FindFiles(const std::string&) override { return {}; }
    std::string GetProfileString(const std::string&, std::string_view, std::string_view,
                                 std::string_view d, std::size_t) override {
        return std::string(d);
    }
    std::optional<std::vector<std::uint8_t>> GetFileVersionInfo(const std::string&) override {
        return {};
    }
    std::optional<FileStatus> Stat(const std::string&) override { return {}; }
    bool CreateDirectory(const std::string&) override { return false; }
    PrivateFolder MakePrivateDirectory(const std::string&) override {
        return PrivateFolder::kCannotCreate;
    }
    std::unique_ptr<WritableFile> CreateFile(const std::string&) override { return nullptr; }
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
        auto it = contents.find(path);
        if (it == contents.end()) return nullptr;
        return std::make_unique<MemoryFile>(it->second, 4096, failOnRead, &openFiles);
    }
    bool Remove(const std::string&) override { return false; }
    std::string GetFileTitle(const std::string& path) override { return path; }

    std::map<std::string, Bytes> contents;
    int failOnRead = -1;
    int openFiles = 0;
};

std::uint32_t Accumulate(const Bytes& data) {
    ChecksumAccumulator sum;
    sum.Update(data.data(), data.size());
    return sum.Value();
}

TEST(Rotate32Test, RotatesLeftForPositiveAndRightForNegativeCounts) {
    struct Case {
        std::uint32_t value;
        int count;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {0x12345678u, 0, 0x12345678u},       {0x12345678u, 32, 0x12345678u},
        {0x12345678u, -32, 0x12345678u},     {0x12345678u, 64, 0x12345678u},
        {0x80000001u, 1, 0x00000003u},       {0x80000001u, -1, 0xC0000000u},
        {0x00000061u, -1, 0x80000030u},      {0x80000052u, 2, 0x0000014Au},
        {0x12345678u, 4, 0x23456781u},       {0x12345678u, -4, 0x81234567u},
        {0x12345678u, 36, 0x23456781u},      {0x12345678u, -36, 0x81234567u},
        {0x12345678u, 31, 0x091A2B3Cu},      {0x12345678u, -31, 0x2468ACF0u},
        {0x12345678u, INT_MIN, 0x12345678u},  // a multiple of 32
        {0x12345678u, INT_MAX, 0x091A2B3Cu},  // 31 modulo 32
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Rotate32(c.value, c.count), c.expected) << std::hex << c.value << " " << c.count;
    }
}

TEST(ChecksumTest, WorkedValues) {
    struct Case {
        std::string_view text;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"", 0x0u},
        {"a", 0x61u},
        {"abc", 0x129u},
        {"abcdefghijklmnopqrstuvwxyz0123456789", 0xB47977C6u},
    };
    for (const Case& c : cases) {
        Bytes data = FromText(c.text);
        EXPECT_EQ(ReferenceChecksum(data), c.expected) << c.text;
        EXPECT_EQ(Accumulate(data), c.expected) << c.text;
        MemoryFile file(data, 1024);
        std::uint32_t value = 0xDEADBEEFu;
        EXPECT_TRUE(StreamChecksum(file, value)) << c.text;
        EXPECT_EQ(value, c.expected) << c.text;
    }
}

TEST(ChecksumTest, TheThirtyThirdByteIsFoldedInWithoutRotation) {
    Bytes first32 = FromText("abcdefghijklmnopqrstuvwxyz012345");
    ASSERT_EQ(first32.size(), 32u);
    for (unsigned char extra : {0x00, 0x01, 0x36, 0x80, 0xFF}) {
        Bytes data = first32;
        data.push_back(extra);
        EXPECT_EQ(Accumulate(data), Accumulate(first32) ^ extra) << int(extra);
    }
}

TEST(ChecksumTest, AnySingleByteChangeChangesTheChecksum) {
    std::mt19937 rng(7);
    Bytes data = RandomBytes(rng, 300);
    std::uint32_t original = Accumulate(data);
    for (std::size_t i = 0; i < data.size(); ++i) {
        for (unsigned delta : {0x01u, 0x80u, 0xFFu, 1u + static_cast<unsigned>(rng() % 255u)}) {
            Bytes changed = data;
            changed[i] ^= static_cast<unsigned char>(delta);
            EXPECT_NE(Accumulate(changed), original) << "byte " << i << " delta " << delta;
        }
    }
}

TEST(ChecksumTest, EqualsThePlainLoopForEveryLengthUpToAFewThousand) {
    std::mt19937 rng(12345);
    Bytes all = RandomBytes(rng, 4200);
    for (std::size_t length = 0; length <= all.size(); ++length) {
        Bytes data(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
        std::uint32_t expected = ReferenceChecksum(data);
        ASSERT_EQ(Accumulate(data), expected) << "length " << length;
        // The same bytes given in two pieces cut at a random point.
        std::size_t cut = length == 0 ? 0 : rng() % (length + 1);
        ChecksumAccumulator pieces;
        pieces.Update(data.data(), cut);
        pieces.Update(data.data() + cut, length - cut);
        ASSERT_EQ(pieces.Value(), expected) << "length " << length << " cut " << cut;
        ASSERT_EQ(pieces.Size(), length);
    }
}

TEST(ChecksumTest, TheReadSizeDoesNotChangeTheResult) {
    std::mt19937 rng(99);
    for (std::size_t length : {0u, 1u, 63u, 64u, 65u, 1000u, 4097u, 70000u}) {
        Bytes data = RandomBytes(rng, length);
        std::uint32_t expected = ReferenceChecksum(data);
        for (std::size_t chunk : {1u, 2u, 3u, 7u, 31u, 32u, 33u, 63u, 64u, 65u, 127u, 1023u, 1024u,
                                  1025u, 4096u, 65537u}) {
            MemoryFile file(data, chunk);
            std::uint32_t value = 0;
            ASSERT_TRUE(StreamChecksum(file, value)) << length << " " << chunk;
            EXPECT_EQ(value, expected) << "length " << length << " read size " << chunk;
        }
    }
}

TEST(ChecksumTest, RandomPiecesOfALargeStreamGiveThePlainLoopsValue) {
    std::mt19937 rng(2024);
    Bytes data = RandomBytes(rng, 8 * 1024 * 1024 + 37);
    std::uint32_t expected = ReferenceChecksum(data);
    ChecksumAccumulator sum;
    std::size_t offset = 0;
    while (offset < data.size()) {
        std::size_t n = std::min<std::size_t>(data.size() - offset, rng() % 300000);
        sum.Update(data.data() + offset, n);
        offset += n;
    }
    EXPECT_EQ(sum.Value(), expected);
    MemoryFile file(data, (1 << 20) + 3);
    std::uint32_t value = 0;
    ASSERT_TRUE(StreamChecksum(file, value));
    EXPECT_EQ(value, expected);
}

TEST(ChecksumTest, StartsAtTheFilesCurrentPosition) {
    Bytes data = FromText("xyzabc");
    MemoryFile file(data, 3);
    unsigned char skipped[3];
    ASSERT_EQ(file.Read(skipped, 3), 3);
    std::uint32_t value = 0;
    ASSERT_TRUE(StreamChecksum(file, value));
    EXPECT_EQ(value, 0x129u);
}

TEST(ChecksumTest, AReadErrorGivesFalseAndNoValue) {
    std::mt19937 rng(5);
    Bytes data = RandomBytes(rng, 10000);
    for (int failing : {0, 1, 2}) {
        MemoryFile file(data, 4096, failing);
        std::uint32_t value = 0x5A5A5A5Au;
        EXPECT_FALSE(StreamChecksum(file, value)) << failing;
        EXPECT_EQ(value, 0x5A5A5A5Au) << failing;
    }
}

// A broken implementation of the seam that claims more bytes than the buffer holds.
class OverlongFile : public ReadableFile {
public:
    std::ptrdiff_t Read(void*, std::size_t size) override {
        return static_cast<std::ptrdiff_t>(size) + 1;
    }
};

TEST(ChecksumTest, AReadClaimingMoreThanItWasAskedForCountsAsAnError) {
    OverlongFile file;
    std::uint32_t value = 1;
    EXPECT_FALSE(StreamChecksum(file, value));
    EXPECT_EQ(value, 1u);
}

TEST(FileChecksumTest, ChecksumsTheFileAndClosesIt) {
    MemoryFiles files;
    files.contents["abc"] = FromText("abc");
    files.contents["empty"] = {};
    std::uint32_t value = 7;
    ASSERT_TRUE(FileChecksum(files, "abc", value));
    EXPECT_EQ(value, 0x129u);
    ASSERT_TRUE(FileChecksum(files, "empty", value));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(files.openFiles, 0);
}

TEST(FileChecksumTest, AMissingFileGivesFalseNotZero) {
    MemoryFiles files;
    std::uint32_t value = 0xABCDu;
    EXPECT_FALSE(FileChecksum(files, "missing", value));
    EXPECT_EQ(value, 0xABCDu);
}

TEST(FileChecksumTest, AReadErrorGivesFalseAndClosesTheFile) {
    MemoryFiles files;
    files.contents["broken"] = Bytes(20000, 0x41);
    files.failOnRead = 1;
    std::uint32_t value = 3;
    EXPECT_FALSE(FileChecksum(files, "broken", value));
    EXPECT_EQ(value, 3u);
    EXPECT_EQ(files.openFiles, 0);
}

// The same through the host's real files.
class HostFileChecksumTest : public ::testing::Test {
protected:
    std::string WriteBytes(const std::string& name, const Bytes& data) {
        return dir.Write(name, std::string(data.begin(), data.end()));
    }
    test::TestPlatform tp;
    const test::TempDir& dir = tp.dir;
    Files& files = *tp.files;
};

TEST_F(HostFileChecksumTest, WorkedValuesFromFiles) {
    const std::pair<std::string_view, std::uint32_t> cases[] = {
        {"", 0x0u},
        {"a", 0x61u},
        {"abc", 0x129u},
        {"abcdefghijklmnopqrstuvwxyz0123456789", 0xB47977C6u},
        {"line\r\nends\r\n\x1a", ReferenceChecksum(FromText("line\r\nends\r\n\x1a"))},
    };
    int i = 0;
    for (auto [text, expected] : cases) {
        std::string path = WriteBytes("f" + std::to_string(i++), FromText(text));
        std::uint32_t value = 0xFFFFFFFFu;
        ASSERT_TRUE(FileChecksum(files, path, value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
}

TEST_F(HostFileChecksumTest, LargeFilesGiveThePlainLoopsValue) {
    std::mt19937 rng(31337);
    for (std::size_t size : {ChecksumAccumulator::kReadSize - 1, ChecksumAccumulator::kReadSize,
                             ChecksumAccumulator::kReadSize * 3 + 17, std::size_t{5} << 20}) {
        Bytes data = RandomBytes(rng, size);
        std::string path = WriteBytes("large", data);
        std::uint32_t value = 0;
        ASSERT_TRUE(FileChecksum(files, path, value)) << size;
        EXPECT_EQ(value, ReferenceChecksum(data)) << size;
    }
}

TEST_F(HostFileChecksumTest, AMissingFileOrAFolderGivesFalse) {
    dir.Write("folder/inside", "x");
    for (const std::string& path : {dir.Path("missing.exe"), dir.Path("folder")}) {
        std::uint32_t value = 0x1234u;
        EXPECT_FALSE(FileChecksum(files, path, value)) << path;
        EXPECT_EQ(value, 0x1234u) << path;
    }
}

}  // namespace
}  // namespace fw
