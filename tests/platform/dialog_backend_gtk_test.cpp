// The GTK host, for real: windows under an X display (CI runs this under xvfb-run). Each test
// drives a dialog from its own timer, so that every action reaches the dialog the way a user's
// would, through the window system and the dialog's message table.

#include "platform/gtk/dialog_backend_gtk.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/gtk/system_gtk.h"
#include "platform/headless/headless_backend.h"
#include "platform/ui/dialog.h"
#include "platform/ui/win_constants.h"
#include "res/resource.h"
#include "res/templates.h"
#include "tests/support/temp_dir.h"

// The toolkit keeps font and bus caches for the life of the process, which the leak checker of
// a sanitizer build would report; leaks of our own still show.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:libglib-2.0.so\n";
}

namespace fw {
namespace {

using namespace fw::res;

constexpr unsigned kStepTimer = 900;
constexpr unsigned kHelperTimer = 901;
constexpr int kGiveUp = -99;
constexpr int kMaxTicks = 300;  // 30 ms each: a step that waits longer than 9 s has failed

struct Command {
    int id;
    int code;
    bool operator==(const Command&) const = default;
};

// A dialog run by a script: each step runs on a tick of the step timer and returns whether it is
// done (false: try again on the next tick). Everything the host reports is recorded.
class ScriptedDialog : public CDialog {
  public:
    using Step = std::function<bool(ScriptedDialog&)>;

    ScriptedDialog(GtkBackend& gtk, const DialogTemplate& tmpl, const CDialog* parent = nullptr)
        : CDialog(gtk, tmpl, parent), gtk(gtk) {}

    GtkBackend& gtk;
    std::function<void(ScriptedDialog&)> onInit;
    std::vector<Step> steps;
    std::function<void(ScriptedDialog&)> onHelperTimer;
    std::vector<Command> commands;
    std::vector<unsigned> sysCommands;
    std::map<unsigned, int> timerFires;
    int selectionAtDoubleClick = -2;
    std::intptr_t finalResult = 0;

    WindowHandle handle() const { return GetSafeHwnd(); }
    bool Has(Command c) const {
        return std::find(commands.begin(), commands.end(), c) != commands.end();
    }

    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit) onInit(*this);
        SetTimer(kStepTimer, 30);
        return true;
    }
    void OnOK() override { commands.push_back({IDOK, BN_CLICKED}); }
    void OnCancel() override { commands.push_back({IDCANCEL, BN_CLICKED}); }

  private:
    void OnCheck() { commands.push_back({kIdCheck, BN_CLICKED}); }
    void OnInstall() { commands.push_back({kIdInstall, BN_CLICKED}); }
    void OnExit() { commands.push_back({kIdExit, BN_CLICKED}); }
    void OnBeta() { commands.push_back({kIdBetaVersion, BN_CLICKED}); }
    void OnDblclk() {
        commands.push_back({kIdUpdateList, LBN_DBLCLK});
        selectionAtDoubleClick = backend().ListGetCurSel(handle(), kIdUpdateList);
    }
    void OnSysCommand(unsigned command, std::intptr_t param) {
        sysCommands.push_back(command);
        DefaultSysCommand(command, param);
    }
    void OnTimer(unsigned id) {
        ++timerFires[id];
        if (id == kHelperTimer && onHelperTimer) onHelperTimer(*this);
        if (id != kStepTimer) return;
        if (next >= steps.size()) {
            EndDialog(finalResult);
        } else if (steps[next](*this)) {
            ++next;
            ticks = 0;
        } else if (++ticks > kMaxTicks) {
            ADD_FAILURE() << "step " << next << " of dialog " << GetTemplate().id
                          << " never finished";
            EndDialog(kGiveUp);
        }
    }

    std::size_t next = 0;
    int ticks = 0;

    FW_DECLARE_MESSAGE_MAP(ScriptedDialog)
};

FW_BEGIN_MESSAGE_MAP(ScriptedDialog)
MessageEntry<ScriptedDialog>::Command(kIdCheck, BN_CLICKED, &ScriptedDialog::OnCheck),
    MessageEntry<ScriptedDialog>::Command(kIdInstall, BN_CLICKED, &ScriptedDialog::OnInstall),
    MessageEntry<ScriptedDialog>::Command(kIdExit, BN_CLICKED, &ScriptedDialog::OnExit),
    MessageEntry<ScriptedDialog>::Command(kIdBetaVersion, BN_CLICKED, &ScriptedDialog::OnBeta),
    MessageEntry<ScriptedDialog>::Command(kIdUpdateList, LBN_DBLCLK, &ScriptedDialog::OnDblclk),
    MessageEntry<ScriptedDialog>::OnSysCommand(&ScriptedDialog::OnSysCommand),
    MessageEntry<ScriptedDialog>::OnTimer(&ScriptedDialog::OnTimer),
    FW_END_MESSAGE_MAP(ScriptedDialog)

    // Waits until the window is on screen and laid out.
    ScriptedDialog::Step WaitShown() {
    return [](ScriptedDialog& d) {
        if (!d.gtk.IsShown(d.handle())) return false;
        auto layout = d.gtk.DescribeLayout(d.handle());
        return !layout.empty() && layout.front().width > 1;
    };
}

// Lets `n` ticks pass, so that events already sent have been handled.
ScriptedDialog::Step Idle(int n) {
    auto left = std::make_shared<int>(n);
    return [left](ScriptedDialog&) { return --*left <= 0; };
}

ScriptedDialog::Step Do(std::function<void(ScriptedDialog&)> action) {
    return [action = std::move(action)](ScriptedDialog& d) {
        action(d);
        return true;
    };
}

