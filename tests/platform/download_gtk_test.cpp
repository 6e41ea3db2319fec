// The real main dialog on the GTK host, downloading from a loopback server that sends slowly,
// stops sending, or sends fast enough that the host skips most of its pumps: the window must go
// on answering (its timers fire, its progress bar repaints) and the real Cancel button must
// stop the transfer at once. CI runs this under xvfb-run.

#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "download/checksum.h"
#include "platform/curl/http_client_curl.h"
#include "platform/gtk/dialog_backend_gtk.h"
#include "platform/gtk/system_gtk.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/ui/win_constants.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"
#include "tests/support/pe_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/update-server/update_server.h"

// The toolkit keeps font and bus caches for the life of the process, which the leak checker of
// a sanitizer build would report; leaks of our own still show.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:libglib-2.0.so\n";
}

namespace fw {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

constexpr unsigned kDriveTimer = 910;  // the test's user: looks and acts on every tick
constexpr unsigned kProbeTimer = 911;  // only records when it fires and what the bar shows
constexpr unsigned kDrivePeriodMs = 20;
constexpr unsigned kProbePeriodMs = 50;
// Every step of the user waits at most this long: generous for a loaded machine, but a window
// that stops answering fails the test instead of hanging it.
constexpr auto kStepDeadline = std::chrono::seconds(20);
constexpr std::intptr_t kGiveUp = -99;

// The main dialog exactly as the program runs it, with two timers of the test's own beside the
// dialog's message table. The timers are the host's (GLib timeouts), so they fire only when
// the window's events are being dispatched.
class ObservedDownloaderDlg : public CUpdateDownloaderDlg {
  public:
    using CUpdateDownloaderDlg::CUpdateDownloaderDlg;

    std::function<void()> onDrive;
    std::function<void()> onProbe;

    bool OnInitDialog() override {
        bool result = CUpdateDownloaderDlg::OnInitDialog();
        SetTimer(kDriveTimer, kDrivePeriodMs);
        SetTimer(kProbeTimer, kProbePeriodMs);
        return result;
    }

  protected:
    DispatchResult DispatchMessageMap(const Message& message) override {
        if (message.kind == MessageKind::kTimer) {
            if (message.id == static_cast<int>(kDriveTimer)) {
                if (onDrive) onDrive();
                return {true, nullptr};
            }
            if (message.id == static_cast<int>(kProbeTimer)) {
                if (onProbe) onProbe();
                return {true, nullptr};
            }
        }
        return CUpdateDownloaderDlg::DispatchMessageMap(message);
    }
};

struct SlowServerCase {
    const char* what;
    std::size_t size;
    ServerFault fault;
    // The user gives up once the file's bar has shown this much (slow server), or once no byte
    // has come for `quietMs` (stalled server; `stalls`).
    double giveUpAtFraction;
    bool stalls;
    int quietMs;
};

enum class Phase { kShown, kListed, kDownloading, kCancelBox, kRetryBox, kAbandoned, kExiting };

// What the test's user saw, for the assertions after the dialog has ended.
struct Observations {
    Phase phase = Phase::kShown;
    Clock::time_point phaseSince = Clock::now();
    bool givingUp = false;

    Clock::time_point downloadStart{};
    Clock::time_point cancelClicked{};
    bool exitEnabledWhileDownloading = true;
    std::vector<Clock::time_point> probeFires;  // while downloading, before the Cancel click
    std::vector<double> drawnFractions;         // the file bar, each time it changed on screen

    int paintsAtStart = 0;   // the main window's frames when the transfer began
    int paintsAtCancel = 0;  // ... and when Cancel was clicked
    int paintsBehindBox = -1;

    std::int32_t lastBytes = -1;
    Clock::time_point lastBytesChange{};
    std::int32_t bytesAtCancel = 0;

