// "-quietcheck" and "-unattended": the dialog walked by the console host against the loopback
// update server, with real updater processes and the retry pauses recorded instead of waited.

#include <gtest/gtest.h>

#include <ctime>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/console_mode.h"
#include "download/checksum.h"
#include "platform/console/console_backend.h"
#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_updater.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::UpdateScenario;

struct ConsoleResult {
    int code = -1;
    std::string out;
    std::string err;
    std::vector<std::uint32_t> pauses;  // the retry pauses asked for, in milliseconds
    bool warned = false;                // the warning of a build without keys came first
};

class ConsoleModeTest : public UpdateScenario {
protected:
    ConsoleModeTest()
        : environment(*tp.processes, [] {
              std::vector<std::string> names = test::UpdaterVariables();
              names.push_back("FABLEWRIGHT_WINE");
              return names;
          }()),
          logPath(tp.dir.Path("updater-log.txt")) {
        for (const std::string& name : test::UpdaterVariables()) {
            tp.processes->UnsetEnvironmentVariable(name);
        }
        tp.processes->SetEnvironmentVariable("FW_TEST_UPDATER_LOG", logPath);
        Install({{"SciFi.gsi", "Sci Fi"}, {"Fantasy.gsi", "Fantasy"}});
    }

    // An "update" line for `contents` served at `path`.
    std::string ServeFile(const std::string& name, const std::string& path,
                          const std::string& contents) {
        std::string file = tp.dir.Write("server/" + path, contents);
        std::uint32_t checksum = 0;
        EXPECT_TRUE(FileChecksum(*tp.files, file, checksum));
        return "update~" + name + "~" + path + "~" + std::to_string(contents.size()) + "~" +
               Hex(checksum) + "\n";
    }
    std::string ServeUpdater(const std::string& name, const std::string& path) {
        std::ifstream in(test::TestUpdaterPath(), std::ios::binary);
        std::string program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return ServeFile(name, path, program);
    }
    static std::string Hex(std::uint32_t value) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", value);
        return hex;
    }

    // Runs the program's console host with the loopback server on the command line; `onPause`
    // sees every pause the policy asks for.
    ConsoleResult RunConsole(std::vector<std::string> extraArgs,
                             std::function<void(std::uint32_t)> onPause = {},
                             std::function<void()> onEveryPump = {},
                             std::function<bool()> interrupted = {}) {
        std::vector<std::string> args = {"fablewright-update", "-server", server->HostText(),
                                          "-infoserver", server->HostText()};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        const int argc = static_cast<int>(argv.size());

        ConsoleResult result;
        std::ostringstream out;
        std::ostringstream& err = liveErr;
        err.str("");
        ConsolePolicy policy;
        policy.sleep = [&](std::uint32_t ms) {
            tp.system.tick += ms;
            if (ms == 1000) {
                // The updater's poll: let it get on without waiting the whole second.
                if (onPoll) onPoll();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return;
            }
            result.pauses.push_back(ms);
            if (onPause) onPause(ms);
        };
        policy.interrupted = interrupted;
        policy.interruptLookIntervalMs = 0;  // the clock stands still between pauses
        policy.pauseSliceMs = 0;             // each pause is seen whole
        ConsoleHost host(ScanConsoleOptions(argc, argv.data()), *tp.processes, tp.system, out,
                         err, policy);
        Platform console{host.ui(), *counting, *tp.registry, *tp.files, host.processes(),
                         host.system(), NoTrustedKeys()};
        if (onEveryPump) dynamic_cast<HeadlessBackend&>(host.ui()).onEveryPump = onEveryPump;
        result.code = host.Run(console, argc, argv.data());
        result.out = out.str();
        result.err = err.str();
        // This host trusts no key: a run begins with the one warning line that says so.
        std::string warning = Text(res::kStrConsoleNoKeys) + "\n";
        result.warned = result.err.starts_with(warning);
        if (result.warned) result.err.erase(0, warning.size());
        return result;
    }

    std::vector<test::UpdaterRun> Runs() const { return test::ReadUpdaterLog(logPath); }
    bool TempEmpty() const {
        return !fs::exists(installFolder + "/temp") || fs::is_empty(installFolder + "/temp");
    }
    // Nothing in temp but what a later try continues from, under names that are never started.
    bool TempHoldsOnlyPartials() const {
        if (!fs::exists(installFolder + "/temp")) return true;
        for (const fs::directory_entry& entry : fs::directory_iterator(installFolder + "/temp")) {
            std::string name = entry.path().filename().string();
            if (!name.ends_with(".part") && !name.ends_with(".part-note")) return false;
        }
        return true;
    }

    test::EnvironmentGuard environment;
    std::string logPath;
    std::ostringstream liveErr;    // the error output of the run in progress
    std::function<void()> onPoll;  // runs at every poll of a running updater
};

