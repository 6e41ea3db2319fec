#pragma once
// The desktop's side of a check that nobody started by hand: whether the network may be used,
// one notification with a choice, and the program's window opened when the person asks for it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fw {

enum class NetworkState {
    kAvailable,
    kNone,     // no route to anywhere
    kMetered,  // a connection the user pays for by the byte (a phone hotspot)
};

enum class NotificationChoice {
    kNone,  // closed, timed out, interrupted, or the desktop takes no actions
    kUpdateNow,
    kLater,
    kSkipVersion,
};

struct Notification {
    std::string title;
    std::string body;
    std::string updateNow;
    std::string later;
    std::string skipVersion;
};

class Notifier {
public:
    virtual ~Notifier() = default;
    virtual NetworkState Network() = 0;
    // Shows `notification` and waits for the person's choice, at most `waitMs`, looking at
    // `interrupted` now and then; a notification left unanswered is withdrawn. False (with
    // `error`) when nothing could be shown.
    virtual bool Show(const Notification& notification, std::uint32_t waitMs,
                      const std::function<bool()>& interrupted, NotificationChoice& choice,
                      std::string& error) = 0;
    // Starts the program's window with `arguments` so that it outlives this process and
    // belongs to the person's session.
    virtual bool OpenWindow(const std::vector<std::string>& arguments, std::string& error) = 0;
};

}  // namespace fw
