#include "platform/posix/files_posix.h"
#include "platform/wildcard.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "discovery/file_version.h"
#include "tests/support/pe_writer.h"
#include "tests/support/temp_dir.h"

namespace fw {
namespace {

using test::PackVersion;
using test::PeDefect;
using test::PeFormat;
using test::VersionLayout;

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST(MatchesWildcard, WildcardsAndCase) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"*.gsi", "Fantasy.gsi", true},
        {"*.gsi", "Fantasy.GSI", true},
        {"*.gsi", ".gsi", true},
        {"*.gsi", "a.b.gsi", true},
        {"*.gsi", "Fantasy.gsix", false},
        {"*.gsi", "Fantasy.gs", false},
        {"*.gsi", "gsi", false},
        {"?.gsi", "a.gsi", true},
        {"?.gsi", "ab.gsi", false},
        {"*", "anything", true},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"Fablewright.exe", "FABLEWRIGHT.EXE", true},
        {"Fablewright.exe", "Fablewright.exe.bak", false},
        {"caf\xC3\xA9.gsi", "CAF\xC3\xA9.GSI", true},
        {"caf\xC3\xA9.gsi", "CAF\xC3\x89.GSI", false},  // only ASCII letters fold
        {"**.gsi", "x.gsi", true},
        {"", "x", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesWildcard(c.name, c.pattern), c.matches) << c.pattern << " / " << c.name;
    }
    // Many stars against a long name that almost matches must not take exponential time.
    EXPECT_FALSE(MatchesWildcard(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*a*b"));
}

class PosixFilesTest : public testing::Test {
  protected:
    test::TempDir dir;
    PosixFiles files;
};

TEST_F(PosixFilesTest, FindFilesMatchesNamesOfOneFolderWithoutRegardToCase) {
    dir.Write("Fantasy.GSI", "");
    dir.Write("scifi.gsi", "");
    dir.Write("notes.txt", "");
    dir.Write("old.gsix", "");
    dir.Write("sub/inner.gsi", "");
    EXPECT_EQ(Sorted(files.FindFiles(dir.Path("*.gsi"))),
              (std::vector<std::string>{"Fantasy.GSI", "scifi.gsi"}));
    EXPECT_EQ(Sorted(files.FindFiles(dir.Path("*.GSI"))),
              (std::vector<std::string>{"Fantasy.GSI", "scifi.gsi"}));
    EXPECT_EQ(
        Sorted(files.FindFiles(dir.Path("*"))),
        (std::vector<std::string>{"Fantasy.GSI", "notes.txt", "old.gsix", "scifi.gsi", "sub"}));
}

TEST_F(PosixFilesTest, FindFilesWithoutWildcardsFindsTheNameInAnyCase) {
    dir.Write("FABLEWRIGHT.EXE", "MZ");
    EXPECT_EQ(files.FindFiles(dir.Path("Fablewright.exe")),
              (std::vector<std::string>{"FABLEWRIGHT.EXE"}));
    EXPECT_TRUE(files.FindFiles(dir.Path("Fablewright.ex")).empty());
    EXPECT_TRUE(files.FindFiles(dir.Path("missing/Fablewright.exe")).empty());
    EXPECT_TRUE(files.FindFiles(dir.Path("")).empty());
}

TEST_F(PosixFilesTest, GetProfileStringReadsTheFile) {
    std::string path = dir.Write("a.gsi", "[Configuration]\r\nGameSystem = Fantasy \r\n");
    EXPECT_EQ(files.GetProfileString(path, "configuration", "gamesystem", "d", 256), "Fantasy");
    EXPECT_EQ(files.GetProfileString(path, "Configuration", "Other", "d", 256), "d");
    EXPECT_EQ(
        files.GetProfileString(dir.Path("missing.gsi"), "Configuration", "GameSystem", "d", 256),
        "d");
    // A folder is not a readable profile.
    std::filesystem::create_directory(dir.Path("folder.gsi"));
    EXPECT_EQ(
        files.GetProfileString(dir.Path("folder.gsi"), "Configuration", "GameSystem", "d", 256),
        "d");
}

TEST_F(PosixFilesTest, GetProfileStringOfUnreadableFileGivesDefault) {
    std::string path = dir.Write("locked.gsi", "[Configuration]\nGameSystem=Locked\n");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    if (std::ifstream(path).is_open()) GTEST_SKIP() << "running with privileges";
    EXPECT_EQ(files.GetProfileString(path, "Configuration", "GameSystem", "", 256), "");
}

struct VersionCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* text;
};

std::vector<std::uint8_t> Broken(PeDefect defect) {
    test::PeOptions options;
    options.versionBlock = test::MakeVersionBlock(VersionLayout::kWide, PackVersion(1, 2, 3, 4));
    options.defect = defect;
    return test::MakePe(options).bytes;
}

