#include "platform/posix/pe_version_reader.h"

#include <algorithm>

namespace fw {
namespace {

constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::uint32_t kVersionResourceName = 1;  // VS_VERSION_INFO
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kNamedEntryFlag = 0x80000000u;

constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint64_t kDirectoryHeaderSize = 16;
constexpr std::uint64_t kDirectoryEntrySize = 8;
constexpr std::uint64_t kDataEntrySize = 16;

// Every offset is computed in 64 bits from 32-bit fields, so no sum here can wrap; each read
// checks its whole range against the file first.
class Bytes {
  public:
    explicit Bytes(std::span<const std::uint8_t> data) : data(data) {}

    bool Holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= data.size() && length <= data.size() - offset;
    }
    std::optional<std::uint16_t> U16(std::uint64_t offset) const {
        if (!Holds(offset, 2)) return std::nullopt;
        auto at = static_cast<std::size_t>(offset);
        return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
    }
    std::optional<std::uint32_t> U32(std::uint64_t offset) const {
        if (!Holds(offset, 4)) return std::nullopt;
        auto at = static_cast<std::size_t>(offset);
        return static_cast<std::uint32_t>(data[at]) |
               static_cast<std::uint32_t>(data[at + 1]) << 8 |
               static_cast<std::uint32_t>(data[at + 2]) << 16 |
               static_cast<std::uint32_t>(data[at + 3]) << 24;
    }
    std::span<const std::uint8_t> Range(std::uint64_t offset, std::uint64_t length) const {
        return data.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    }

  private:
    std::span<const std::uint8_t> data;
};

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

class Image {
  public:
    Image(Bytes bytes, std::uint64_t sectionTable, std::uint16_t sectionCount)
        : bytes(bytes), sectionTable(sectionTable), sectionCount(sectionCount) {}

    // The file offset of `length` bytes at `rva`, when they all lie in the file data of one
    // section.
    std::optional<std::uint64_t> FileOffset(std::uint64_t rva, std::uint64_t length) const {
        for (std::uint16_t i = 0; i < sectionCount; ++i) {
            std::optional<Section> section = SectionAt(i);
            if (!section) return std::nullopt;
            if (rva < section->virtualAddress) continue;
            std::uint64_t delta = rva - section->virtualAddress;
            // Bytes past the virtual size are not part of the loaded section.
            std::uint64_t usable = section->virtualSize == 0
                                       ? section->rawSize
                                       : std::min(section->virtualSize, section->rawSize);
            if (delta >= usable || length > usable - delta) continue;
            std::uint64_t offset = section->rawOffset + delta;
            if (!bytes.Holds(offset, length)) return std::nullopt;
            return offset;
        }
        return std::nullopt;
    }

    std::optional<std::uint16_t> U16At(std::uint64_t rva) const {
        std::optional<std::uint64_t> offset = FileOffset(rva, 2);
        if (!offset) return std::nullopt;
        return bytes.U16(*offset);
    }

    const Bytes& file() const { return bytes; }

  private:
    std::optional<Section> SectionAt(std::uint16_t index) const {
        std::uint64_t at = sectionTable + index * kSectionHeaderSize;
        std::optional<std::uint32_t> virtualSize = bytes.U32(at + 8);
        std::optional<std::uint32_t> virtualAddress = bytes.U32(at + 12);
        std::optional<std::uint32_t> rawSize = bytes.U32(at + 16);
        std::optional<std::uint32_t> rawOffset = bytes.U32(at + 20);
        if (!virtualSize || !virtualAddress || !rawSize || !rawOffset) return std::nullopt;
        return Section{*virtualAddress, *virtualSize, *rawSize, *rawOffset};
    }

