#pragma once
// Whether a file on disk is the updater the definitions describe: its 32-bit checksum and,
// from signed definitions, its SHA-256, both computed in one read pass.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/crypto.h"
#include "platform/files.h"

namespace fw {

struct FileFacts {
    std::int64_t size = 0;
    std::uint32_t checksum = 0;
    Sha256Digest digest{};
};

// Reads the file once, in large pieces, for its size, checksum and digest. False when it
// cannot be opened or read (or the hash fails); the file is closed on every path.
bool ReadFileFacts(Files& files, const std::string& path, FileFacts& facts);

enum class FileCheck {
    kMatches,  // the checksum matches, and the digest too when one is expected
    kDiffers,  // the checksum does not match, or the file cannot be read
    kAltered,  // a digest is expected and the bytes are not the ones it names
};

// Without an expected digest this is exactly the checksum comparison of old.
FileCheck CheckFile(Files& files, const std::string& path, std::uint32_t expectedChecksum,
                    const std::optional<Sha256Digest>& expectedDigest);

// True only when the file can be read and its SHA-256 is `expected`.
bool FileHasDigest(Files& files, const std::string& path, const Sha256Digest& expected);

}  // namespace fw
