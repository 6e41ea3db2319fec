#include "discovery/definitions_cache.h"

#include <cstdio>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "platform/http_client.h"
#include "platform/path.h"

namespace fw {
namespace {

// The first line of a kept copy; a copy of any other format is not read.
constexpr std::string_view kFormatLine = "fablewright-kept-definitions 1";
// The note before the definitions: the format line, five named lines, an empty line.
constexpr std::size_t kMaxNoteBytes = 8 * 1024;
constexpr std::size_t kMaxFieldBytes = 1024;
// Folders made above the program's own when they are missing (the cache root, the maker's).
constexpr int kMaxMissingParents = 2;

// A value that can stand in a header line and in the note: visible ASCII and spaces only.
bool PlainField(std::string_view text) {
    if (text.size() > kMaxFieldBytes) return false;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
            return false;
        }
    }
    return true;
}

// The definitions file name as a file name of its own: letters, digits, '-', '_' and '.' not
// leading stay; every other byte becomes %XX, so that no name reaches another folder.
std::string EncodeName(std::string_view name) {
    std::string encoded;
    for (std::size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || (c == '.' && i > 0);
        if (keep) {
            encoded += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            encoded += hex;
        }
    }
    return encoded;
}

std::string ParentOf(const std::string& path) {
    std::size_t last = path.find_last_of("/\\");
    return last == std::string::npos || last == 0 ? std::string() : path.substr(0, last);
}

// Takes "NAME VALUE\n" off the front of `text`.
bool TakeField(std::string_view& text, std::string_view name, std::string& value) {
    if (text.substr(0, name.size()) != name || text.size() <= name.size() ||
        text[name.size()] != ' ') {
        return false;
    }
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    value = std::string(text.substr(name.size() + 1, end - name.size() - 1));
    text.remove_prefix(end + 1);
    return PlainField(value);
}

}  // namespace

DefinitionsCache::DefinitionsCache(Files& files, std::string folder)
    : files(files), folder(std::move(folder)) {}

std::string DefinitionsCache::PathOf(std::string_view fileName) const {
    return JoinPath(folder, EncodeName(fileName) + ".kept");
}

// Copies are read only from a folder no other user can write to: one planted there would
// otherwise stand for the server's answer.
bool DefinitionsCache::FolderReady(bool create) {
    if (folder.empty()) return false;
    if (!files.Stat(folder)) {
        if (!create) return false;
        std::string missing = ParentOf(folder);
        std::vector<std::string> parents;
        while (!missing.empty() && !files.Stat(missing)) {
            if (static_cast<int>(parents.size()) == kMaxMissingParents) return false;
            parents.push_back(missing);
            missing = ParentOf(missing);
        }
        for (auto it = parents.rbegin(); it != parents.rend(); ++it) {
            if (!files.CreateDirectory(*it)) return false;
        }
    }
    return files.MakePrivateDirectory(folder) == PrivateFolder::kReady;
}

std::optional<KeptDefinitions> DefinitionsCache::Load(std::string_view fileName,
                                                      std::string_view server, bool needRaw) {
    if (!FolderReady(false)) return std::nullopt;
    std::unique_ptr<ReadableFile> file = files.OpenForReadingNoFollow(PathOf(fileName));
    if (!file) return std::nullopt;
    constexpr std::size_t kLimit = kMaxNoteBytes + kMaxDefinitionsBytes;
    std::string text;
    for (;;) {
        std::size_t had = text.size();
        text.resize(had + 64 * 1024);
        std::ptrdiff_t count = file->Read(text.data() + had, text.size() - had);
        text.resize(had + static_cast<std::size_t>(count > 0 ? count : 0));
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        if (text.size() > kLimit) return std::nullopt;
    }
    std::string_view rest = text;
    if (rest.substr(0, kFormatLine.size() + 1) != std::string(kFormatLine) + "\n") {
        return std::nullopt;
    }
    rest.remove_prefix(kFormatLine.size() + 1);
    KeptDefinitions kept;
    std::string keptName;
    std::string form;
    if (!TakeField(rest, "file", keptName) || !TakeField(rest, "form", form) ||
        !TakeField(rest, "server", kept.server) || !TakeField(rest, "etag", kept.etag) ||
        !TakeField(rest, "last-modified", kept.lastModified) || rest.substr(0, 1) != "\n") {
        return std::nullopt;
    }
    rest.remove_prefix(1);
    if (text.size() - rest.size() > kMaxNoteBytes || rest.size() > kMaxDefinitionsBytes) {
        return std::nullopt;
    }
    if (keptName != fileName || kept.server != server) return std::nullopt;
    if (form != "raw" && form != "lines") return std::nullopt;
    kept.raw = form == "raw";
    // Lines with their CR bytes dropped no longer match a signature over the answer.
    if (needRaw && !kept.raw) return std::nullopt;
    if (kept.etag.empty() && kept.lastModified.empty()) return std::nullopt;
    kept.bytes = std::string(rest);
    return kept;
}

bool DefinitionsCache::Save(std::string_view fileName, const KeptDefinitions& kept) {
    if (folder.empty()) return false;
    bool usable = (!kept.etag.empty() || !kept.lastModified.empty()) && PlainField(kept.etag) &&
                  PlainField(kept.lastModified) && PlainField(kept.server) &&
                  PlainField(fileName) && kept.bytes.size() <= kMaxDefinitionsBytes;
    if (!usable) {
        Remove(fileName);
        return false;
    }
    if (!FolderReady(true)) return false;
    std::string note = std::string(kFormatLine) + "\nfile " + std::string(fileName) + "\nform " +
                       (kept.raw ? "raw" : "lines") + "\nserver " + kept.server + "\netag " +
                       kept.etag + "\nlast-modified " + kept.lastModified + "\n\n";
    // Written whole under another name first: a run that stops half way leaves the old copy
    // or none, never half of one. The name is this run's own, so that two checks at once (the
    // daily one and the window's) never write into one file.
    std::string path = PathOf(fileName);
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".new-%08x", static_cast<unsigned>(std::random_device{}()));
    std::string written = path + suffix;
    std::unique_ptr<WritableFile> file = files.CreateNewFile(written);
    if (!file) return false;
    bool ok =
        file->Write(note.data(), note.size()) && file->Write(kept.bytes.data(), kept.bytes.size());
    ok = file->Close() && ok;
    file.reset();
    if (!ok || !files.Rename(written, path)) {
        files.Remove(written);
        return false;
    }
    return true;
}

void DefinitionsCache::Remove(std::string_view fileName) {
    if (folder.empty()) return;
    files.Remove(PathOf(fileName));
}

std::string ConditionalHeaders(const KeptDefinitions& kept) {
    std::string headers;
    if (!kept.etag.empty()) headers = "If-None-Match: " + kept.etag;
    if (!kept.lastModified.empty()) {
        if (!headers.empty()) headers += "\r\n";
        headers += "If-Modified-Since: " + kept.lastModified;
    }
    return headers;
}

}  // namespace fw