class GtkBackendTest : public ::testing::Test {
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
        gtk = std::make_unique<GtkBackend>();
    }
    std::intptr_t Run(ScriptedDialog& d) { return d.DoModal(); }

    static bool available;
    std::unique_ptr<GtkBackend> gtk;
};
bool GtkBackendTest::available = false;

bool Overlap(const DialogRect& a, const DialogRect& b) {
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}
bool Overlap(const GtkControlLayout& a, const GtkControlLayout& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

// ---- layout ----

struct LayoutCase {
    const char* name;
    const DialogTemplate& (*tmpl)();
    std::vector<std::pair<int, std::string>> texts;  // sample texts the program would show
    std::vector<std::string> items;                  // list box items
    std::function<void(GtkBackend&, WindowHandle)> more;
};

// The toolkit is asked to leave OpenGL alone while it starts; the updaters we start must not
// inherit that request.
TEST_F(GtkBackendTest, StartingTheToolkitLeavesTheEnvironmentAsItWas) {
    EXPECT_EQ(std::getenv("GDK_GL"), nullptr);
}

TEST_F(GtkBackendTest, TemplatesAreLaidOutFromDialogUnitsAndEveryTextFits) {
    const std::vector<LayoutCase> cases = {
        {"about", &AboutDialogTemplate, {{kIdVersion, "Version 3."}}, {}, nullptr},
        {"main, listed",
         &MainDialogTemplate,
         {{kIdInstructions,
           "Step 2:\r\nThe version available for download is 3.10.2. The templates listed below "
           "can be updated. Double-click any templates you do not wish to update. Make sure you "
           "have at least 10.5M bytes of available disk space. Then click Download to download "
           "the updates."},
          {kIdFolder, "/home/player/Games/Fablewright"},
          {kIdStatus, "Downloading Dungeons and Dragons Expanded..."},
          {kIdTimeRemaining, "Total Time Remaining: 12 minutes 30 seconds"}},
         {"Fablewright", "Star Frontiers", "Dungeons and Dragons Expanded"},
         [](GtkBackend& b, WindowHandle w) {
             b.SetButtonStyle(w, kIdDownload, BS_DEFPUSHBUTTON, true);
             b.ProgressSetPos(w, kIdFileProgress, 40);
             b.ProgressSetPos(w, kIdTotalProgress, 65);
             b.ListSetCurSel(w, kIdUpdateList, 1);
             b.AppendSystemMenu(w, MF_SEPARATOR, 0, "");
             b.AppendSystemMenu(w, MF_STRING, kIdmAboutBox,
                                "&About Fablewright Update Downloader...");
             b.SetIcon(w, b.LoadIcon(kAppIcon), true);
         }},
        {"main, one more updater",
         &MainDialogTemplate,
         {{kIdInstructions,
           "Step 12.\r\nClick Install to install the Dungeons and Dragons Expanded update. Note: "
           "the updater may display installation notes. Please read these and close the window "
           "when you're done."}},
         {},
         nullptr},
        {"beta folder",
         &BetaDirDialogTemplate,
         {{kIdReleaseDirLabel,
           "The release version of Fablewright is installed in /home/player/Fablewright. The "
           "beta version must be installed in a separate directory, which you must select "
           "below."},
          {kIdBetaDirEdit, "/home/player/Fablewright Beta"}},
         {},
         nullptr},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        const DialogTemplate& tmpl = c.tmpl();
        ScriptedDialog d(*gtk, tmpl);
        std::vector<GtkControlLayout> layout;
        ClientRect client;
        d.onInit = [&](ScriptedDialog& dlg) {
            for (const auto& [id, text] : c.texts) dlg.SetDlgItemText(id, text);
            for (const std::string& item : c.items) {
                gtk->ListInsert(dlg.handle(), kIdUpdateList, -1, item);
            }
            if (c.more) c.more(*gtk, dlg.handle());
        };
        d.steps = {WaitShown(), Idle(2), Do([&](ScriptedDialog& dlg) {
                       layout = gtk->DescribeLayout(dlg.handle());
                       client = gtk->GetClientRect(dlg.handle());
                       if (const char* dir = std::getenv("FW_SCREENSHOT_DIR")) {
                           std::string cmd = std::string("import -window root '") + dir + "/gtk-" +
                                             std::to_string(tmpl.id) + "-" +
                                             std::to_string(&c - cases.data()) + ".png'";
                           EXPECT_EQ(std::system(cmd.c_str()), 0);
                       }
                   })};
        ASSERT_EQ(Run(d), 0);
        ASSERT_EQ(layout.size(), tmpl.controls.size());

        int bx = gtk->BaseUnitX();
        int by = gtk->BaseUnitY();
        EXPECT_GE(bx, 5);
        EXPECT_GE(by, 11);
        EXPECT_EQ(client.width, (tmpl.rect.cx * bx + 2) / 4);
        EXPECT_EQ(client.height, (tmpl.rect.cy * by + 4) / 8);
        for (std::size_t i = 0; i < layout.size(); ++i) {
            const GtkControlLayout& l = layout[i];
            const ControlTemplate& t = tmpl.controls[i];
            SCOPED_TRACE("control " + std::to_string(i) + " \"" + std::string(t.text) + "\"");
            if ((t.style & WS_VISIBLE) == 0) continue;  // a hidden text that names a control
            EXPECT_GE(l.x, 0);
            EXPECT_GE(l.y, 0);
            EXPECT_LE(l.x + l.width, client.width);
            EXPECT_LE(l.y + l.height, client.height);
            EXPECT_EQ(l.x, (t.rect.x * bx + 2) / 4);
            EXPECT_EQ(l.y, (t.rect.y * by + 4) / 8);
            if (t.kind != ControlKind::kIcon) {
                // Nothing outgrew its rectangle.
                EXPECT_EQ(l.width, ((t.rect.x + t.rect.cx) * bx + 2) / 4 - l.x);
                EXPECT_EQ(l.height, ((t.rect.y + t.rect.cy) * by + 4) / 8 - l.y);
            }
            EXPECT_FALSE(l.textClipped) << "\"" << l.shownText << "\" needs " << l.textWidth << "x"
                                        << l.textHeight << " in " << l.width << "x" << l.height;
            for (std::size_t j = i + 1; j < layout.size(); ++j) {
                if (Overlap(t.rect, tmpl.controls[j].rect)) continue;
                if ((tmpl.controls[j].style & WS_VISIBLE) == 0) continue;
                EXPECT_FALSE(Overlap(l, layout[j]))
                    << "overlaps \"" << tmpl.controls[j].text << "\"";
            }
        }
        if (tmpl.id == kMainDialog) {
            EXPECT_EQ(gtk->GetButtonStyle(d.handle(), kIdCheck), BS_PUSHBUTTON);
            const GtkControlLayout& instructions = layout[1];
            EXPECT_EQ(instructions.shownText.find('\r'), std::string::npos);
            EXPECT_GT(instructions.textHeight, 2 * by) << "several lines, wrapped in place";
        }
    }
}

// ---- mnemonics ----

constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr ControlTemplate kMnemonicControls[] = {
    {10, ControlKind::kPushButton, "&Check", kChild | WS_TABSTOP, {5, 5, 60, 14}},
    {11, ControlKind::kPushButton, "Save && &Quit", kChild | WS_TABSTOP, {70, 5, 60, 14}},
    {12, ControlKind::kPushButton, "Fish && Chips", kChild | WS_TABSTOP, {135, 5, 60, 14}},
    {13, ControlKind::kPushButton, "snake_case", kChild | WS_TABSTOP, {200, 5, 60, 14}},
    {14, ControlKind::kStatic, "A&B", kChild | SS_NOPREFIX, {5, 25, 60, 8}},
    {15, ControlKind::kStatic, "Line one\r\nLine two", kChild, {70, 25, 100, 20}},
    {16, ControlKind::kCheckBox, "&Beta Version", kChild | WS_TABSTOP, {5, 50, 80, 10}},
    {17, ControlKind::kStatic, "&Name:", kChild, {5, 65, 40, 8}},
    {18, ControlKind::kEdit, "", kChild | WS_TABSTOP | WS_BORDER, {50, 63, 80, 12}},
};
const DialogTemplate kMnemonicDialog{900, "Mnemonics",      WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                     0,   {0, 0, 270, 80},  "MS Sans Serif",
                                     8,   kMnemonicControls};

TEST_F(GtkBackendTest, AmpersandsBecomeMnemonicsExceptDoubledOrNoPrefix) {
    struct Expect {
        int id;
        const char* shown;
        char32_t key;
    };
    const Expect expected[] = {
        {10, "Check", U'c'},
        {11, "Save & Quit", U'q'},
        {12, "Fish & Chips", 0},
        {13, "snake_case", 0},
        {14, "A&B", 0},
        {15, "Line one\nLine two", 0},
        {16, "Beta Version", U'b'},
        {17, "Name:", U'n'},
    };
    ScriptedDialog d(*gtk, kMnemonicDialog);
    std::vector<GtkControlLayout> layout;
    int focusAfterAltN = 0;
    d.steps = {WaitShown(), Do([&](ScriptedDialog& dlg) {
                   layout = gtk->DescribeLayout(dlg.handle());
                   gtk->SetFocus(dlg.handle(), 10);
                   ASSERT_TRUE(gtk->SimulateKey(dlg.handle(), "n", true));
               }),
               Idle(3),
               Do([&](ScriptedDialog& dlg) { focusAfterAltN = gtk->GetFocus(dlg.handle()); })};
    ASSERT_EQ(Run(d), 0);
    for (const Expect& e : expected) {
        auto it = std::find_if(layout.begin(), layout.end(),
                               [&](const GtkControlLayout& l) { return l.id == e.id; });
        ASSERT_NE(it, layout.end());
        EXPECT_EQ(it->shownText, e.shown) << "control " << e.id;
        EXPECT_EQ(it->mnemonic, e.key) << "control " << e.id;
    }
    // A label's mnemonic moves the focus to the control after it, as in a Windows dialog.
    EXPECT_EQ(focusAfterAltN, 18);
}

TEST_F(GtkBackendTest, AltKeyClicksTheButtonThroughTheMessageTable) {
    ScriptedDialog d(*gtk, MainDialogTemplate());
    d.steps = {WaitShown(), Do([&](ScriptedDialog& dlg) {
                   ASSERT_TRUE(gtk->SimulateKey(dlg.handle(), "x", true));
               }),
               [](ScriptedDialog& dlg) {
                   return dlg.Has({kIdExit, BN_CLICKED});
               },
               Do([&](ScriptedDialog& dlg) {
                   gtk->Enable(dlg.handle(), kIdCheck, false);
                   ASSERT_TRUE(gtk->SimulateKey(dlg.handle(), "c", true));
               }),
               Idle(5)};
    ASSERT_EQ(Run(d), 0);
    EXPECT_TRUE(d.Has({kIdExit, BN_CLICKED}));
    EXPECT_FALSE(d.Has({kIdCheck, BN_CLICKED})) << "a disabled button's mnemonic does nothing";
}

// ---- list box: the same answers as the headless host ----

TEST_F(GtkBackendTest, ListBoxAnswersAsTheHeadlessHostDoes) {
    enum Op { kInsert, kDelete, kGetText, kCount, kGetSel, kSetSel, kReset };
    struct Step {
        Op op;
        int index;
        const char* text;
    };
    const std::vector<Step> script = {
        {kInsert, -1, "beta"},    {kInsert, 0, "alpha"}, {kInsert, 5, "x"}, {kInsert, 2, "gamma"},
        {kSetSel, 1, ""},         {kInsert, 0, "zero"},  {kGetSel, 0, ""},  {kDelete, 0, ""},
        {kGetSel, 0, ""},         {kDelete, 1, ""},      {kGetSel, 0, ""},  {kDelete, 7, ""},
        {kDelete, -1, ""},        {kCount, 0, ""},       {kGetText, 0, ""}, {kGetText, 9, ""},
        {kInsert, -1, "Caf\xe9"}, {kGetText, 2, ""},     {kSetSel, -1, ""}, {kGetSel, 0, ""},
        {kSetSel, 9, ""},         {kSetSel, 2, ""},      {kDelete, 1, ""},  {kGetSel, 0, ""},
        {kReset, 0, ""},          {kCount, 0, ""},       {kGetSel, 0, ""},  {kGetText, 0, ""},
    };
    auto runScript = [&](DialogBackend& b, WindowHandle w) {
        std::vector<std::string> results;
        for (const Step& s : script) {
            std::string text;
            int r = 0;
            switch (s.op) {
                case kInsert:
                    r = b.ListInsert(w, kIdUpdateList, s.index, s.text);
                    break;
                case kDelete:
                    r = b.ListDelete(w, kIdUpdateList, s.index);
                    break;
                case kGetText:
                    r = b.ListGetText(w, kIdUpdateList, s.index, text);
                    break;
                case kCount:
                    r = b.ListCount(w, kIdUpdateList);
                    break;
                case kGetSel:
                    r = b.ListGetCurSel(w, kIdUpdateList);
                    break;
                case kSetSel:
                    r = b.ListSetCurSel(w, kIdUpdateList, s.index);
                    break;
                case kReset:
                    b.ListReset(w, kIdUpdateList);
                    break;
            }
            results.push_back(std::to_string(r) + ":" + text);
        }
        return results;
    };

    HeadlessBackend headless;
    std::vector<std::string> expected;
    headless.ScriptModal(kMainDialog,
                         [&](HeadlessWindow& w) { expected = runScript(headless, &w); });
    CDialog headlessDialog(headless, MainDialogTemplate());
    headlessDialog.DoModal();
    ASSERT_EQ(expected.size(), script.size());
    // The sequence itself means something: spot-check the headless answers it relies on.
    EXPECT_EQ(expected[2], "-1:");         // past the end
    EXPECT_EQ(expected[6], "2:");          // the selection moved down with its item
    EXPECT_EQ(expected[10], "-1:");        // deleting the selected item leaves none
    EXPECT_EQ(expected[17], "4:Caf\xe9");  // our bytes come back as they were

    std::vector<std::string> actual;
    ScriptedDialog d(*gtk, MainDialogTemplate());
    d.steps = {WaitShown(),
               Do([&](ScriptedDialog& dlg) { actual = runScript(*gtk, dlg.handle()); })};
    ASSERT_EQ(Run(d), 0);
    EXPECT_EQ(actual, expected);
}

// Hundreds of thousands of rows, as definitions near their size limit give: filling the list,
// reading every row back and the window's own work afterwards stay cheap.
TEST_F(GtkBackendTest, ListOfManyRowsStaysCheap) {
    constexpr int kRows = 100000;
    using Clock = std::chrono::steady_clock;
    struct Idle {
        bool done = false;
        Clock::time_point at{};
    } idle;
    double fillSeconds = 0;
    double readSeconds = 0;
    Clock::time_point filled{};
    int count = 0;
    bool allRead = true;
    ScriptedDialog d(*gtk, MainDialogTemplate());
    d.steps = {WaitShown(), Do([&](ScriptedDialog& dlg) {
                   Clock::time_point start = Clock::now();
                   for (int i = 0; i < kRows; ++i) {
                       gtk->ListInsert(dlg.handle(), kIdUpdateList, i,
                                       "Template " + std::to_string(i));
                   }
                   filled = Clock::now();
                   fillSeconds = std::chrono::duration<double>(filled - start).count();
                   count = gtk->ListCount(dlg.handle(), kIdUpdateList);
                   std::string text;
                   for (int i = 0; i < kRows; ++i) {
                       gtk->ListGetText(dlg.handle(), kIdUpdateList, i, text);
                       allRead = allRead && text == "Template " + std::to_string(i);
                   }
                   readSeconds = std::chrono::duration<double>(Clock::now() - filled).count();
                   filled = Clock::now();
                   // Runs once the window has nothing left to lay out or draw.
                   g_idle_add_full(
                       G_PRIORITY_LOW,
                       [](gpointer data) -> gboolean {
                           auto* i = static_cast<Idle*>(data);
                           i->done = true;
                           i->at = Clock::now();
                           return G_SOURCE_REMOVE;
                       },
                       &idle, nullptr);
               }),
               [&](ScriptedDialog&) { return idle.done; }};
    ASSERT_EQ(Run(d), 0);
    EXPECT_EQ(count, kRows);
    EXPECT_TRUE(allRead);
    std::printf("  %d rows: filled in %.3f s, read back in %.3f s, window idle %.3f s later\n",
                kRows, fillSeconds, readSeconds,
                std::chrono::duration<double>(idle.at - filled).count());
    // Generous for a loaded machine and a sanitizer build; rows measured one by one took
    // tens of seconds.
    EXPECT_LT(fillSeconds, 5.0);
    EXPECT_LT(readSeconds, 5.0);
    EXPECT_LT(std::chrono::duration<double>(idle.at - filled).count(), 2.0);
}

// A text longer than its rectangle is cut on screen, and its tooltip then holds all of it; a
// text that fits has no tooltip. The window keeps its size either way.
TEST_F(GtkBackendTest, CutTextsShowTheirWholeTextAsATooltip) {
    const std::string longVersion =
        "Step 2:\r\nThe version available for download is 4.2 final release candidate 7 (build "
        "2026-12-08, long-term support edition for every platform, with the complete set of "
        "fixes from the maintenance branches). The templates listed below can be updated. "
        "Double-click any templates you do not wish to update. Make sure you have at least "
        "9.8M bytes of available disk space. Then click Download to download the updates.";
    const std::string folder = "/home/player/" + std::string(600, 'd') + "/Fablewright";
    std::vector<std::pair<std::string, std::string>> seen;  // the tooltip of each, in order
    ClientRect before{};
    ClientRect after{};
    ScriptedDialog d(*gtk, MainDialogTemplate());
    d.steps = {WaitShown(),
               Do([&](ScriptedDialog& dlg) {
                   before = gtk->GetClientRect(dlg.handle());
                   gtk->SetText(dlg.handle(), kIdInstructions, longVersion);
                   gtk->SetText(dlg.handle(), kIdFolder, folder);
               }),
               Idle(3),
               Do([&](ScriptedDialog& dlg) {
                   seen.emplace_back("instructions",
                                     gtk->TooltipText(dlg.handle(), kIdInstructions));
                   seen.emplace_back("folder", gtk->TooltipText(dlg.handle(), kIdFolder));
                   gtk->SetText(dlg.handle(), kIdFolder, "/home/player/Fablewright");
               }),
               Idle(3),
               Do([&](ScriptedDialog& dlg) {
                   seen.emplace_back("short folder", gtk->TooltipText(dlg.handle(), kIdFolder));
                   after = gtk->GetClientRect(dlg.handle());
               })};
    ASSERT_EQ(Run(d), 0);
    std::string shownVersion = longVersion;
    shownVersion.erase(shownVersion.find('\r'), 1);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].second, shownVersion);
    EXPECT_EQ(seen[1].second, folder);
    EXPECT_EQ(seen[2].second, "");
    EXPECT_EQ(after.width, before.width);
    EXPECT_EQ(after.height, before.height);
}

