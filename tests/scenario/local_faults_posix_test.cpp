// What the server and the local disk can do to a run that must still end: answers that never
// end, FIFOs where files belong, and many templates at once.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <chrono>
#include <filesystem>
#include <thread>

#include "res/resource.h"
#include "tests/support/fault_env.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

using test::UpdateScenario;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Should an open of the FIFO block after all, opens and drains it now and then after a grace
// time, so that a blocked run comes to an end (and fails on its time) instead of hanging.
class FifoRescuer {
public:
    explicit FifoRescuer(std::string path)
        : thread([this, path = std::move(path)] {
              Clock::time_point start = Clock::now();
              while (!stop) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
                  if (Clock::now() - start < std::chrono::seconds(3)) continue;
                  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
                  if (fd < 0) continue;
                  char buffer[4096];
                  while (::read(fd, buffer, sizeof buffer) > 0) {
                  }
                  ::close(fd);
              }
          }) {}
    ~FifoRescuer() {
        stop = true;
        thread.join();
    }

private:
    std::atomic<bool> stop{false};
    std::thread thread;
};

class LocalFaultsTest : public UpdateScenario {};

TEST_F(LocalFaultsTest, AnEndlessAnswerStopsAtTheAnnouncedSize) {
    constexpr std::size_t kSize = 30000;
    Install({});
    Definitions(UpdateLine("Fablewright", "files/a.exe", kSize, 3));
    ServerFault endless;
    endless.endless = true;
    server->SetFault("/files/a.exe", endless);
    // No file may grow past 64 KiB meanwhile: writing on would end with a write error.
    test::FileSizeLimit limit(64 * 1024);
    ASSERT_TRUE(limit.Active());
    bool fileAtQuestion = true;
    tp.ui.ExpectMessageBox([&](const ShownMessageBox& box) {
        EXPECT_EQ(box.caption, "Try Again?");
        fileAtQuestion = fs::exists(TempPath("a.exe"));
        return IDNO;
    });
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        ASSERT_TRUE(w.Click(res::kIdCheck));
        ASSERT_TRUE(w.Click(res::kIdDownload));
        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
        EXPECT_TRUE(w.Click(res::kIdExit));
        EXPECT_TRUE(w.ended);
    });
    EXPECT_EQ(tp.ui.messageBoxes.size(), 1u);  // the question only, no write error
    EXPECT_FALSE(fileAtQuestion);
}

TEST_F(LocalFaultsTest, FifosAmongTheTemplatesAndInTheTempFolderBlockNothing) {
    Install({{"SciFi.gsi", "Sci Fi"}});
    const std::string templateFifo = installFolder + "/Pipe.gsi";
    ASSERT_EQ(::mkfifo(templateFifo.c_str(), 0600), 0);
    fs::create_directories(installFolder + "/temp");
    const std::string updaterFifo = TempPath("a.exe");
    ASSERT_EQ(::mkfifo(updaterFifo.c_str(), 0600), 0);
    FifoRescuer rescueTemplate(templateFifo);
    FifoRescuer rescueUpdater(updaterFifo);
    // Announced with size 0, the FIFO's own size: the reuse check would read it.
    Definitions("update~Fablewright~files/a.exe~0~1234\n");

    tp.ui.ExpectMessageBox(IDOK, "Error");
    tp.ui.ExpectMessageBox(IDNO, "Try Again?");
    Clock::time_point start = Clock::now();
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(dlg.installedSystems, (TextList{"Fablewright", "Sci Fi"}));
        ASSERT_TRUE(w.Click(res::kIdCheck));
        ASSERT_TRUE(w.Click(res::kIdDownload));
        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
        EXPECT_TRUE(w.Click(res::kIdExit));
    });
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    ASSERT_EQ(tp.ui.messageBoxes.size(), 2u);
    EXPECT_EQ(tp.ui.messageBoxes[0].text, Format(Text(res::kStrCannotCreateFile), updaterFifo));
    EXPECT_TRUE(fs::is_fifo(updaterFifo));
    EXPECT_EQ(RequestsFor("/files/a.exe"), 0);
}

TEST_F(LocalFaultsTest, PruningTwentyThousandTemplatesTakesUnderASecond) {
    Install({{"SciFi.gsi", "Sci Fi"}});
    constexpr int kNames = 20000;
    std::string text = "version~big\n";
    for (int i = 0; i < kNames; ++i) {
        std::string name = "Name " + std::to_string(i);
        text += "equiv~" + name + "~Sci Fi\nupdate~" + name + "~files/u" + std::to_string(i) +
                ".exe~10~1\nupdate~Other " + std::to_string(i) + "~files/o.exe~10~1\n";
    }
    // Listed twice; taking one spelling off the list leaves both records wanted.
    text += "update~NAME 1~files/u.exe~10~1\n";
    Definitions(text);

    Clock::duration pruning{};
    Clock::time_point start;
    tp.ui.ExpectMessageBox([&](const ShownMessageBox&) {
        pruning = Clock::now() - start;  // the first transfer's "not on the server"
        return IDOK;
    });
    tp.ui.ExpectMessageBox(IDNO, "Try Again?");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        ASSERT_TRUE(w.Click(res::kIdCheck));
        ASSERT_EQ(w.Items(res::kIdUpdateList).size(), kNames + 1u);
        ASSERT_TRUE(w.DoubleClickItem(0));  // "Name 0"
        ASSERT_TRUE(w.DoubleClickItem(0));  // "Name 1"
        start = Clock::now();
        ASSERT_TRUE(w.Click(res::kIdDownload));
        ASSERT_EQ(dlg.updateEntries.GetSize(), kNames);
        EXPECT_EQ(dlg.updateEntries[0].templateName, "Name 1");
        EXPECT_EQ(dlg.updateEntries[kNames - 2].templateName, "Name 19999");
        EXPECT_EQ(dlg.updateEntries[kNames - 1].templateName, "NAME 1");
        w.Click(res::kIdExit);
    });
    EXPECT_LT(pruning, std::chrono::seconds(1));
    EXPECT_EQ(RequestsFor("/files/u1.exe"), 1);
}

