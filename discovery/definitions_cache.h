#pragma once
// The last accepted definitions of each file name, kept in this user's cache folder with the
// validator of the answer they came in, so that the next check can ask the server whether
// they changed. A kept copy saves bytes, never trust: whatever is read back here goes through
// every check a fresh answer goes through.

#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace fw {

struct KeptDefinitions {
    std::string server;        // the server text the answer came from, as the check named it
    std::string etag;          // the answer's ETag; empty when it had none
    std::string lastModified;  // the answer's Last-Modified; empty when it had none
    std::string bytes;         // the answer's body
    // Whether `bytes` are the body byte for byte (what a signature covers); false: its lines,
    // each ended by LF, as a check without keys reads them.
    bool raw = true;
};

class DefinitionsCache {
  public:
    // `folder` is the program's cache folder; empty: nothing is kept or read.
    DefinitionsCache(Files& files, std::string folder);
    // Whether copies are kept at all.
    bool Enabled() const { return !folder.empty(); }

    // The copy kept for `fileName` from `server`; nothing when there is none, it came from
    // another server, it is larger than any definitions, it cannot be read, or `needRaw` and it
    // holds only the lines.
    std::optional<KeptDefinitions> Load(std::string_view fileName, std::string_view server,
                                        bool needRaw);
    // Replaces the kept copy of `fileName`; an answer without a usable validator only removes
    // the old one. False when nothing could be kept.
    bool Save(std::string_view fileName, const KeptDefinitions& kept);
    void Remove(std::string_view fileName);

  private:
    std::string PathOf(std::string_view fileName) const;
    bool FolderReady(bool create);

    Files& files;
    std::string folder;
};

// The header lines that ask the server to answer 304 while the kept copy is still current.
std::string ConditionalHeaders(const KeptDefinitions& kept);

}  // namespace fw