TEST_F(ConsoleModeTest, QuietCheckReportsByItsExitCode) {
    struct Case {
        const char* what;
        std::optional<std::string> definitions;  // nothing: none on the server
        std::vector<std::string> args;
        int code;
        std::string out;
        std::string err;
        int requests;  // update requests sent
    };
    const std::string unavailable = Format(Text(res::kStrUnavailable), 404) + "\n";
    const std::string badFormat = Text(res::kStrBadFormat) + "\n";
    const Case cases[] = {
        {"nothing to update", "version~4\nupdate~Horror~files/h.exe~10~0\n", {}, 0, "", "", 1},
        {"updates exist",
         "version~4\nupdate~Fantasy~files/f.exe~10~0\nupdate~Horror~files/h.exe~10~0\n"
         "update~Sci Fi~files/s.exe~10~0\n",
         {}, 10, "Fantasy\nSci Fi\n", "", 1},
        {"the check fails", {}, {}, 1, "", unavailable, 0},
        {"no beta version", {}, {"-betachannel"}, 1, "", Text(res::kStrNoBeta) + "\n", 0},
        // Not definitions at all, whatever the status said.
        {"a portal's page", "<html><body>Sign in</body></html>\n", {}, 1, "", badFormat, 0},
        {"an empty body", "", {}, 1, "", badFormat, 0},
        {"comments and blanks", "# none\n\n", {}, 1, "", badFormat, 0},
        {"random bytes", std::string("\x8f\x01~\xff\x00z", 6), {}, 1, "", badFormat, 0},
        {"a version line alone", "version~4\n", {}, 0, "", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server->ClearRequests();
        fs::remove(serverRoot + "/UpDefs/FablewrightUpdates.txt");
        if (c.definitions) Definitions(*c.definitions);
        std::vector<std::string> args = {"-quietcheck"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ConsoleResult r = RunConsole(args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(r.warned);
        EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), c.requests);
        EXPECT_FALSE(fs::exists(installFolder + "/temp"));
    }
}

TEST_F(ConsoleModeTest, UnattendedRunInstallsEverythingInOrderAndCleansUp) {
    Definitions("version~4.2\n" + ServeUpdater("Sci Fi", "files/scifi.exe") +
                ServeUpdater("Fantasy", "files/fantasy.exe"));
    ConsoleResult r = RunConsole({"-unattended"});
    EXPECT_EQ(r.code, kExitSuccess) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<test::UpdaterRun> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(fs::path(runs[0].image).filename(), "scifi.exe");
    EXPECT_EQ(fs::path(runs[1].image).filename(), "fantasy.exe");
    for (const test::UpdaterRun& run : runs) {
        EXPECT_EQ(run.Env("FABLEWRIGHTAUTOINSTALL"), "TRUE");
        EXPECT_EQ(run.Env("InstallFlags"), "");
        EXPECT_EQ(run.Env("InstallPathOverride"), "(unset)");
    }
    EXPECT_TRUE(TempEmpty());
    for (const std::string& line :
         {std::string("Step 2:\nThe version available for download is 4.2."),
          std::string("Downloading scifi.exe..."), "Started updater " + TempPath("scifi.exe"),
          "Updater " + TempPath("fantasy.exe") + " ended with exit code 0",
          std::string("Update complete.")}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin:\n" << r.out;
    }
    EXPECT_TRUE(r.pauses.empty());
}

TEST_F(ConsoleModeTest, UnattendedRunWithNothingToInstallEndsWithTwo) {
    Definitions("version~4\nupdate~Horror~files/h.exe~10~0\n");
    ConsoleResult r = RunConsole({"-unattended"});
    EXPECT_EQ(r.code, kExitNothingToInstall);
    EXPECT_EQ(RequestsFor("/files/h.exe"), 0);
}

// A failed file is tried again after pauses that grow; a fourth failure ends the run before
// anything is installed, and what was downloaded stays for the next run.
TEST_F(ConsoleModeTest, FailedFilesAreRetriedThreeTimesWithGrowingPauses) {
    struct Case {
        const char* what;
        int failures;  // before the server gives the file; 99: never
        int code;
        std::vector<std::uint32_t> pauses;
        int requests;
        std::size_t runs;
    };
    const Case cases[] = {
        {"fails twice, then succeeds", 2, kExitSuccess, {2000, 4000}, 3, 2},
        {"always fails", 99, kExitFailure, {2000, 4000, 8000}, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(installFolder + "/temp");
        fs::remove(logPath);
        server->ClearRequests();
        Definitions("version~4\n" + ServeUpdater("Sci Fi", "files/scifi.exe") +
                    ServeUpdater("Fantasy", "files/fantasy.exe"));
        ServerFault notFound;
        notFound.status = 404;
        server->SetFault("/files/fantasy.exe", notFound);
        int failed = 0;
        ConsoleResult r = RunConsole({"-unattended"}, [&](std::uint32_t) {
            if (++failed == c.failures) server->ClearFaults();
        });
        server->ClearFaults();
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.pauses, c.pauses);
        EXPECT_EQ(RequestsFor("/files/fantasy.exe"), c.requests);
        EXPECT_EQ(Runs().size(), c.runs);
        EXPECT_EQ(TempEmpty(), c.code == kExitSuccess);
        std::string question = Format(Text(res::kStrRetryQuestion), TempPath("fantasy.exe"));
        EXPECT_NE(r.err.find(question), std::string::npos) << r.err;
    }
}

// A busy server's Retry-After, in seconds or as a date, is the pause before the next try,
// spread by at most a tenth; the question names the wait.
TEST_F(ConsoleModeTest, ABusyServerIsLeftAloneAsLongAsItAsks) {
    auto httpDate = [](std::time_t at) {
        std::tm utc {};
#ifdef _WIN32
        gmtime_s(&utc, &at);
#else
        gmtime_r(&at, &utc);
#endif
        char text[64];
        std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
        return std::string(text);
    };
    struct Case {
        const char* what;
        int code;
        std::string retryAfter;
        std::uint32_t shortest;  // seconds
        std::uint32_t longest;
        std::string path = "/files/scifi.exe";
    };
    const Case cases[] = {
        {"seconds", 503, "7", 7, 7},
        {"a date", 503, httpDate(std::time(nullptr) + 30), 28, 30},
        {"too many requests, capped at ten minutes", 429, "86400", 600, 600},
        {"the definitions", 503, "2", 2, 2, "/UpDefs/FablewrightUpdates.txt"},
    };
    tp.system.unixTime = std::time(nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(installFolder + "/temp");
        server->ClearRequests();
        Definitions("version~4\n" + ServeUpdater("Sci Fi", "files/scifi.exe"));
        ServerFault busy;
        busy.status = c.code;
        busy.retryAfter = c.retryAfter;
        server->SetFault(c.path, busy);
        ConsoleResult r = RunConsole({"-unattended"}, [&](std::uint32_t) { server->ClearFaults(); });
        server->ClearFaults();
        EXPECT_EQ(r.code, kExitSuccess) << r.err;
        ASSERT_EQ(r.pauses.size(), 1u);
        EXPECT_GE(r.pauses[0], c.shortest * 1000);
        EXPECT_LE(r.pauses[0], c.longest * 1100);
        std::size_t wait = r.err.find("asks to be tried again in ");
        ASSERT_NE(wait, std::string::npos) << r.err;
        EXPECT_EQ(RequestsFor(c.path), 2);
    }
}

// With a list of servers, the definitions and each updater come from the first server that
// serves them well; a cut download is continued at the next one, which has the same file.
TEST_F(ConsoleModeTest, MirrorsTakeOverFileByFile) {
    const std::string definitions = "version~4\n" + ServeUpdater("Sci Fi", "files/scifi.exe");
    Definitions(definitions);
    const std::string updater = "/files/scifi.exe";
    const std::string defs = "/UpDefs/FablewrightUpdates.txt";
    const std::uint64_t size = fs::file_size(serverRoot + updater);
    // A mirror whose copy of the updater is damaged.
    test::TempDir damagedRoot;
    damagedRoot.Write(defs.substr(1), definitions);
    std::string damaged = ServedContents(updater.substr(1));
    damaged[damaged.size() / 2] ^= 0x20;
    damagedRoot.Write(updater.substr(1), damaged);
    UpdateServer damagedServer(damagedRoot.path());
    UpdateServer mirror(serverRoot);
    ASSERT_TRUE(damagedServer.Start(0));
    ASSERT_TRUE(mirror.Start(0));
    auto count = [](const UpdateServer& at, const std::string& path) {
        int n = 0;
        for (const RecordedRequest& r : at.Requests()) n += r.path == path ? 1 : 0;
        return n;
    };
    ServerFault error;
    error.status = 500;
    ServerFault cut;
    cut.truncateAfter = size / 2;
    struct Case {
        const char* what;
        UpdateServer* first;
        std::string faultPath;
        ServerFault fault;
        int firstRequests;   // definitions and updater, at the first server
        int mirrorRequests;  // at the second
        bool continued;      // the second was asked for the rest only
    };
    const Case cases[] = {
        {"its definitions fail", server.get(), defs, error, 1, 2, false},
        {"its updater fails", server.get(), updater, error, 2, 1, false},
        {"its updater is cut", server.get(), updater, cut, 2, 1, true},
        {"its updater is damaged", &damagedServer, "", {}, 2, 1, false},
        {"it is down", server.get(), "", {}, 0, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(installFolder + "/temp");
        for (UpdateServer* at : {server.get(), &damagedServer, &mirror}) at->ClearRequests();
        if (!c.faultPath.empty()) server->SetFault(c.faultPath, c.fault);
        if (c.firstRequests == 0) server->Stop();
        std::size_t runsBefore = Runs().size();
        ConsoleResult r =
            RunConsole({"-server", c.first->HostText() + ", " + mirror.HostText(), "-unattended"});
        server->ClearFaults();
        EXPECT_EQ(r.code, kExitSuccess) << r.err;
        EXPECT_TRUE(r.pauses.empty());
        EXPECT_EQ(Runs().size(), runsBefore + 1);
        if (c.firstRequests > 0) {
            EXPECT_EQ(count(*c.first, defs) + count(*c.first, updater), c.firstRequests);
        }
        EXPECT_EQ(count(mirror, defs) + count(mirror, updater), c.mirrorRequests);
        std::optional<std::string> range;
        for (const RecordedRequest& request : mirror.Requests()) {
            if (request.path == updater) range = request.Header("Range");
        }
        EXPECT_EQ(range, c.continued ? std::optional("bytes=" + std::to_string(size / 2) + "-")
                                     : std::nullopt);
    }
}

// An unattended retry continues a cut download instead of starting it again.
TEST_F(ConsoleModeTest, AnUnattendedRetryContinuesACutDownload) {
    Definitions("version~4\n" + ServeUpdater("Sci Fi", "files/scifi.exe"));
    const std::uint64_t size = fs::file_size(serverRoot + "/files/scifi.exe");
    ServerFault cut;
    cut.truncateAfter = size / 2;
    server->SetFault("/files/scifi.exe", cut);
    ConsoleResult r = RunConsole({"-unattended"}, [&](std::uint32_t) {
        server->ClearFaults();
        server->ClearRequests();
    });
    EXPECT_EQ(r.code, kExitSuccess) << r.err;
    std::vector<RecordedRequest> requests = server->Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].Header("Range"), "bytes=" + std::to_string(size / 2) + "-");
    EXPECT_EQ(Runs().size(), 1u);
}

