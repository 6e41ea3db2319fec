#pragma once
// What a resumed download decides without touching the network or the disk: the note kept
// beside a partial updater, and whether an answer continues it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

// The partial updater and its note sit beside the updater under names that are never started.
std::string PartialPath(std::string_view localPath);
std::string PartialNotePath(std::string_view localPath);

// What a partial updater came from: the validator of the answer (an entity tag, else a date)
// and the size and checksum the definitions announced for the updater it is part of.
struct PartialNote {
    std::string validator;
    std::int32_t expectedSize = 0;
    std::uint32_t expectedChecksum = 0;
};

std::string FormatPartialNote(const PartialNote& note);
// Nothing for a note in another format (an older program's, a damaged one) or with a
// validator that cannot go into a header.
std::optional<PartialNote> ParsePartialNote(std::string_view text);

// The validator an answer offers for a later If-Range: its strong entity tag, else its
// Last-Modified date; empty when it has neither (a weak tag cannot be used for a range).
std::string ChooseValidator(std::string_view etag, std::string_view lastModified);

// Whether a Content-Range value says exactly "bytes OFFSET-(SIZE-1)/SIZE".
bool ContentRangeContinues(std::string_view contentRange, std::int64_t offset, std::int64_t size);

}  // namespace fw
