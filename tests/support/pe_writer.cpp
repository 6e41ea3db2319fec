#include "tests/support/pe_writer.h"

#include <cstdio>
#include <memory>
#include <string_view>

namespace fw::test {
namespace {

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kHeadersSize = 0x200;
constexpr std::uint32_t kResourceRva = 0x1000;
constexpr std::uint32_t kNewHeaderOffset = 0x40;
constexpr std::uint32_t kOptionalHeaderOffset = kNewHeaderOffset + 4 + 20;
constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::uint16_t kTypeVersion = 16;
constexpr std::uint16_t kTypeManifest = 24;
constexpr std::uint16_t kLanguageUsEnglish = 0x0409;

class Writer {
  public:
    std::vector<std::uint8_t> bytes;

    std::size_t size() const { return bytes.size(); }
    void U8(std::uint8_t v) { bytes.push_back(v); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v & 0xFF));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v & 0xFFFF));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void U64(std::uint64_t v) {
        U32(static_cast<std::uint32_t>(v & 0xFFFFFFFFu));
        U32(static_cast<std::uint32_t>(v >> 32));
    }
    void Narrow(std::string_view text) {
        for (char c : text) U8(static_cast<std::uint8_t>(c));
        U8(0);
    }
    void Wide(std::string_view text) {
        for (char c : text) U16(static_cast<std::uint8_t>(c));
        U16(0);
    }
    void Pad(std::size_t alignment) {
        while (bytes.size() % alignment != 0) U8(0);
    }
    void PadTo(std::size_t offset) {
        while (bytes.size() < offset) U8(0);
    }
    void Append(const std::vector<std::uint8_t>& data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    void Put16(std::size_t at, std::uint16_t v) {
        bytes.at(at) = static_cast<std::uint8_t>(v & 0xFF);
        bytes.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
    }
    void Put32(std::size_t at, std::uint32_t v) {
        Put16(at, static_cast<std::uint16_t>(v & 0xFFFF));
        Put16(at + 2, static_cast<std::uint16_t>(v >> 16));
    }
};

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void FixedFileInfo(Writer& w, std::uint64_t version, std::uint32_t signature) {
    auto high = static_cast<std::uint32_t>(version >> 32);
    auto low = static_cast<std::uint32_t>(version & 0xFFFFFFFFu);
    w.U32(signature);
    w.U32(0x00010000);  // structure version 1.0
    w.U32(high);        // file version
    w.U32(low);
    w.U32(high);  // product version
    w.U32(low);
    w.U32(0x3F);     // flags mask
    w.U32(0);        // flags
    w.U32(0x40004);  // VOS_NT_WINDOWS32
    w.U32(1);        // VFT_APP
    w.U32(0);        // subtype
    w.U32(0);        // date
    w.U32(0);
}

// VarFileInfo with one Translation value, the child real blocks carry after the fixed part.
void Translation(Writer& w, VersionLayout layout) {
    std::size_t start = w.size();
    w.U16(0);  // length, patched below
    w.U16(0);
    if (layout == VersionLayout::kWide) {
        w.U16(1);  // text
        w.Wide("VarFileInfo");
    } else {
        w.Narrow("VarFileInfo");
    }
    w.Pad(4);
    std::size_t child = w.size();
    w.U16(0);
    w.U16(4);
    if (layout == VersionLayout::kWide) {
        w.U16(0);  // binary
        w.Wide("Translation");
    } else {
        w.Narrow("Translation");
    }
    w.Pad(4);
    w.U16(kLanguageUsEnglish);
    w.U16(1200);  // Unicode code page
    w.Put16(child, static_cast<std::uint16_t>(w.size() - child));
    w.Put16(start, static_cast<std::uint16_t>(w.size() - start));
}

// The resource section at kResourceRva: type -> name 1 -> language -> data.
struct ResourceSection {
    std::vector<std::uint8_t> bytes;
    std::size_t dataOffset = 0;
};

