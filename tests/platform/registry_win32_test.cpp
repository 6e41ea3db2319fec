// The Win32 registry service against the real registry (of the Wine prefix under test).

#include <gtest/gtest.h>

#include "platform/win32/registry_win32.h"
#include "tests/support/temp_dir.h"

#include <filesystem>

namespace fw {
namespace {

class Win32RegistryTest : public ::testing::Test {
protected:
    Win32RegistryTest()
        : root("Software\\FablewrightTests\\" +
               std::filesystem::path(dir.path()).filename().string()) {}
    ~Win32RegistryTest() override { DeleteUserKeyTree(root); }
    test::TempDir dir;  // only for a unique name
    std::string root;
};

TEST_F(Win32RegistryTest, ValueWrittenByOneInstanceIsReadByAnother) {
    {
        Win32Registry writer(root);
        auto key = writer.CreateKey("Software\\Corvallen\\Fablewright");
        ASSERT_TRUE(key);
        EXPECT_TRUE(key->SetValue("InstallDir", "C:\\Program Files\\Fablewright"));
        EXPECT_TRUE(key->SetValue("wright\\Source Directory", "D:\\Src"));
    }
    Win32Registry reader(root);
    // Key names compare without regard to case.
    auto key = reader.CreateKey("SOFTWARE\\corvallen\\FABLEWRIGHT");
    ASSERT_TRUE(key);
    std::string value;
    ASSERT_TRUE(key->QueryValue("installdir", value, 260));
    EXPECT_EQ(value, "C:\\Program Files\\Fablewright");
    ASSERT_TRUE(key->QueryValue("wright\\Source Directory", value, 260));
    EXPECT_EQ(value, "D:\\Src");
}

TEST_F(Win32RegistryTest, QueryResults) {
    Win32Registry registry(root);
    auto key = registry.CreateKey("Software\\Corvallen\\Fablewright");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetValue("Empty", ""));
    ASSERT_TRUE(key->SetValue("Ten", "0123456789"));
    struct Case {
        const char* subKey;
        std::size_t bufferSize;
        bool found;
        const char* value;
    };
    const Case cases[] = {
        {"Missing", 260, false, ""},
        {"Empty", 260, true, ""},       // an empty value counts as found
        {"Ten", 11, true, "0123456789"},  // exactly fits with its terminator
        {"Ten", 10, false, ""},         // one byte short: a failure, not a cut text
    };
    for (const Case& c : cases) {
        std::string value = "unchanged";
        EXPECT_EQ(key->QueryValue(c.subKey, value, c.bufferSize), c.found)
            << c.subKey << " " << c.bufferSize;
        if (c.found) {
            EXPECT_EQ(value, c.value) << c.subKey;
        }
    }
}

TEST_F(Win32RegistryTest, CreatingAKeyMakesItExistEmpty) {
    Win32Registry registry(root);
    ASSERT_TRUE(registry.CreateKey("Software\\Corvallen\\Fablewright"));
    auto again = registry.CreateKey("Software\\Corvallen\\Fablewright");
    ASSERT_TRUE(again);
    std::string value;
    EXPECT_FALSE(again->QueryValue("InstallDir", value, 260));
    EXPECT_TRUE(DeleteUserKeyTree(root));
    EXPECT_FALSE(DeleteUserKeyTree(""));  // never the whole hive
}

}  // namespace
}  // namespace fw