TEST_F(ConsoleModeTest, BetaRunNeedsAFolderThatTheBetaDialogAccepts) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int code;
        std::string err;  // a part of it
        std::string remembered;  // BetaInstallDir afterwards; empty: none
        bool downloaded;  // refused only once the updater was downloaded
    };
    const std::string beta = tp.dir.Path("Beta");
    const std::string relativeBeta = tp.dir.Path("Relative Beta");
    const std::string name = fs::path(installFolder).filename().string();
    tp.dir.Write("a file", "not a folder");
    const Case cases[] = {
        {"no -betadir", {}, kExitFailure, "-betadir FOLDER", "", false},
        {"the install folder itself", {"-betadir", installFolder}, kExitFailure,
         Text(res::kStrBetaSameDir), "", true},
        {"the install folder with a separator at the end", {"-betadir", installFolder + "/"},
         kExitFailure, Text(res::kStrBetaSameDir), "", true},
        {"the install folder through its parent", {"-betadir", installFolder + "/../" + name},
         kExitFailure, Text(res::kStrBetaSameDir), "", true},
        {"a file", {"-betadir", tp.dir.Path("a file")}, kExitFailure,
         ConsoleLines(Format(Text(res::kStrBetaNotDir), tp.dir.Path("a file"))), "", false},
        {"an empty name", {"-betadir", ""}, kExitFailure, "-betadir is empty", "", false},
        {"a name too long", {"-betadir", tp.dir.Path(std::string(300, 'b'))}, kExitFailure,
         "too long", "", false},
        {"a control character", {"-betadir", tp.dir.Path("Beta\nTwo")}, kExitFailure,
         ConsoleLines(Text(res::kStrBetaControlChar)), "", false},
        {"a folder of its own", {"-betadir", beta}, kExitSuccess, "", beta, true},
        {"a relative name", {"-betadir", "Relative Beta"}, kExitSuccess, "", relativeBeta, true},
    };
    // The relative name is read from the test's folder (which may be on another drive).
    const fs::path startFolder = fs::current_path();
    fs::current_path(tp.dir.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(logPath);
        fs::remove_all(installFolder + "/temp");
        server->ClearRequests();
        tp.processes->UnsetEnvironmentVariable("InstallPathOverride");
        if (auto key = tp.registry->CreateKey(Text(res::kStrRegistryKey))) {
            key->SetValue("BetaInstallDir", "");
        }
        Definitions("version~5 beta\n" + ServeUpdater("Fantasy", "files/fantasy.exe"), true);
        std::vector<std::string> args = {"-unattended", "-betachannel"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ConsoleResult r = RunConsole(args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(RequestsFor("/files/fantasy.exe"), c.downloaded ? 1 : 0);
        std::string remembered;
        auto key = tp.registry->CreateKey(Text(res::kStrRegistryKey));
        ASSERT_TRUE(key);
        if (!key->QueryValue("BetaInstallDir", remembered, 261)) remembered.clear();
        // A relative name comes back in the host's own separators.
        EXPECT_EQ(fs::path(remembered).make_preferred(), fs::path(c.remembered).make_preferred());
        std::vector<test::UpdaterRun> runs = Runs();
        ASSERT_EQ(runs.size(), c.code == kExitSuccess ? 1u : 0u);
        if (!runs.empty()) {
            EXPECT_EQ(runs[0].Env("InstallFlags"), "Beta");
            EXPECT_EQ(fs::path(runs[0].Env("InstallPathOverride")).make_preferred(),
                      fs::path(c.remembered).make_preferred());
            EXPECT_TRUE(fs::is_directory(c.remembered));
        }
    }
    fs::current_path(startFolder);
}

TEST_F(ConsoleModeTest, AnUpdaterThatCannotStartFailsTheRunAndKeepsTheFiles) {
    tp.processes->SetEnvironmentVariable("FABLEWRIGHT_WINE", "/nonexistent/wine");
    Definitions("version~4\n" + ServeFile("Sci Fi", "files/scifi.exe",
                                          std::string("MZ\0\0not a program", 18)) +
                ServeUpdater("Fantasy", "files/fantasy.exe"));
    ConsoleResult r = RunConsole({"-unattended"});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find(ConsoleLines(Format(Text(res::kStrUpdaterNotStarted),
                                             TempPath("scifi.exe")))),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(Runs().empty());  // the next one is not started behind its back
    EXPECT_TRUE(fs::exists(TempPath("scifi.exe")));
    EXPECT_TRUE(fs::exists(TempPath("fantasy.exe")));
}

// The window counts any end of an updater as ended; a script hears of each one that failed.
TEST_F(ConsoleModeTest, AnUpdaterThatFailsFailsTheUnattendedRun) {
    struct Case {
        const char* what;
        const char* exitCode;  // what the test updaters exit with
        int code;
        std::string named;  // in the error output; empty: no failure named
    };
    const Case cases[] = {
        {"both succeed", "0", kExitSuccess, ""},
        {"both fail", "3", kExitFailure, "exit code 3"},
#ifdef _WIN32
        {"both crash", "abort", kExitFailure, "exit code 3"},
#else
        {"both crash", "abort", kExitFailure, "exit code 134 (as a shell reports signal 6)"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(logPath);
        fs::remove_all(installFolder + "/temp");
        Definitions("version~4\n" + ServeUpdater("Sci Fi", "files/scifi.exe") +
                    ServeUpdater("Fantasy", "files/fantasy.exe"));
        tp.processes->SetEnvironmentVariable("FW_TEST_UPDATER_EXIT", c.exitCode);
        ConsoleResult r = RunConsole({"-unattended"});
        tp.processes->UnsetEnvironmentVariable("FW_TEST_UPDATER_EXIT");
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(Runs().size(), 2u);
        for (const char* updater : {"scifi.exe", "fantasy.exe"}) {
            std::string line = "Updater failed: " + TempPath(updater) + ": " + c.named;
            EXPECT_EQ(r.err.find(line) != std::string::npos, !c.named.empty()) << r.err;
        }
    }
}

TEST_F(ConsoleModeTest, ConflictingModesAreAUsageErrorBeforeAnythingIsFetched) {
    Definitions("version~4\n" + ServeUpdater("Sci Fi", "files/scifi.exe"));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-quietcheck", "-unattended"},
          std::vector<std::string>{"-unattended", "-quietcheck"}}) {
        server->ClearRequests();
        ConsoleResult r = RunConsole(args);
        EXPECT_EQ(r.code, kExitFailure);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "-quietcheck and -unattended cannot be used together.\n");
        EXPECT_TRUE(server->Requests().empty());
        EXPECT_TRUE(Runs().empty());
    }
}

