#pragma once
// The updates that a check offers, and the lists of texts that the dialog keeps beside them.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fw {

struct UpdateEntry {
    std::string templateName;  // the game system the update is for, as the definitions spell it
    std::string sourceUrl;     // "http://server/object" or an object path on the update server
    // Where the updater is saved; null until the download reaches it. Every record that names
    // the same file holds the same text, so that hundreds of thousands of records for one
    // updater do not each carry a copy of its path.
    std::shared_ptr<const std::string> localPath = nullptr;
    std::int32_t expectedSize = 0;
    std::uint32_t expectedChecksum = 0;
    // The SHA-256 of the updater from signed definitions; only a program with trusted keys reads
    // it, and then every entry has one. Held apart, so that the hundreds of thousands of entries
    // that large definitions make do not each carry 32 unused bytes.
    std::shared_ptr<const std::array<std::uint8_t, 32>> expectedDigest = nullptr;

    // The saved updater's path, or empty text before the download reaches it.
    const std::string& LocalPath() const {
        static const std::string kNone;
        return localPath ? *localPath : kNone;
    }
};

// The updates in definitions order, held by value. A deque, so that hundreds of thousands of
// entries grow without ever being copied to a larger block (which would briefly need both).
class EntryArray {
public:
    std::size_t Add(UpdateEntry entry) {
        entries.push_back(std::move(entry));
        return entries.size() - 1;
    }
    void RemoveAt(std::size_t index) { entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index)); }
    // Removes every entry for which `unwanted` is true, keeping the order of the others.
    template <typename Predicate>
    void RemoveIf(Predicate unwanted) {
        entries.erase(std::remove_if(entries.begin(), entries.end(), unwanted), entries.end());
    }
    std::size_t GetSize() const { return entries.size(); }
    UpdateEntry& operator[](std::size_t index) { return entries.at(index); }
    const UpdateEntry& operator[](std::size_t index) const { return entries.at(index); }
    // Drops the entries from `count` on, restoring an earlier state of the array.
    void Truncate(std::size_t count) {
        if (count < entries.size()) entries.resize(count);
    }
    // The first entry whose name equals `name` without regard to case, or nullptr.
    UpdateEntry* FindByName(std::string_view name);

private:
    std::deque<UpdateEntry> entries;
};

using TextList = std::vector<std::string>;

// Whether two names are equal without regard to case. Multibyte characters are compared as
// units: only single-byte ASCII letters are case-folded, and the bytes of a character of the
// code page's double-byte set (or of a UTF-8 sequence) are compared exactly.
bool EqualsNoCase(std::string_view a, std::string_view b);

// 32-bit sums of sizes wrap as the 32-bit counters always have, without undefined behaviour.
inline std::int32_t WrappingAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace fw