ResourceSection MakeResources(const PeOptions& options) {
    static const std::vector<std::uint8_t> kManifest = {'<', '?', 'x', 'm', 'l', '?', '>'};
    const std::vector<std::uint8_t>& data =
        options.versionBlock ? *options.versionBlock : kManifest;
    const std::uint16_t type = options.versionBlock ? kTypeVersion : kTypeManifest;
    const PeDefect defect = options.defect;

    Writer w;
    auto directory = [&w](std::uint16_t named, std::uint16_t ids) {
        w.U32(0);  // characteristics
        w.U32(0);  // time stamp
        w.U16(0);  // version
        w.U16(0);
        w.U16(named);
        w.U16(ids);
    };
    // Room for a root of two entries before the name level.
    constexpr std::uint32_t kNames = 0x20;
    constexpr std::uint32_t kLanguages = 0x38;
    constexpr std::uint32_t kDataEntry = 0x50;
    constexpr std::uint32_t kNameString = 0x60;
    constexpr std::uint32_t kData = 0x80;

    if (defect == PeDefect::kDirectoryLoop) {
        // Every level leads back to the root: a walker that follows subdirectories until it
        // meets data never ends.
        directory(0, 2);
        w.U32(1);
        w.U32(kSubdirectory);
        w.U32(type);
        w.U32(kSubdirectory);
    } else {
        directory(0, defect == PeDefect::kEntryCountHuge ? 0xFFFF : 1);
        w.U32(type);
        w.U32(kSubdirectory | (defect == PeDefect::kSubdirectoryOutside ? 0x7FFFFF00u : kNames));
    }
    w.PadTo(kNames);

    if (defect == PeDefect::kNameIsString) {
        directory(1, 0);
        w.U32(0x80000000u | kNameString);
    } else {
        directory(0, 1);
        w.U32(1);
    }
    w.U32(kSubdirectory | kLanguages);

    directory(0, 1);
    w.U32(kLanguageUsEnglish);
    w.U32(kDataEntry);

    std::uint32_t dataRva = kResourceRva + kData;
    if (defect == PeDefect::kDataOutsideFile) dataRva = kResourceRva + 0x00F00000u;
    auto dataSize = static_cast<std::uint32_t>(data.size());
    if (defect == PeDefect::kDataSizeHuge) dataSize = 0xFFFFFF00u;
    if (defect == PeDefect::kDataPastSection) dataSize += 2 * kFileAlignment;
    w.U32(dataRva);
    w.U32(dataSize);
    w.U32(0);  // code page
    w.U32(0);

    w.PadTo(kNameString);
    w.U16(15);
    for (char c : std::string_view("VS_VERSION_INFO")) w.U16(static_cast<std::uint8_t>(c));

    w.PadTo(kData);
    w.Append(data);
    return ResourceSection{std::move(w.bytes), kData};
}

}  // namespace

std::vector<std::uint8_t> MakeVersionBlock(VersionLayout layout, std::uint64_t fileVersion,
                                           std::uint32_t signature) {
    Writer w;
    w.U16(0);   // length, patched below
    w.U16(52);  // the fixed information
    if (layout == VersionLayout::kWide) {
        w.U16(0);  // binary
        w.Wide("VS_VERSION_INFO");
    } else {
        w.Narrow("VS_VERSION_INFO");
    }
    w.Pad(4);
    FixedFileInfo(w, fileVersion, signature);
    Translation(w, layout);
    w.Put16(0, static_cast<std::uint16_t>(w.size()));
    return std::move(w.bytes);
}

