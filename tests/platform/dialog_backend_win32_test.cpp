// The Win32 dialog host with real windows. It needs a display (.ci/windows.sh gives the tests
// one); without it these cases skip.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/message_map.h"
#include "platform/ui/win_constants.h"
#include "platform/win32/dialog_backend_win32.h"
#include "platform/win32/windows_win32.h"

#include <commctrl.h>
#include <oleacc.h>

namespace fw {
namespace {

constexpr int kList = 100;
constexpr int kText = 101;
constexpr int kBar = 102;
constexpr unsigned kTimer = 7;
constexpr ControlTemplate kControls[] = {
    {kList, ControlKind::kListBox, "", WS_CHILD | WS_VISIBLE | WS_BORDER, {7, 7, 150, 40}},
    {kText, ControlKind::kStatic, "", WS_CHILD | WS_VISIBLE | SS_LEFT, {7, 50, 150, 17}},
    {kBar, ControlKind::kProgress, "", WS_CHILD | WS_VISIBLE, {7, 68, 150, 8}},
};
constexpr DialogTemplate kTemplate{900, "Win32 host test", DS_MODALFRAME | WS_POPUP | WS_CAPTION,
                                   0, {0, 0, 170, 80}, "MS Sans Serif", 8, kControls};

// Runs `script` once the window is up, then ends.
class ScriptedDialog : public CDialog {
public:
    ScriptedDialog(Win32Backend& backend, std::function<void(ScriptedDialog&)> script)
        : CDialog(backend, kTemplate), script(std::move(script)) {}
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        script(*this);
        EndDialog(IDOK);
        return true;
    }
    int timers = 0;

protected:
    DispatchResult DispatchMessageMap(const Message& message) override {
        if (message.kind != MessageKind::kTimer) return {};
        ++timers;
        return {true, nullptr};
    }

private:
    std::function<void(ScriptedDialog&)> script;
};

class Win32BackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display";
    }
    void Run(std::function<void(ScriptedDialog&)> script) {
        ScriptedDialog dialog(backend, std::move(script));
        ASSERT_EQ(dialog.DoModal(), IDOK);
    }
    Win32Backend backend;
};

TEST_F(Win32BackendTest, ListItemsOfAnyLengthReadBackWhole) {
    Run([&](ScriptedDialog& d) {
        for (std::size_t length : {std::size_t{7}, std::size_t{511}, std::size_t{512},
                                   std::size_t{10000}}) {
            std::string item(length, 'W');
            item.front() = 'A';
            item.back() = 'Z';
            int index = backend.ListInsert(d.GetSafeHwnd(), kList, -1, item);
            ASSERT_GE(index, 0);
            std::string back;
            EXPECT_EQ(backend.ListGetText(d.GetSafeHwnd(), kList, index, back),
                      static_cast<int>(length));
            EXPECT_TRUE(back == item) << length;
        }
    });
}

TEST_F(Win32BackendTest, TextsThatDoNotFitAreShownAsTheyAre) {
    const std::string texts[] = {
        "Step 2:\r\nThe version available for download is 4.2 final. The templates listed below "
        "can be updated. Double-click any templates you do not wish to update.",
        std::string(5000, 'n') + ".exe",
        "short",
    };
    Run([&](ScriptedDialog& d) {
        for (const std::string& text : texts) {
            backend.SetText(d.GetSafeHwnd(), kText, text);
            EXPECT_TRUE(backend.GetText(d.GetSafeHwnd(), kText) == text) << text.substr(0, 20);
        }
    });
}