    std::optional<GtkMessageBoxView> cancelBox;
    Clock::time_point yesAnswered{};
    std::optional<GtkMessageBoxView> retryBox;
    Clock::time_point retryShown{};
    bool fileAtRetry = true;
    bool cancelEnabledAtRetry = true;
    bool exitEnabledAtRetry = false;
};

class DownloadGtkTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const char* display = std::getenv("DISPLAY");
        available =
            display != nullptr && *display != '\0' && GtkBackend::InitToolkit(nullptr, nullptr);
    }

    void SetUp() override {
        if (!available) {
            GTEST_SKIP() << "no X display (DISPLAY is unset or unusable); run under xvfb-run";
        }
        installFolder = dir.Path("Fablewright");
        fs::create_directories(installFolder);
        fs::create_directories(dir.Path("server/UpDefs"));
        ASSERT_TRUE(test::WriteBinaryFile(installFolder + "/Fablewright.exe",
                                          test::MakePeWithVersion(test::PackVersion(2, 1, 0, 7))));
        registry = std::make_unique<PosixRegistry>(dir.Path("registry.reg"));
        std::unique_ptr<RegistryKey> key =
            registry->CreateKey(res::LoadString(res::kStrRegistryKey));
        ASSERT_TRUE(key);
        ASSERT_TRUE(key->SetValue(res::LoadString(res::kStrInstallDirKey), installFolder));
        ASSERT_TRUE(http.Startup());
        server = std::make_unique<UpdateServer>(dir.Path("server"));
        ASSERT_TRUE(server->Start(0));
        gtk = std::make_unique<GtkBackend>();
        host = server->HostText();
        argv[2] = argv[4] = host.c_str();
    }

    // The program's services on the GTK host; `argv` points it at the loopback server.
    Platform MainPlatform() {
        return Platform{*gtk, http, *registry, files, processes, system, NoTrustedKeys()};
    }

    void TearDown() override {
        if (server) server->Stop();
    }

    // Serves files/a.exe of `size` random bytes and lists it as the product's update.
    void ServeUpdater(std::size_t size) {
        std::mt19937 random(7);
        std::string contents(size, '\0');
        for (char& c : contents) c = static_cast<char>(random() & 0xFF);
        std::string served = dir.Write("server/files/a.exe", contents);
        std::uint32_t checksum = 0;
        ASSERT_TRUE(FileChecksum(files, served, checksum));
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", checksum);
        dir.Write(
            "server/UpDefs/FablewrightUpdates.txt",
            "version~4\nupdate~Fablewright~files/a.exe~" + std::to_string(size) + "~" + hex + "\n");
    }

    std::string TempPath(const std::string& name) const { return installFolder + "/temp/" + name; }

    // Check, Download, and Cancel once the case says so; Yes to "Cancel Download?" and No to
    // "Try Again?", then Exit. Every action goes through the window system or the boxes' own
    // buttons, from the drive timer.
    std::intptr_t RunAndCancel(const SlowServerCase& c, Observations& o) {
        Platform platform = MainPlatform();
        ObservedDownloaderDlg dlg(platform, 5, argv);
        auto enter = [&](Phase next) {
            o.phase = next;
            o.phaseSince = Clock::now();
        };
        dlg.onProbe = [&] {
            if (o.phase != Phase::kDownloading) return;
            o.probeFires.push_back(Clock::now());
            std::optional<double> shown =
                gtk->DrawnProgressFraction(dlg.GetSafeHwnd(), res::kIdFileProgress);
            if (shown && (o.drawnFractions.empty() || *shown != o.drawnFractions.back())) {
                o.drawnFractions.push_back(*shown);
            }
        };
        dlg.onDrive = [&] {
            WindowHandle w = dlg.GetSafeHwnd();
            Clock::time_point now = Clock::now();
            if (o.givingUp) {
                // Whatever is open gets its last answer (No, OK), until the dialog can end.
                if (std::optional<GtkMessageBoxView> box = gtk->ActiveMessageBox()) {
                    gtk->AnswerMessageBox(box->answers.empty() ? IDOK : box->answers.back());
                } else {
                    dlg.EndDialog(kGiveUp);
                }
                return;
            }
            if (now - o.phaseSince > kStepDeadline) {
                ADD_FAILURE() << c.what << ": step " << static_cast<int>(o.phase)
                              << " never finished";
                o.givingUp = true;
                dlg.cancelRequested = 1;
                return;
            }
            switch (o.phase) {
                case Phase::kShown: {
                    auto layout = gtk->DescribeLayout(w);
                    if (gtk->IsShown(w) && !layout.empty() && layout.front().width > 1 &&
                        gtk->SimulateClick(w, res::kIdCheck)) {
                        enter(Phase::kListed);
                    }
                    break;
                }
                case Phase::kListed:
                    if (gtk->ListCount(w, res::kIdUpdateList) == 1 &&
                        gtk->IsEnabled(w, res::kIdDownload) &&
                        gtk->SimulateClick(w, res::kIdDownload)) {
                        enter(Phase::kDownloading);
                    }
                    break;
                case Phase::kDownloading: {
                    if (!gtk->IsEnabled(w, res::kIdCancel)) break;  // not writing yet
                    if (o.downloadStart == Clock::time_point{}) {
                        o.downloadStart = now;
                        o.exitEnabledWhileDownloading = gtk->IsEnabled(w, res::kIdExit);
                        o.paintsAtStart = gtk->PaintCount(w);
                    }
                    if (dlg.transferredBytes != o.lastBytes) {
                        o.lastBytes = dlg.transferredBytes;
                        o.lastBytesChange = now;
                    }
                    bool giveUp = false;
                    if (c.stalls) {
                        giveUp = o.lastBytes > 0 &&
                                 now - o.lastBytesChange > std::chrono::milliseconds(c.quietMs);
                    } else {
                        giveUp = !o.drawnFractions.empty() &&
                                 o.drawnFractions.back() >= c.giveUpAtFraction;
                    }
                    if (giveUp && gtk->SimulateClick(w, res::kIdCancel)) {
                        o.cancelClicked = now;
                        o.paintsAtCancel = gtk->PaintCount(w);
                        o.bytesAtCancel = dlg.transferredBytes;
                        enter(Phase::kCancelBox);
                    }
                    break;
                }
                case Phase::kCancelBox: {
                    std::optional<GtkMessageBoxView> box = gtk->ActiveMessageBox();
                    if (!box || box->title != res::LoadString(res::kStrCancelCaption)) break;
                    // The window behind the question still paints what changes in it.
                    if (o.paintsBehindBox < 0) {
                        o.paintsBehindBox = gtk->PaintCount(w);
                        gtk->SetText(w, res::kIdStatus, "Behind the question");
                        break;
                    }
                    if (gtk->PaintCount(w) == o.paintsBehindBox) break;
                    o.cancelBox = box;
                    o.yesAnswered = Clock::now();
                    gtk->AnswerMessageBox(IDYES);
                    enter(Phase::kRetryBox);
                    break;
                }
                case Phase::kRetryBox: {
                    std::optional<GtkMessageBoxView> box = gtk->ActiveMessageBox();
                    if (!box) break;
                    o.retryShown = now;
                    o.retryBox = box;
                    o.fileAtRetry = fs::exists(TempPath("a.exe"));
                    o.cancelEnabledAtRetry = gtk->IsEnabled(w, res::kIdCancel);
                    o.exitEnabledAtRetry = gtk->IsEnabled(w, res::kIdExit);
                    gtk->AnswerMessageBox(IDNO);
                    enter(Phase::kAbandoned);
                    break;
                }
                case Phase::kAbandoned:
                    // The run is over once nothing is open and Exit leads on.
                    if (!gtk->ActiveMessageBox() && gtk->IsEnabled(w, res::kIdExit)) {
                        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed) << c.what;
                        EXPECT_FALSE(gtk->IsEnabled(w, res::kIdCancel)) << c.what;
                        EXPECT_FALSE(gtk->IsEnabled(w, res::kIdDownload)) << c.what;
                        EXPECT_FALSE(gtk->IsEnabled(w, res::kIdInstall)) << c.what;
                        EXPECT_FALSE(dlg.internetSession) << c.what;
                        EXPECT_TRUE(dlg.downloadedFiles.empty()) << c.what;
                        if (gtk->SimulateClick(w, res::kIdExit)) enter(Phase::kExiting);
                    }
                    break;
                case Phase::kExiting:
                    break;  // OnExit ends the dialog
            }
        };
        return dlg.DoModal();
    }

    static bool available;
    std::string host;
    const char* argv[5] = {"fablewright-update", "-server", nullptr, "-infoserver", nullptr};
    test::TempDir dir;
    std::string installFolder;
    CurlHttpClient http;
    PosixFiles files;
    PosixProcesses processes;
    GtkSystem system;
    std::unique_ptr<PosixRegistry> registry;
    std::unique_ptr<UpdateServer> server;
    std::unique_ptr<GtkBackend> gtk;
};
bool DownloadGtkTest::available = false;