PeImage MakePe(const PeOptions& options) {
    const bool plus = options.format == PeFormat::kPe32Plus;
    const PeDefect defect = options.defect;
    ResourceSection resources = MakeResources(options);
    const auto resourceSize = static_cast<std::uint32_t>(resources.bytes.size());
    const std::uint32_t rawSize = AlignUp(resourceSize, kFileAlignment);
    const std::uint32_t imageSize = kResourceRva + AlignUp(resourceSize, kSectionAlignment);
    const std::uint16_t optionalSize = plus ? 240 : 224;

    Writer w;
    w.U16(0x5A4D);  // "MZ"
    w.PadTo(0x3C);
    w.U32(defect == PeDefect::kNewHeaderOutsideFile ? 0x7FFFFFF0u : kNewHeaderOffset);
    w.PadTo(kNewHeaderOffset);

    if (defect == PeDefect::kNotPe) {
        w.U16(0x454E);  // "NE", a 16-bit program
        w.U16(0);
    } else {
        w.U32(0x00004550);  // "PE\0\0"
    }
    w.U16(plus ? 0x8664 : 0x014C);  // machine
    w.U16(defect == PeDefect::kSectionTableOutsideFile ? 0xFFFF : 1);
    w.U32(0);  // time stamp
    w.U32(0);  // symbols
    w.U32(0);
    w.U16(optionalSize);
    w.U16(plus ? 0x0022 : 0x0102);  // executable; large-address aware or 32-bit machine

    // Optional header.
    std::uint16_t magic = plus ? 0x20B : 0x10B;
    if (defect == PeDefect::kBadOptionalMagic) magic = 0x107;
    w.U16(magic);
    w.U8(14);  // linker version
    w.U8(0);
    w.U32(0);        // size of code
    w.U32(rawSize);  // initialised data
    w.U32(0);
    w.U32(0);  // entry point: none, the file is only read
    w.U32(0);  // base of code
    if (plus) {
        w.U64(0x140000000ull);
    } else {
        w.U32(0);  // base of data
        w.U32(0x400000);
    }
    w.U32(kSectionAlignment);
    w.U32(kFileAlignment);
    w.U16(6);  // operating system version
    w.U16(0);
    w.U16(0);  // image version
    w.U16(0);
    w.U16(6);  // subsystem version
    w.U16(0);
    w.U32(0);
    w.U32(imageSize);
    w.U32(kHeadersSize);
    w.U32(0);  // checksum
    w.U16(2);  // Windows GUI
    w.U16(0);
    if (plus) {
        w.U64(0x100000);
        w.U64(0x1000);
        w.U64(0x100000);
        w.U64(0x1000);
    } else {
        w.U32(0x100000);
        w.U32(0x1000);
        w.U32(0x100000);
        w.U32(0x1000);
    }
    w.U32(0);   // loader flags
    w.U32(16);  // data directories
    for (std::uint32_t i = 0; i < 16; ++i) {
        if (i == 2) {
            w.U32(defect == PeDefect::kResourceRvaUnmapped ? 0x00800000u : kResourceRva);
            w.U32(resourceSize);
        } else {
            w.U32(0);
            w.U32(0);
        }
    }

    // The one section.
    for (char c : std::string_view(".rsrc\0\0\0", 8)) w.U8(static_cast<std::uint8_t>(c));
    w.U32(resourceSize);
    w.U32(kResourceRva);
    w.U32(rawSize);
    w.U32(defect == PeDefect::kRawDataOutsideFile ? 0x00100000u : kHeadersSize);
    w.U32(0);  // relocations, line numbers
    w.U32(0);
    w.U16(0);
    w.U16(0);
    w.U32(0x40000040);  // initialised data, readable

    w.PadTo(kHeadersSize);
    std::size_t dataOffset = w.size() + resources.dataOffset;
    w.Append(resources.bytes);
    w.PadTo(kHeadersSize + rawSize);
    // Bytes after the last section, as installers append them, so that a range running past
    // the section still lies in the file.
    if (defect == PeDefect::kDataPastSection) w.PadTo(w.size() + 4 * kFileAlignment);
    return PeImage{std::move(w.bytes), dataOffset};
}

std::vector<std::uint8_t> MakePeWithVersion(std::uint64_t fileVersion, VersionLayout layout,
                                            PeFormat format) {
    PeOptions options;
    options.format = format;
    options.versionBlock = MakeVersionBlock(layout, fileVersion);
    return MakePe(options).bytes;
}

bool WriteBinaryFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "wb"));
    if (!file) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return false;
    }
    return std::fclose(file.release()) == 0;
}

}  // namespace fw::test
