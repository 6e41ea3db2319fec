#pragma once
// "-quietcheck -notify" and "-scheduled": the quiet check that nobody started by hand. It runs
// the console host's check, then tells the person through one desktop notification, unless
// the version on offer is one they chose to skip. It never installs anything and never waits
// on a question; the notification is waited on for a bounded time only.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/console_mode.h"
#include "platform/notifier.h"
#include "platform/platform.h"
#include "platform/registry.h"

namespace fw {

// How long a notification waits for its answer before it is withdrawn (an answer after the
// process has ended would do nothing).
inline constexpr std::uint32_t kNotificationWaitMs = 60u * 60u * 1000u;

// True when `offered` is a later version than `skipped`: dotted numbers compare part by part,
// numerically; other texts count as later whenever they differ.
bool IsNewerVersion(std::string_view offered, std::string_view skipped);

// The texts of the notification for what the check found.
Notification UpdateNotification(const CheckOutcome& outcome);

// The options of the command line that the window understands (the servers, the definitions
// files and the folder), with their values: what "Update now" opens the window with.
std::vector<std::string> WindowArguments(int argc, const char* const* argv);

// The version of the channel the person chose to skip; empty when none.
std::string SkippedVersion(Registry& registry, bool beta);
void RememberSkippedVersion(Registry& registry, bool beta, std::string_view version);

struct NotifyRun {
    Notifier& notifier;
    std::function<bool()> interrupted;
    std::ostream& out;
    std::ostream& err;
    std::uint32_t waitMs = kNotificationWaitMs;
};

// The whole run: with -scheduled, nothing at all unless the network may be used; then the
// quiet check on `host` (no update request: no person asked for this check), and with -notify
// the notification and what its answer asks for. The exit code is the quiet check's.
int RunNotifyingCheck(ConsoleHost& host, const Platform& platform, const ConsoleOptions& options,
                      NotifyRun& run, int argc, const char* const* argv);

}  // namespace fw
