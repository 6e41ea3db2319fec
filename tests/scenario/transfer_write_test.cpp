// How a download reaches the disk: in few large writes, and, when the disk fills up, never as a
// short file that passes for a complete one.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "res/resource.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

using test::UpdateScenario;
namespace fs = std::filesystem;

// The host's files, with every write recorded and a disk that can run out of space.
class RecordingFiles : public Files {
public:
    explicit RecordingFiles(Files& inner) : inner(inner) {}

    std::vector<std::string> FindFiles(const std::string& pattern) override {
        return inner.FindFiles(pattern);
    }
    std::string GetProfileString(const std::string& path, std::string_view section,
                                 std::string_view key, std::string_view defaultValue,
                                 std::size_t bufferSize) override {
        return inner.GetProfileString(path, section, key, defaultValue, bufferSize);
    }
    std::optional<std::vector<std::uint8_t>> GetFileVersionInfo(const std::string& path) override {
        return inner.GetFileVersionInfo(path);
    }
    std::optional<FileStatus> Stat(const std::string& path) override { return inner.Stat(path); }
    bool CreateDirectory(const std::string& path) override { return inner.CreateDirectory(path); }
    PrivateFolder MakePrivateDirectory(const std::string& path) override {
        return inner.MakePrivateDirectory(path);
    }
    std::unique_ptr<WritableFile> CreateFile(const std::string& path) override;
    // The note kept beside a partial download is not the download: it goes unrecorded.
    std::unique_ptr<WritableFile> CreateNewFile(const std::string& path) override {
        if (path.ends_with(".part-note")) return inner.CreateNewFile(path);
        return Files::CreateNewFile(path);
    }
    std::unique_ptr<ReadableFile> OpenForReading(const std::string& path) override {
        return inner.OpenForReading(path);
    }
    bool Remove(const std::string& path) override { return inner.Remove(path); }
    bool Rename(const std::string& from, const std::string& to) override {
        return inner.Rename(from, to);
    }
    std::string GetFileTitle(const std::string& path) override { return inner.GetFileTitle(path); }

    std::vector<std::size_t> writes;        // the size of every write asked for
    std::optional<std::size_t> spaceLeft;   // nothing: the disk never fills

private:
    Files& inner;
};

class RecordingFile : public WritableFile {
public:
    RecordingFile(std::unique_ptr<WritableFile> inner, RecordingFiles& owner)
        : inner(std::move(inner)), owner(owner) {}
    bool Write(const void* data, std::size_t size) override {
        owner.writes.push_back(size);
        if (owner.spaceLeft && size > *owner.spaceLeft) {
            // As a full disk does: what fits is written, and the write reports the shortfall.
            inner->Write(data, *owner.spaceLeft);
            owner.spaceLeft = 0;
            return false;
        }
        if (owner.spaceLeft) *owner.spaceLeft -= size;
        return inner->Write(data, size);
    }
    bool Close() override { return inner->Close(); }

private:
    std::unique_ptr<WritableFile> inner;
    RecordingFiles& owner;
};

std::unique_ptr<WritableFile> RecordingFiles::CreateFile(const std::string& path) {
    std::unique_ptr<WritableFile> file = inner.CreateFile(path);
    if (!file) return nullptr;
    return std::make_unique<RecordingFile>(std::move(file), *this);
}

class TransferWriteTest : public UpdateScenario {
protected:
    TransferWriteTest() : files(*tp.files) {
        Platform& p = tp.platform();
        platform = std::make_unique<Platform>(
            Platform{p.ui, *counting, p.registry, files, p.processes, p.system, p.trustedKeys});
        // Only the download's writes are counted: no definitions are kept.
        tp.system.cacheFolder.clear();
        Install({{"SciFi.gsi", "Sci Fi"}});
    }

    // Check, Download, then leave.
    void CheckAndDownload(std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> after) {
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            ASSERT_TRUE(w.Click(res::kIdDownload));
            after(w, dlg);
            if (dlg.workflowState == WorkflowState::Downloaded) {
                tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            }
            w.Click(res::kIdExit);
        });
    }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const ShownMessageBox& box : tp.ui.messageBoxes) texts.push_back(box.text);
        return texts;
    }

    RecordingFiles files;
};

TEST_F(TransferWriteTest, ALargeFileGoesToTheDiskInFewWrites) {
    constexpr std::size_t kSize = 300000;  // 74 blocks
    Definitions(UpdateLine("Sci Fi", "files/a.exe", kSize, 7));
    CheckAndDownload([&](HeadlessWindow&, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);
    });
    EXPECT_EQ(tp.dir.Read("Fablewright/temp/a.exe"), ServedContents("files/a.exe"));
    std::size_t total = 0;
    for (std::size_t size : files.writes) total += size;
    EXPECT_EQ(total, kSize);
    // One write per block would be 74 of them.
    EXPECT_LE(files.writes.size(), kSize / 16384 + 1);
}

struct DiskFullCase {
    const char* name;
    std::size_t size;
    bool announceSize;  // false: the definitions give 0, so the length is not checked
    std::size_t spaceLeft;
    bool fileKept;
};

TEST_F(TransferWriteTest, AFullDiskIsReportedAndLeavesNoShortFileThatCouldPass) {
    const DiskFullCase cases[] = {
        {"nothing fits", 300000, true, 0, false},
        {"part way", 300000, true, 100000, false},
        // Everything was received before anything was written: the received count alone
        // would match the announced size.
        {"the last blocks", 10000, true, 5000, false},
        // A file that fails its checks never takes the updater's name.
        {"length not checked", 300000, false, 100000, false},
    };
    for (const DiskFullCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string checksum = Serve("files/a.exe", c.size, 3);
        Definitions("update~Sci Fi~files/a.exe~" + std::to_string(c.announceSize ? c.size : 0) +
                    "~" + checksum + "\n");
        fs::remove_all(installFolder + "/temp");
        files.writes.clear();
        files.spaceLeft = c.spaceLeft;
        tp.ui.messageBoxes.clear();
        std::vector<std::string> expected = {Format(Text(res::kStrWriteFailed), TempPath("a.exe"))};
        tp.ui.ExpectMessageBox(IDOK, "Error");
        if (!c.announceSize) {
            expected.push_back(Format(Text(res::kStrBadChecksum), "a.exe"));
            tp.ui.ExpectMessageBox(IDOK, "Error");
        }
        expected.push_back(Format(Text(res::kStrRetryQuestion), TempPath("a.exe")));
        tp.ui.ExpectMessageBox(IDNO, "Try Again?");

        CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
            EXPECT_TRUE(dlg.downloadedFiles.empty());
            EXPECT_TRUE(w.Enabled(res::kIdExit));
            EXPECT_FALSE(w.Enabled(res::kIdCancel));
        });
        EXPECT_EQ(MessageTexts(), expected);
        EXPECT_EQ(fs::exists(TempPath("a.exe")), c.fileKept);
        if (c.fileKept) {
            EXPECT_EQ(fs::file_size(TempPath("a.exe")), c.spaceLeft);
        }
    }
}

}  // namespace
}  // namespace fw
