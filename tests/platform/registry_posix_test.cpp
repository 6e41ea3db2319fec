#include "platform/posix/registry_posix.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n";
const char* const kProductKey = "Software\\Corvallen\\Fablewright";

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class PosixRegistryTest : public ::testing::Test {
  protected:
    std::string Relative() const { return "config/Corvallen/registry.reg"; }
    std::string File() const { return dir.Path(Relative()); }
    std::string Contents() const { return dir.Read(Relative()); }
    void WriteFile(const std::string& text) const { dir.Write(Relative(), text); }

    test::TempDir dir;
    PosixRegistry registry{File()};
};

TEST_F(PosixRegistryTest, ValuesSurviveATripThroughTheFile) {
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->SetValue("InstallDir", "C:\\Games\\\"Fablewright\""));
    EXPECT_TRUE(key->SetValue("BetaInstallDir", "/home/ann/Fablewright Beta"));
    key.reset();

    PosixRegistry other(File());
    auto again = other.CreateKey(kProductKey);
    ASSERT_TRUE(again);
    std::string value;
    EXPECT_TRUE(again->QueryValue("InstallDir", value, 260));
    EXPECT_EQ(value, "C:\\Games\\\"Fablewright\"");
    EXPECT_TRUE(again->QueryValue("BetaInstallDir", value, 260));
    EXPECT_EQ(value, "/home/ann/Fablewright Beta");
    EXPECT_EQ(Contents(),
              kHead +
                  "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright]\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\InstallDir]\r\n"
                  "@=\"C:\\\\Games\\\\\\\"Fablewright\\\"\"\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\"
                  "BetaInstallDir]\r\n@=\"/home/ann/Fablewright Beta\"\r\n\r\n");
}

