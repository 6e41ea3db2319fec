#include "download/transfer.h"

#include <limits>
#include <memory>
#include <vector>

#include "download/checksum.h"
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

    if (std::optional<FileStatus> status = platform.files.Stat(localPath);
        status && !status->isDirectory && status->size == expectedSize) {
        statusText.SetWindowText(Format("Checking previously downloaded %s...", title));
        FileCheck check = CheckFile(platform.files, localPath, expectedChecksum, expectedDigest);
        if (check == FileCheck::kMatches) {
            transferredBytes = WrappingAdd(transferredBytes, expectedSize);
            return true;
        }
        // Bytes that are not what the publisher signed must not stay where they could be run.
        if (check == FileCheck::kAltered) platform.files.Remove(localPath);
    }

    UpdaterSource source = SplitSourceUrl(sourceUrl);
    std::string server = source.secure ? "https://" + source.server : source.server;
    std::unique_ptr<HttpConnection> extraConnection;
    HttpConnection* connection = serverConnection.get();
    if (source.absolute && !(serverConnection && SameServer(server, serverConnection->Host()))) {
        if (internetSession) extraConnection = internetSession->Connect(server);
        connection = extraConnection.get();
    }
    std::unique_ptr<HttpRequest> request;
    if (connection) request = connection->OpenRequest("GET", source.object);

    bool result = false;
    auto finish = [&] {
        request.reset();
        extraConnection.reset();
        cancelButton.EnableWindow(false);
        exitButton.EnableWindow(true);
        return result;
    };
    if (!request) return finish();

    statusText.SetWindowText(Format("Downloading %s...", title));
    fileProgress.SetRange(0, 100);

    std::unique_ptr<WritableFile> file = platform.files.CreateFile(localPath);
    if (!file) {
        ShowMessage(*this, res::kStrError, MB_OK, res::kStrCannotCreateFile, localPath);
        return finish();
    }
    cancelRequested = 0;
    cancelButton.EnableWindow(true);
    exitButton.EnableWindow(false);

    // While the network keeps us waiting the window goes on answering, and a confirmed Cancel
    // ends the wait.
    WaitCallback whileWaiting = [this] {
        platform.ui.PumpMessages();
        return cancelRequested == 0;
    };
    int code = 0;
    if (!request->Send({}, {}, whileWaiting) || !request->QueryStatusCode(code)) {
        file->Close();
        // A wait given up for a confirmed Cancel is no error: it ends as a Cancel between
        // blocks does, with no file left.
        if (cancelRequested != 0) {
            file.reset();
            platform.files.Remove(localPath);
            return finish();
        }
        bool identity = request->LastFailure() == HttpFailure::kServerIdentity;
        ShowMessage(*this, res::kStrError, MB_OK,
                    identity ? res::kStrDownloadIdentity : res::kStrDownloadFailed, title);
        return finish();
    }
    if (code != 200) {
        ShowMessage(*this, res::kStrError, MB_OK, res::kStrNotOnServer, title, code);
        file->Close();
        return finish();
    }

    // Each block is read straight into its place in the buffer that goes to the disk.
    std::vector<char> pending(kBlockSize * kBlocksPerWrite);
    std::size_t pendingBytes = 0;
    std::int64_t written = 0;  // on the disk; behind `received` by the pending blocks
    // With a digest to match, the bytes are summed and hashed on their way to the disk, while
    // the network keeps sending: a second pass over the file would add its whole time.
    std::optional<FileFactsAccumulator> facts;
    if (expectedDigest) facts.emplace();
    auto writePending = [&] {
        if (facts) facts->Add(pending.data(), pendingBytes);
        bool ok = pendingBytes == 0 || file->Write(pending.data(), pendingBytes);
        if (ok) written += static_cast<std::int64_t>(pendingBytes);
        pendingBytes = 0;
        return ok;
    };
    std::int64_t received = 0;
    // An answer longer than announced can never pass the length check, and one that never ends
    // would fill the disk: reading stops as soon as it goes past the size.
    const std::int64_t sizeLimit = expectedSize > 0 ? expectedSize : kMaxUpdaterBytes;
    std::int32_t lastShownSeconds = -1;
    bool readFailed = false;
    bool tooLong = false;
    bool writeFailed = false;
    for (;;) {
        platform.ui.PumpMessages();
        if (cancelRequested) break;
        std::uint32_t tick = platform.system.GetTickCount();
        std::ptrdiff_t count =
            request->ReadBlock(pending.data() + pendingBytes, kBlockSize, whileWaiting);
        if (count == 0) break;
        if (count < 0) {
            // A wait given up for a confirmed Cancel ends like a cancel between blocks.
            readFailed = cancelRequested == 0;
            break;
        }
        if (received + count > sizeLimit) {
            tooLong = true;
            break;
        }
        rateWindow.AddSample(tick, static_cast<std::uint32_t>(count));
        pendingBytes += static_cast<std::size_t>(count);
        if (pending.size() - pendingBytes < kBlockSize && !writePending()) {
            writeFailed = true;
            break;
        }
        received += count;
        transferredBytes = WrappingAdd(transferredBytes, static_cast<std::int32_t>(count));
        UpdateProgressDisplay(received, expectedSize, lastShownSeconds);
    }
    if (!tooLong && !writeFailed && !writePending()) writeFailed = true;
    if (writeFailed) ShowMessage(*this, res::kStrError, MB_OK, res::kStrWriteFailed, localPath);
    bool closed = file->Close();
    file.reset();

    // The length that counts is what reached the disk: blocks that were received but could not
    // be written leave the file short.
    if (readFailed || tooLong || (expectedSize > 0 && written != expectedSize)) {
        // What arrived is known to be incomplete, so it must not be mistaken for an updater.
        platform.files.Remove(localPath);
        return finish();
    }
    FileCheck check = FileCheck::kDiffers;
    FileFacts sums;
    if (facts) {
        // Only a file that took every byte received holds what was summed.
        if (closed && !writeFailed && facts->Finish(sums)) {
            check = CompareFacts(sums, expectedChecksum, *expectedDigest);
        }
    } else if (closed) {
        check = CheckFile(platform.files, localPath, expectedChecksum, std::nullopt);
    }
    if (check == FileCheck::kMatches) {
        result = true;
    } else if (check == FileCheck::kAltered) {
        platform.files.Remove(localPath);
        ShowMessage(*this, res::kStrError, MB_OK, res::kStrFileAltered, title);
    } else {
        ShowMessage(*this, res::kStrError, MB_OK, res::kStrBadChecksum, title);
    }
    return finish();
}

}  // namespace fw
