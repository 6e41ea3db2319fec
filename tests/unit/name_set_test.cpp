// The name set must find exactly the names that EqualsNoCase calls equal.

#include <gtest/gtest.h>

#include "session/name_set.h"
#include "session/update_entry.h"

namespace fw {
namespace {

TEST(NameSetTest, FindsWhatEqualsNoCaseCallsEqual) {
    const std::pair<std::string, std::string> pairs[] = {
        {"Sci Fi", "sci fi"},         {"Sci Fi", "Sci Fi "},  {"ABC", "abd"},
        {"[Z]", "[z]"},               {"@", "`"},             {"Caf\xc3\xa9", "CAF\xc3\xa9"},
        {"\xc3\xa9", "\xc3\x89"},     {"", ""},               {"a\0b", std::string("A\0B", 3)},
    };
    for (const auto& [a, b] : pairs) {
        SCOPED_TRACE(a + " / " + b);
        NameSet set;
        set.Insert(a);
        EXPECT_EQ(set.Contains(b), EqualsNoCase(a, b));
        EXPECT_TRUE(set.Contains(a));
    }
}

}  // namespace
}  // namespace fw