TEST_F(PosixRegistryTest, MissingFileAndFoldersAreCreatedWithTheKey) {
    ASSERT_FALSE(fs::exists(dir.Path("config")));
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(Contents(), kHead + "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright]\r\n\r\n");
    // The registry is the user's own business.
    EXPECT_EQ(fs::status(dir.Path("config/Corvallen")).permissions() & fs::perms::all,
              fs::perms::owner_all);
    EXPECT_EQ(fs::status(File()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    std::string value = "stale";
    EXPECT_FALSE(key->QueryValue("InstallDir", value, 260));
    EXPECT_EQ(value, "");
}

TEST_F(PosixRegistryTest, OpeningAnExistingKeyDoesNotWrite) {
    const std::string text = kHead + "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\x]\n";
    WriteFile(text);
    fs::create_hard_link(File(), dir.Path("link"));
    // Another letter case and a parent that exists only through its child.
    EXPECT_TRUE(registry.CreateKey("SOFTWARE\\corvallen\\FABLEWRIGHT"));
    EXPECT_TRUE(registry.CreateKey("Software"));
    EXPECT_TRUE(registry.CreateKey(""));
    EXPECT_EQ(Contents(), text);
    EXPECT_EQ(fs::hard_link_count(File()), 2u);  // still the same file, not a copy of it
}

TEST_F(PosixRegistryTest, HandEditedFileKeepsItsContentAcrossAWrite) {
    const std::string before =
        "\xEF\xBB\xBF" + kHead +
        "; Fablewright settings, edited by hand\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvallen]\r\n"
        "\"Shared\"=\"yes\"\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\InstallDir]\r\n"
        "; where it went\r\n"
        "@=\"C:\\\\Program Files\\\\Corvallen \\\"FW\\\"\"\r\n"
        "\"Version\"=dword:00000007\r\n"
        "\"Serial\"=hex:de,ad,\\\r\n"
        "  be,ef\r\n"
        "\"Note\"=\"keep \\\"me\\\"\"\r\n"
        "\r\n"
        "[-HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\Old]\r\n"
        "\r\n";
    WriteFile(before);
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    std::string value;
    EXPECT_TRUE(key->QueryValue("installdir", value, 260));
    EXPECT_EQ(value, "C:\\Program Files\\Corvallen \"FW\"");
    EXPECT_FALSE(key->QueryValue("Old", value, 260));

    EXPECT_TRUE(key->SetValue("BetaInstallDir", "D:\\Beta"));
    EXPECT_TRUE(key->SetValue("InstallDir", "E:\\FW"));
    std::string expected = before;
    expected.replace(expected.find("@=\"C:"),
                     std::string("@=\"C:\\\\Program Files\\\\Corvallen "
                                 "\\\"FW\\\"\"")
                         .size(),
                     "@=\"E:\\\\FW\"");
    expected +=
        "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\BetaInstallDir]\r\n"
        "@=\"D:\\\\Beta\"\r\n\r\n";
    EXPECT_EQ(Contents(), expected);
}

struct DamagedCase {
    const char* name;
    std::string text;
};

const DamagedCase kDamaged[] = {
    {"not the header", "Windows Registry Editor\r\n\r\n"},
    {"garbage", "I am not a registry.\n"},
    {"torn section line", kHead + "[HKEY_CURRENT_USER\\Software\\Corv"},
    {"torn value", kHead + "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\InstallDir]\r\n"
                           "@=\"C:\\\\Gam"},
    {"invalid escape", kHead +
                           "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\InstallDir]\r\n"
                           "@=\"C:\\Games\"\r\n"},
    {"binary junk", std::string("\x7f"
                                "ELF\x02\x01\x01\0\0\0",
                                10)},
};

TEST_F(PosixRegistryTest, DamagedFileFailsTheOpenAndIsLeftAsItWas) {
    for (const DamagedCase& c : kDamaged) {
        SCOPED_TRACE(c.name);
        WriteFile(c.text);
        EXPECT_FALSE(registry.CreateKey(kProductKey));
        EXPECT_FALSE(registry.CreateKey("Software\\Somewhere\\Else"));
        EXPECT_EQ(Contents(), c.text);
        EXPECT_EQ(FolderEntries(dir.Path("config/Corvallen")),
                  std::vector<std::string>{"registry.reg"});
    }
}

TEST_F(PosixRegistryTest, FileDamagedWhileAKeyIsOpenIsNotWrittenOver) {
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetValue("InstallDir", "C:\\FW"));
    for (const DamagedCase& c : kDamaged) {
        SCOPED_TRACE(c.name);
        WriteFile(c.text);
        std::string value;
        EXPECT_FALSE(key->QueryValue("InstallDir", value, 260));
        EXPECT_FALSE(key->SetValue("BetaInstallDir", "C:\\FW Beta"));
        EXPECT_EQ(Contents(), c.text);
    }
}

TEST_F(PosixRegistryTest, FolderInPlaceOfTheFileFailsTheOpen) {
    fs::create_directories(File());
    EXPECT_FALSE(registry.CreateKey(kProductKey));
    EXPECT_TRUE(fs::is_directory(File()));
    EXPECT_TRUE(fs::is_empty(File()));
}

TEST_F(PosixRegistryTest, UnreadableFileFailsTheOpen) {
    const std::string text = kHead + "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright]\r\n";
    WriteFile(text);
    fs::permissions(File(), fs::perms::none);
    if (std::ifstream(File()).good()) {
        fs::permissions(File(), fs::perms::owner_read | fs::perms::owner_write);
        GTEST_SKIP() << "this user reads files without read permission";
    }
    EXPECT_FALSE(registry.CreateKey(kProductKey));
    fs::permissions(File(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Contents(), text);
}

TEST_F(PosixRegistryTest, OversizedFileFailsTheOpen) {
    WriteFile(kHead);
    fs::resize_file(File(), 16u * 1024u * 1024u + 1u);  // sparse: cheap to make
    EXPECT_FALSE(registry.CreateKey(kProductKey));
    EXPECT_EQ(fs::file_size(File()), 16u * 1024u * 1024u + 1u);
}

TEST_F(PosixRegistryTest, KeyNamesDifferingInLetterCaseAreOneKey) {
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetValue("InstallDir", "first"));
    ASSERT_TRUE(key->SetValue("INSTALLDIR", "second"));
    auto upper = registry.CreateKey("SOFTWARE\\CORVALLEN\\FABLEWRIGHT");
    ASSERT_TRUE(upper);
    std::string value;
    EXPECT_TRUE(upper->QueryValue("installDir", value, 260));
    EXPECT_EQ(value, "second");
    std::string text = Contents();
    std::size_t first = text.find("InstallDir]");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.find("InstallDir]", first + 1), std::string::npos) << text;
    EXPECT_EQ(text.find("INSTALLDIR"), std::string::npos) << text;
}

