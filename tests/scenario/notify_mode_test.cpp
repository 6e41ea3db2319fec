// "-quietcheck -notify" and "-scheduled": the console host's check against the loopback server,
// with a notifier that records what it is asked to show and answers as the test says.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "app/notify_mode.h"
#include "res/resource.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::UpdateScenario;

class RecordingNotifier : public Notifier {
public:
    NetworkState Network() override { return network; }
    bool Show(const Notification& n, std::uint32_t, const std::function<bool()>&,
              NotificationChoice& choice, std::string&) override {
        shown.push_back(n);
        choice = answer;
        return true;
    }
    bool OpenWindow(const std::vector<std::string>& arguments, std::string&) override {
        windows.push_back(arguments);
        return true;
    }
    NetworkState network = NetworkState::kAvailable;
    NotificationChoice answer = NotificationChoice::kLater;
    std::vector<Notification> shown;
    std::vector<std::vector<std::string>> windows;
};

struct RunResult {
    int code = -1;
    std::string out;
};

class NotifyModeTest : public UpdateScenario {
protected:
    NotifyModeTest() { Install({{"SciFi.gsi", "Sci Fi"}, {"Fantasy.gsi", "Fantasy"}}); }

    RunResult RunCheck(std::vector<std::string> extraArgs) {
        std::vector<std::string> args = {"fablewright-update", "-server", server->HostText(),
                                          "-infoserver", server->HostText(), "-quietcheck"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        const int argc = static_cast<int>(argv.size());
        std::ostringstream out;
        std::ostringstream err;
        ConsolePolicy policy;
        policy.sleep = [](std::uint32_t) {};
        const ConsoleOptions options = ScanConsoleOptions(argc, argv.data());
        ConsoleHost host(options, *tp.processes, tp.system, out, err, policy);
        Platform console{host.ui(), *counting, *tp.registry, *tp.files, host.processes(),
                         host.system(), NoTrustedKeys()};
        NotifyRun run{notifier, {}, out, err, 1000};
        RunResult r;
        r.code = RunNotifyingCheck(host, console, options, run, argc, argv.data());
        r.out = out.str();
        return r;
    }

    RecordingNotifier notifier;
};

TEST_F(NotifyModeTest, NotifiesOnlyWhenUpdatesExistAndNeverTellsTheInfoServer) {
    struct Case {
        const char* what;
        std::string definitions;  // empty: none on the server
        std::vector<std::string> args;
        int code;
        std::size_t shown;
        int definitionRequests;
    };
    const std::string updates =
        "version~4.2\nupdate~Fantasy~files/f.exe~10~0\nupdate~Sci Fi~files/s.exe~10~0\n";
    const Case cases[] = {
        {"up to date", "version~4\nupdate~Horror~files/h.exe~10~0\n", {}, kExitSuccess, 0, 1},
        {"the check fails", "", {}, kExitFailure, 0, 1},
        {"not installed", updates, {"-dir", ""}, kExitFailure, 0, 0},
        {"updates exist", updates, {}, kExitUpdatesExist, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server->ClearRequests();
        notifier.shown.clear();
        fs::remove(serverRoot + "/UpDefs/FablewrightUpdates.txt");
        if (!c.definitions.empty()) Definitions(c.definitions);
        std::vector<std::string> args = {"-notify"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = RunCheck(args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(notifier.shown.size(), c.shown);
        EXPECT_EQ(RequestsFor("/UpDefs/FablewrightUpdates.txt"), c.definitionRequests);
        EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), 0);
    }
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].title, "Fablewright updates are available");
    EXPECT_EQ(notifier.shown[0].body, "Version 4.2 is available for Fantasy, Sci Fi.");
    // Without -notify the quiet check still tells the information server, as a person's does.
    server->ClearRequests();
    EXPECT_EQ(RunCheck({}).code, kExitUpdatesExist);
    EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), 1);
}

