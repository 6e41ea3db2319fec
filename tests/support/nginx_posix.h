#pragma once
// nginx, the server people put updates on, in the foreground on a loopback port for one test,
// with a configuration written for the run (nginx-light from Debian).

#include <sys/types.h>

#include <string>
#include <vector>

namespace fw::test {

inline constexpr const char* kNginx = "/usr/sbin/nginx";

// Serves `root`; its configuration, logs and temporary folders go to `runDir`. Every answer's
// status and body bytes go to its access log. `serverLines` go into the server block (a
// location that misbehaves, say).
class Nginx {
  public:
    Nginx(const std::string& root, const std::string& runDir, const std::string& serverLines = {});
    ~Nginx();  // stops nginx
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool Running() const;
    std::string Host() const { return "127.0.0.1:" + std::to_string(port); }
    // "URI STATUS BYTES" per answer so far.
    std::vector<std::string> Answers() const;

  private:
    std::string runDir;
    int port = 0;
    pid_t pid = -1;
};

}  // namespace fw::test