struct BufferCase {
    const char* name;
    std::optional<std::string> stored;  // nothing: the sub-key exists without a default value
    std::size_t bufferSize;
    bool ok;
};

TEST_F(PosixRegistryTest, ValueAndTerminatorMustFitTheBuffer) {
    const BufferCase cases[] = {
        {"259 characters fit 260 bytes", std::string(259, 'a'), 260, true},
        {"260 characters do not", std::string(260, 'a'), 260, false},
        {"empty text needs one byte", std::string(), 1, true},
        {"no room even for the terminator", std::string(), 0, false},
        {"a key without a default value reads as empty text", std::nullopt, 1, true},
    };
    for (const BufferCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string body = "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\InstallDir]\r\n";
        if (c.stored) body += "@=\"" + *c.stored + "\"\r\n";
        WriteFile(kHead + body);
        auto key = registry.CreateKey(kProductKey);
        ASSERT_TRUE(key);
        std::string value = "stale";
        EXPECT_EQ(key->QueryValue("InstallDir", value, c.bufferSize), c.ok);
        EXPECT_EQ(value, c.ok ? c.stored.value_or("") : "");
    }
}

TEST_F(PosixRegistryTest, SubKeysBelowTheOpenKey) {
    WriteFile(kHead +
              "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\Number]\r\n@=dword:1\r\n");
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    std::string value = "stale";
    EXPECT_FALSE(key->QueryValue("Number", value, 260));  // not text: no folder in it
    EXPECT_FALSE(key->QueryValue("wright\\Source Directory", value, 260));
    ASSERT_TRUE(key->SetValue("wright\\Source Directory", "/opt/fw"));
    EXPECT_TRUE(key->QueryValue("Wright\\source directory", value, 260));
    EXPECT_EQ(value, "/opt/fw");
    EXPECT_TRUE(key->QueryValue("wright", value, 260));  // exists through its child
    EXPECT_EQ(value, "");
}

TEST_F(PosixRegistryTest, ValuesThatCannotBeStoredAreRefused) {
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    const std::string before = Contents();
    EXPECT_FALSE(key->SetValue("InstallDir", "two\nlines"));
    EXPECT_FALSE(key->SetValue("InstallDir", "carriage\rreturn"));
    EXPECT_FALSE(key->SetValue("Bad\\\\Name", "x"));
    EXPECT_EQ(Contents(), before);
    // The value is a zero-terminated text; what follows the zero is not part of it.
    EXPECT_TRUE(key->SetValue("InstallDir", std::string_view("C:\\FW\0junk", 10)));
    std::string value;
    EXPECT_TRUE(key->QueryValue("InstallDir", value, 260));
    EXPECT_EQ(value, "C:\\FW");
}