TEST_F(ConsoleModeTest, NotInstalledFailsWithTheWindowsText) {
    tp.ClearRegistry();
    ConsoleResult r = RunConsole({"-quietcheck"});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Text(res::kStrNotInstalled) + "\n");
    EXPECT_TRUE(server->Requests().empty());
}

// Ctrl+C or SIGTERM: a download stops at once and leaves no partial file, a running updater
// is waited for, nothing further starts, and the run ends with 130.
TEST_F(ConsoleModeTest, AnInterruptStopsTheRunAtTheNextSafePoint) {
    Definitions("version~4\n" + ServeUpdater("Sci Fi", "files/scifi.exe") +
                ServeUpdater("Fantasy", "files/fantasy.exe"));
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::function<bool()> interrupted;
        std::size_t updatersRun;
        bool updatersKept;  // the downloaded updaters stay for the next run
    };
    const Case cases[] = {
        {"during the check", {"-quietcheck"}, [] { return true; }, 0, false},
        {"during the first download", {"-unattended"},
         [&] { return fs::exists(TempPath("scifi.exe")); }, 0, false},
        {"while the first updater runs", {"-unattended"}, [&] { return !Runs().empty(); }, 1,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(installFolder + "/temp");
        fs::remove(logPath);
        server->ClearRequests();
        ConsoleResult r = RunConsole(c.args, {}, {}, c.interrupted);
        EXPECT_EQ(r.code, kExitInterrupted) << r.err;
        EXPECT_NE(r.err.find("Interrupted: stopping at the next safe point"), std::string::npos)
            << r.err;
        EXPECT_EQ(r.out.find("Fantasy\n"), std::string::npos) << r.out;  // no list printed
        EXPECT_EQ(r.err.find(Format(Text(res::kStrDownloadFailed), "scifi.exe")), std::string::npos)
            << r.err;
        EXPECT_EQ(Runs().size(), c.updatersRun);
        EXPECT_EQ(RequestsFor("/files/fantasy.exe"), c.updatersKept ? 1 : 0);
        EXPECT_EQ(fs::exists(TempPath("fantasy.exe")), c.updatersKept);
        if (!c.updatersKept) {
            EXPECT_TRUE(TempHoldsOnlyPartials());
        }
        EXPECT_TRUE(r.pauses.empty());  // no retry
    }
}