TEST_F(GtkBackendTest, DoubleClickReportsLbnDblclkWithTheRowSelected) {
    ScriptedDialog d(*gtk, MainDialogTemplate());
    d.onInit = [&](ScriptedDialog& dlg) {
        for (const char* item : {"Fablewright", "Star Frontiers", "Traveller"}) {
            gtk->ListInsert(dlg.handle(), kIdUpdateList, -1, item);
        }
    };
    d.steps = {WaitShown(), Idle(2), Do([&](ScriptedDialog& dlg) {
                   ASSERT_TRUE(gtk->SimulateDoubleClick(dlg.handle(), kIdUpdateList, 1));
               }),
               [](ScriptedDialog& dlg) {
                   return dlg.Has({kIdUpdateList, LBN_DBLCLK});
               }};
    ASSERT_EQ(Run(d), 0);
    EXPECT_EQ(d.selectionAtDoubleClick, 1);
    EXPECT_EQ(std::count(d.commands.begin(), d.commands.end(), Command{kIdUpdateList, LBN_DBLCLK}),
              1);
}

// ---- progress bars ----

TEST_F(GtkBackendTest, ProgressPositionStaysInsideTheRange) {
    struct Step {
        bool setRange;
        int a;
        int b;
        int expectedPrevious;  // SetPos only
    };
    const std::vector<Step> steps = {
        {true, 0, 100, 0},  {false, 50, 0, 0}, {false, 150, 0, 50}, {false, -5, 0, 100},
        {false, 20, 0, 0},  {true, 10, 15, 0}, {false, 12, 0, 15},  {true, 50, 60, 0},
        {false, 0, 0, 50},  {true, 100, 0, 0}, {false, 30, 0, 50},  {false, 101, 0, 30},
        {false, 7, 0, 100},
    };
    ScriptedDialog d(*gtk, MainDialogTemplate());
    std::vector<int> previous;
    d.steps = {Do([&](ScriptedDialog& dlg) {
        for (const Step& s : steps) {
            if (s.setRange) {
                gtk->ProgressSetRange(dlg.handle(), kIdFileProgress, s.a, s.b);
            } else {
                previous.push_back(gtk->ProgressSetPos(dlg.handle(), kIdFileProgress, s.a));
            }
        }
    })};
    ASSERT_EQ(Run(d), 0);
    std::vector<int> expected;
    for (const Step& s : steps) {
        if (!s.setRange) expected.push_back(s.expectedPrevious);
    }
    EXPECT_EQ(previous, expected);
}