// Each step gives the position the bar had before it, as the control itself reports it, also
// when the position was clamped to the range or a new range moved it.
TEST_F(Win32BackendTest, ProgressPositionsAsTheBarHasThem) {
    Run([&](ScriptedDialog& d) {
        WindowHandle w = d.GetSafeHwnd();
        backend.ProgressSetRange(w, kBar, 0, 100);
        EXPECT_EQ(backend.ProgressSetPos(w, kBar, 50), 0);
        EXPECT_EQ(backend.ProgressSetPos(w, kBar, 50), 50);
        EXPECT_EQ(backend.ProgressSetPos(w, kBar, 150), 50);
        EXPECT_EQ(backend.ProgressSetPos(w, kBar, 150), 100);  // it stopped at the top
        backend.ProgressSetRange(w, kBar, 0, 10);
        EXPECT_EQ(backend.ProgressSetPos(w, kBar, 100), 10);   // the new range moved it down
        EXPECT_EQ(backend.ProgressSetPos(w, kBar, 3), 10);
    });
}

TEST_F(Win32BackendTest, RepaintPendingTakesNoOtherMessage) {
    Run([&](ScriptedDialog& d) {
        ASSERT_TRUE(backend.SetTimer(d.GetSafeHwnd(), kTimer, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        backend.RepaintPending();
        EXPECT_EQ(d.timers, 0);
        backend.PumpMessages();
        EXPECT_GT(d.timers, 0);
        backend.KillTimer(d.GetSafeHwnd(), kTimer);
    });
}

// What another thread saw of a message box, and the keys and clicks it answered it with.
struct BoxSeen {
    bool found = false;
    RECT rect{};
    std::string text;
    std::vector<std::string> unnamedTabStops;  // class names
};

std::string MsaaName(HWND window);

BoxSeen AnswerBox(const char* caption, const std::vector<std::pair<UINT, WPARAM>>& answers) {
    BoxSeen seen;
    HWND box = nullptr;
    // The box is found once it shows, with its controls made.
    for (int i = 0; i < 1000 && box == nullptr; ++i) {
        box = FindWindowA(nullptr, caption);
        if (box != nullptr && !IsWindowVisible(box)) box = nullptr;
        if (box == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (box == nullptr) return seen;
    seen.found = true;
    GetWindowRect(box, &seen.rect);
    HWND edit = FindWindowExA(box, nullptr, "Edit", nullptr);
    std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(edit)) + 1);
    GetWindowTextA(edit, text.data(), static_cast<int>(text.size()));
    for (char c : text) {
        if (c != '\r' && c != '\0') seen.text += c;
    }
    // A screen reader names what the Tab key reaches.
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if ((GetWindowLongA(c, GWL_STYLE) & WS_TABSTOP) == 0 || !IsWindowVisible(c)) continue;
        if (MsaaName(c).empty()) {
            char name[32] = {};
            GetClassNameA(c, name, sizeof(name));
            seen.unnamedTabStops.emplace_back(name);
        }
    }
    for (auto [message, wParam] : answers) {
        HWND target = message == BM_CLICK ? GetDlgItem(box, static_cast<int>(wParam)) : box;
        PostMessageA(target, message, message == BM_CLICK ? 0 : wParam, 0);
    }
    return seen;
}

// A text the system's box could only show cut (a 5,000-character file name from the server) is
// shown whole, in a box within the screen, and the box answers as the system's box would.
TEST_F(Win32BackendTest, LongMessagesStayWholeAndWithinTheScreen) {
    const std::string text = "Cannot create the file\n" + std::string(5000, 'n') + ".exe\nlast";
    struct Case {
        unsigned type;
        std::vector<std::pair<UINT, WPARAM>> answers;
        int expected;
    };
    const Case cases[] = {
        // Esc answers a question No.
        {MB_YESNO, {{WM_KEYDOWN, VK_ESCAPE}}, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON2, {{WM_KEYDOWN, VK_RETURN}}, IDNO},
        {MB_YESNOCANCEL, {{WM_KEYDOWN, VK_ESCAPE}}, IDCANCEL},
        {MB_OK | MB_ICONHAND, {{WM_KEYDOWN, VK_ESCAPE}}, IDOK},
    };
    Run([&](ScriptedDialog& d) {
        for (const Case& c : cases) {
            BoxSeen seen;
            std::thread answerer([&] { seen = AnswerBox("Long text", c.answers); });
            int answer = backend.MessageBox(d.GetSafeHwnd(), text, "Long text", c.type);
            answerer.join();
            ASSERT_TRUE(seen.found) << c.type;
            EXPECT_EQ(answer, c.expected) << c.type;
            EXPECT_GE(seen.rect.left, 0);
            EXPECT_GE(seen.rect.top, 0);
            EXPECT_LE(seen.rect.right, GetSystemMetrics(SM_CXSCREEN));
            EXPECT_LE(seen.rect.bottom, GetSystemMetrics(SM_CYSCREEN));
            EXPECT_EQ(seen.text.size(), text.size());
            EXPECT_TRUE(seen.text == text) << c.type;
            EXPECT_TRUE(seen.unnamedTabStops.empty())
                << c.type << ": unnamed " << seen.unnamedTabStops.front();
        }
    });
}

// Keyboard and screen reader: named controls, Delete on the list, a focus that is never lost.
constexpr int kButtonA = 110;
constexpr int kButtonB = 111;
constexpr ControlTemplate kReaderControls[] = {
    {kNoControlId, ControlKind::kStatic, "&Items", WS_CHILD | WS_VISIBLE, {7, 7, 150, 8}},
    {kList, ControlKind::kListBox, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | LBS_NOTIFY,
     {7, 17, 150, 30}},
    {kNoControlId, ControlKind::kStatic, "Copied so far", WS_CHILD, {7, 50, 150, 8}},
    {kBar, ControlKind::kProgress, "", WS_CHILD | WS_VISIBLE, {7, 50, 150, 8}},
    {kButtonA, ControlKind::kPushButton, "&Start", WS_CHILD | WS_VISIBLE | WS_TABSTOP,
     {7, 62, 50, 14}},
    {kButtonB, ControlKind::kPushButton, "S&top", WS_CHILD | WS_VISIBLE | WS_TABSTOP,
     {60, 62, 50, 14}},
};
constexpr DialogTemplate kReaderTemplate{901, "Reader test", DS_MODALFRAME | WS_POPUP | WS_CAPTION,
                                         0, {0, 0, 170, 80}, "MS Sans Serif", 8, kReaderControls};

class ReaderDialog : public CDialog {
public:
    ReaderDialog(Win32Backend& backend, std::function<void(ReaderDialog&)> script)
        : CDialog(backend, kReaderTemplate), script(std::move(script)) {}
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        script(*this);
        EndDialog(IDOK);
        return true;
    }
    int doubleClicks = 0;

protected:
    DispatchResult DispatchMessageMap(const Message& message) override {
        if (message.kind != MessageKind::kCommand || message.code != LBN_DBLCLK) return {};
        ++doubleClicks;
        return {true, nullptr};
    }

private:
    std::function<void(ReaderDialog&)> script;
};

