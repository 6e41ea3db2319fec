#include "download/transfer.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/background_facts.h"
#include "download/checksum.h"
#include "download/resume.h"
#include "download/retry_after.h"
#include "download/verify.h"
#include "platform/path.h"
#include "platform/server_address.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"

namespace fw {

namespace {

constexpr std::size_t kBlockSize = 4096;
// Blocks go to the disk sixteen at a time: with one write per block the system calls, not the
// network, set the pace of a fast download.
constexpr std::size_t kBlocksPerWrite = 16;
// The largest size an "update" record can announce.
constexpr std::int64_t kMaxUpdaterBytes = std::numeric_limits<std::int32_t>::max();

bool IsReservedDeviceName(std::string_view name) {
    // The device names apply whatever the extension, and Windows ignores trailing dots and
    // blanks before it looks.
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.')) stem.remove_suffix(1);
    static constexpr std::string_view kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view device : kPlain) {
        if (EqualsNoCase(stem, device)) return true;
    }
    if (stem.size() == 4 && (EqualsNoCase(stem.substr(0, 3), "COM") ||
                             EqualsNoCase(stem.substr(0, 3), "LPT"))) {
        char digit = stem[3];
        return digit >= '0' && digit <= '9';
    }
    return false;
}

}  // namespace

bool IsSafeUpdaterFileName(std::string_view name, bool windowsRules) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || ch == '/' || ch == '\\' || ch == ':') return false;
    }
    if (windowsRules) {
        if (IsReservedDeviceName(name)) return false;
        // "a.exe." and "a.exe " name "a.exe" there; a name of only dots and blanks names the
        // folder itself.
        if (name.find_first_not_of(". ") == std::string_view::npos) return false;
    }
    return true;
}

std::string UpdaterFileName(std::string_view sourceUrl) {
    std::size_t slash = sourceUrl.rfind('/');
    return std::string(slash == std::string_view::npos ? sourceUrl : sourceUrl.substr(slash + 1));
}

UpdaterSource SplitSourceUrl(std::string_view sourceUrl) {
    constexpr std::string_view kSecureScheme = "https://";
    if (sourceUrl.size() > kSecureScheme.size() &&
        EqualsNoCase(sourceUrl.substr(0, kSecureScheme.size()), kSecureScheme)) {
        std::string_view rest = sourceUrl.substr(kSecureScheme.size());
        std::size_t slash = rest.find('/');
        std::string server(rest.substr(0, slash));
        std::string object(slash == std::string_view::npos ? "" : rest.substr(slash + 1));
        return {true, std::move(server), std::move(object), true};
    }
    constexpr std::string_view kScheme = "http://";
    if (sourceUrl.find(kScheme) == std::string_view::npos) {
        return {false, {}, std::string(sourceUrl)};
    }
    std::string rest(sourceUrl);
    for (std::size_t at = rest.find(kScheme); at != std::string::npos; at = rest.find(kScheme, at)) {
        rest.erase(at, kScheme.size());
    }
    std::size_t slash = rest.find('/');
    if (slash == std::string::npos) return {true, {}, rest};
    return {true, rest.substr(0, slash), rest.substr(slash + 1)};
}

namespace {

// The partial updater left by an earlier try, when it can be continued: its note agrees with
// what the definitions announce now, and it is shorter than the updater.
std::optional<PartialNote> ReadPartial(Files& files, const std::string& localPath,
                                       std::int32_t expectedSize, std::uint32_t expectedChecksum,
                                       std::int64_t& offset) {
    offset = 0;
    std::unique_ptr<ReadableFile> noteFile =
        files.OpenForReadingNoFollow(PartialNotePath(localPath));
    if (!noteFile) return std::nullopt;
    char text[2048];
    std::ptrdiff_t length = noteFile->Read(text, sizeof text);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof text) return std::nullopt;
    std::optional<PartialNote> note =
        ParsePartialNote(std::string_view(text, static_cast<std::size_t>(length)));
    if (!note || note->expectedSize != expectedSize ||
        note->expectedChecksum != expectedChecksum) {
        return std::nullopt;
    }
    std::optional<FileStatus> status = files.Stat(PartialPath(localPath));
    if (!status || status->isDirectory || status->size <= 0 || status->size >= expectedSize) {
        return std::nullopt;
    }
    offset = status->size;
    return note;
}

