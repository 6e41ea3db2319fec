#pragma once
// Names looked up without regard to case in constant time, matching as EqualsNoCase compares.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

namespace fw {

// The form of `name` under which names equal by EqualsNoCase are the same text: ASCII letters
// lowered, the bytes of a double-byte character (or of a UTF-8 sequence) kept as they are.
std::string FoldNameCase(std::string_view name);

class NameSet {
public:
    void Insert(std::string_view name) { folded.insert(FoldNameCase(name)); }
    bool Contains(std::string_view name) const { return folded.count(FoldNameCase(name)) != 0; }
    void Clear() { folded.clear(); }
    // Room for `count` names without rehashing on the way.
    void Reserve(std::size_t count) { folded.reserve(count); }

private:
    std::unordered_set<std::string> folded;
};

}  // namespace fw