std::string MsaaName(HWND window) {
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct ComEnd {
        bool active;
        ~ComEnd() {
            if (active) CoUninitialize();
        }
    } comEnd{SUCCEEDED(com)};
    IAccessible* accessible = nullptr;
    HRESULT found = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                               __uuidof(IAccessible),
                                               reinterpret_cast<void**>(&accessible));
    if (FAILED(found) || accessible == nullptr) {
        return "(no accessible object: " + std::to_string(static_cast<unsigned long>(found)) + ")";
    }
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::string result;
    if (accessible->get_accName(self, &name) == S_OK && name != nullptr) {
        for (const wchar_t* p = name; *p != 0; ++p) result += static_cast<char>(*p);
    }
    SysFreeString(name);
    accessible->Release();
    return result;
}

TEST_F(Win32BackendTest, ControlsAreNamedKeysActOnTheListAndTheFocusStaysOnAnEnabledControl) {
    ReaderDialog dialog(backend, [&](ReaderDialog& d) {
        HWND window = static_cast<HWND>(d.GetSafeHwnd());
        // The focus is the active window's: the dialog shows before its keyboard is tried.
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
        backend.PumpMessages();
        HWND list = GetDlgItem(window, kList);
        EXPECT_EQ(MsaaName(list), "Items");
        EXPECT_EQ(MsaaName(GetDlgItem(window, kBar)), "Copied so far");
        EXPECT_EQ(MsaaName(GetDlgItem(window, kButtonA)), "Start");

        backend.ListInsert(window, kList, -1, "first");
        backend.ListSetCurSel(window, kList, 0);
        backend.SetFocus(window, kList);
        SendMessageA(list, WM_KEYDOWN, VK_DELETE, 0);
        EXPECT_EQ(d.doubleClicks, 1);
        SendMessageA(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), -1);
        EXPECT_EQ(d.doubleClicks, 2);
        backend.ListSetCurSel(window, kList, -1);
        SendMessageA(list, WM_KEYDOWN, VK_DELETE, 0);
        EXPECT_EQ(d.doubleClicks, 2) << "nothing selected, nothing to leave out";

        backend.SetFocus(window, kButtonA);
        backend.Enable(window, kButtonA, false);
        EXPECT_EQ(backend.GetFocus(window), kButtonB);
        backend.Enable(window, kButtonB, false);
        EXPECT_EQ(backend.GetFocus(window), kList);
        backend.Enable(window, kButtonB, true);
        EXPECT_EQ(backend.GetFocus(window), kButtonB) << "the parked focus goes back";
    });
    ASSERT_EQ(dialog.DoModal(), IDOK);
}

