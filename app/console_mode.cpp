#include "app/console_mode.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

#include "app/app.h"
#include "download/retry_after.h"
#include "platform/console/console_backend.h"
#include "platform/ui/format.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"

namespace fw {
namespace {

constexpr unsigned kPollTimer = 1;
constexpr std::string_view kAutoInstallVariable = "FABLEWRIGHTAUTOINSTALL";
constexpr std::string_view kDownloadingPrefix = "Downloading ";
// The beta folder dialog takes no longer name.
constexpr std::size_t kMaxBetaDirChars = 255;

// POSIX hosts give a program ended by a signal 128 plus the signal, as a shell does.
std::string DescribeExitCode(std::uint32_t code) {
    std::string text = "exit code " + std::to_string(code);
#ifndef _WIN32
    if (code > 128 && code < 128 + 65) {
        text += " (as a shell reports signal " + std::to_string(code - 128) + ")";
    }
#endif
    return text;
}

// The updaters the dialog starts, reported on the output as they start and end.
// An updater that ends with anything but 0 has failed, and the run with it.
class ReportedChild : public ChildProcess {
public:
    ReportedChild(std::unique_ptr<ChildProcess> inner, std::string program, std::ostream& out,
                  std::vector<std::string>& failures)
        : inner(std::move(inner)), program(std::move(program)), out(out), failures(failures) {}
    bool GetExitCode(std::uint32_t& code) override {
        if (!inner->GetExitCode(code)) return false;
        if (code != kStillActive && !reported) {
            reported = true;
            out << "Updater " << program << " ended with exit code " << code << '\n' << std::flush;
            if (code != 0) failures.push_back(program + ": " + DescribeExitCode(code));
        }
        return true;
    }
    std::uint32_t ProcessId() const override { return inner->ProcessId(); }

private:
    static constexpr std::uint32_t kStillActive = 259;
    std::unique_ptr<ChildProcess> inner;
    std::string program;
    std::ostream& out;
    std::vector<std::string>& failures;
    bool reported = false;
};

class ReportingProcesses : public Processes {
public:
    ReportingProcesses(Processes& inner, std::ostream& out, bool report)
        : inner(inner), out(out), report(report) {}
    std::unique_ptr<ChildProcess> StartChecked(const std::string& program, const ProgramCheck& check,
                                               bool& refused, std::string& error) override {
        std::unique_ptr<ChildProcess> child = inner.StartChecked(program, check, refused, error);
        if (!child || !report) return child;
        out << "Started updater " << program << '\n' << std::flush;
        return std::make_unique<ReportedChild>(std::move(child), program, out, failures);
    }
    bool SetEnvironmentVariable(std::string_view name, std::string_view value) override {
        return inner.SetEnvironmentVariable(name, value);
    }
    bool UnsetEnvironmentVariable(std::string_view name) override {
        return inner.UnsetEnvironmentVariable(name);
    }
    std::optional<std::string> GetEnvironmentVariable(std::string_view name) override {
        return inner.GetEnvironmentVariable(name);
    }
    // The updaters that ended with anything but 0, each with how it ended.
    const std::vector<std::string>& Failures() const { return failures; }

private:
    Processes& inner;
    std::ostream& out;
    bool report;
    std::vector<std::string> failures;
};

class KeylessSystem : public System {
public:
    explicit KeylessSystem(System& inner) : inner(inner) {}
    std::uint32_t GetTickCount() override { return inner.GetTickCount(); }
    bool IsShiftDown() override { return false; }
    std::int64_t UnixTime() override { return inner.UnixTime(); }
    std::string CacheFolder() override { return inner.CacheFolder(); }

private:
    System& inner;
};

// What is wrong with `dir` as the beta folder, as far as can be told before the run; empty when
// nothing is.
std::string BetaDirProblem(Files& files, const std::string& dir) {
    if (dir.empty()) return "The beta folder given with -betadir is empty.";
    if (dir.size() > kMaxBetaDirChars) return "The beta folder name is too long: " + dir;
    for (char c : dir) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return ConsoleLines(res::LoadString(res::kStrBetaControlChar));
        }
    }
    if (std::optional<FileStatus> status = files.Stat(dir); status && !status->isDirectory) {
        return ConsoleLines(Format(res::LoadString(res::kStrBetaNotDir), dir));
    }
    return {};
}