TEST_F(PosixRegistryTest, WritesReplaceTheFileAndLeaveNoTemporaryFiles) {
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    fs::permissions(File(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_hard_link(File(), dir.Path("before.reg"));
    const std::string before = Contents();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(key->SetValue("InstallDir", "folder " + std::to_string(i)));
    }
    // The old file was replaced, not rewritten in place: its other name still has the old text.
    EXPECT_EQ(dir.Read("before.reg"), before);
    EXPECT_NE(Contents(), before);
    EXPECT_EQ(FolderEntries(dir.Path("config/Corvallen")),
              std::vector<std::string>{"registry.reg"});
    EXPECT_EQ(fs::status(File()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(PosixRegistryTest, WritesKeepChangesOfOtherProcesses) {
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    // Someone else changes the file after we opened the key.
    PosixRegistry other(File());
    auto otherKey = other.CreateKey("Software\\Corvallen\\Other");
    ASSERT_TRUE(otherKey);
    ASSERT_TRUE(otherKey->SetValue("", "theirs"));
    ASSERT_TRUE(key->SetValue("BetaInstallDir", "ours"));
    std::string value;
    EXPECT_TRUE(otherKey->QueryValue("", value, 260));
    EXPECT_EQ(value, "theirs");
    EXPECT_TRUE(key->QueryValue("BetaInstallDir", value, 260));
    EXPECT_EQ(value, "ours");
}

TEST_F(PosixRegistryTest, WritesThroughASymbolicLinkKeepTheLink) {
    dir.Write("real/registry.reg", kHead);
    fs::create_directories(dir.Path("config/Corvallen"));
    fs::create_symlink(dir.Path("real/registry.reg"), File());
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetValue("InstallDir", "/x"));
    EXPECT_TRUE(fs::is_symlink(File()));
    EXPECT_NE(dir.Read("real/registry.reg").find("@=\"/x\""), std::string::npos);
}

// Sets or unsets environment variables for one test and puts them back afterwards.
class ScopedEnvironment {
  public:
    void Set(const char* name, const char* value) {
        if (!saved.count(name)) {
            const char* old = std::getenv(name);
            saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved;
};

struct PathCase {
    const char* name;
    const char* registry;
    const char* config;
    const char* home;
    const char* expected;  // nullptr: the account's home folder is used
};

// Another process holding the settings lock is waited for at most 10 s, and no longer once the
// run was asked to stop; the change then fails and the value stays as it was.
TEST_F(PosixRegistryTest, ALockHeldElsewhereIsWaitedForAtMostTenSeconds) {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    auto key = registry.CreateKey(kProductKey);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetValue("InstallDir", "/a"));
    int held = ::open(dir.Path("config/Corvallen").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);  // another open of the folder: another holder
    struct Case {
        const char* what;
        milliseconds askAfter;  // 0: never asked to stop
        milliseconds least;
        milliseconds most;
    };
    const Case cases[] = {
        {"asked to stop", milliseconds(200), milliseconds(200), milliseconds(1000)},
        {"never asked", milliseconds(0), milliseconds(10000), milliseconds(11000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Clock::time_point start = Clock::now();
        std::function<bool()> giveUp;
        if (c.askAfter.count() > 0) giveUp = [&] { return Clock::now() - start >= c.askAfter; };
        PosixRegistry waiting(File(), giveUp);
        auto waitingKey = waiting.CreateKey(kProductKey);
        ASSERT_TRUE(waitingKey);
        EXPECT_FALSE(waitingKey->SetValue("InstallDir", "/b"));
        auto took = Clock::now() - start;
        EXPECT_GE(took, c.least);
        EXPECT_LT(took, c.most);
    }
    ::close(held);
    std::string value;
    EXPECT_TRUE(key->QueryValue("InstallDir", value, 260));
    EXPECT_EQ(value, "/a");
    EXPECT_TRUE(key->SetValue("InstallDir", "/c"));
}

TEST(PosixRegistryPath, FollowsTheEnvironment) {
    const PathCase cases[] = {
        {"explicit file wins", "/tmp/my.reg", "/cfg", "/home/ann", "/tmp/my.reg"},
        {"relative explicit file", "my.reg", nullptr, "/home/ann", "my.reg"},
        {"configuration folder", nullptr, "/cfg", "/home/ann", "/cfg/Corvallen/registry.reg"},
        {"empty explicit file is not set", "", "/cfg", "/home/ann", "/cfg/Corvallen/registry.reg"},
        {"home folder", nullptr, nullptr, "/home/ann", "/home/ann/.config/Corvallen/registry.reg"},
        {"empty configuration folder", nullptr, "", "/home/ann",
         "/home/ann/.config/Corvallen/registry.reg"},
        {"relative configuration folder is ignored", nullptr, "cfg", "/home/ann",
         "/home/ann/.config/Corvallen/registry.reg"},
        {"no HOME", nullptr, nullptr, nullptr, nullptr},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment env;
        env.Set("FABLEWRIGHT_REGISTRY", c.registry);
        env.Set("XDG_CONFIG_HOME", c.config);
        env.Set("HOME", c.home);
        std::string path = PosixRegistry::DefaultPath();
        if (c.expected) {
            EXPECT_EQ(path, c.expected);
        } else {
            const std::string tail = "/.config/Corvallen/registry.reg";
            ASSERT_GT(path.size(), tail.size());
            EXPECT_EQ(path.front(), '/');
            EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
        }
    }
}

}  // namespace
}  // namespace fw
