#pragma once
// The notifier of Linux desktops, on GIO alone (no display needed): the network monitor, the
// desktop's notification service over D-Bus, and the window started in the person's session.

#include "platform/notifier.h"

namespace fw {

class GioNotifier : public Notifier {
public:
    NetworkState Network() override;
    bool Show(const Notification& notification, std::uint32_t waitMs,
              const std::function<bool()>& interrupted, NotificationChoice& choice,
              std::string& error) override;
    bool OpenWindow(const std::vector<std::string>& arguments, std::string& error) override;
};

}  // namespace fw