// What a screen reader hears of one dialog: the WinEvents of its windows, in order. The
// out-of-context hook calls back while the thread takes messages; the record hangs on the
// dialog window as a property.
struct HeardEvent {
    DWORD event;
    HWND window;
};
constexpr char kHeardProperty[] = "fw.test.heard";

void CALLBACK Hear(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                   DWORD) {
    if (window == nullptr || object != OBJID_CLIENT || child != CHILDID_SELF) return;
    HWND root = GetAncestor(window, GA_ROOT);
    auto* heard = root != nullptr ? static_cast<std::vector<HeardEvent>*>(GetPropA(root, kHeardProperty))
                                  : nullptr;
    if (heard != nullptr) heard->push_back({event, window});
}

// Takes the thread's messages (and so its timers and queued events) for `time`.
void TakeMessages(std::chrono::milliseconds time) {
    auto end = std::chrono::steady_clock::now() + time;
    MSG message{};
    while (std::chrono::steady_clock::now() < end) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

class Listener {
public:
    Listener(HWND dialog, DWORD first, DWORD last) : dialog(dialog) {
        SetPropA(dialog, kHeardProperty, &heard);
        hook = SetWinEventHook(first, last, nullptr, Hear, GetCurrentProcessId(), 0,
                               WINEVENT_OUTOFCONTEXT);
    }
    ~Listener() {
        if (hook != nullptr) UnhookWinEvent(hook);
        RemovePropA(dialog, kHeardProperty);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    bool Hooked() const { return hook != nullptr; }
    int Count(DWORD event, HWND window) const {
        int n = 0;
        for (const HeardEvent& e : heard) n += e.event == event && e.window == window ? 1 : 0;
        return n;
    }

private:
    HWND dialog;
    HWINEVENTHOOK hook = nullptr;
    std::vector<HeardEvent> heard;
};

// Each change of what a bar shows is a value event on Windows (Wine's bar raises none, so the
// changes are counted at the control).
LRESULT CALLBACK CountShownChanges(HWND bar, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR, DWORD_PTR changes) {
    LRESULT before = DefSubclassProc(bar, PBM_GETPOS, 0, 0);
    LRESULT result = DefSubclassProc(bar, message, wParam, lParam);
    if (DefSubclassProc(bar, PBM_GETPOS, 0, 0) != before) ++*reinterpret_cast<int*>(changes);
    return result;
}

// A download sets the bars after every block; a screen reader hears a bar's value a few times a
// second, and the last value once the pace allows, while the dialog reads back what it set.
TEST_F(Win32BackendTest, BarValuesChangeAFewTimesASecondAndTheLastOneShows) {
    Run([&](ScriptedDialog& d) {
        HWND window = static_cast<HWND>(d.GetSafeHwnd());
        HWND bar = GetDlgItem(window, kBar);
        backend.ProgressSetRange(window, kBar, 0, 100);
        int changes = 0;
        ASSERT_TRUE(SetWindowSubclass(bar, CountShownChanges, 1,
                                      reinterpret_cast<DWORD_PTR>(&changes)));
        auto start = std::chrono::steady_clock::now();
        auto elapsed = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
        };
        int last = 0;
        while (elapsed() < std::chrono::milliseconds(1000)) {
            int pos = 1 + static_cast<int>(elapsed().count()) / 12;  // 1 to 84, never the end
            EXPECT_EQ(backend.ProgressSetPos(window, kBar, pos), last) << "as set, at once";
            last = pos;
            backend.PumpMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        long long runMs = elapsed().count();
        EXPECT_LE(changes, runMs / 250 + 2) << "in " << runMs << " ms";
        TakeMessages(std::chrono::milliseconds(400));
        EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), last) << "the last value shows";

        // The end of a file and the start of the next show at once.
        for (int pos : {100, 0}) {
            backend.ProgressSetPos(window, kBar, pos);
            EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), pos);
        }
        RemoveWindowSubclass(bar, CountShownChanges, 1);
    });
}