// ---- message boxes ----

TEST_F(GtkBackendTest, MessageBoxesHaveExactlyTheirButtonsAndDefault) {
    struct Case {
        unsigned type;
        std::vector<int> answers;
        std::vector<std::string> labels;
        int defaultAnswer;
        bool close;  // close the window instead of pressing a button
        int press;
        int expected;
    };
    const std::vector<Case> cases = {
        {MB_OK, {IDOK}, {"OK"}, IDOK, false, IDOK, IDOK},
        {MB_OK, {IDOK}, {"OK"}, IDOK, true, 0, IDOK},
        {MB_OKCANCEL, {IDOK, IDCANCEL}, {"OK", "Cancel"}, IDOK, true, 0, IDCANCEL},
        {MB_YESNO, {IDYES, IDNO}, {"Yes", "No"}, IDYES, false, IDYES, IDYES},
        {MB_YESNO, {IDYES, IDNO}, {"Yes", "No"}, IDYES, true, IDNO, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON2,
         {IDYES, IDNO, IDCANCEL},
         {"Yes", "No", "Cancel"},
         IDNO,
         false,
         IDCANCEL,
         IDCANCEL},
        {MB_YESNOCANCEL | MB_DEFBUTTON3,
         {IDYES, IDNO, IDCANCEL},
         {"Yes", "No", "Cancel"},
         IDCANCEL,
         true,
         0,
         IDCANCEL},
        {MB_RETRYCANCEL,
         {IDRETRY, IDCANCEL},
         {"Retry", "Cancel"},
         IDRETRY,
         false,
         IDRETRY,
         IDRETRY},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3,
         {IDABORT, IDRETRY, IDIGNORE},
         {"Abort", "Retry", "Ignore"},
         IDIGNORE,
         false,
         IDABORT,
         IDABORT},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        ScriptedDialog d(*gtk, MainDialogTemplate());
        std::optional<GtkMessageBoxView> seen;
        bool stillOpenAfterClose = false;
        int answer = 0;
        int helperTicks = 0;
        d.onHelperTimer = [&](ScriptedDialog&) {
            auto box = gtk->ActiveMessageBox();
            if (!box) return;
            ++helperTicks;
            if (helperTicks == 2) {
                seen = box;
                if (c.close) {
                    gtk->CloseMessageBox();
                } else {
                    gtk->AnswerMessageBox(c.press);
                }
            } else if (helperTicks == 4) {
                // Only a box that cannot be closed is still here.
                stillOpenAfterClose = true;
                gtk->AnswerMessageBox(c.press);
            }
        };
        d.steps = {WaitShown(), Do([&](ScriptedDialog& dlg) {
                       dlg.SetTimer(kHelperTimer, 40);
                       answer = dlg.MessageBox("Are you sure?\r\nReally?", "Question", c.type);
                       dlg.KillTimer(kHelperTimer);
                   })};
        ASSERT_EQ(Run(d), 0);
        ASSERT_TRUE(seen.has_value());
        EXPECT_EQ(seen->answers, c.answers);
        EXPECT_EQ(seen->labels, c.labels);
        EXPECT_EQ(seen->defaultAnswer, c.defaultAnswer);
        EXPECT_EQ(seen->focusedAnswer, c.defaultAnswer);
        EXPECT_EQ(seen->title, "Question");
        EXPECT_EQ(seen->text, "Are you sure?\nReally?");
        EXPECT_EQ(answer, c.expected);
        bool closable = c.type != MB_YESNO && (c.type & MB_TYPEMASK) != MB_ABORTRETRYIGNORE;
        EXPECT_EQ(seen->closable, closable);
        EXPECT_EQ(stillOpenAfterClose, c.close && !closable);
    }
}

