#include "download/verify.h"

#include <memory>
#include <vector>


namespace fw {
namespace {

// One large read feeds both sums while the bytes are still in the cache; small reads would
// make the system calls, not the hashing, set the pace.
constexpr std::size_t kReadSize = 1024 * 1024;

}  // namespace

void FileFactsAccumulator::Add(const void* data, std::size_t size) {
    checksum.Update(static_cast<const unsigned char*>(data), size);
    ok = hash.Update(data, size) && ok;
}

bool FileFactsAccumulator::Finish(FileFacts& facts) {
    if (!ok || !hash.Finish(facts.digest)) return false;
    facts.size = static_cast<std::int64_t>(checksum.Size());
    facts.checksum = checksum.Value();
    return true;
}

namespace {

bool ReadFacts(ReadableFile& file, FileFacts& facts) {
    std::vector<unsigned char> buffer(kReadSize);
    FileFactsAccumulator accumulator;
    for (;;) {
        std::ptrdiff_t n = file.Read(buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0 || static_cast<std::size_t>(n) > buffer.size()) return false;
        accumulator.Add(buffer.data(), static_cast<std::size_t>(n));
    }
    return accumulator.Finish(facts);
}

}  // namespace

bool ReadFileFacts(Files& files, const std::string& path, FileFacts& facts) {
    std::unique_ptr<ReadableFile> file = files.OpenForReading(path);
    return file && ReadFacts(*file, facts);
}

FileCheck CompareFacts(const FileFacts& facts, std::uint32_t expectedChecksum,
                       const Sha256Digest& expectedDigest) {
    // The digest decides first: a 32-bit checksum is easily made to match.
    if (facts.digest != expectedDigest) return FileCheck::kAltered;
    return facts.checksum == expectedChecksum ? FileCheck::kMatches : FileCheck::kDiffers;
}

FileCheck CheckFile(Files& files, const std::string& path, std::uint32_t expectedChecksum,
                    const std::optional<Sha256Digest>& expectedDigest) {
    if (!expectedDigest) {
        std::uint32_t checksum = 0;
        bool ok = FileChecksum(files, path, checksum) && checksum == expectedChecksum;
        return ok ? FileCheck::kMatches : FileCheck::kDiffers;
    }
    FileFacts facts;
    if (!ReadFileFacts(files, path, facts)) return FileCheck::kDiffers;
    return CompareFacts(facts, expectedChecksum, *expectedDigest);
}

bool FileHasDigest(Files& files, const std::string& path, const Sha256Digest& expected) {
    FileFacts facts;
    return ReadFileFacts(files, path, facts) && facts.digest == expected;
}

bool ReadableHasDigest(ReadableFile& file, const Sha256Digest& expected) {
    FileFacts facts;
    return ReadFacts(file, facts) && facts.digest == expected;
}

}  // namespace fw