double MedianMs(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

TEST_F(DownloadGtkTest, WindowAnswersAndCancelStopsTheTransferAtAnyPace) {
    ServerFault slow;
    slow.bytesPerSecond = 400000;  // the whole file would take more than ten seconds
    ServerFault stalled = slow;
    stalled.stallAfter = 256u << 10;
    stalled.stallFor = std::chrono::minutes(2);
    // Fast enough that blocks come much closer together than the host's pump interval.
    ServerFault fast;
    fast.bytesPerSecond = 16000000;
    const SlowServerCase cases[] = {
        {"slow server", 4u << 20, slow, 0.12, false, 0},
        {"stalled server", 4u << 20, stalled, 0, true, 700},
        {"fast server", 48u << 20, fast, 0.2, false, 0},
    };
    for (const SlowServerCase& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(TempPath(""));
        server->ClearRequests();
        server->ClearFaults();
        ServeUpdater(c.size);
        server->SetFault("/files/a.exe", c.fault);

        Observations o;
        std::intptr_t result = RunAndCancel(c, o);
        ASSERT_EQ(result, IDCANCEL) << "the run did not end through Exit";
        ASSERT_EQ(o.phase, Phase::kExiting);

        // While the transfer ran, the window went on dispatching its events: the probe timer
        // kept its period, also while the server sent nothing at all.
        double downloadingMs = Millis(o.cancelClicked - o.downloadStart).count();
        ASSERT_GT(downloadingMs, 300.0);
        ASSERT_GE(o.probeFires.size(), 3u);
        std::vector<double> gaps;
        for (std::size_t i = 1; i < o.probeFires.size(); ++i) {
            gaps.push_back(Millis(o.probeFires[i] - o.probeFires[i - 1]).count());
        }
        EXPECT_GE(static_cast<double>(o.probeFires.size()), 0.4 * downloadingMs / kProbePeriodMs)
            << "the probe timer fired " << o.probeFires.size() << " times in " << downloadingMs
            << " ms";
        EXPECT_LE(MedianMs(gaps), 2.0 * kProbePeriodMs);
        EXPECT_GE(MedianMs(gaps), 0.8 * kProbePeriodMs);
        EXPECT_LE(*std::max_element(gaps.begin(), gaps.end()), 750.0);
        EXPECT_FALSE(o.exitEnabledWhileDownloading);
        // The bars changed with every 1%, yet the window painted at most ten frames a second.
        int frames = o.paintsAtCancel - o.paintsAtStart;
        EXPECT_LE(frames, static_cast<int>(downloadingMs / 100) + 3) << downloadingMs << " ms";
        std::printf(
            "  %s: %zu probe fires in %.0f ms (median gap %.1f ms, longest %.1f ms), "
            "%d frames, %zu repaints of the bar, question after Yes in %.0f ms\n",
            c.what, o.probeFires.size(), downloadingMs, MedianMs(gaps),
            *std::max_element(gaps.begin(), gaps.end()), frames, o.drawnFractions.size(),
            Millis(o.retryShown - o.yesAnswered).count());

        // ... and the file's bar was repainted as the bytes came: several distinct, growing
        // fractions reached the screen.
        ASSERT_GE(o.drawnFractions.size(), 3u);
        EXPECT_TRUE(std::is_sorted(o.drawnFractions.begin(), o.drawnFractions.end()));
        EXPECT_GT(o.drawnFractions.back(), o.drawnFractions.front());
        EXPECT_LT(o.drawnFractions.back(), 1.0);  // the user gave up long before the end
        if (c.stalls) {
            EXPECT_EQ(o.bytesAtCancel, static_cast<std::int32_t>(*c.fault.stallAfter));
        } else {
            EXPECT_GE(o.drawnFractions.back(), c.giveUpAtFraction);
        }

        // The real Cancel button asked first, and Yes stopped the transfer at once, stalled
        // server or not; the retry question followed.
        ASSERT_TRUE(o.cancelBox);
        EXPECT_EQ(o.cancelBox->text, res::LoadString(res::kStrCancelQuestion));
        EXPECT_EQ(o.cancelBox->answers, (std::vector<int>{IDYES, IDNO}));
        ASSERT_TRUE(o.retryBox);
        EXPECT_EQ(o.retryBox->title, res::LoadString(res::kStrRetryCaption));
        EXPECT_EQ(o.retryBox->text,
                  Format(res::LoadString(res::kStrRetryQuestion), TempPath("a.exe")));
        EXPECT_LT(Millis(o.retryShown - o.yesAnswered).count(), 1000.0);
        // The transfer had ended before asking: the partial file was gone, Cancel off, Exit on.
        EXPECT_FALSE(o.fileAtRetry);
        EXPECT_FALSE(o.cancelEnabledAtRetry);
        EXPECT_TRUE(o.exitEnabledAtRetry);
        EXPECT_FALSE(fs::exists(TempPath("a.exe")));
        int requests = 0;
        for (const RecordedRequest& r : server->Requests()) requests += r.path == "/files/a.exe";
        EXPECT_EQ(requests, 1);
    }
}

// Runs the main dialog through `steps`, one per tick of the drive timer until it reports done;
// a step that never finishes fails the test and ends the dialog.
std::intptr_t RunSteps(ObservedDownloaderDlg& dlg, std::vector<std::function<bool()>> steps) {
    std::size_t next = 0;
    Clock::time_point since = Clock::now();
    dlg.onDrive = [&] {
        if (next >= steps.size()) return;
        if (steps[next]()) {
            ++next;
            since = Clock::now();
        } else if (Clock::now() - since > kStepDeadline) {
            ADD_FAILURE() << "step " << next << " never finished";
            next = steps.size();
            dlg.EndDialog(kGiveUp);
        }
    };
    return dlg.DoModal();
}

// A template name of 10,000 characters and an updater whose name makes a 5,000-character path:
// the window keeps its size, the list shows the name cut to its width with the whole of it in
// the row's tooltip, the message about the file wraps within the screen, and Exit ends the
// program.
TEST_F(DownloadGtkTest, ServerTextsOfAnyLengthStayWithinTheScreen) {
    const std::string name(10000, 'W');
    const std::string file(5000, 'f');
    dir.Write("server/UpDefs/FablewrightUpdates.txt",
              "version~4\nequiv~" + name + "~Fablewright\nupdate~" + name + "~files/" + file +
                  "~100~1\nupdate~Fablewright~files/a.exe~100~1\n");
    Platform platform = MainPlatform();
    ObservedDownloaderDlg dlg(platform, 5, argv);
    ClientRect screen = gtk->ScreenArea();
    ClientRect before{};
    std::optional<GtkMessageBoxView> retry;
    auto w = [&] { return dlg.GetSafeHwnd(); };
    std::intptr_t result =
        RunSteps(dlg, {[&] {
                           before = gtk->GetClientRect(w());
                           return gtk->IsShown(w()) && before.width > 1 &&
                                  gtk->SimulateClick(w(), res::kIdCheck);
                       },
                       [&] {
                           return gtk->ListCount(w(), res::kIdUpdateList) == 2 &&
                                  gtk->IsEnabled(w(), res::kIdDownload);
                       },
                       [&] {
                           ClientRect after = gtk->GetClientRect(w());
                           EXPECT_EQ(after.width, before.width);
                           EXPECT_EQ(after.height, before.height);
                           std::string row;
                           EXPECT_EQ(gtk->ListGetText(w(), res::kIdUpdateList, 0, row),
                                     static_cast<int>(name.size()));
                           EXPECT_EQ(row, name);
                           EXPECT_EQ(gtk->TooltipText(w(), res::kIdUpdateList, 0), name);
                           EXPECT_EQ(gtk->TooltipText(w(), res::kIdUpdateList, 1), "");  // it fits
                           return gtk->SimulateClick(w(), res::kIdDownload);
                       },
                       [&] {
                           // The file cannot be made: every box that follows gets its last answer
                           // (OK, No).
                           std::optional<GtkMessageBoxView> box = gtk->ActiveMessageBox();
                           if (!box) return retry.has_value();
                           if (box->width <= 1) return false;  // not laid out yet
                           if (!retry && box->text.find(file) != std::string::npos) retry = box;
                           gtk->AnswerMessageBox(box->answers.back());
                           return false;
                       },
                       [&] {
                           return !gtk->ActiveMessageBox() && gtk->IsEnabled(w(), res::kIdExit) &&
                                  gtk->SimulateClick(w(), res::kIdExit);
                       }});
    EXPECT_EQ(result, IDCANCEL) << "the run did not end through Exit";
    ASSERT_TRUE(retry);
    EXPECT_NE(retry->text.find(file), std::string::npos);
    EXPECT_GT(screen.width, 0);
    EXPECT_LE(retry->width, screen.width);
    EXPECT_LE(retry->height, screen.height);
}

// A port on 127.0.0.1 that takes connections (the kernel completes them) and never answers.
class SilentListener {
  public:
    SilentListener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        if (fd < 0 || bind(fd, generic, length) != 0 || listen(fd, 8) != 0 ||
            getsockname(fd, generic, &length) != 0) {
            return;
        }
        port = ntohs(address.sin_port);
    }
    ~SilentListener() {
        if (fd >= 0) close(fd);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int port = 0;

  private:
    int fd = -1;
};

// The update request goes to a server that never answers: the window goes on painting while
// it waits (a label the test changes from a toolkit timer is drawn), the dialog itself gets no
// message in the meantime, and the request gives up after about ten seconds.
TEST_F(DownloadGtkTest, WindowPaintsWhileTheUpdateRequestWaitsAndTheRequestGivesUp) {
    SilentListener silent;
    ASSERT_NE(silent.port, 0);
    dir.Write("server/UpDefs/FablewrightUpdates.txt",
              "version~4\ninfo~127.0.0.1:" + std::to_string(silent.port) +
                  "~info\nupdate~Fablewright~files/a.exe~100~1\n");
    Platform platform = MainPlatform();
    ObservedDownloaderDlg dlg(platform, 5, argv);
    struct Waiting {
        GtkBackend* gtk = nullptr;
        WindowHandle window = nullptr;
        bool active = false;
        int changes = 0;
    } waiting{gtk.get(), nullptr, false, 0};
    // A toolkit timer, not the dialog's: it runs in any pass over the main context.
    guint changer = g_timeout_add(
        100,
        [](gpointer data) -> gboolean {
            auto* w = static_cast<Waiting*>(data);
            if (w->active) {
                w->gtk->SetText(w->window, res::kIdFolder,
                                "/waiting/" + std::to_string(++w->changes));
            }
            return G_SOURCE_CONTINUE;
        },
        &waiting);
    int paintsAtClick = 0;
    int probesAtClick = 0;
    int probes = 0;
    dlg.onProbe = [&] { ++probes; };
    Clock::time_point clicked{};
    Clock::time_point listed{};
    std::intptr_t result = RunSteps(
        dlg, {[&] {
                  waiting.window = dlg.GetSafeHwnd();
                  if (!gtk->IsShown(waiting.window) || gtk->PaintCount(waiting.window) == 0) {
                      return false;
                  }
                  paintsAtClick = gtk->PaintCount(waiting.window);
                  probesAtClick = probes;
                  clicked = Clock::now();
                  waiting.active = true;
                  return gtk->SimulateClick(waiting.window, res::kIdCheck);
              },
              [&] {
                  if (gtk->ListCount(waiting.window, res::kIdUpdateList) != 1) return false;
                  listed = Clock::now();
                  waiting.active = false;
                  EXPECT_GE(waiting.changes, 50);
                  EXPECT_GE(gtk->PaintCount(waiting.window) - paintsAtClick, 30);
                  // The one probe at most is the one the click itself was dispatched beside.
                  EXPECT_LE(probes - probesAtClick, 1);
                  return gtk->SimulateClick(waiting.window, res::kIdExit);
              }});
    g_source_remove(changer);
    EXPECT_EQ(result, IDCANCEL);
    double waitedMs = Millis(listed - clicked).count();
    EXPECT_GT(waitedMs, 9500.0);
    EXPECT_LT(waitedMs, 14000.0);
}

}  // namespace
}  // namespace fw