    Bytes bytes;
    std::uint64_t sectionTable;
    std::uint16_t sectionCount;
};

struct ResourceTree {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

// The entry value of the directory at `directoryOffset` (relative to the resource tree) that has
// the numeric id `id`, or the first entry when `id` is empty. The table is located once, so a
// long table in a file with many sections costs no more than a short one.
std::optional<std::uint32_t> FindEntry(const Image& image, const ResourceTree& tree,
                                       std::uint32_t directoryOffset,
                                       std::optional<std::uint32_t> id) {
    std::uint64_t directory = std::uint64_t{tree.rva} + directoryOffset;
    std::optional<std::uint16_t> named = image.U16At(directory + 12);
    std::optional<std::uint16_t> ids = image.U16At(directory + 14);
    if (!named || !ids) return std::nullopt;
    std::uint64_t count = std::uint64_t{*named} + *ids;
    std::uint64_t tableSize = kDirectoryHeaderSize + count * kDirectoryEntrySize;
    if (tree.size != 0 && std::uint64_t{directoryOffset} + tableSize > tree.size) {
        return std::nullopt;
    }
    std::optional<std::uint64_t> table = image.FileOffset(directory, tableSize);
    if (!table) return std::nullopt;
    const Bytes& bytes = image.file();
    // Named entries come first; numeric ids follow them.
    for (std::uint64_t i = id ? *named : 0; i < count; ++i) {
        std::uint64_t entry = *table + kDirectoryHeaderSize + i * kDirectoryEntrySize;
        std::optional<std::uint32_t> name = bytes.U32(entry);
        std::optional<std::uint32_t> value = bytes.U32(entry + 4);
        if (!name || !value) return std::nullopt;
        if (!id || ((*name & kNamedEntryFlag) == 0 && *name == *id)) return value;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> Subdirectory(std::optional<std::uint32_t> entry) {
    if (!entry || (*entry & kSubdirectoryFlag) == 0) return std::nullopt;
    return *entry & ~kSubdirectoryFlag;
}

std::optional<Image> ParseHeaders(const Bytes& bytes, ResourceTree& tree) {
    if (!bytes.Holds(0, 2) || bytes.U16(0) != 0x5A4D) return std::nullopt;  // "MZ"
    std::optional<std::uint32_t> newHeader = bytes.U32(kNewHeaderOffsetField);
    if (!newHeader || bytes.U32(*newHeader) != 0x00004550u) return std::nullopt;  // "PE\0\0"
    std::uint64_t coff = std::uint64_t{*newHeader} + 4;
    std::optional<std::uint16_t> sectionCount = bytes.U16(coff + 2);
    std::optional<std::uint16_t> optionalSize = bytes.U16(coff + 16);
    std::uint64_t optional = coff + kCoffHeaderSize;
    std::optional<std::uint16_t> magic = bytes.U16(optional);
    if (!sectionCount || !optionalSize || !magic) return std::nullopt;

    std::uint64_t countField = 0;
    std::uint64_t directories = 0;
    if (*magic == kMagicPe32) {
        countField = 92;
        directories = 96;
    } else if (*magic == kMagicPe32Plus) {
        countField = 108;
        directories = 112;
    } else {
        return std::nullopt;
    }
    std::uint64_t resourceField = directories + kResourceDirectoryIndex * 8;
    if (*optionalSize < resourceField + 8) return std::nullopt;
    std::optional<std::uint32_t> directoryCount = bytes.U32(optional + countField);
    std::optional<std::uint32_t> rva = bytes.U32(optional + resourceField);
    std::optional<std::uint32_t> size = bytes.U32(optional + resourceField + 4);
    if (!directoryCount || *directoryCount <= kResourceDirectoryIndex || !rva || !size ||
        *rva == 0) {
        return std::nullopt;
    }
    std::uint64_t sectionTable = optional + *optionalSize;
    if (!bytes.Holds(sectionTable, *sectionCount * kSectionHeaderSize)) return std::nullopt;
    tree = ResourceTree{*rva, *size};
    return Image(bytes, sectionTable, *sectionCount);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ExtractVersionResource(
    std::span<const std::uint8_t> file) {
    Bytes bytes(file);
    ResourceTree tree;
    std::optional<Image> image = ParseHeaders(bytes, tree);
    if (!image) return std::nullopt;

    // Type, name, language: exactly three levels, the last one a data entry.
    std::optional<std::uint32_t> names =
        Subdirectory(FindEntry(*image, tree, 0, kResourceTypeVersion));
    if (!names) return std::nullopt;
    std::optional<std::uint32_t> languages =
        Subdirectory(FindEntry(*image, tree, *names, kVersionResourceName));
    if (!languages) return std::nullopt;
    std::optional<std::uint32_t> dataEntry = FindEntry(*image, tree, *languages, std::nullopt);
    if (!dataEntry || (*dataEntry & kSubdirectoryFlag) != 0) return std::nullopt;

    std::optional<std::uint64_t> entry =
        image->FileOffset(std::uint64_t{tree.rva} + *dataEntry, kDataEntrySize);
    if (!entry) return std::nullopt;
    std::optional<std::uint32_t> dataRva = bytes.U32(*entry);
    std::optional<std::uint32_t> dataSize = bytes.U32(*entry + 4);
    if (!dataRva || !dataSize || *dataSize == 0) return std::nullopt;
    std::optional<std::uint64_t> offset = image->FileOffset(*dataRva, *dataSize);
    if (!offset) return std::nullopt;
    std::span<const std::uint8_t> data = image->file().Range(*offset, *dataSize);
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

}  // namespace fw