bool HasSize(Files& files, const std::string& path, std::int64_t size) {
    std::optional<FileStatus> status = files.Stat(path);
    return status && !status->isDirectory && status->size == size;
}

void RemovePartial(Files& files, const std::string& localPath) {
    files.Remove(PartialPath(localPath));
    files.Remove(PartialNotePath(localPath));
}

bool WritePartialNote(Files& files, const std::string& localPath, const PartialNote& note) {
    std::string path = PartialNotePath(localPath);
    files.Remove(path);
    std::unique_ptr<WritableFile> file = files.CreateNewFile(path);
    std::string text = FormatPartialNote(note);
    return file && file->Write(text.data(), text.size()) && file->Close();
}

}  // namespace

bool CUpdateDownloaderDlg::TransferFile(const std::string& sourceUrl, const std::string& localPath,
                                        std::int32_t expectedSize, std::uint32_t expectedChecksum,
                                        const std::optional<Sha256Digest>& expectedDigest) {
    std::string title = platform.files.GetFileTitle(localPath);

    // The name comes from the server: it must never lead out of the temp folder.
    std::string prefix = tempFolder + kPathSeparator;
    std::string_view name(localPath);
    bool inTemp = name.substr(0, prefix.size()) == prefix;
    if (!inTemp || !IsSafeUpdaterFileName(name.substr(prefix.size()), kPathSeparator == '\\')) {
        ShowMessage(*this, res::kStrError, MB_OK, res::kStrCannotCreateFile, localPath);
        return false;
    }

    if (HasSize(platform.files, localPath, expectedSize)) {
        statusText.SetWindowText(Format("Checking previously downloaded %s...", title));
        FileCheck check = CheckFile(platform.files, localPath, expectedChecksum, expectedDigest);
        if (check == FileCheck::kMatches) {
            RemovePartial(platform.files, localPath);
            transferredBytes = WrappingAdd(transferredBytes, expectedSize);
            return true;
        }
        // Bytes that are not what the publisher signed must not stay where they could be run.
        if (check == FileCheck::kAltered) platform.files.Remove(localPath);
    }

    const std::string partialPath = PartialPath(localPath);
    // One try at the file from one server. kNext: the server failed in a way another server
    // may not (no answer, an error status, a cut, a stall, bytes that fail their checks); its
    // message is shown only when no server is left to try.
    enum class Outcome { kDone, kFailed, kNext };
    auto tryServer = [&](HttpConnection& connection, const std::string& object,
                         bool lastServer) -> Outcome {
        // What another server may do better is said only when none is left, and not at all when
        // a busy server's question will follow.
        auto handOver = [&](int textId) {
            if (!lastServer) return Outcome::kNext;
            if (textId != 0 && !busyWaitSeconds) {
                ShowMessage(*this, res::kStrError, MB_OK, textId, title);
            }
            return Outcome::kFailed;
        };
        // A resumed file that fails its checks, or an answer that does not continue it, is
        // fetched whole once.
        for (bool mayResume = expectedSize > 0;; mayResume = false) {
            std::int64_t offset = 0;
            std::optional<PartialNote> partial;
            if (mayResume) {
                partial =
                    ReadPartial(platform.files, localPath, expectedSize, expectedChecksum, offset);
            }
            if (!partial) RemovePartial(platform.files, localPath);

            std::unique_ptr<HttpRequest> request = connection.OpenRequest("GET", object);
            if (!request) return handOver(0);

            statusText.SetWindowText(Format("Downloading %s...", title));
            fileProgress.SetRange(0, 100);
            cancelRequested = 0;
            cancelButton.EnableWindow(true);
            exitButton.EnableWindow(false);

            // While the network keeps us waiting the window goes on answering, and a confirmed
            // Cancel ends the wait.
            WaitCallback whileWaiting = [this] {
                platform.ui.PumpMessages();
                return cancelRequested == 0;
            };
            // The updater's name is taken at once, empty, so that a temp folder that cannot
            // hold it shows before anything is fetched; it gets bytes only once they pass every
            // check.
            if (std::unique_ptr<WritableFile> placeholder = platform.files.CreateFile(localPath);
                !placeholder || !placeholder->Close()) {
                ShowMessage(*this, res::kStrError, MB_OK, res::kStrCannotCreateFile, localPath);
                return Outcome::kFailed;
            }
            std::string headers;
            if (partial) {
                headers = "Range: bytes=" + std::to_string(offset) + "-\r\nIf-Range: " +
                          partial->validator;
            }
            int code = 0;
            if (!request->Send(headers, {}, whileWaiting) || !request->QueryStatusCode(code)) {
                // A wait given up for a confirmed Cancel is no error: it ends as a Cancel
                // between blocks does, with no file under the updater's name.
                if (cancelRequested != 0) {
                    platform.files.Remove(localPath);
                    return Outcome::kFailed;
                }
                bool identity = request->LastFailure() == HttpFailure::kServerIdentity;
                return handOver(identity ? res::kStrDownloadIdentity : res::kStrDownloadFailed);
            }
            std::string etag;
            std::string lastModified;
            request->QueryHeader("ETag", etag);
            request->QueryHeader("Last-Modified", lastModified);
            std::string validator = ChooseValidator(etag, lastModified);
            if (partial && code == 206) {
                std::string contentRange;
                // Only the rest of the same file, from the same version of it, may be appended.
                if (!request->QueryHeader("Content-Range", contentRange) ||
                    !ContentRangeContinues(contentRange, offset, expectedSize) ||
                    validator != partial->validator) {
                    RemovePartial(platform.files, localPath);
                    continue;
                }
            } else if (code == 200) {
                // Whatever was kept is replaced by the whole file.
                if (partial) RemovePartial(platform.files, localPath);
                partial.reset();
                offset = 0;
            } else {
                // A busy server's wait goes into the retry question instead of an error.
                NoteBusyWait(*request, code, platform.system.UnixTime(), busyWaitSeconds);
                if (!lastServer) return Outcome::kNext;
                if (!busyWaitSeconds) {
                    ShowMessage(*this, res::kStrError, MB_OK, res::kStrNotOnServer, title, code);
                }
                return Outcome::kFailed;
            }
            const bool resumed = partial.has_value();

            std::unique_ptr<WritableFile> file = resumed
                                                     ? platform.files.OpenForAppend(partialPath)
                                                     : platform.files.CreateNewFile(partialPath);
            if (!file && resumed) {
                // Something other than the part we left (a link, say) is under its name: it
                // goes, and the file is fetched whole.
                request.reset();
                RemovePartial(platform.files, localPath);
                continue;
            }
            if (!file) {
                ShowMessage(*this, res::kStrError, MB_OK, res::kStrCannotCreateFile, localPath);
                return Outcome::kFailed;
            }
            // Without a validator a partial file could not be told from another version's: it
            // is not kept.
            bool keepPartial = !validator.empty() && expectedSize > 0;
            if (!resumed && keepPartial &&
                !WritePartialNote(platform.files, localPath,
                                  {validator, expectedSize, expectedChecksum})) {
                keepPartial = false;
            }

            // Each block is read straight into its place in the buffer that goes to the disk.
            constexpr std::size_t kPendingCapacity = kBlockSize * kBlocksPerWrite;
            std::size_t pendingBytes = 0;
            std::int64_t written = offset;  // on the disk; behind `received` by pending blocks
            // With a digest to match, the bytes are summed and hashed on a thread of their own
            // while the network keeps sending, a kept part first, read back from the disk: a
            // second pass over the file would add its whole time, and hashing between the reads
            // would slow the transfer by as much.
            std::optional<BackgroundFacts> facts;
            if (expectedDigest && resumed) {
                facts.emplace(platform.files.OpenForReadingNoFollow(partialPath), offset);
            } else if (expectedDigest) {
                facts.emplace();
            }
            // Without a digest only the checksum is wanted, which costs less on this thread,
            // while the piece is in the cache, than reading the whole file back at the end.
            std::optional<ChecksumAccumulator> checksum;
            if (!expectedDigest && !resumed) checksum.emplace();
            // With the worker, that buffer is one of its pieces: the bytes are not copied to be
            // hashed, and the piece is hashed while it is written.
            static_assert(kPendingCapacity == BackgroundFacts::kPieceSize);
            std::vector<char> pending(facts ? 0 : kPendingCapacity);
            char* pendingData = facts ? facts->Piece() : pending.data();
            auto writePending = [&] {
                if (pendingBytes == 0) return true;
                if (facts) facts->AddPiece(pendingBytes);
                if (checksum) {
                    checksum->Update(reinterpret_cast<const unsigned char*>(pendingData),
                                     pendingBytes);
                }
                bool ok = file->Write(pendingData, pendingBytes);
                if (ok) written += static_cast<std::int64_t>(pendingBytes);
                pendingBytes = 0;
                if (facts) pendingData = facts->Piece();
                return ok;
            };
            // The bars start where the kept part ends; the rate, and so the time remaining,
            // counts only what arrives now. Like the bytes of a failed try, the kept part
            // counts again.
            std::int64_t received = offset;
            transferredBytes = WrappingAdd(transferredBytes, static_cast<std::int32_t>(offset));
            // An answer longer than announced can never pass the length check, and one that
            // never ends would fill the disk: reading stops as soon as it goes past the size.
            const std::int64_t sizeLimit = expectedSize > 0 ? expectedSize : kMaxUpdaterBytes;
            std::int32_t lastShownSeconds = -1;
            bool readFailed = false;
            bool tooLong = false;
            bool writeFailed = false;
            bool cancelled = false;
            for (;;) {
                platform.ui.PumpMessages();
                if (cancelRequested) {
                    cancelled = true;
                    break;
                }
                std::uint32_t tick = platform.system.GetTickCount();
                std::ptrdiff_t count =
                    request->ReadBlock(pendingData + pendingBytes, kBlockSize, whileWaiting);
                if (count == 0) break;
                if (count < 0) {
                    // A wait given up for a confirmed Cancel ends like a cancel between blocks.
                    cancelled = cancelRequested != 0;
                    readFailed = !cancelled;
                    break;
                }
                if (received + count > sizeLimit) {
                    tooLong = true;
                    break;
                }
                rateWindow.AddSample(tick, static_cast<std::uint32_t>(count));
                pendingBytes += static_cast<std::size_t>(count);
                if (kPendingCapacity - pendingBytes < kBlockSize && !writePending()) {
                    writeFailed = true;
                    break;
                }
                received += count;
                transferredBytes = WrappingAdd(transferredBytes, static_cast<std::int32_t>(count));
                UpdateProgressDisplay(received, expectedSize, lastShownSeconds);
            }
            if (!tooLong && !writeFailed && !writePending()) writeFailed = true;
            if (writeFailed) {
                ShowMessage(*this, res::kStrError, MB_OK, res::kStrWriteFailed, localPath);
            }
            bool closed = file->Close();
            file.reset();
            request.reset();

            // The length that counts is what reached the disk: blocks that were received but
            // could not be written leave the file short.
            if (readFailed || cancelled || tooLong ||
                (expectedSize > 0 && written != expectedSize)) {
                // A cut answer is kept to be continued, here or from the next server; anything
                // else that is known to be wrong goes. Either way it never takes the updater's
                // name.
                bool keep = keepPartial && closed && !writeFailed && !tooLong &&
                            written < expectedSize;
                // The kept part is let go before its name is.
                facts.reset();
                if (!keep) RemovePartial(platform.files, localPath);
                platform.files.Remove(localPath);
                if (cancelled || writeFailed || !closed) return Outcome::kFailed;
                return handOver(0);
            }
            FileCheck check = FileCheck::kDiffers;
            FileFacts sums;
            // Only a file that took every byte received holds what was summed; a resumed one
            // must also have kept exactly the part that was read back. When the kept part could
            // not be read beside the transfer, the finished file is read again, as it always was.
            bool summed = facts && facts->Finish(sums);
            if (checksum) {
                if (closed && !writeFailed) {
                    check = checksum->Value() == expectedChecksum ? FileCheck::kMatches
                                                                  : FileCheck::kDiffers;
                }
            } else if (summed && closed && !writeFailed &&
                       (!resumed || HasSize(platform.files, partialPath, expectedSize))) {
                check = CompareFacts(sums, expectedChecksum, *expectedDigest);
            } else if (closed && (!facts || resumed)) {
                check = CheckFile(platform.files, partialPath, expectedChecksum, expectedDigest);
            }
            if (check == FileCheck::kMatches) {
                platform.files.Remove(PartialNotePath(localPath));
                if (!platform.files.Rename(partialPath, localPath)) {
                    RemovePartial(platform.files, localPath);
                    ShowMessage(*this, res::kStrError, MB_OK, res::kStrCannotCreateFile,
                                localPath);
                    return Outcome::kFailed;
                }
                return Outcome::kDone;
            }
            // Bytes that fail their checks are of no use to a later try either.
            RemovePartial(platform.files, localPath);
            platform.files.Remove(localPath);
            if (resumed) continue;
            return handOver(check == FileCheck::kAltered ? res::kStrFileAltered
                                                         : res::kStrBadChecksum);
        }
    };

    // An updater named by its place on the update server is on every mirror of it, tried from
    // the one that last served well; one named by an address of its own is only there.
    UpdaterSource source = SplitSourceUrl(sourceUrl);
    std::vector<std::string> servers;
    std::size_t first = 0;
    if (source.absolute) {
        servers.push_back(source.secure ? "https://" + source.server : source.server);
    } else {
        servers = ServerList(updateServer);
        first = mirrorIndex < servers.size() ? mirrorIndex : 0;
    }
    for (std::size_t k = 0; k < servers.size(); ++k) {
        const std::size_t index = (first + k) % servers.size();
        const bool lastServer = k + 1 == servers.size();
        std::unique_ptr<HttpConnection> extraConnection;
        HttpConnection* connection = nullptr;
        bool shared = source.absolute
                          ? serverConnection && SameServer(servers[index], serverConnection->Host())
                          : serverConnection && index == mirrorIndex;
        if (shared) {
            connection = serverConnection.get();
        } else if (internetSession) {
            extraConnection = internetSession->Connect(servers[index]);
            connection = extraConnection.get();
        }
        Outcome outcome = Outcome::kNext;
        if (connection) outcome = tryServer(*connection, source.object, lastServer);
        if (outcome == Outcome::kNext) continue;
        cancelButton.EnableWindow(false);
        exitButton.EnableWindow(true);
        // The next file is asked of the server that served this one.
        if (outcome == Outcome::kDone && !source.absolute && !shared && extraConnection) {
            serverConnection = std::move(extraConnection);
            mirrorIndex = index;
        }
        return outcome == Outcome::kDone;
    }
    cancelButton.EnableWindow(false);
    exitButton.EnableWindow(true);
    return false;
}

}  // namespace fw