bool IsCaption(std::string_view caption, int id) { return caption == res::LoadString(id); }

}  // namespace

ConsoleOptions ScanConsoleOptions(int argc, const char* const* argv) {
    // The dialog's own options, each with its value.
    static constexpr std::string_view kValueOptions[] = {"-server", "-infourl", "-infoserver",
                                                         "-updates", "-beta",    "-dir"};
    ConsoleOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i] ? argv[i] : "";
        bool hasValue = i + 1 < argc;
        if (arg == "-quietcheck" || arg == "-unattended") {
            ConsoleMode mode =
                arg == "-quietcheck" ? ConsoleMode::kQuietCheck : ConsoleMode::kUnattended;
            // A check that installs, or a run that only checks: neither is what was meant.
            if (options.mode != ConsoleMode::kWindow && options.mode != mode) {
                options.usageError = "-quietcheck and -unattended cannot be used together.";
            }
            options.mode = mode;
        } else if (arg == "-betachannel") {
            options.betaChannel = true;
        } else if (arg == "-notify") {
            options.notify = true;
        } else if (arg == "-scheduled") {
            options.scheduled = true;
        } else if (arg == "-schedule" && hasValue) {
            options.schedule = argv[i + 1] ? argv[i + 1] : "";
            ++i;
        } else if (arg == "-betadir" && hasValue) {
            options.betaDir = argv[i + 1] ? argv[i + 1] : "";
            ++i;
        } else if (hasValue) {
            for (std::string_view option : kValueOptions) {
                if (arg == option) {
                    ++i;
                    break;
                }
            }
        }
    }
    return options;
}

ConsolePolicy DefaultConsolePolicy() {
    ConsolePolicy policy;
    policy.sleep = [](std::uint32_t ms) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    return policy;
}

// The console user: walks the main dialog through its steps as a person would, by clicking its
// buttons, and reads the outcome of each step from what the window shows.
class ConsoleRun : public ConsoleUser {
public:
    ConsoleRun(const ConsoleOptions& options, Processes& hostProcesses, System& hostSystem,
               std::ostream& out, std::ostream& err, ConsolePolicy policy)
        : options(options),
          out(out),
          err(err),
          policy(std::move(policy)),
          backend(*this, err),
          processes(hostProcesses, out, options.mode == ConsoleMode::kUnattended),
          system(hostSystem) {}

    int Start(const Platform& platform, int argc, const char* const* argv);

    void Run(HeadlessWindow& window) override;
    int Answer(std::string_view text, std::string_view caption, unsigned type) override;
    void TextChanged(HeadlessWindow& window, int id, const std::string& text) override;
    void ProgressChanged(HeadlessWindow& window, int id, int pos) override;
    void Pumped() override;
    bool Stopping() override { return stopping; }

    const ConsoleOptions options;
    std::ostream& out;
    std::ostream& err;
    const ConsolePolicy policy;
    ConsoleBackend backend;
    ReportingProcesses processes;
    KeylessSystem system;
    CheckOutcome outcome;

private:
    bool Unattended() const { return options.mode == ConsoleMode::kUnattended; }
    // Looks for an interrupt after every slice; a retry's pause ends early once there was one.
    void Pause(std::uint32_t ms, bool endOnInterrupt) {
        while (ms > 0) {
            std::uint32_t slice = policy.pauseSliceMs == 0 ? ms : std::min(ms, policy.pauseSliceMs);
            if (policy.sleep) policy.sleep(slice);
            ms -= slice;
            if (Interrupted() && endOnInterrupt) return;
        }
    }
    bool Interrupted();
    void WalkMainDialog(HeadlessWindow& w);
    void WalkSteps(HeadlessWindow& w);
    void AnswerBetaDirDialog(HeadlessWindow& w);
    void Leave(HeadlessWindow& w);
    void Stop(HeadlessWindow& w);
    // Names each updater that ended with anything but 0; true when there was one.
    bool ReportFailedUpdaters();

