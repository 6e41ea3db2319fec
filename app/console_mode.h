#pragma once
// Running the update dialog without a window, for the tool that asks whether updates exist
// ("-quietcheck") and for administrators' scripts ("-unattended"). The dialog and its workflow
// are the window's own; a console user presses its buttons by a fixed policy, answers its
// questions and turns what it shows into lines and an exit code.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fw {

enum class ConsoleMode { kWindow, kQuietCheck, kUnattended };

struct ConsoleOptions {
    ConsoleMode mode = ConsoleMode::kWindow;
    bool betaChannel = false;               // "-betachannel": tick "&Beta Version" before Check
    std::optional<std::string> betaDir;     // "-betadir FOLDER": the beta installation folder
    std::string usageError;                 // switches that contradict each other; empty: none
    bool notify = false;     // "-notify": tell the desktop what the quiet check found
    bool scheduled = false;  // "-scheduled": first ask whether the network may be used
    std::optional<std::string> schedule;  // "-schedule on|off": the daily check (Windows)
};

// What a quiet check found: the version on offer and the templates it updates.
struct CheckOutcome {
    std::string version;
    std::vector<std::string> templates;
};

// The console switches, read as the dialog reads its options: an option that takes a value
// takes the next argument whatever it looks like, so "-server -quietcheck" names a server.
ConsoleOptions ScanConsoleOptions(int argc, const char* const* argv);

// Exit codes.
inline constexpr int kExitSuccess = 0;        // check: nothing to update; run: all installed
inline constexpr int kExitFailure = 1;
inline constexpr int kExitNothingToInstall = 2;
inline constexpr int kExitUpdatesExist = 10;  // check only
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl+C or SIGTERM, as shells count it

struct ConsolePolicy {
    // Waits for `milliseconds`; tests pass one that does not really wait.
    std::function<void(std::uint32_t milliseconds)> sleep;
    // A failed file is tried again this many times, after a pause that doubles each time.
    int retries = 3;
    std::uint32_t firstRetryPauseMs = 2000;
    // Download progress lines of one file are this far apart at least.
    std::uint32_t progressIntervalMs = 1000;
    // True once the user or the system has asked the run to stop (Ctrl+C, SIGTERM). The run
    // then stops at its next safe point: a download is cancelled at once and its partial file
    // deleted; an updater that is running is waited for, since an installer cut off half-way
    // can leave the installation broken; nothing further starts.
    std::function<bool()> interrupted;
    // ... asked at most this often while a step runs (the dialog pumps before every block).
    std::uint32_t interruptLookIntervalMs = 20;
    // Pauses (a retry's, an updater's poll) are cut into slices of at most this length, and
    // asked between them, so that a request is acknowledged at once; 0: not cut.
    std::uint32_t pauseSliceMs = 100;
};

// The real wait of the running program.
ConsolePolicy DefaultConsolePolicy();

class ConsoleRun;

// The console host of one run: hand ui(), processes() and system() to the Platform bundle in
// place of the window and the host's own, then Run.
class ConsoleHost {
public:
    ConsoleHost(const ConsoleOptions& options, Processes& hostProcesses, System& hostSystem,
                std::ostream& out, std::ostream& err, ConsolePolicy policy = DefaultConsolePolicy());
    ~ConsoleHost();
    ConsoleHost(const ConsoleHost&) = delete;
    ConsoleHost& operator=(const ConsoleHost&) = delete;

    DialogBackend& ui();
    Processes& processes();
    // The host's clock, with no Shift key: a key held at the terminal changes nothing.
    System& system();
    // Runs the application on `platform` (built from ui() and processes()); returns the exit
    // code.
    int Run(const Platform& platform, int argc, const char* const* argv);
    // After a quiet check that found updates.
    const CheckOutcome& outcome() const;

private:
    std::unique_ptr<ConsoleRun> run;
};

}  // namespace fw