// ---- modal nesting ----

TEST_F(GtkBackendTest, NestedModalDialogsEndInOrder) {
    ScriptedDialog outer(*gtk, MainDialogTemplate());
    std::intptr_t innerResult = 0;
    std::intptr_t ownerlessResult = 0;
    bool innerOwned = false;
    bool innerModal = false;
    bool ownerlessOwned = false;
    bool outerShownAfter = false;
    outer.steps = {WaitShown(), Do([&](ScriptedDialog& o) {
                       ScriptedDialog inner(*gtk, AboutDialogTemplate(), &o);
                       inner.steps = {WaitShown(), Do([&](ScriptedDialog& i) {
                                          innerOwned = gtk->OwnerOf(i.handle()) == o.handle();
                                          innerModal = gtk->IsModalWindow(i.handle());
                                      })};
                       inner.finalResult = 7;
                       innerResult = inner.DoModal();
                       // Constructed without a parent, as the about box is: it goes with the
                       // innermost open dialog.
                       ScriptedDialog ownerless(*gtk, BetaDirDialogTemplate());
                       ownerless.steps = {WaitShown(), Do([&](ScriptedDialog& i) {
                                              ownerlessOwned =
                                                  gtk->OwnerOf(i.handle()) == o.handle();
                                          })};
                       ownerless.finalResult = 8;
                       ownerlessResult = ownerless.DoModal();
                       outerShownAfter = gtk->IsShown(o.handle());
                   })};
    outer.finalResult = 9;
    EXPECT_EQ(Run(outer), 9);
    EXPECT_EQ(innerResult, 7);
    EXPECT_EQ(ownerlessResult, 8);
    EXPECT_TRUE(innerOwned);
    EXPECT_TRUE(innerModal);
    EXPECT_TRUE(ownerlessOwned);
    EXPECT_TRUE(outerShownAfter);
}

