#pragma once
// Whether a file on disk is the updater the definitions describe: its 32-bit checksum and,
// from signed definitions, its SHA-256, both computed in one read pass.

#include <cstdint>
#include <optional>
#include <string>

#include "download/checksum.h"
#include "platform/crypto.h"
#include "platform/files.h"

namespace fw {

struct FileFacts {
    std::int64_t size = 0;
    std::uint32_t checksum = 0;
    Sha256Digest digest{};
};

// The size, checksum and digest of bytes given in pieces of any size.
class FileFactsAccumulator {
public:
    void Add(const void* data, std::size_t size);
    // False when the hash failed on the way.
    bool Finish(FileFacts& facts);

private:
    ChecksumAccumulator checksum;
    Sha256 hash;
    bool ok = true;
};

// Reads the file once, in large pieces, for its size, checksum and digest. False when it
// cannot be opened or read (or the hash fails); the file is closed on every path.
bool ReadFileFacts(Files& files, const std::string& path, FileFacts& facts);

enum class FileCheck {
    kMatches,  // the checksum matches, and the digest too when one is expected
    kDiffers,  // the checksum does not match, or the file cannot be read
    kAltered,  // a digest is expected and the bytes are not the ones it names
};

// How facts already known compare with what the definitions expect.
FileCheck CompareFacts(const FileFacts& facts, std::uint32_t expectedChecksum,
                       const Sha256Digest& expectedDigest);

// Without an expected digest this is exactly the checksum comparison of old.
FileCheck CheckFile(Files& files, const std::string& path, std::uint32_t expectedChecksum,
                    const std::optional<Sha256Digest>& expectedDigest);

// True only when the file can be read and its SHA-256 is `expected`.
bool FileHasDigest(Files& files, const std::string& path, const Sha256Digest& expected);
// The same for a file already open, read from where it stands to its end.
bool ReadableHasDigest(ReadableFile& file, const Sha256Digest& expected);

}  // namespace fw