std::vector<std::uint8_t> Truncated(std::size_t keep) {
    std::vector<std::uint8_t> bytes = test::MakePeWithVersion(PackVersion(1, 2, 3, 4));
    bytes.resize(keep);
    return bytes;
}

std::vector<std::uint8_t> WithoutSignature() {
    test::PeOptions options;
    options.versionBlock =
        test::MakeVersionBlock(VersionLayout::kWide, PackVersion(1, 2, 3, 4), 0x12345678u);
    return test::MakePe(options).bytes;
}

TEST_F(PosixFilesTest, ReadFileVersionOfGeneratedExecutables) {
    const VersionCase cases[] = {
        {"wide", test::MakePeWithVersion(PackVersion(1, 2, 3, 4)), "1.2.3.4"},
        {"narrow", test::MakePeWithVersion(PackVersion(1, 2, 3, 4), VersionLayout::kNarrow),
         "1.2.3.4"},
        {"pe32plus",
         test::MakePeWithVersion(PackVersion(10, 20, 30, 40), VersionLayout::kWide,
                                 PeFormat::kPe32Plus),
         "10.20.30.40"},
        {"pe32plusnarrow",
         test::MakePeWithVersion(PackVersion(2, 0, 0, 1), VersionLayout::kNarrow,
                                 PeFormat::kPe32Plus),
         "2.0.0.1"},
        {"allones", test::MakePeWithVersion(PackVersion(65535, 65535, 65535, 65535)), "Unknown"},
        {"nosignature", WithoutSignature(), "Unknown"},
        {"noversion", test::MakePe(test::PeOptions{}).bytes, "Unknown"},
        {"headersonly", Truncated(0x200), "Unknown"},
        {"halfheader", Truncated(0x60), "Unknown"},
        {"empty", {}, "Unknown"},
        {"text", {'h', 'e', 'l', 'l', 'o'}, "Unknown"},
        {"dataoutside", Broken(PeDefect::kDataOutsideFile), "Unknown"},
        {"sizehuge", Broken(PeDefect::kDataSizeHuge), "Unknown"},
        {"rawoutside", Broken(PeDefect::kRawDataOutsideFile), "Unknown"},
        {"loop", Broken(PeDefect::kDirectoryLoop), "Unknown"},
    };
    for (const VersionCase& c : cases) {
        std::string path = dir.Path(std::string(c.name) + ".exe");
        ASSERT_TRUE(test::WriteBinaryFile(path, c.bytes));
        EXPECT_EQ(FormatFileVersion(ReadFileVersion(files, path)), c.text) << c.name;
    }
    EXPECT_EQ(ReadFileVersion(files, dir.Path("missing.exe")), kUnknownFileVersion);
    EXPECT_EQ(ReadFileVersion(files, dir.path()), kUnknownFileVersion);
}

TEST_F(PosixFilesTest, OversizedExecutablesAreNotRead) {
    std::string small = dir.Path("small.exe");
    std::string large = dir.Path("large.exe");
    ASSERT_TRUE(test::WriteBinaryFile(small, test::MakePeWithVersion(PackVersion(1, 2, 3, 4))));
    ASSERT_TRUE(test::WriteBinaryFile(large, test::MakePeWithVersion(PackVersion(1, 2, 3, 4))));
    std::filesystem::resize_file(small, PosixFiles::kMaxExecutableSize);  // sparse
    std::filesystem::resize_file(large, PosixFiles::kMaxExecutableSize + 1);
    EXPECT_EQ(ReadFileVersion(files, small), PackVersion(1, 2, 3, 4));
    EXPECT_EQ(ReadFileVersion(files, large), kUnknownFileVersion);
}

TEST_F(PosixFilesTest, StatGivesSizeAndFolderBit) {
    std::string file = dir.Write("f.bin", std::string(1234, 'x'));
    std::optional<FileStatus> status = files.Stat(file);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->size, 1234);
    EXPECT_FALSE(status->isDirectory);
    status = files.Stat(dir.path());
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->isDirectory);
    EXPECT_FALSE(files.Stat(dir.Path("missing")));
}

TEST_F(PosixFilesTest, CreateFileReplacesAHardLinkInsteadOfWritingThroughIt) {
    std::string outside = dir.Write("outside.txt", "kept");
    ASSERT_EQ(::link(outside.c_str(), dir.Path("updater.exe").c_str()), 0);
    std::unique_ptr<WritableFile> file = files.CreateFile(dir.Path("updater.exe"));
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Write("new", 3));
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(dir.Read("outside.txt"), "kept");
    EXPECT_EQ(dir.Read("updater.exe"), "new");
}