// The temp folder is the user's alone: made 0700, an older one of ours tightened, and one that
// others may write to, another user owns, or that is a link, refused before anything is fetched.
TEST_F(LocalFaultsTest, TheTempFolderIsOwnerOnlyOrRefused) {
    Install({});
    Definitions(UpdateLine("Fablewright", "files/a.exe", 100, 3));
    const std::string temp = installFolder + "/temp";
    const std::string elsewhere = tp.dir.Path("elsewhere");
    fs::create_directories(elsewhere);
    struct Case {
        const char* what;
        std::function<void()> prepare;
        bool refused;
    };
    const Case cases[] = {
        {"made by the download", [] {}, false},
        {"ours, readable by all", [&] { ASSERT_EQ(::mkdir(temp.c_str(), 0755), 0); }, false},
        {"writable by all", [&] {
             ASSERT_EQ(::mkdir(temp.c_str(), 0700), 0);
             ASSERT_EQ(::chmod(temp.c_str(), 0777), 0);
         }, true},
        {"another user's", [&] {
             ASSERT_EQ(::mkdir(temp.c_str(), 0700), 0);
             ASSERT_EQ(::chown(temp.c_str(), ::geteuid() + 1, ::getegid()), 0);
         }, true},
        {"a link to our own folder", [&] { fs::create_directory_symlink(elsewhere, temp); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) == "another user's" && ::geteuid() != 0) continue;  // needs root
        fs::remove_all(temp);
        c.prepare();
        if (c.refused) tp.ui.ExpectMessageBox(IDOK, "Error");
        int before = RequestsFor("/files/a.exe");
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            ASSERT_TRUE(w.Click(res::kIdDownload));
            EXPECT_EQ(dlg.workflowState,
                      c.refused ? WorkflowState::Listed : WorkflowState::Downloaded);
            EXPECT_EQ(w.Enabled(res::kIdDownload), c.refused);
            if (!c.refused) tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            w.Click(res::kIdExit);
        });
        struct stat status {};
        ASSERT_EQ(::lstat(temp.c_str(), &status), 0);
        if (c.refused) {
            ASSERT_FALSE(tp.ui.messageBoxes.empty());
            EXPECT_EQ(tp.ui.messageBoxes.back().text, Format(Text(res::kStrTempNotPrivate), temp));
            EXPECT_EQ(RequestsFor("/files/a.exe"), before);
        } else {
            EXPECT_EQ(status.st_mode & 07777, 0700u);
            EXPECT_EQ(RequestsFor("/files/a.exe"), before + 1);
        }
    }
    fs::remove_all(temp);
}

// A link planted under an updater's name leads nowhere: the file it points at is never
// truncated or written, whether the download then fails or succeeds.
TEST_F(LocalFaultsTest, ALinkPlantedForAnUpdaterIsNotWrittenThrough) {
    Install({});
    Definitions(UpdateLine("Fablewright", "files/a.exe", 5000, 3));
    const std::string victim = tp.dir.Write("victim.txt", "precious");
    for (bool serverFails : {true, false}) {
        SCOPED_TRACE(serverFails ? "download fails" : "download succeeds");
        fs::create_directories(installFolder + "/temp");
        fs::permissions(installFolder + "/temp", fs::perms::owner_all);
        fs::remove(TempPath("a.exe"));
        fs::create_symlink(victim, TempPath("a.exe"));
        ServerFault fault;
        if (serverFails) fault.truncateAfter = 100;
        server->SetFault("/files/a.exe", fault);
        if (serverFails) tp.ui.ExpectMessageBox(IDNO, "Try Again?");
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            ASSERT_TRUE(w.Click(res::kIdDownload));
            EXPECT_EQ(dlg.workflowState,
                      serverFails ? WorkflowState::Listed : WorkflowState::Downloaded);
            if (!serverFails) tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            w.Click(res::kIdExit);
        });
        EXPECT_EQ(tp.dir.Read("victim.txt"), "precious");
        EXPECT_FALSE(fs::is_symlink(TempPath("a.exe")));
        if (!serverFails) {
            EXPECT_EQ(tp.dir.Read("Fablewright/temp/a.exe"), ServedContents("files/a.exe"));
        }
    }
}

}  // namespace
}  // namespace fw
