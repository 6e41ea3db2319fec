// The Win32 file services on real files (under Wine in CI).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/wildcard.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/windows_win32.h"
#include "tests/support/pe_writer.h"
#include "tests/support/temp_dir.h"

namespace fw {
namespace {

std::string Native(const std::string& path) {
    return std::filesystem::path(path).make_preferred().string();
}

// Folders compared as the file system sees them: separators, dot names, a separator at the end,
// letter case and short names all reach the same folder; a folder not made yet is compared by
// its existing parent and its name.
TEST(Win32FilesTest, SameFolderAsTheFileSystemSeesIt) {
    test::TempDir dir;
    const std::string release = Native(dir.Path("Release Folder"));
    std::filesystem::create_directories(release);
    std::filesystem::create_directories(dir.Path("Other"));
    std::string upper = release;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    char shortName[MAX_PATH] = {};
    DWORD shortLength = GetShortPathNameA(release.c_str(), shortName, MAX_PATH);
    struct Case {
        std::string a;
        std::string b;
        bool same;
    };
    std::vector<Case> cases = {
        {release, release + "\\", true},
        {release, dir.Path("Release Folder"), true},  // "/" separators
        {release, release + "\\..\\Release Folder", true},
        {release, release + "\\.", true},
        {release, upper, true},
        {release + "\\New", upper + "\\NEW\\", true},  // not made yet
        {release, Native(dir.Path("Other")), false},
        {release + "\\New", release + "\\Newer", false},
        {release, release + " Beta", false},
    };
    if (shortLength > 0 && shortLength < MAX_PATH) cases.push_back({release, shortName, true});
    Win32Files files;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a + " | " + c.b);
        EXPECT_EQ(files.SameFolder(c.a, c.b), c.same);
        EXPECT_EQ(files.SameFolder(c.b, c.a), c.same);
    }
    EXPECT_EQ(files.FullPath(release + "\\.\\x\\..\\"), release);
}

TEST(Win32FilesTest, FindFilesMatchesThePatternWithoutRegardToCase) {
    test::TempDir dir;
    dir.Write("lower.gsi", "");
    dir.Write("Upper.GSI", "");
    dir.Write("other.txt", "");
    dir.Write("longer.gsix", "");  // its short name NEWER~1.GSI matches the search
    dir.Write("sub/inner.gsi", "");
    Win32Files files;
    std::vector<std::string> names = files.FindFiles(Native(dir.Path("*.gSi")));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Upper.GSI", "lower.gsi"}));
    EXPECT_TRUE(files.FindFiles(Native(dir.Path("missing/*.gsi"))).empty());
    // "*" yields the entries, never "." and "..".
    std::vector<std::string> all = files.FindFiles(Native(dir.Path("*")));
    EXPECT_EQ(all.size(), 5u);
    EXPECT_EQ(std::count(all.begin(), all.end(), "."), 0);
}

TEST(Win32FilesTest, Wildcards) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"a.gsi", "*.gsi", true},     {"A.GSI", "*.gsi", true},    {"new.gsix", "*.gsi", false},
        {"old.gsi.bak", "*.gsi", false}, {".gsi", "*.gsi", true},  {"x.gsi.gsi", "*.gsi", true},
        {"ab", "a?", true},           {"a", "a?", false},          {"Makefile", "*.*", true},
        {"abc", "a*c", true},         {"abcbd", "a*c", false},     {"", "*", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesWildcard(c.name, c.pattern), c.matches) << c.name << " " << c.pattern;
    }
}

