#pragma once
// Faults of the machine itself, for the fault campaign: a disk that fills, a user without the
// rights to a folder.

#include <cstdint>
#include <functional>
#include <memory>

namespace fw::test {

// While it lives, no file this process writes can grow past `bytes`: a write beyond the limit
// fails (EFBIG) instead of ending the process with a signal. The previous limit and signal
// disposition come back when it goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Active() const { return saved != nullptr; }

private:
    struct Saved;
    std::unique_ptr<Saved> saved;
};

// Whether the tests run with the rights of the superuser, to whom every permission is granted.
bool RunningAsRoot();

// Runs `body` in a forked child that first gives up root for the "nobody" user, so that
// permissions count. Returns the child's exit status: 0 when `body` ran without a test failure,
// 1 when it recorded one, 2 when the rights could not be given up, -1 when there was no child.
// Everything the child must reach needs to be open to other users.
int RunUnprivileged(const std::function<void()>& body);

}  // namespace fw::test