    int exitCode = kExitFailure;
    // The retry question: which file it is about and how often it was answered Yes.
    std::string retryText;
    int retriesGiven = 0;
    bool betaDirOffered = false;
    std::string lastInstructions;
    std::string lastStatus;
    std::string downloading;  // the status text of the file being downloaded; empty when none
    std::uint32_t lastProgressTick = 0;
    HeadlessWindow* mainWindow = nullptr;  // while the main dialog is walked
    bool stopping = false;                 // an interrupt has been seen
    std::uint32_t lastInterruptLook = 0;   // the clock when Pumped last asked
    bool cancelClicked = false;            // ... and the download it came in was cancelled
};

int ConsoleRun::Start(const Platform& platform, int argc, const char* const* argv) {
    if (!options.usageError.empty()) {
        err << options.usageError << '\n' << std::flush;
        return kExitFailure;
    }
    if (Unattended() && options.betaChannel && !options.betaDir) {
        err << "A beta installation needs its folder: give it with -betadir FOLDER.\n"
            << std::flush;
        return kExitFailure;
    }
    // A folder the beta folder dialog would refuse is refused before anything is downloaded.
    if (Unattended() && options.betaChannel) {
        if (std::string problem = BetaDirProblem(platform.files, *options.betaDir);
            !problem.empty()) {
            err << problem << '\n' << std::flush;
            return kExitFailure;
        }
    }
    if (platform.trustedKeys.empty()) {
        err << res::LoadString(res::kStrConsoleNoKeys) << '\n' << std::flush;
    }
    // Every updater installs without asking, the first one included.
    if (Unattended()) processes.SetEnvironmentVariable(kAutoInstallVariable, "TRUE");
    exitCode = kExitFailure;  // stays so when the dialog never runs (the HTTP layer failed)
    CUpdateDownloaderApp app(platform, argc, argv);
    app.InitInstance();
    return exitCode;
}

void ConsoleRun::Run(HeadlessWindow& w) {
    if (w.templateId() == res::kMainDialog) {
        WalkMainDialog(w);
    } else if (w.templateId() == res::kBetaDirDialog) {
        AnswerBetaDirDialog(w);
    } else {
        w.SendCommand(IDCANCEL);
    }
}

bool ConsoleRun::Interrupted() {
    // Asked every time, even once stopping: the watch acts on a second request when asked.
    bool requested = policy.interrupted && policy.interrupted();
    if (requested && !stopping) {
        stopping = true;
        err << "Interrupted: stopping at the next safe point (press Ctrl+C again to stop at "
               "once).\n"
            << std::flush;
    }
    return stopping;
}

void ConsoleRun::Pumped() {
    // Looked at in every wait, so that the user hears at once that the request was seen, but
    // not before every block of a download: asking costs a system call.
    std::uint32_t now = system.GetTickCount();
    if (now - lastInterruptLook < policy.interruptLookIntervalMs) return;
    lastInterruptLook = now;
    if (!Interrupted() || mainWindow == nullptr || downloading.empty() || cancelClicked) return;
    // As a person would: Cancel, and Yes to the question (Answer).
    if (mainWindow->Enabled(res::kIdCancel)) {
        cancelClicked = true;
        mainWindow->Click(res::kIdCancel);
    }
}

void ConsoleRun::WalkMainDialog(HeadlessWindow& w) {
    mainWindow = &w;
    WalkSteps(w);
    mainWindow = nullptr;
}