TEST(Win32FilesTest, ProfileStrings) {
    test::TempDir dir;
    dir.Write("t.gsi", "[Configuration]\r\nGameSystem=Sci Fi\r\n[Other]\r\nGameSystem=No\r\n");
    Win32Files files;
    std::string path = Native(dir.Path("t.gsi"));
    struct Case {
        const char* section;
        const char* key;
        std::size_t bufferSize;
        const char* expected;
    };
    const Case cases[] = {
        {"Configuration", "GameSystem", 256, "Sci Fi"},
        {"configuration", "gamesystem", 256, "Sci Fi"},
        {"Configuration", "GameSystem", 4, "Sci"},  // cut to bufferSize - 1
        {"Configuration", "Missing", 256, "fallback"},
        {"Missing", "GameSystem", 256, "fallback"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(files.GetProfileString(path, c.section, c.key, "fallback", c.bufferSize),
                  c.expected)
            << c.section << "/" << c.key << "/" << c.bufferSize;
    }
}

TEST(Win32FilesTest, RelativeProfilePathIsTheCurrentFoldersFile) {
    // GetPrivateProfileStringA alone would look for a relative name in the Windows folder.
    test::TempDir dir;
    dir.Write("rel.gsi", "[Configuration]\r\nGameSystem=Fantasy\r\n");
    std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    Win32Files files;
    std::string value = files.GetProfileString("rel.gsi", "Configuration", "GameSystem", "", 256);
    std::filesystem::current_path(saved);
    EXPECT_EQ(value, "Fantasy");
}

TEST(Win32FilesTest, VersionBlockOfAGeneratedExecutable) {
    test::TempDir dir;
    std::string withVersion = Native(dir.Path("Fablewright.exe"));
    ASSERT_TRUE(test::WriteBinaryFile(withVersion,
                                      test::MakePeWithVersion(test::PackVersion(2, 1, 0, 7))));
    std::string without = Native(dir.Path("NoVersion.exe"));
    ASSERT_TRUE(test::WriteBinaryFile(without, test::MakePe({}).bytes));
    Win32Files files;
    auto block = files.GetFileVersionInfo(withVersion);
    ASSERT_TRUE(block);
    ASSERT_GE(block->size(), 56u);
    auto dword = [&](std::size_t at) {
        return std::uint32_t{(*block)[at]} | std::uint32_t{(*block)[at + 1]} << 8 |
               std::uint32_t{(*block)[at + 2]} << 16 | std::uint32_t{(*block)[at + 3]} << 24;
    };
    EXPECT_EQ(dword(40), 0xFEEF04BDu);  // the fixed information of a 32-bit block
    EXPECT_EQ(dword(48), (2u << 16) | 1u);
    EXPECT_EQ(dword(52), 7u);
    EXPECT_FALSE(files.GetFileVersionInfo(without));
    EXPECT_FALSE(files.GetFileVersionInfo(Native(dir.Path("missing.exe"))));
}

TEST(Win32FilesTest, WrittenBytesReadBackUnchanged) {
    test::TempDir dir;
    Win32Files files;
    std::string path = Native(dir.Path("data.bin"));
    // CR LF and a ^Z must survive: a text-mode read would change them.
    const std::string bytes("a\r\nb\x1a" "c\n\0d", 9);
    {
        auto out = files.CreateFile(path);
        ASSERT_TRUE(out);
        ASSERT_TRUE(out->Write(bytes.data(), bytes.size()));
        ASSERT_TRUE(out->Close());
    }
    auto status = files.Stat(path);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->size, 9);
    EXPECT_FALSE(status->isDirectory);
    {
        auto in = files.OpenForReading(path);  // closed before the removal below
        ASSERT_TRUE(in);
        std::string read(32, '\0');
        std::ptrdiff_t n = in->Read(read.data(), read.size());
        ASSERT_EQ(n, 9);
        EXPECT_EQ(read.substr(0, 9), bytes);
        EXPECT_EQ(in->Read(read.data(), read.size()), 0);
    }
    {
        auto again = files.CreateFile(path);  // an existing file is truncated
        ASSERT_TRUE(again);
    }
    EXPECT_EQ(files.Stat(path)->size, 0);
    EXPECT_TRUE(files.Remove(path));
    EXPECT_FALSE(files.Stat(path));
    EXPECT_FALSE(files.Remove(path));
    EXPECT_FALSE(files.OpenForReading(path));
}

// A second name planted for a file elsewhere is replaced by a file of its own: the file it led
// to keeps its bytes.
TEST(Win32FilesTest, ALinkUnderTheNameIsNotWrittenThrough) {
    test::TempDir dir;
    Win32Files files;
    std::string elsewhere = Native(dir.Path("elsewhere.txt"));
    std::string updater = Native(dir.Path("upd.exe"));
    {
        auto out = files.CreateFile(elsewhere);
        ASSERT_TRUE(out && out->Write("keep", 4) && out->Close());
    }
    ASSERT_TRUE(CreateHardLinkA(updater.c_str(), elsewhere.c_str(), nullptr));
    {
        auto out = files.CreateFile(updater);
        ASSERT_TRUE(out && out->Write("new", 3) && out->Close());
    }
    EXPECT_EQ(files.Stat(elsewhere)->size, 4);
    EXPECT_EQ(files.Stat(updater)->size, 3);
}

TEST(Win32FilesTest, FoldersAndTitles) {
    test::TempDir dir;
    Win32Files files;
    std::string folder = Native(dir.Path("temp"));
    EXPECT_TRUE(files.CreateDirectory(folder));
    EXPECT_FALSE(files.CreateDirectory(folder));  // it exists
    EXPECT_FALSE(files.CreateDirectory(Native(dir.Path("no/such/level"))));
    auto status = files.Stat(folder);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->isDirectory);
    EXPECT_FALSE(files.CreateFile(Native(dir.Path("no/such/file.exe"))));
    EXPECT_EQ(files.GetFileTitle("C:\\Fablewright\\temp\\FwUpd42.exe"), "FwUpd42.exe");
}

}  // namespace
}  // namespace fw