TEST_F(GtkBackendTest, EndDialogDuringInitialisationNeverShowsTheWindow) {
    ScriptedDialog d(*gtk, AboutDialogTemplate());
    d.onInit = [](ScriptedDialog& dlg) { dlg.EndDialog(5); };
    EXPECT_EQ(Run(d), 5);
    EXPECT_TRUE(d.timerFires.empty());
}

// ---- timers ----

TEST_F(GtkBackendTest, TimersFireAreReplacedAndKilled) {
    ScriptedDialog d(*gtk, AboutDialogTemplate());
    int countAtReplace = 0;
    int countAfterWait = 0;
    bool killed = false;
    bool killedTwice = true;
    bool killedUnknown = true;
    d.onInit = [](ScriptedDialog& dlg) { dlg.SetTimer(5, 20); };
    d.steps = {[](ScriptedDialog& dlg) { return dlg.timerFires[5] >= 3; },
               Do([&](ScriptedDialog& dlg) {
                   countAtReplace = dlg.timerFires[5];
                   dlg.SetTimer(5, 5000);  // the same id: replaces the fast one
               }),
               Idle(8), Do([&](ScriptedDialog& dlg) {
                   countAfterWait = dlg.timerFires[5];
                   killed = dlg.KillTimer(5);
                   killedTwice = dlg.KillTimer(5);
                   killedUnknown = dlg.KillTimer(77);
               })};
    ASSERT_EQ(Run(d), 0);
    EXPECT_GE(countAtReplace, 3);
    EXPECT_LE(countAfterWait, countAtReplace + 1);
    EXPECT_TRUE(killed);
    EXPECT_FALSE(killedTwice);
    EXPECT_FALSE(killedUnknown);
}

