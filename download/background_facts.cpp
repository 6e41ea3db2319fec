#include "download/background_facts.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace fw {

namespace {

// Large reads of the kept part, so that the system calls do not set the pace.
constexpr std::size_t kKeptReadSize = 256 * 1024;
// An idle worker is woken once this many pieces wait.
constexpr std::size_t kWakeAt = BackgroundFacts::kPieces / 2;

}  // namespace

BackgroundFacts::BackgroundFacts(std::unique_ptr<ReadableFile> keptFile, std::int64_t size)
    : kept(std::move(keptFile)), keptSize(size) {
    for (auto& piece : pieces) piece.resize(kPieceSize);
    try {
        worker = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        // The sums are still made, only not beside the transfer.
        withoutThread = true;
        failed = !SumKept();
    }
}

BackgroundFacts::~BackgroundFacts() { Stop(); }

void BackgroundFacts::Stop() {
    if (!worker.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    piecesReady.notify_all();
    pieceFree.notify_all();
    worker.join();
}

bool BackgroundFacts::SumKept() {
    std::unique_ptr<ReadableFile> file = std::move(kept);
    if (keptSize == 0) return true;
    if (!file || keptSize < 0) return false;
    std::vector<unsigned char> buffer(kKeptReadSize);
    for (std::int64_t left = keptSize; left > 0;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) return false;
        }
        std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
        std::ptrdiff_t n = file->Read(buffer.data(), want);
        if (n <= 0 || static_cast<std::size_t>(n) > want) return false;
        accumulator.Add(buffer.data(), static_cast<std::size_t>(n));
        left -= n;
    }
    return true;
}

void BackgroundFacts::Work() {
    try {
        failed = !SumKept();
    } catch (...) {
        failed = true;
    }
    for (;;) {
        std::size_t slot = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (filled == 0 && !stopping && !ending) {
                workerWaits = true;
                piecesReady.wait(lock, [this] { return stopping || ending || filled >= kWakeAt; });
                workerWaits = false;
            }
            if (stopping || filled == 0) return;
            slot = first;
        }
        // A piece already known to be of no use is only given back.
        if (!failed) {
            try {
                accumulator.Add(pieces[slot].data(), pieceSizes[slot]);
            } catch (...) {
                failed = true;
            }
        }
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            first = (first + 1) % kPieces;
            --filled;
            wake = transferWaits;
        }
        if (wake) pieceFree.notify_one();
    }
}

void BackgroundFacts::Add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        std::size_t n = std::min(size, kPieceSize);
        std::memcpy(Piece(), bytes, n);
        AddPiece(n);
        bytes += n;
        size -= n;
    }
}

char* BackgroundFacts::Piece() {
    // Without a worker (none started, or it has finished) one piece is enough.
    if (!worker.joinable()) return pieces[0].data();
    std::unique_lock<std::mutex> lock(mutex);
    if (filled == kPieces) {
        transferWaits = true;
        pieceFree.wait(lock, [this] { return filled < kPieces; });
        transferWaits = false;
    }
    // The worker moves `first` on only as it lets `filled` go down, so the next free piece
    // stays where it is until it is counted in.
    return pieces[(first + filled) % kPieces].data();
}

void BackgroundFacts::AddPiece(std::size_t size) {
    size = std::min(size, kPieceSize);
    if (withoutThread) {
        accumulator.Add(pieces[0].data(), size);
        return;
    }
    if (!worker.joinable()) return;  // after Finish
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Piece() left a free one here; the worker does not look at it until it is counted in.
        pieceSizes[(first + filled) % kPieces] = size;
        ++filled;
        wake = workerWaits && filled >= kWakeAt;
    }
    if (wake) piecesReady.notify_one();
}

bool BackgroundFacts::Finish(FileFacts& facts) {
    if (worker.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ending = true;
        }
        piecesReady.notify_all();
        worker.join();
    } else if (!withoutThread) {
        return false;  // already finished
    }
    if (failed) return false;
    failed = true;  // the accumulator is spent
    withoutThread = false;
    return accumulator.Finish(facts);
}

}  // namespace fw