// A first interrupt while an updater runs is acknowledged at once; the updater is waited for
// and nothing further starts.
TEST_F(ConsoleModeTest, AnInterruptIsAcknowledgedWhileAnUpdaterRuns) {
    Definitions("version~4\n" + ServeUpdater("Sci Fi", "files/scifi.exe") +
                ServeUpdater("Fantasy", "files/fantasy.exe"));
    const std::string gate = tp.dir.Path("gate");
    tp.processes->SetEnvironmentVariable("FW_TEST_UPDATER_WAIT_FOR", gate);
    bool acknowledgedWhileRunning = false;
    onPoll = [&] {
        if (fs::exists(gate) || liveErr.str().find("Interrupted") == std::string::npos) return;
        std::vector<test::UpdaterRun> runs = Runs();
        acknowledgedWhileRunning = runs.size() == 1 && !runs[0].exitCode;
        std::ofstream(gate) << "go";
    };
    ConsoleResult r = RunConsole({"-unattended"}, {}, {}, [&] { return !Runs().empty(); });
    onPoll = {};
    EXPECT_TRUE(acknowledgedWhileRunning) << r.err;
    EXPECT_EQ(r.code, kExitInterrupted);
    std::vector<test::UpdaterRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].exitCode, 0);
}

// Percentages come at most once a second of the program's clock, which here moves 400 ms with
// every pass of the message pump.
TEST_F(ConsoleModeTest, DownloadProgressIsPrintedAtMostOncePerSecond) {
    Definitions("version~4\n" + UpdateLine("Fantasy", "files/fantasy.exe", 300000));
    long pumps = 0;
    ConsoleResult r = RunConsole({"-unattended"}, {}, [&] {
        ++pumps;
        tp.system.tick += 400;
    });
    std::vector<int> percents;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const std::string prefix = "Downloading fantasy.exe... ";
        if (line.rfind(prefix, 0) == 0) percents.push_back(std::stoi(line.substr(prefix.size())));
    }
    ASSERT_FALSE(percents.empty()) << r.out;
    EXPECT_LE(static_cast<long>(percents.size()), pumps * 400 / 1000 + 1);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_LT(percents.size(), 50u);  // far fewer than the bar's changes
}