void ConsoleRun::WalkSteps(HeadlessWindow& w) {
    exitCode = kExitFailure;
    if (!w.Enabled(res::kIdCheck)) {
        // Not installed: the window says why in its instructions and offers only Exit.
        err << ConsoleLines(w.Text(res::kIdInstructions)) << '\n' << std::flush;
        return Leave(w);
    }
    if (options.betaChannel && !w.Checked(res::kIdBetaVersion)) w.Click(res::kIdBetaVersion);
    // A check no person asked for tells the information server nothing.
    auto& dialog = static_cast<CUpdateDownloaderDlg&>(w.dialog);
    if (options.notify) dialog.sendUpdateRequest = false;
    w.Click(res::kIdCheck);
    if (Interrupted()) return Stop(w);
    if (!w.Enabled(res::kIdDownload)) return Leave(w);  // the check failed; its message is out

    const std::vector<std::string>& listed = w.Items(res::kIdUpdateList);
    if (options.mode == ConsoleMode::kQuietCheck) {
        for (const std::string& name : listed) out << name << '\n';
        out << std::flush;
        exitCode = listed.empty() ? kExitSuccess : kExitUpdatesExist;
        outcome = {dialog.availableVersion, listed};
        return Leave(w);
    }
    if (listed.empty()) {
        exitCode = kExitNothingToInstall;
        return Leave(w);
    }

    w.Click(res::kIdDownload);
    downloading.clear();
    if (Interrupted()) return Stop(w);
    if (!w.Enabled(res::kIdInstall)) return Leave(w);

    while (!w.ended && !w.Items(res::kIdUpdateList).empty()) {
        if (Interrupted()) return Stop(w);
        if (!w.Click(res::kIdInstall)) break;
        if (w.timers.count(kPollTimer) == 0) break;  // not started; the message is out
        // Polled as the window's timer polls it, until the dialog lets the timer go.
        while (!w.ended && w.timers.count(kPollTimer) != 0) {
            // The updater is never cut short: an interrupt is acknowledged, and waited out.
            Pause(w.timers[kPollTimer], false);
            w.TickTimer(kPollTimer);
        }
    }
    if (!w.ended && w.Items(res::kIdUpdateList).empty()) exitCode = kExitSuccess;
    if (ReportFailedUpdaters()) exitCode = kExitFailure;
    Leave(w);
}

void ConsoleRun::Leave(HeadlessWindow& w) {
    // Exit deletes the downloaded updaters only after a complete installation, as it does for
    // a person; its question about updaters left uninstalled is answered Yes.
    if (!w.ended) w.Click(res::kIdExit);
}

bool ConsoleRun::ReportFailedUpdaters() {
    // The window counts any end as ended; a script must hear that an installation failed.
    for (const std::string& failure : processes.Failures()) {
        err << "Updater failed: " << failure << '\n' << std::flush;
    }
    return !processes.Failures().empty();
}

void ConsoleRun::Stop(HeadlessWindow& w) {
    ReportFailedUpdaters();
    exitCode = kExitInterrupted;
    Leave(w);
}

void ConsoleRun::AnswerBetaDirDialog(HeadlessWindow& w) {
    // Offered once: a folder that the dialog's checks refuse ends the run, since asking again
    // would only get the same answer.
    if (!options.betaDir || betaDirOffered) {
        if (!options.betaDir) {
            err << "A beta installation needs its folder: give it with -betadir FOLDER.\n"
                << std::flush;
        }
        w.SendCommand(IDCANCEL);
        return;
    }
    betaDirOffered = true;
    w.TypeText(res::kIdBetaDirEdit, *options.betaDir);
    if (w.Text(res::kIdBetaDirEdit) != *options.betaDir) {
        err << "The beta folder name is too long: " << *options.betaDir << '\n' << std::flush;
        w.SendCommand(IDCANCEL);
        return;
    }
    w.Click(IDOK);
    if (!w.ended) w.SendCommand(IDCANCEL);
}

