#include "app/notify_mode.h"

#include <charconv>
#include <memory>

#include "platform/ui/format.h"
#include "res/resource.h"
#include "res/strings.h"

namespace fw {
namespace {

// A body names this many templates at most; a long list would be cut by the desktop anyway.
constexpr std::size_t kNamedTemplates = 4;
// The registry value's buffer, as for the other values the program keeps.
constexpr std::size_t kVersionBufferSize = 260;

std::string SkippedSubKey(bool beta) {
    return beta ? "SkippedVersion\\Beta" : "SkippedVersion\\Release";
}

// The dotted numbers of `version`; empty when any part is not a plain number.
std::vector<std::uint64_t> VersionParts(std::string_view version) {
    std::vector<std::uint64_t> parts;
    for (;;) {
        std::size_t dot = version.find('.');
        std::string_view part = version.substr(0, dot);
        std::uint64_t value = 0;
        auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size()) return {};
        parts.push_back(value);
        if (dot == std::string_view::npos) return parts;
        version.remove_prefix(dot + 1);
    }
}

}  // namespace

bool IsNewerVersion(std::string_view offered, std::string_view skipped) {
    std::vector<std::uint64_t> a = VersionParts(offered);
    std::vector<std::uint64_t> b = VersionParts(skipped);
    if (a.empty() || b.empty()) return offered != skipped;
    // "4.2" and "4.2.0" are the same version.
    while (a.size() < b.size()) a.push_back(0);
    while (b.size() < a.size()) b.push_back(0);
    return a > b;
}

Notification UpdateNotification(const CheckOutcome& outcome) {
    std::string names;
    for (std::size_t i = 0; i < outcome.templates.size() && i < kNamedTemplates; ++i) {
        if (!names.empty()) names += ", ";
        names += outcome.templates[i];
    }
    if (outcome.templates.size() > kNamedTemplates) {
        names = Format(res::LoadString(res::kStrNotifyMore), names,
                       static_cast<long long>(outcome.templates.size() - kNamedTemplates));
    }
    Notification n;
    n.title = res::LoadString(res::kStrNotifyTitle);
    n.body = Format(res::LoadString(res::kStrNotifyBody), outcome.version, names);
    n.updateNow = res::LoadString(res::kStrNotifyUpdateNow);
    n.later = res::LoadString(res::kStrNotifyLater);
    n.skipVersion = res::LoadString(res::kStrNotifySkip);
    return n;
}

std::vector<std::string> WindowArguments(int argc, const char* const* argv) {
    static constexpr std::string_view kWindowOptions[] = {"-server",  "-infourl", "-infoserver",
                                                          "-updates", "-beta",    "-dir"};
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i] ? argv[i] : "";
        // The window opens on the channel that was checked.
        if (arg == "-betachannel") {
            arguments.emplace_back(arg);
            continue;
        }
        if (i + 1 == argc) break;
        for (std::string_view option : kWindowOptions) {
            if (arg != option) continue;
            arguments.emplace_back(arg);
            arguments.emplace_back(argv[i + 1] ? argv[i + 1] : "");
            ++i;
            break;
        }
    }
    return arguments;
}

std::string SkippedVersion(Registry& registry, bool beta) {
    std::string value;
    std::unique_ptr<RegistryKey> key = registry.CreateKey(res::LoadString(res::kStrRegistryKey));
    if (!key || !key->QueryValue(SkippedSubKey(beta), value, kVersionBufferSize)) return {};
    return value;
}

void RememberSkippedVersion(Registry& registry, bool beta, std::string_view version) {
    if (std::unique_ptr<RegistryKey> key =
            registry.CreateKey(res::LoadString(res::kStrRegistryKey))) {
        key->SetValue(SkippedSubKey(beta), version);
    }
}

int RunNotifyingCheck(ConsoleHost& host, const Platform& platform, const ConsoleOptions& options,
                      NotifyRun& run, int argc, const char* const* argv) {
    if (options.mode != ConsoleMode::kQuietCheck) {
        run.err << res::LoadString(res::kStrNotifyUsage) << '\n' << std::flush;
        return kExitFailure;
    }
    if (options.scheduled) {
        NetworkState network = run.notifier.Network();
        if (network != NetworkState::kAvailable) {
            run.out << res::LoadString(network == NetworkState::kMetered ? res::kStrNotifyMetered
                                                                         : res::kStrNotifyOffline)
                    << '\n'
                    << std::flush;
            return kExitSuccess;
        }
    }
    const int code = host.Run(platform, argc, argv);
    if (!options.notify || code != kExitUpdatesExist) return code;

    const CheckOutcome& outcome = host.outcome();
    const std::string skipped = SkippedVersion(platform.registry, options.betaChannel);
    if (!skipped.empty() && !IsNewerVersion(outcome.version, skipped)) {
        run.out << Format(res::LoadString(res::kStrNotifySkipped), outcome.version) << '\n'
                << std::flush;
        return code;
    }
    NotificationChoice choice = NotificationChoice::kNone;
    std::string error;
    if (!run.notifier.Show(UpdateNotification(outcome), run.waitMs, run.interrupted, choice,
                           error)) {
        run.err << "No notification could be shown: " << error << '\n' << std::flush;
        return code;
    }
    switch (choice) {
        case NotificationChoice::kUpdateNow:
            if (!run.notifier.OpenWindow(WindowArguments(argc, argv), error)) {
                run.err << "The window could not be opened: " << error << '\n' << std::flush;
            }
            break;
        case NotificationChoice::kSkipVersion:
            RememberSkippedVersion(platform.registry, options.betaChannel, outcome.version);
            break;
        case NotificationChoice::kLater:
        case NotificationChoice::kNone:
            break;
    }
    return code;
}

}  // namespace fw