TEST(ConsoleOptionsTest, SwitchesAndValuesAreReadAsTheDialogReadsItsOptions) {
    struct Case {
        std::vector<const char*> args;
        ConsoleMode mode;
        bool beta;
        std::optional<std::string> betaDir;
    };
    const Case cases[] = {
        {{"p"}, ConsoleMode::kWindow, false, {}},
        {{"p", "-quietcheck"}, ConsoleMode::kQuietCheck, false, {}},
        {{"p", "-unattended", "-betachannel", "-betadir", "/b"}, ConsoleMode::kUnattended, true,
         "/b"},
        {{"p", "-server", "-quietcheck"}, ConsoleMode::kWindow, false, {}},  // a server's name
        {{"p", "-unattended", "-betadir"}, ConsoleMode::kUnattended, false, {}},
        {{"p", "-betadir", "-unattended"}, ConsoleMode::kWindow, false, "-unattended"},
        {{"p", "-quietcheck", "-quietcheck"}, ConsoleMode::kQuietCheck, false, {}},
    };
    for (const Case& c : cases) {
        ConsoleOptions o = ScanConsoleOptions(static_cast<int>(c.args.size()), c.args.data());
        EXPECT_EQ(o.mode, c.mode);
        EXPECT_EQ(o.betaChannel, c.beta);
        EXPECT_EQ(o.betaDir, c.betaDir);
        EXPECT_EQ(o.usageError, "");
    }
}

}  // namespace
}  // namespace fw
