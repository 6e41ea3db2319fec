#include "discovery/file_version.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/files.h"
#include "tests/support/pe_writer.h"

namespace fw {
namespace {

using test::MakeVersionBlock;
using test::PackVersion;
using test::VersionLayout;

TEST(FileVersionFromBlock, FindsTheFixedInformationInBothLayouts) {
    for (VersionLayout layout : {VersionLayout::kWide, VersionLayout::kNarrow}) {
        EXPECT_EQ(FileVersionFromBlock(MakeVersionBlock(layout, PackVersion(1, 2, 3, 4))),
                  0x0001000200030004ull);
        EXPECT_EQ(FileVersionFromBlock(MakeVersionBlock(layout, PackVersion(0, 0, 0, 0))), 0u);
    }
}

TEST(FileVersionFromBlock, WithoutSignatureIsUnknown) {
    for (VersionLayout layout : {VersionLayout::kWide, VersionLayout::kNarrow}) {
        EXPECT_EQ(FileVersionFromBlock(MakeVersionBlock(layout, PackVersion(1, 2, 3, 4), 0)),
                  kUnknownFileVersion);
    }
}

TEST(FileVersionFromBlock, PrefersOffsetFortyOverTwenty) {
    std::vector<std::uint8_t> block =
        MakeVersionBlock(VersionLayout::kWide, PackVersion(5, 6, 7, 8));
    // A second signature at 20 with other words after it.
    const std::uint8_t narrow[] = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 0, 0, 9, 0, 9, 0, 9, 0, 9, 0};
    std::copy(std::begin(narrow), std::end(narrow), block.begin() + 20);
    EXPECT_EQ(FileVersionFromBlock(block), PackVersion(5, 6, 7, 8));
}

TEST(FileVersionFromBlock, ShortBlocksAreNeverReadPastTheirEnd) {
    std::vector<std::uint8_t> wide =
        MakeVersionBlock(VersionLayout::kWide, PackVersion(1, 2, 3, 4));
    std::vector<std::uint8_t> narrow =
        MakeVersionBlock(VersionLayout::kNarrow, PackVersion(1, 2, 3, 4));
    for (std::size_t length = 0; length <= 60; ++length) {
        std::span<const std::uint8_t> w(wide.data(), std::min(length, wide.size()));
        std::span<const std::uint8_t> n(narrow.data(), std::min(length, narrow.size()));
        // The version words end 16 bytes after the signature.
        EXPECT_EQ(FileVersionFromBlock(w),
                  length >= 56 ? PackVersion(1, 2, 3, 4) : kUnknownFileVersion)
            << length;
        EXPECT_EQ(FileVersionFromBlock(n),
                  length >= 36 ? PackVersion(1, 2, 3, 4) : kUnknownFileVersion)
            << length;
    }
}

TEST(FormatFileVersion, Texts) {
    struct Case {
        std::uint64_t version;
        const char* text;
    };
    const Case cases[] = {
        {PackVersion(1, 2, 3, 4), "1.2.3.4"},
        {0, "0.0.0.0"},
        {PackVersion(65535, 65535, 65535, 65534), "65535.65535.65535.65534"},
        {PackVersion(65535, 65535, 65535, 65535), "Unknown"},
        {PackVersion(40000, 1, 50000, 2), "40000.1.50000.2"},  // no sign from the upper bit
        {0xFFFFFFFF00000000ull, "65535.65535.0.0"},
        {0x00000000FFFFFFFFull, "0.0.65535.65535"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatFileVersion(c.version), c.text) << c.version;
}

// Files with a version block per path; everything else is not needed by ReadFileVersion.
class BlockFiles : public Files {
  public:
    std::map<std::string, std::vector<std::uint8_t>> blocks;

    std::optional<std::vector<std::uint8_t>> GetFileVersionInfo(const std::string& path) override {
        auto it = blocks.find(path);
        if (it == blocks.end()) return std::nullopt;
        return it->second;
    }
    std::vector<std::string> FindFiles(const std::string&) override { return {}; }
    std::string GetProfileString(const std::string&, std::string_view, std::string_view,
                                 std::string_view, std::size_t) override {
        return {};
    }
    std::optional<FileStatus> Stat(const std::string&) override { return std::nullopt; }
    bool CreateDirectory(const std::string&) override { return false; }
    PrivateFolder MakePrivateDirectory(const std::string&) override {
        return PrivateFolder::kCannotCreate;
    }
    std::unique_ptr<WritableFile> CreateFile(const std::string&) override { return nullptr; }
    std::unique_ptr<ReadableFile> OpenForReading(const std::string&) override { return nullptr; }
    bool Remove(const std::string&) override { return false; }
    std::string GetFileTitle(const std::string& path) override { return path; }
};

TEST(ReadFileVersion, UsesTheBlockOfThatPath) {
    BlockFiles files;
    files.blocks["a.exe"] = MakeVersionBlock(VersionLayout::kWide, PackVersion(3, 1, 4, 1));
    files.blocks["empty.exe"] = {};
    EXPECT_EQ(ReadFileVersion(files, "a.exe"), PackVersion(3, 1, 4, 1));
    EXPECT_EQ(ReadFileVersion(files, "missing.exe"), kUnknownFileVersion);
    EXPECT_EQ(ReadFileVersion(files, "empty.exe"), kUnknownFileVersion);
}

}  // namespace
}  // namespace fw