TEST_F(NotifyModeTest, SkippedVersionStaysSilentUntilANewerOnePerChannel) {
    Definitions("version~4.2\nupdate~Fantasy~files/f.exe~10~0\n");
    Definitions("version~5.0b\nupdate~Fantasy~files/f.exe~10~0\n", true);
    notifier.answer = NotificationChoice::kSkipVersion;
    EXPECT_EQ(RunCheck({"-notify"}).code, kExitUpdatesExist);
    ASSERT_EQ(notifier.shown.size(), 1u);
    notifier.answer = NotificationChoice::kLater;

    RunResult silent = RunCheck({"-notify"});
    EXPECT_EQ(silent.code, kExitUpdatesExist);
    EXPECT_EQ(notifier.shown.size(), 1u);
    EXPECT_NE(silent.out.find("Version 4.2 was skipped"), std::string::npos) << silent.out;
    // The check itself still lists what the window would list.
    EXPECT_EQ(silent.out.find("Fantasy\n"), 0u) << silent.out;
    // The beta channel keeps its own choice.
    RunCheck({"-notify", "-betachannel"});
    EXPECT_EQ(notifier.shown.size(), 2u);
    // "Later" remembers nothing: the next run asks again.
    RunCheck({"-notify", "-betachannel"});
    EXPECT_EQ(notifier.shown.size(), 3u);

    Definitions("version~4.10\nupdate~Fantasy~files/f.exe~10~0\n");
    RunCheck({"-notify"});
    ASSERT_EQ(notifier.shown.size(), 4u);
    EXPECT_EQ(notifier.shown.back().body, "Version 4.10 is available for Fantasy.");
}

TEST_F(NotifyModeTest, UpdateNowOpensTheWindowOnTheSameServersAndChannel) {
    Definitions("version~4.2\nupdate~Fantasy~files/f.exe~10~0\n");
    Definitions("version~4.3\nupdate~Fantasy~files/f.exe~10~0\n", true);
    notifier.answer = NotificationChoice::kUpdateNow;
    RunCheck({"-notify", "-dir", installFolder, "-scheduled"});
    RunCheck({"-notify", "-betachannel", "-dir", installFolder});
    ASSERT_EQ(notifier.windows.size(), 2u);
    const std::vector<std::string> servers = {"-server", server->HostText(), "-infoserver",
                                              server->HostText()};
    EXPECT_EQ(notifier.windows[0],
              (std::vector<std::string>{servers[0], servers[1], servers[2], servers[3], "-dir",
                                        installFolder}));
    EXPECT_EQ(notifier.windows[1],
              (std::vector<std::string>{servers[0], servers[1], servers[2], servers[3],
                                        "-betachannel", "-dir", installFolder}));
    // The window those arguments open starts on the channel that was checked.
    for (bool beta : {false, true}) {
        Run(
            [&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
                EXPECT_EQ(w.Checked(res::kIdBetaVersion), beta);
                w.Click(res::kIdExit);
            },
            notifier.windows[beta ? 1 : 0]);
    }
}

TEST_F(NotifyModeTest, ScheduledCheckWaitsForAFreeNetwork) {
    Definitions("version~4.2\nupdate~Fantasy~files/f.exe~10~0\n");
    struct Case {
        NetworkState network;
        int code;
        int requests;
    };
    for (Case c : {Case{NetworkState::kNone, kExitSuccess, 0},
                   Case{NetworkState::kMetered, kExitSuccess, 0},
                   Case{NetworkState::kAvailable, kExitUpdatesExist, 1}}) {
        server->ClearRequests();
        notifier.network = c.network;
        RunResult r = RunCheck({"-notify", "-scheduled"});
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(RequestsFor("/UpDefs/FablewrightUpdates.txt"), c.requests);
    }
    // Without -scheduled the network is not asked about.
    notifier.network = NetworkState::kNone;
    EXPECT_EQ(RunCheck({"-notify"}).code, kExitUpdatesExist);
}

TEST(NotifyVersions, NewerVersionsCompareByTheirNumbers) {
    struct Case {
        const char* offered;
        const char* skipped;
        bool newer;
    };
    for (Case c : {Case{"4.10", "4.9", true}, Case{"4.9", "4.10", false}, Case{"4.2", "4.2", false},
                   Case{"4.2.0", "4.2", false}, Case{"4.2.1", "4.2", true}, Case{"5", "4.99", true},
                   Case{"5.0b", "5.0a", true}, Case{"5.0a", "5.0a", false}}) {
        EXPECT_EQ(IsNewerVersion(c.offered, c.skipped), c.newer) << c.offered << " " << c.skipped;
    }
}

TEST(NotifyTexts, LongListsNameTheFirstTemplatesAndCountTheRest) {
    CheckOutcome outcome{"4.2", {"A", "B", "C", "D", "E", "F"}};
    EXPECT_EQ(UpdateNotification(outcome).body, "Version 4.2 is available for A, B, C, D and 2 more.");
}

}  // namespace
}  // namespace fw