// A live text's change is announced; a plain text's is not.
constexpr int kLiveText = 120;
constexpr int kPlainText = 121;
constexpr ControlTemplate kLiveControls[] = {
    {kLiveText, ControlKind::kStatic, "", WS_CHILD | WS_VISIBLE | SS_LEFT, {7, 7, 150, 17}, 0,
     kNoControlId, true},
    {kPlainText, ControlKind::kStatic, "", WS_CHILD | WS_VISIBLE | SS_LEFT, {7, 30, 150, 17}},
};
constexpr DialogTemplate kLiveTemplate{902, "Live test", DS_MODALFRAME | WS_POPUP | WS_CAPTION, 0,
                                       {0, 0, 170, 60}, "MS Sans Serif", 8, kLiveControls};

class LiveDialog : public CDialog {
public:
    LiveDialog(Win32Backend& backend, std::function<void(LiveDialog&)> script)
        : CDialog(backend, kLiveTemplate), script(std::move(script)) {}
    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        script(*this);
        EndDialog(IDOK);
        return true;
    }

private:
    std::function<void(LiveDialog&)> script;
};

TEST_F(Win32BackendTest, ChangesOfLiveTextsAreAnnounced) {
    constexpr DWORD kLiveRegionChanged = 0x8019;
    LiveDialog dialog(backend, [&](LiveDialog& d) {
        HWND window = static_cast<HWND>(d.GetSafeHwnd());
        ShowWindow(window, SW_SHOW);
        Listener listener(window, kLiveRegionChanged, kLiveRegionChanged);
        ASSERT_TRUE(listener.Hooked());
        backend.SetText(window, kLiveText, "Step 2: choose");
        backend.SetText(window, kPlainText, "Time remaining");
        TakeMessages(std::chrono::milliseconds(200));
        EXPECT_EQ(listener.Count(kLiveRegionChanged, GetDlgItem(window, kLiveText)), 1);
        EXPECT_EQ(listener.Count(kLiveRegionChanged, GetDlgItem(window, kPlainText)), 0);
    });
    ASSERT_EQ(dialog.DoModal(), IDOK);
}

}  // namespace
}  // namespace fw
