#pragma once
// Minimal Windows executables with a chosen version resource, for tests and demos: a valid
// PE32 or PE32+ image with one resource section, or one of its broken variants. Free of any
// test framework, so a demo can use it to make "Fablewright.exe".

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fw::test {

enum class VersionLayout {
    kWide,    // a 32-bit resource: wide-character key, fixed information at offset 40
    kNarrow,  // a 16-bit resource: 8-bit key, fixed information at offset 20
};

enum class PeFormat { kPe32, kPe32Plus };

// Ways to break an otherwise valid file.
enum class PeDefect {
    kNone,
    kNotPe,                    // "MZ" without the "PE" header
    kNewHeaderOutsideFile,     // e_lfanew beyond the end
    kBadOptionalMagic,         // neither PE32 nor PE32+
    kSectionTableOutsideFile,  // 65535 sections
    kRawDataOutsideFile,       // the section's file data starts beyond the end
    kResourceRvaUnmapped,      // the resource directory's address lies in no section
    kSubdirectoryOutside,      // the name level points far outside the section
    kDataOutsideFile,          // the data entry's address lies outside the section
    kDataSizeHuge,             // the data entry's size runs past the section and the file
    kDataPastSection,          // the data runs past its section into bytes after it
    kDirectoryLoop,            // every level points back at the root directory
    kEntryCountHuge,           // the root claims 65535 id entries
    kNameIsString,             // the version resource is named by a string, not by id 1
};

// The fixed parts of a version-information block in `layout` for the file version
// (major << 48 | minor << 32 | build << 16 | revision); the signature can be replaced to make a
// block without usable fixed information.
std::vector<std::uint8_t> MakeVersionBlock(VersionLayout layout, std::uint64_t fileVersion,
                                           std::uint32_t signature = 0xFEEF04BDu);

// The file version from its four parts.
constexpr std::uint64_t PackVersion(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                                    std::uint16_t revision) {
    return std::uint64_t{major} << 48 | std::uint64_t{minor} << 32 | std::uint64_t{build} << 16 |
           revision;
}

struct PeOptions {
    PeFormat format = PeFormat::kPe32;
    // The RT_VERSION resource; nothing gives a file whose only resource is of another type.
    std::optional<std::vector<std::uint8_t>> versionBlock;
    PeDefect defect = PeDefect::kNone;
};

struct PeImage {
    std::vector<std::uint8_t> bytes;
    std::size_t versionBlockOffset = 0;  // where the resource data sits in the file
};

PeImage MakePe(const PeOptions& options);

// A valid executable whose version resource holds `fileVersion` in `layout`.
std::vector<std::uint8_t> MakePeWithVersion(std::uint64_t fileVersion,
                                            VersionLayout layout = VersionLayout::kWide,
                                            PeFormat format = PeFormat::kPe32);

// Writes `bytes` to `path`, replacing the file; false when that fails.
bool WriteBinaryFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace fw::test
