#pragma once
// Running a helper program to its end and reading what it cost: the benchmarks need each
// download in a process of its own, so that the peak resident size is that download's alone.

#include <string>
#include <vector>

namespace fw::bench {

struct ChildRun {
    bool started = false;
    int exitCode = -1;          // -1 when the child did not exit normally
    double wallSeconds = 0;     // from the spawn to the end of the wait
    // ru_maxrss of the child; on Linux never below the parent's resident size at the start.
    long peakResidentKiB = 0;
    double cpuSeconds = 0;      // user plus system time of the child
};

// Runs `argv` (argv[0] is looked up on PATH when it holds no "/") with our environment, its
// standard output going to `stdoutFile` (truncated; empty: ours), and waits for it.
ChildRun RunChild(const std::vector<std::string>& argv, const std::string& stdoutFile = {});

}  // namespace fw::bench
