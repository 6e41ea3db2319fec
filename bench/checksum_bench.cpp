// The download checksum against plain reading of the same file, and the rate window's work per
// block.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "download/checksum.h"
#include "download/progress.h"
#include "download/verify.h"
#include "platform/posix/files_posix.h"

namespace fw {
namespace {

constexpr std::size_t kFileSize = std::size_t{256} << 20;

// A 256 MiB file of random bytes, written once per run and read once so that it sits in the
// page cache; removed when the program ends. FW_BENCH_DIR picks the folder (default: the
// system's temporary folder).
class BenchFile {
public:
    BenchFile() {
        const char* dir = std::getenv("FW_BENCH_DIR");
        std::filesystem::path folder = dir ? dir : std::filesystem::temp_directory_path();
        path = (folder / ("fw-bench-" + std::to_string(std::random_device{}()) + ".bin")).string();
        std::ofstream out(path, std::ios::binary);
        std::mt19937_64 rng(42);
        std::vector<std::uint64_t> block((1 << 20) / sizeof(std::uint64_t));
        for (std::size_t done = 0; done < kFileSize; done += block.size() * 8) {
            for (auto& w : block) w = rng();
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size() * 8));
        }
        out.close();
        ok = out.good();
    }
    ~BenchFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    std::string path;
    bool ok = false;
};

const BenchFile& TheFile() {
    static const BenchFile file;
    return file;
}

// Reads the file to its end with the checksum's own read size, doing nothing with the bytes.
bool PlainRead(Files& files, const std::string& path, std::uint64_t& total) {
    std::unique_ptr<ReadableFile> file = files.OpenForReading(path);
    if (!file) return false;
    std::vector<unsigned char> buffer(ChecksumAccumulator::kReadSize);
    total = 0;
    for (;;) {
        std::ptrdiff_t n = file->Read(buffer.data(), buffer.size());
        if (n < 0) return false;
        if (n == 0) return true;
        benchmark::DoNotOptimize(buffer.data());
        total += static_cast<std::uint64_t>(n);
    }
}

void BM_PlainRead(benchmark::State& state) {
    const BenchFile& file = TheFile();
    PosixFiles files;
    std::uint64_t total = 0;
    if (!file.ok || !PlainRead(files, file.path, total)) state.SkipWithError("no bench file");
    for (auto _ : state) {
        bool read = PlainRead(files, file.path, total);
        benchmark::DoNotOptimize(read);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FileChecksum(benchmark::State& state) {
    const BenchFile& file = TheFile();
    PosixFiles files;
    std::uint32_t value = 0;
    if (!file.ok || !FileChecksum(files, file.path, value)) state.SkipWithError("no bench file");
    for (auto _ : state) {
        bool summed = FileChecksum(files, file.path, value);
        benchmark::DoNotOptimize(summed);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_FileChecksum)->Unit(benchmark::kMillisecond)->UseRealTime();

// The checksum alone, over a buffer of one read that stays in the cache.
void BM_ChecksumInMemory(benchmark::State& state) {
    std::vector<unsigned char> buffer(ChecksumAccumulator::kReadSize);
    std::mt19937 rng(1);
    for (auto& b : buffer) b = static_cast<unsigned char>(rng());
    for (auto _ : state) {
        ChecksumAccumulator sum;
        sum.Update(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(sum.Value());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(buffer.size()));
}
BENCHMARK(BM_ChecksumInMemory)->UseRealTime();

// What the transfer does for every block once the window is full.
void BM_RateWindowPerBlock(benchmark::State& state) {
    RateWindow window;
    std::uint32_t tick = 0;
    for (std::size_t i = 0; i < RateWindow::kCapacity; ++i) window.AddSample(tick += 3, 4096);
    for (auto _ : state) {
        window.AddSample(tick += 3, 4096);
        benchmark::DoNotOptimize(window.BytesPerSecond());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_RateWindowPerBlock)->UseRealTime();

// The verification of a file from signed definitions: size, checksum and SHA-256 in one pass.
void BM_FileFacts(benchmark::State& state) {
    const BenchFile& file = TheFile();
    PosixFiles files;
    FileFacts facts;
    if (!file.ok || !ReadFileFacts(files, file.path, facts)) state.SkipWithError("no bench file");
    for (auto _ : state) {
        bool read = ReadFileFacts(files, file.path, facts);
        benchmark::DoNotOptimize(read);
        benchmark::DoNotOptimize(facts);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_FileFacts)->Unit(benchmark::kMillisecond)->UseRealTime();

// The yardstick for it: the openssl command hashing the same file, process start included.
void BM_OpensslDgst(benchmark::State& state) {
    const BenchFile& file = TheFile();
    std::string command = "openssl dgst -sha256 '" + file.path + "' >/dev/null 2>&1";
    if (!file.ok || std::system(command.c_str()) != 0) state.SkipWithError("no openssl command");
    for (auto _ : state) {
        int status = std::system(command.c_str());
        benchmark::DoNotOptimize(status);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kFileSize));
}
BENCHMARK(BM_OpensslDgst)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace fw
