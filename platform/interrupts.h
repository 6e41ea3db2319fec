#pragma once
// Ctrl+C at the terminal, or the system asking the program to stop (SIGTERM; on Windows also
// Ctrl+Break): what a console run watches for so that it can stop at its next safe point
// instead of ending wherever it is. One implementation per host.

#include <memory>

namespace fw {

class InterruptWatch {
  public:
    virtual ~InterruptWatch() = default;
    // True once such a request has come, and from then on.
    virtual bool Requested() = 0;
};

// Starts watching. While the watch lives a first request no longer ends the process; a second
// one, once looked at (at once on Windows), ends it with exit code 130. Started programs still get them as before. nullptr when the host cannot
// watch: the process then ends as it always did. Create it before any thread starts.
std::unique_ptr<InterruptWatch> WatchInterrupts();

}  // namespace fw
