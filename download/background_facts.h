#pragma once
// The size, checksum and digest of a download, computed on a thread of its own while the
// transfer goes on: the same results as FileFactsAccumulator, with the hashing off the path
// of the bytes to the disk.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "download/verify.h"
#include "platform/files.h"

namespace fw {

class BackgroundFacts {
public:
    // Pieces wait in a fixed pool: the transfer waits only when the hashing is that far behind,
    // and the memory stays bounded however fast the network is.
    static constexpr std::size_t kPieceSize = 64 * 1024;
    static constexpr std::size_t kPieces = 8;

    // `kept`, when given, holds the first `keptSize` bytes (the part kept from an earlier try):
    // they are read and summed first, while the rest arrives. When it is missing, or yields
    // other than exactly `keptSize` bytes, Finish gives false.
    explicit BackgroundFacts(std::unique_ptr<ReadableFile> kept = nullptr,
                             std::int64_t keptSize = 0);
    // Stops the work where it stands; the thread is joined and the kept file closed.
    ~BackgroundFacts();
    BackgroundFacts(const BackgroundFacts&) = delete;
    BackgroundFacts& operator=(const BackgroundFacts&) = delete;

    // The next bytes, copied; waits only while every piece of the pool is taken.
    void Add(const void* data, std::size_t size);
    // The next piece of the pool (kPieceSize bytes) to be filled in place, which spares the
    // copy; waits only while every piece is taken. It stays the same until AddPiece.
    char* Piece();
    // The piece from Piece() now holds `size` bytes and goes to the worker; it may still be
    // read (written to the disk, say) until the next call of Piece.
    void AddPiece(std::size_t size);
    // Waits for the sums of everything given. False when the hash failed, or the kept part
    // could not be read whole. The kept file is closed when this returns.
    bool Finish(FileFacts& facts);

private:
    void Work();
    bool SumKept();
    void Stop();

    FileFactsAccumulator accumulator;  // the worker's alone until it is joined
    std::unique_ptr<ReadableFile> kept;
    std::int64_t keptSize;
    bool failed = false;  // the worker's alone until it is joined

    std::array<std::vector<char>, kPieces> pieces;
    std::array<std::size_t, kPieces> pieceSizes{};
    std::mutex mutex;
    std::condition_variable piecesReady;  // for the worker
    std::condition_variable pieceFree;    // for the transfer
    // Guarded by `mutex`: the filled pieces are `first` and the `filled - 1` after it, in turn.
    std::size_t first = 0;
    std::size_t filled = 0;
    bool ending = false;    // nothing more will be added
    bool stopping = false;  // the sums are no longer wanted
    // Each side is woken only when it waits, and the worker only for a few pieces at once: a
    // wake-up for every piece would cost about as much as hashing it.
    bool workerWaits = false;
    bool transferWaits = false;

    // Without a thread (none could be started) the sums are made as the bytes come.
    bool withoutThread = false;
    std::thread worker;
};

}  // namespace fw
