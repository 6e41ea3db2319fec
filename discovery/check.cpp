#include <algorithm>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "discovery/definitions.h"
#include "discovery/definitions_cache.h"
#include "discovery/definitions_trust.h"
#include "discovery/inventory.h"
#include "download/progress.h"
#include "download/retry_after.h"
#include "download/transfer.h"
#include "platform/server_address.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/name_set.h"
#include "session/update_downloader_dlg.h"

namespace fw {
namespace {

// The code that message 115 shows when the definitions stop arriving part way: the answer
// cannot be trusted, and the check can be tried again.
constexpr int kCodeAnswerBroken = -4;

// Records that expect the same file: whichever source it came from, the one file in temp then
// passes the checks of each of them.
bool SameUpdater(const UpdateEntry& a, const UpdateEntry& b) {
    bool sameDigest = a.expectedDigest && b.expectedDigest
                          ? *a.expectedDigest == *b.expectedDigest
                          : a.expectedDigest == b.expectedDigest;
    return a.expectedSize == b.expectedSize && a.expectedChecksum == b.expectedChecksum &&
           sameDigest;
}

// Every updater is saved in the one temp folder under its own file name, so two different
// updaters of one name would overwrite each other and one would run for the other's template.
// Such definitions are refused as a whole: which of the two was meant cannot be known. Records
// that expect the very same file share it. The first clash found, or nullptrs.
std::pair<const UpdateEntry*, const UpdateEntry*> FindUpdaterNameClash(
    const EntryArray& entries, const NameSet& installed) {
    // Names as the case-blind file systems of Windows compare them, on every host alike.
    std::unordered_map<std::string, const UpdateEntry*> byName;
    for (std::size_t i = 0; i < entries.GetSize(); ++i) {
        const UpdateEntry& entry = entries[i];
        if (!installed.Contains(entry.templateName)) continue;
        auto [it, added] = byName.emplace(FoldNameCase(UpdaterFileName(entry.sourceUrl)), &entry);
        if (!added && !SameUpdater(*it->second, entry)) return {it->second, &entry};
    }
    return {nullptr, nullptr};
}

}  // namespace

void CUpdateDownloaderDlg::CheckForUpdates() {
    bool beta = (betaCheckBox.GetState() & BST_CHECKED) != 0;
    workflowState = WorkflowState::Checking;
    autoInstall = !platform.system.IsShiftDown();
    const std::string& file = beta ? betaDefinitionsFile : releaseDefinitionsFile;

    std::unique_ptr<HttpRequest> request;
    DefinitionsCache cache(platform.files, platform.system.CacheFolder());
    auto cleanUp = [&] {
        request.reset();
        serverConnection.reset();
        internetSession.reset();
    };
    auto show = [&](const Refusal& refusal) {
        // A check the user broke off needs no message about its broken answer.
        if (platform.ui.StopRequested()) return;
        ShowMessageV(*this, refusal.textId == res::kStrNoBeta ? res::kStrNote : res::kStrError,
                     MB_OK, refusal.textId, refusal.Args());
    };

    // While the server keeps us waiting the window goes on painting, but takes no input; a
    // console run can still be stopped.
    WaitCallback repaint = [this] {
        platform.ui.RepaintPending();
        return !platform.ui.StopRequested();
    };

    const std::string infoServerBefore = infoServer;
    const std::string infoPathBefore = infoPath;
    const std::vector<std::string> servers = ServerList(updateServer);
    NameSet installed;
    // With keys built in, nothing of the answer is used before its signature is checked.
    TrustedAnswer trusted;
    // The server answered that the kept copy is still current; refusing it deletes it, so that
    // the next check fetches the definitions whole.
    bool reuse = false;
    // What to keep of an answer that passes every check.
    KeptDefinitions fetched;
    // Asks one server and reads its definitions; a refusal when they cannot be used.
    auto checkServer = [&](const std::string& server,
                           std::optional<std::uint32_t>& busySeconds) -> Refusal {
        // Whatever an earlier server's answer added goes: a check starts from what the
        // inventory found, so that no template is listed twice.
        updateEntries.Truncate(0);
        if (installedSystems.size() > inventorySize) installedSystems.resize(inventorySize);
        availableVersion.clear();
        infoServer = infoServerBefore;
        infoPath = infoPathBefore;
        trusted = TrustedAnswer{};
        reuse = false;
        fetched = KeptDefinitions{server, {}, {}, {}, !platform.trustedKeys.empty()};
        request.reset();
        serverConnection = internetSession->Connect(server);
        if (!serverConnection) return Refusal{res::kStrNoConnection, {server}};
        request = serverConnection->OpenRequest("GET", "UpDefs/" + file);
        if (!request) return Refusal{res::kStrUnavailable, {}, -1};
        // Only a copy kept from this very server is asked about.
        std::optional<KeptDefinitions> kept =
            cache.Load(file, server, !platform.trustedKeys.empty());
        if (!request->Send(kept ? ConditionalHeaders(*kept) : std::string(), {}, repaint)) {
            if (request->LastFailure() == HttpFailure::kServerIdentity) {
                return Refusal{res::kStrServerIdentity, {server}};
            }
            return Refusal{res::kStrUnavailable, {}, -2};
        }
        int status = 0;
        if (!request->QueryStatusCode(status)) return Refusal{res::kStrUnavailable, {}, -3};
        if (status == 304 && !kept) {
            // Nothing was asked for that a 304 could answer: asked once more, without
            // conditions.
            request = serverConnection->OpenRequest("GET", "UpDefs/" + file);
            if (!request || !request->Send({}, {}, repaint)) {
                return Refusal{res::kStrUnavailable, {}, -2};
            }
            if (!request->QueryStatusCode(status)) return Refusal{res::kStrUnavailable, {}, -3};
        }
        reuse = status == 304 && kept;
        if (!reuse) {
            request->QueryHeader("ETag", fetched.etag);
            request->QueryHeader("Last-Modified", fetched.lastModified);
        }
        if (status != 200 && !reuse) {
            // A busy server that says when to come back is left alone that long.
            NoteBusyWait(*request, status, platform.system.UnixTime(), busySeconds);
            if (beta) return Refusal{res::kStrNoBeta, {}};
            return Refusal{res::kStrUnavailable, {}, status};
        }

        betaCheckBox.EnableWindow(false);
        if (!platform.trustedKeys.empty()) {
            if (Refusal refusal =
                    reuse ? CheckTrustedDefinitions(std::move(kept->bytes), file,
                                                    platform.trustedKeys, platform.registry,
                                                    platform.system.UnixTime(), trusted)
                          : ReadTrustedDefinitions(*request, file, platform.trustedKeys,
                                                   platform.registry, platform.system.UnixTime(),
                                                   trusted, repaint)) {
                return refusal;
            }
        }
        installed = NameSet{};
        installed.Reserve(installedSystems.size());
        for (const std::string& name : installedSystems) installed.Insert(name);
        DefinitionsTarget target{availableVersion, updateEntries, installedSystems, infoServer,
                                 infoPath, &installed};
        AnswerLines keptLines;
        if (reuse && !trusted.active) keptLines.Load(std::move(kept->bytes), kMaxDefinitionsBytes);
        std::string line;
        std::size_t received = 0;
        bool anyRecord = false;
        for (;;) {
            ReadStatus read = trusted.active ? trusted.NextLine(line)
                              : reuse        ? keptLines.NextLine(line)
                                             : request->ReadLine(line, repaint);
            if (read == ReadStatus::kEnd) break;
            if (read == ReadStatus::kError) return Refusal{res::kStrUnavailable, {}, kCodeAnswerBroken};
            received += line.size() + 1;
            if (cache.Enabled() && !reuse && !trusted.active) {
                fetched.bytes += line;
                fetched.bytes += '\n';
            }
            // Definitions beyond any sensible size are not definitions; stop before memory runs
            // out.
            if (read == ReadStatus::kTooLong || received > kMaxDefinitionsBytes) {
                return Refusal{res::kStrBadFormat, {}};
            }
            LineResult result = ApplyDefinitionLine(line, target);
            anyRecord = anyRecord || result.known;
            if (result.outcome == LineOutcome::kBadFormat) return Refusal{res::kStrBadFormat, {}};
            if (result.outcome == LineOutcome::kTooNew) {
                return Refusal{res::kStrNewerDefinitions, {result.versionText}, res::kAppVersion};
            }
        }
        if (!anyRecord) return Refusal{res::kStrBadFormat, {}};
        if (auto [first, second] = FindUpdaterNameClash(updateEntries, installed); first) {
            return Refusal{res::kStrUpdaterNameClash,
                           {first->templateName, second->templateName,
                            UpdaterFileName(second->sourceUrl)}};
        }

        // Definitions that came over TLS keep everything they name on TLS: the update request
        // carries the install folder, and a signature binds an updater's bytes, not its
        // privacy.
        std::optional<ServerAddress> from = ParseServerAddress(server);
        if (from && from->secure) {
            std::optional<ServerAddress> info = ParseServerAddress(infoServer);
            if (infoServer != infoServerBefore && !(info && info->secure)) {
                std::string named = infoServer;
                infoServer = infoServerBefore;
                return Refusal{res::kStrPlainInfoServer, {named}};
            }
            for (std::size_t i = 0; i < updateEntries.GetSize(); ++i) {
                UpdaterSource source = SplitSourceUrl(updateEntries[i].sourceUrl);
                if (source.absolute && !source.secure) {
                    return Refusal{res::kStrPlainUpdater, {updateEntries[i].sourceUrl}};
                }
            }
        }
        return Refusal{};
    };

    // The servers are asked in order, and the first whose definitions pass every check is the
    // one: a server that cannot be reached, is busy, breaks off or serves what cannot be used
    // (a stale or damaged mirror) hands over to the next. What the last one said is shown, or,
    // when one of them was busy, the question whether to try again after its wait.
    for (;;) {
        internetSession = platform.http.OpenSession(res::kAppName);
        if (!internetSession) {
            show(Refusal{res::kStrNoSession, {}});
            return cleanUp();
        }
        std::optional<std::uint32_t> busySeconds;
        Refusal refusal;
        for (std::size_t i = 0; i < servers.size(); ++i) {
            refusal = checkServer(servers[i], busySeconds);
            if (!refusal) {
                mirrorIndex = i;
                break;
            }
            if (platform.ui.StopRequested()) return cleanUp();
            if (reuse) cache.Remove(file);
        }
        if (!refusal) break;
        if (busySeconds && !platform.ui.StopRequested()) {
            cleanUp();
            if (ShowMessage(*this, res::kStrRetryCaption, MB_YESNO, res::kStrCheckBusyQuestion,
                            static_cast<int>(*busySeconds)) != IDYES) {
                return;
            }
            continue;
        }
        show(refusal);
        return cleanUp();
    }

    if (sendUpdateRequest) SendUpdateRequest(beta);

    totalBytes = 0;
    updateList.ResetContent();
    int position = 0;
    for (std::size_t i = 0; i < updateEntries.GetSize(); ++i) {
        const UpdateEntry& entry = updateEntries[i];
        if (!installed.Contains(entry.templateName)) continue;
        updateList.InsertString(position++, entry.templateName);
        totalBytes = WrappingAdd(totalBytes, entry.expectedSize);
    }

    checkButton.EnableWindow(false);
    checkButton.SetButtonStyle(BS_PUSHBUTTON, true);
    downloadButton.SetButtonStyle(BS_DEFPUSHBUTTON, true);
    downloadButton.EnableWindow(true);
    downloadButton.SetFocus();
    workflowState = WorkflowState::Listed;
    std::string size = FormatSize(totalBytes);
    ++stepNumber;
    SetDlgItemText(res::kIdInstructions,
                   Format(res::LoadString(res::kStrListed), stepNumber, availableVersion, size));
    request.reset();
    if (trusted.active) RememberSerial(platform.registry, file, trusted.serial);
    if (cache.Enabled() && !reuse) {
        if (trusted.active) fetched.bytes = trusted.Bytes();
        cache.Save(file, fetched);
    }
}

}  // namespace fw