int ConsoleRun::Answer(std::string_view text, std::string_view caption, unsigned type) {
    unsigned buttons = type & MB_TYPEMASK;
    if (stopping && buttons == MB_YESNO) {
        // Yes, cancel the download; no, do not try it again.
        if (IsCaption(caption, res::kStrCancelCaption)) return IDYES;
        if (IsCaption(caption, res::kStrRetryCaption)) return IDNO;
    }
    if (IsCaption(caption, res::kStrRetryCaption) && buttons == MB_YESNO) {
        // A server that names another wait each time is still the same file's server.
        if (std::string key = RetryQuestionKey(text); key != retryText) {
            retryText = std::move(key);
            retriesGiven = 0;
        }
        if (retriesGiven >= policy.retries) return IDNO;
        // Doubled once per earlier retry, and kept in range whatever the policy says.
        std::uint64_t pause = policy.firstRetryPauseMs;
        for (int i = 0; i < retriesGiven && pause < 0xFFFFFFFFu; ++i) pause *= 2;
        pause = std::min<std::uint64_t>(pause, 0xFFFFFFFFu);
        // A busy server said how long to wait: that long, spread so that a crowd does not
        // come back at once.
        if (std::optional<std::uint32_t> busy = BusyWaitInQuestion(text)) {
            pause = WithSpread(*busy * 1000u, std::random_device{}());
        }
        ++retriesGiven;
        if (Unattended()) {
            out << "Trying again in " << (pause + 999) / 1000 << " s (" << retriesGiven << " of "
                << policy.retries << ")\n"
                << std::flush;
        }
        Pause(static_cast<std::uint32_t>(pause), true);
        return stopping ? IDNO : IDYES;
    }
    // Leaving with updaters left uninstalled: the run has already failed; go.
    if (IsCaption(caption, res::kStrExitCaption)) return IDYES;
    switch (buttons) {
        case MB_OK: return IDOK;
        case MB_YESNO: return IDNO;  // e.g. "Cancel the download?": no, go on
        default: return IDCANCEL;    // a refused beta folder, and anything else: stop there
    }
}

void ConsoleRun::TextChanged(HeadlessWindow& w, int id, const std::string& text) {
    if (!Unattended() || w.templateId() != res::kMainDialog || text.empty()) return;
    if (id == res::kIdInstructions) {
        if (text == lastInstructions) return;
        lastInstructions = text;
        out << ConsoleLines(text) << '\n' << std::flush;
    } else if (id == res::kIdStatus) {
        // Each attempt at a file starts its progress lines afresh.
        if (text.starts_with(kDownloadingPrefix)) {
            downloading = text;
            lastStatus = text;
            lastProgressTick = system.GetTickCount();
            out << ConsoleLines(text) << '\n' << std::flush;
            return;
        }
        downloading.clear();
        if (text == lastStatus) return;
        lastStatus = text;
        out << ConsoleLines(text) << '\n' << std::flush;
    }
}

void ConsoleRun::ProgressChanged(HeadlessWindow&, int id, int pos) {
    if (!Unattended() || id != res::kIdFileProgress || downloading.empty()) return;
    std::uint32_t now = system.GetTickCount();
    if (now - lastProgressTick < policy.progressIntervalMs) return;
    lastProgressTick = now;
    out << downloading << ' ' << pos << "%\n" << std::flush;
}

ConsoleHost::ConsoleHost(const ConsoleOptions& options, Processes& hostProcesses,
                         System& hostSystem, std::ostream& out, std::ostream& err,
                         ConsolePolicy policy)
    : run(std::make_unique<ConsoleRun>(options, hostProcesses, hostSystem, out, err,
                                       std::move(policy))) {}

ConsoleHost::~ConsoleHost() = default;

DialogBackend& ConsoleHost::ui() { return run->backend; }

Processes& ConsoleHost::processes() { return run->processes; }

System& ConsoleHost::system() { return run->system; }

const CheckOutcome& ConsoleHost::outcome() const { return run->outcome; }

int ConsoleHost::Run(const Platform& platform, int argc, const char* const* argv) {
    return run->Start(platform, argc, argv);
}

}  // namespace fw