// ---- clicks, keys, close box, system menu ----

TEST_F(GtkBackendTest, UserActionsReachTheMessageTable) {
    ScriptedDialog d(*gtk, MainDialogTemplate());
    bool checkedAfterClick = false;
    bool checkedBySetCheck = false;
    std::size_t commandsBeforeSetCheck = 0;
    std::size_t commandsAfterDisabledEnter = 0;
    std::size_t commandsBeforeDisabledEnter = 0;
    std::vector<std::pair<unsigned, std::string>> menuItems;
    d.onInit = [](ScriptedDialog& dlg) {
        if (CMenu* menu = dlg.GetSystemMenu(false)) {
            menu->AppendMenu(MF_SEPARATOR);
            menu->AppendMenu(MF_STRING, kIdmAboutBox, "&About Fablewright Update Downloader...");
        }
    };
    auto w = [&]() { return d.handle(); };
    d.steps = {WaitShown(),
               Idle(2),
               Do([&](ScriptedDialog&) { ASSERT_TRUE(gtk->SimulateClick(w(), kIdCheck)); }),
               [](ScriptedDialog& dlg) {
                   return dlg.Has({kIdCheck, BN_CLICKED});
               },
               Do([&](ScriptedDialog&) {
                   gtk->Enable(w(), kIdInstall, false);
                   gtk->SimulateClick(w(), kIdInstall);
                   ASSERT_TRUE(gtk->SimulateClick(w(), kIdBetaVersion));
               }),
               [](ScriptedDialog& dlg) {
                   return dlg.Has({kIdBetaVersion, BN_CLICKED});
               },
               Do([&](ScriptedDialog&) {
                   checkedAfterClick = gtk->GetButtonState(w(), kIdBetaVersion) & BST_CHECKED;
                   commandsBeforeSetCheck = d.commands.size();
                   gtk->SetCheck(w(), kIdBetaVersion, BST_UNCHECKED);
                   checkedBySetCheck = gtk->GetButtonState(w(), kIdBetaVersion) & BST_CHECKED;
                   // Enter goes to the default push button, wherever the focus is.
                   gtk->SetButtonStyle(w(), kIdDownload, BS_DEFPUSHBUTTON, true);
                   gtk->SetFocus(w(), kIdUpdateList);
                   ASSERT_TRUE(gtk->SimulateKey(w(), "Return"));
               }),
               [](ScriptedDialog& dlg) {
                   return dlg.Has({IDOK, BN_CLICKED});
               },
               Do([&](ScriptedDialog&) {
                   gtk->Enable(w(), kIdDownload, false);  // keeps its default style
                   commandsBeforeDisabledEnter = d.commands.size();
                   ASSERT_TRUE(gtk->SimulateKey(w(), "Return"));
               }),
               Idle(5),
               Do([&](ScriptedDialog&) {
                   commandsAfterDisabledEnter = d.commands.size();
                   ASSERT_TRUE(gtk->SimulateKey(w(), "Escape"));
               }),
               [](ScriptedDialog& dlg) {
                   return dlg.Has({IDCANCEL, BN_CLICKED});
               },
               Do([&](ScriptedDialog& dlg) {
                   dlg.commands.clear();
                   ASSERT_TRUE(gtk->CloseWindow(w()));
               }),
               [](ScriptedDialog& dlg) {
                   return dlg.Has({IDCANCEL, BN_CLICKED});
               },
               Do([&](ScriptedDialog&) {
                   menuItems = gtk->SystemMenuItems(w());
                   ASSERT_TRUE(gtk->ChooseSystemMenuItem(w(), kIdmAboutBox));
               }),
               Idle(2)};
    ASSERT_EQ(Run(d), 0);
    EXPECT_FALSE(d.Has({kIdInstall, BN_CLICKED})) << "a disabled button cannot be clicked";
    EXPECT_TRUE(checkedAfterClick) << "the check box toggles itself";
    EXPECT_FALSE(checkedBySetCheck);
    EXPECT_EQ(commandsBeforeDisabledEnter, commandsAfterDisabledEnter)
        << "Enter must not reach a disabled default button";
    EXPECT_GE(commandsBeforeSetCheck, 2u);
    ASSERT_EQ(menuItems.size(), 2u);
    EXPECT_EQ(menuItems[1].first, kIdmAboutBox);
    EXPECT_EQ(menuItems[1].second, "_About Fablewright Update Downloader...");
    // The close box arrived as SC_CLOSE and the about item as its own id; the window stayed.
    ASSERT_EQ(d.sysCommands.size(), 2u);
    EXPECT_EQ(d.sysCommands[0], SC_CLOSE);
    EXPECT_EQ(d.sysCommands[1], kIdmAboutBox);
}

