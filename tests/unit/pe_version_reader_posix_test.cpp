#include <gtest/gtest.h>

#include "discovery/file_version.h"
#include "platform/posix/pe_version_reader.h"
#include "tests/support/pe_writer.h"

namespace fw {
namespace {

using test::MakePe;
using test::MakeVersionBlock;
using test::PackVersion;
using test::PeDefect;
using test::PeFormat;
using test::PeOptions;
using test::VersionLayout;

struct LayoutCase {
    const char* name;
    PeFormat format;
    VersionLayout layout;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class ValidFiles : public testing::TestWithParam<LayoutCase> {};

TEST_P(ValidFiles, GiveTheVersionBlockUnchanged) {
    PeOptions options;
    options.format = GetParam().format;
    options.versionBlock = MakeVersionBlock(GetParam().layout, PackVersion(1, 2, 3, 4));
    test::PeImage image = MakePe(options);

    std::optional<std::vector<std::uint8_t>> block = ExtractVersionResource(image.bytes);
    ASSERT_TRUE(block);
    EXPECT_EQ(*block, *options.versionBlock);
    EXPECT_EQ(FileVersionFromBlock(*block), PackVersion(1, 2, 3, 4));
}

TEST_P(ValidFiles, EveryTruncationIsRefusedOrComplete) {
    PeOptions options;
    options.format = GetParam().format;
    options.versionBlock = MakeVersionBlock(GetParam().layout, PackVersion(7, 0, 1, 2));
    test::PeImage image = MakePe(options);
    const std::size_t dataEnd = image.versionBlockOffset + options.versionBlock->size();

    for (std::size_t length = 0; length < image.bytes.size(); ++length) {
        std::span<const std::uint8_t> prefix(image.bytes.data(), length);
        std::optional<std::vector<std::uint8_t>> block = ExtractVersionResource(prefix);
        if (length < dataEnd) {
            EXPECT_FALSE(block) << "prefix of " << length << " bytes";
        } else {
            ASSERT_TRUE(block) << "prefix of " << length << " bytes";
            EXPECT_EQ(*block, *options.versionBlock);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ValidFiles,
    testing::Values(LayoutCase{"Pe32Wide", PeFormat::kPe32, VersionLayout::kWide},
                    LayoutCase{"Pe32Narrow", PeFormat::kPe32, VersionLayout::kNarrow},
                    LayoutCase{"Pe32PlusWide", PeFormat::kPe32Plus, VersionLayout::kWide},
                    LayoutCase{"Pe32PlusNarrow", PeFormat::kPe32Plus, VersionLayout::kNarrow}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

struct DefectCase {
    const char* name;
    PeDefect defect;
};

void PrintTo(const DefectCase& c, std::ostream* os) {
    *os << c.name;
}

class BrokenFiles : public testing::TestWithParam<std::tuple<DefectCase, PeFormat>> {};

TEST_P(BrokenFiles, GiveNothing) {
    PeOptions options;
    options.format = std::get<1>(GetParam());
    options.versionBlock = MakeVersionBlock(VersionLayout::kWide, PackVersion(1, 2, 3, 4));
    options.defect = std::get<0>(GetParam()).defect;
    EXPECT_FALSE(ExtractVersionResource(MakePe(options).bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Defects, BrokenFiles,
    testing::Combine(
        testing::Values(DefectCase{"NotPe", PeDefect::kNotPe},
                        DefectCase{"NewHeaderOutsideFile", PeDefect::kNewHeaderOutsideFile},
                        DefectCase{"BadOptionalMagic", PeDefect::kBadOptionalMagic},
                        DefectCase{"SectionTableOutsideFile", PeDefect::kSectionTableOutsideFile},
                        DefectCase{"RawDataOutsideFile", PeDefect::kRawDataOutsideFile},
                        DefectCase{"ResourceRvaUnmapped", PeDefect::kResourceRvaUnmapped},
                        DefectCase{"SubdirectoryOutside", PeDefect::kSubdirectoryOutside},
                        DefectCase{"DataOutsideFile", PeDefect::kDataOutsideFile},
                        DefectCase{"DataSizeHuge", PeDefect::kDataSizeHuge},
                        DefectCase{"DataPastSection", PeDefect::kDataPastSection},
                        DefectCase{"DirectoryLoop", PeDefect::kDirectoryLoop},
                        DefectCase{"EntryCountHuge", PeDefect::kEntryCountHuge},
                        DefectCase{"NameIsString", PeDefect::kNameIsString}),
        testing::Values(PeFormat::kPe32, PeFormat::kPe32Plus)),
    [](const testing::TestParamInfo<std::tuple<DefectCase, PeFormat>>& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == PeFormat::kPe32 ? "Pe32" : "Pe32Plus");
    });

TEST(PeVersionReader, OtherResourceTypesAreNotVersionInformation) {
    PeOptions options;  // a manifest only
    EXPECT_FALSE(ExtractVersionResource(MakePe(options).bytes));
}

TEST(PeVersionReader, NonExecutablesGiveNothing) {
    const std::vector<std::vector<std::uint8_t>> inputs = {
        {},
        {'M'},
        {'M', 'Z'},
        std::vector<std::uint8_t>(4096, 0),
        std::vector<std::uint8_t>(4096, 0xFF),
    };
    for (const auto& input : inputs) EXPECT_FALSE(ExtractVersionResource(input));
}

// Flipping any single byte of the headers and the resource tree must never read outside the
// file (the sanitizer build checks) and gives either nothing or some block.
TEST(PeVersionReader, SurvivesEveryByteOfHeadersAndTreeCorrupted) {
    PeOptions options;
    options.format = PeFormat::kPe32Plus;
    options.versionBlock = MakeVersionBlock(VersionLayout::kWide, PackVersion(1, 2, 3, 4));
    test::PeImage image = MakePe(options);
    int found = 0;
    for (std::size_t at = 0; at < image.versionBlockOffset; ++at) {
        for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
            std::vector<std::uint8_t> bytes = image.bytes;
            bytes[at] = value;
            std::optional<std::vector<std::uint8_t>> block = ExtractVersionResource(bytes);
            if (block) {
                ++found;
                EXPECT_LE(block->size(), bytes.size());
            }
        }
    }
    // Most bytes (padding, time stamps, stack sizes) do not matter.
    EXPECT_GT(found, 0);
}

}  // namespace
}  // namespace fw