TEST_F(PosixFilesTest, CreateDirectoryMakesOnlyTheLastLevel) {
    EXPECT_TRUE(files.CreateDirectory(dir.Path("temp")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path("temp")));
    EXPECT_FALSE(files.CreateDirectory(dir.Path("temp")));  // exists
    EXPECT_FALSE(files.CreateDirectory(dir.Path("a/b")));   // parent missing
    EXPECT_FALSE(dir.Exists("a"));
}

TEST_F(PosixFilesTest, CreateFileCreatesOrTruncatesWithOwnerWritePermissions) {
    std::string path = dir.Write("out.bin", "old contents that are longer");
    std::unique_ptr<WritableFile> out = files.CreateFile(path);
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->Write("new", 3));
    EXPECT_TRUE(out->Close());
    EXPECT_EQ(dir.Read("out.bin"), "new");

    std::string fresh = dir.Path("fresh.bin");
    out = files.CreateFile(fresh);
    ASSERT_TRUE(out);
    std::string big(100000, 'z');
    EXPECT_TRUE(out->Write(big.data(), big.size()));
    out.reset();  // closing by destruction keeps what was written
    EXPECT_EQ(dir.Read("fresh.bin"), big);
    // 0644 less the umask: never executable, never writable by others.
    using std::filesystem::perms;
    perms mode = std::filesystem::status(fresh).permissions();
    EXPECT_EQ(
        mode & ~(perms::owner_read | perms::owner_write | perms::group_read | perms::others_read),
        perms::none);
    EXPECT_EQ(mode & (perms::owner_read | perms::owner_write),
              perms::owner_read | perms::owner_write);

    EXPECT_FALSE(files.CreateFile(dir.Path("missing/out.bin")));
    EXPECT_FALSE(files.CreateFile(dir.path()));
}

TEST_F(PosixFilesTest, OpenForReadingReadsToTheEnd) {
    dir.Write("in.bin", "abcdef");
    std::unique_ptr<ReadableFile> in = files.OpenForReading(dir.Path("in.bin"));
    ASSERT_TRUE(in);
    char buffer[4];
    EXPECT_EQ(in->Read(buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(in->Read(buffer, sizeof buffer), 2);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_EQ(in->Read(buffer, sizeof buffer), 0);
    EXPECT_FALSE(files.OpenForReading(dir.Path("missing")));
    EXPECT_FALSE(files.OpenForReading(dir.path()));
}

// With the FIFO held open at both ends no open would block, so only the check of the file's
// kind can refuse it; a device must not be truncated or read as a template either.
TEST_F(PosixFilesTest, OnlyRegularFilesAndLinksToThemAreOpened) {
    std::string fifo = dir.Path("pipe.gsi");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int held = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(held, 0);
    std::string linked = dir.Write("real.gsi", "[Configuration]\nGameSystem=Linked\n");
    std::filesystem::create_symlink(linked, dir.Path("link.gsi"));
    for (const std::string& path : {fifo, std::string("/dev/null")}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(files.OpenForReading(path));
        EXPECT_FALSE(files.CreateFile(path));
        EXPECT_EQ(files.GetProfileString(path, "Configuration", "GameSystem", "none", 256), "none");
        EXPECT_FALSE(files.GetFileVersionInfo(path));
    }
    ::close(held);
    EXPECT_TRUE(files.OpenForReading(dir.Path("link.gsi")));
    EXPECT_EQ(files.GetProfileString(dir.Path("link.gsi"), "Configuration", "GameSystem", "", 256),
              "Linked");
    // Written, a link is replaced by a file of its own; what it named stays as it was.
    EXPECT_TRUE(files.CreateFile(dir.Path("link.gsi")));
    EXPECT_EQ(dir.Read("real.gsi"), "[Configuration]\nGameSystem=Linked\n");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.Path("link.gsi")));
}

TEST_F(PosixFilesTest, RemoveDeletesFilesOnly) {
    dir.Write("gone.bin", "x");
    EXPECT_TRUE(files.Remove(dir.Path("gone.bin")));
    EXPECT_FALSE(dir.Exists("gone.bin"));
    EXPECT_FALSE(files.Remove(dir.Path("gone.bin")));
    std::filesystem::create_directory(dir.Path("folder"));
    EXPECT_FALSE(files.Remove(dir.Path("folder")));
    EXPECT_TRUE(dir.Exists("folder"));
}

TEST_F(PosixFilesTest, GetFileTitleIsTheLastComponent) {
    struct Case {
        const char* path;
        const char* title;
    };
    const Case cases[] = {
        {"/tmp/x/Fantasy.exe", "Fantasy.exe"},
        {"C:\\Games\\temp\\Fantasy.exe", "Fantasy.exe"},
        {"/mixed\\sep/a.b", "a.b"},
        {"plain.exe", "plain.exe"},
        {"/tmp/folder/", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(files.GetFileTitle(c.path), c.title) << c.path;
}

}  // namespace
}  // namespace fw