TEST_F(GtkBackendTest, TabFollowsTemplateOrder) {
    // In template 129 the OK and Cancel buttons come first although they sit at the bottom.
    ScriptedDialog d(*gtk, BetaDirDialogTemplate());
    std::vector<int> order;
    d.steps = {WaitShown(), Do([&](ScriptedDialog& dlg) { gtk->SetFocus(dlg.handle(), IDOK); })};
    for (int i = 0; i < 4; ++i) {
        d.steps.push_back(
            Do([&](ScriptedDialog& dlg) { ASSERT_TRUE(gtk->SimulateKey(dlg.handle(), "Tab")); }));
        d.steps.push_back(Idle(2));
        d.steps.push_back(
            Do([&](ScriptedDialog& dlg) { order.push_back(gtk->GetFocus(dlg.handle())); }));
    }
    ASSERT_EQ(Run(d), 0);
    EXPECT_EQ(order, (std::vector<int>{IDCANCEL, kIdBetaDirEdit, kIdBrowse, IDOK}));
}

// ---- edit box, icon, folder browser ----

TEST_F(GtkBackendTest, EditLimitHoldsForTypingNotForTheProgram) {
    ScriptedDialog d(*gtk, BetaDirDialogTemplate());
    std::string typed;
    std::string programmatic;
    std::string latin1;
    d.steps = {WaitShown(), Do([&](ScriptedDialog& dlg) {
                   gtk->EditSetLimit(dlg.handle(), kIdBetaDirEdit, 5);
                   gtk->SetText(dlg.handle(), kIdBetaDirEdit, "");
                   gtk->TypeText(dlg.handle(), kIdBetaDirEdit, "abc");
                   gtk->TypeText(dlg.handle(), kIdBetaDirEdit, "defgh");
                   typed = gtk->GetText(dlg.handle(), kIdBetaDirEdit);
                   gtk->SetText(dlg.handle(), kIdBetaDirEdit, "0123456789");
                   programmatic = gtk->GetText(dlg.handle(), kIdBetaDirEdit);
                   gtk->SetText(dlg.handle(), kIdBetaDirEdit, "Caf\xe9");
                   latin1 = gtk->GetText(dlg.handle(), kIdBetaDirEdit);
               })};
    ASSERT_EQ(Run(d), 0);
    EXPECT_EQ(typed, "abcde");
    EXPECT_EQ(programmatic, "0123456789");
    EXPECT_EQ(latin1, "Caf\xe9");
}

TEST_F(GtkBackendTest, AppIconIsBuiltIn) {
    EXPECT_EQ(gtk->LoadIcon(5), nullptr);
    IconHandle icon = gtk->LoadIcon(kAppIcon);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(gtk->LoadIcon(kAppIcon), icon);
    ScriptedDialog d(*gtk, MainDialogTemplate());
    bool hasIcon = false;
    d.steps = {Do([&](ScriptedDialog& dlg) {
        gtk->SetIcon(dlg.handle(), icon, true);
        hasIcon = gtk->HasWindowIcon(dlg.handle());
    })};
    ASSERT_EQ(Run(d), 0);
    EXPECT_TRUE(hasIcon);
}

TEST_F(GtkBackendTest, FolderBrowserOpensOnTheNearestExistingFolder) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.Path("chosen"));
    std::string root = std::filesystem::canonical(dir.path()).string();
    struct Case {
        std::string initial;
        bool choose;
        std::string expectedOpen;
    };
    const std::vector<Case> cases = {
        {root + "/missing/deeper", true, root},
        {root + "/chosen", false, root + "/chosen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.initial);
        ScriptedDialog d(*gtk, BetaDirDialogTemplate());
        std::optional<std::string> opened;
        std::string path = c.initial;
        bool result = !c.choose;
        d.onHelperTimer = [&](ScriptedDialog&) {
            auto folder = gtk->ActiveFolderBrowser();
            if (!folder || folder->empty() || opened) return;  // still opening
            opened = folder;
            gtk->AnswerFolderBrowser(c.choose ? std::optional<std::string>(root + "/chosen")
                                              : std::nullopt);
        };
        d.steps = {WaitShown(), Do([&](ScriptedDialog& dlg) {
                       dlg.SetTimer(kHelperTimer, 100);
                       result = gtk->BrowseForFolder(dlg.handle(), "Select Beta Install Directory",
                                                     path);
                       dlg.KillTimer(kHelperTimer);
                   })};
        ASSERT_EQ(Run(d), 0);
        ASSERT_TRUE(opened.has_value());
        EXPECT_EQ(*opened, c.expectedOpen);
        EXPECT_EQ(result, c.choose);
        EXPECT_EQ(path, c.choose ? root + "/chosen" : c.initial);
    }
}

// ---- the system services ----

TEST_F(GtkBackendTest, TickCountAdvancesInMilliseconds) {
    GtkSystem system;
    std::uint32_t first = system.GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    std::uint32_t elapsed = system.GetTickCount() - first;  // unsigned: right across the wrap
    EXPECT_GE(elapsed, 55u);
    EXPECT_LT(elapsed, 2000u);
    EXPECT_FALSE(system.IsShiftDown()) << "nobody holds Shift on a virtual display";
}

}  // namespace
}  // namespace fw
