#pragma once
// The notifier of Windows: a balloon from an icon in the notification area, whose menu offers
// the choices; the network as WinInet sees it; the window started as a process of its own.

#include "platform/notifier.h"

namespace fw {

class Win32Notifier : public Notifier {
public:
    NetworkState Network() override;
    bool Show(const Notification& notification, std::uint32_t waitMs,
              const std::function<bool()>& interrupted, NotificationChoice& choice,
              std::string& error) override;
    bool OpenWindow(const std::vector<std::string>& arguments, std::string& error) override;
};

}  // namespace fw
