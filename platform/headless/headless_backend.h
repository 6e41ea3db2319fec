#pragma once
// A dialog host without a screen: every control's state lives in memory, a scripted user drives
// the modal dialogs, answers the message boxes and acts while the program pumps messages.
// Anything the program asks that the script did not expect is reported through the
// unexpected-event hook (tests turn it into a failure) and answered with Cancel.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_backend.h"

namespace fw {

class HeadlessBackend;

struct HeadlessControl {
    ControlKind kind = ControlKind::kStatic;
    std::string text;
    bool enabled = true;
    unsigned buttonStyle = 0;  // BS_PUSHBUTTON or BS_DEFPUSHBUTTON for push buttons
    int check = BST_UNCHECKED;
    std::vector<std::string> items;
    int curSel = LB_ERR;
    int rangeLow = 0;
    int rangeHigh = 100;
    int pos = 0;
    int limit = 0;  // edit boxes: 0 is the platform's default
};

struct ShownMessageBox {
    std::string text;
    std::string caption;
    unsigned type = 0;
    bool owned = false;  // whether a dialog window owned it
    int answer = 0;
};

struct PaintedIcon {
    IconHandle icon = nullptr;
    int x = 0;
    int y = 0;
};

// One open dialog window, as the scripted user sees it.
class HeadlessWindow {
public:
    HeadlessWindow(HeadlessBackend& backend, CDialog& dialog, const DialogTemplate& tmpl);

    // What the user does. Each reports false when the control does not exist or is disabled,
    // in which case nothing happens (a user cannot click a disabled button).
    bool Click(int id);
    bool DoubleClickItem(int index);         // selects `index` first; -1 selects nothing
    bool DoubleClickListWithoutSelection();  // the list box reports a double-click as it stands
    bool Select(int index);
    bool TypeText(int id, std::string_view text);  // replaces an edit box's text, within its limit
    // Raised by the host whatever the controls' state: Escape or the close box.
    void SendCommand(int id, int code = BN_CLICKED);
    void SysCommand(unsigned command, std::intptr_t param = 0);
    void Paint();
    IconHandle QueryDragIcon();
    // Fires timer `id` once; false when it is not armed.
    bool TickTimer(unsigned id);

    // What the user sees.
    int templateId() const { return dialogTemplate.id; }
    const HeadlessControl& Control(int id) const;
    bool HasControl(int id) const { return controls.count(id) != 0; }
    const std::string& Text(int id) const { return Control(id).text; }
    bool Enabled(int id) const { return Control(id).enabled; }
    bool IsDefault(int id) const { return (Control(id).buttonStyle & 0x0F) == BS_DEFPUSHBUTTON; }
    bool Checked(int id) const { return Control(id).check == BST_CHECKED; }
    const std::vector<std::string>& Items(int id) const { return Control(id).items; }
    int ProgressPos(int id) const { return Control(id).pos; }
    int focus = 0;
    std::string caption;
    std::map<unsigned, unsigned> timers;  // id -> period
    std::vector<std::pair<unsigned, std::string>> systemMenu;  // appended (flags, text), id below
    std::vector<unsigned> systemMenuIds;
    IconHandle bigIcon = nullptr;
    IconHandle smallIcon = nullptr;
    bool iconic = false;
    std::vector<PaintedIcon> paintedIcons;
    int defaultPaints = 0;
    std::vector<unsigned> defaultSysCommands;
    bool ended = false;
    std::intptr_t result = 0;
    bool destroyed = false;

    CDialog& dialog;
    const DialogTemplate& dialogTemplate;
    std::map<int, HeadlessControl> controls;
    HeadlessControl& Mutable(int id);

private:
    HeadlessBackend& backend;
};

class HeadlessBackend : public DialogBackend {
public:
    using ModalScript = std::function<void(HeadlessWindow&)>;
    using MessageBoxAnswer = std::function<int(const ShownMessageBox&)>;

    HeadlessBackend();
    ~HeadlessBackend() override;

    // The script of the next modal run of template `templateId`. Scripts run in the order they
    // were queued for their template. When the script returns and the dialog has not ended,
    // the run ends with -1 as if the window had been closed from outside.
    void ScriptModal(int templateId, ModalScript script);
    // The answer to the next message box; `expectedCaption` empty accepts any caption.
    void ExpectMessageBox(int answer, std::string expectedCaption = {});
    void ExpectMessageBox(MessageBoxAnswer answer);
    // Runs `action` during the `n`-th PumpMessages from now (1 is the next).
    void AtPump(int n, std::function<void()> action);
    // Runs on every PumpMessages.
    std::function<void()> onEveryPump;
    // Answers the next folder browser: returns the chosen folder, or nothing for Cancel.
    void ExpectBrowse(std::function<std::optional<std::string>(std::string_view title,
                                                               const std::string& initial)>
                          answer);
    // Hook for anything unexpected; the default records it in `unexpected`.
    std::function<void(const std::string&)> onUnexpected;

    // Record of what happened.
    std::vector<ShownMessageBox> messageBoxes;
    std::vector<std::string> unexpected;
    std::vector<int> modalRuns;  // template ids, in order
    long pumpCount = 0;
    std::vector<std::string> browseTitles;
    std::vector<std::string> browseInitialFolders;

    // The innermost open window (the one with the focus); nullptr when none.
    HeadlessWindow* Top();
    HeadlessWindow* FindByTemplate(int templateId);
    std::size_t PendingScripts() const;
    std::size_t PendingMessageBoxes() const { return messageBoxAnswers.size(); }

    // DialogBackend.
    std::intptr_t RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate,
                           WindowHandle owner) override;
    void EndModal(WindowHandle dialog, std::intptr_t result) override;
    void DestroyDialog(WindowHandle dialog) override;
    void SetText(WindowHandle dialog, int id, std::string_view text) override;
    std::string GetText(WindowHandle dialog, int id) override;
    void Enable(WindowHandle dialog, int id, bool enable) override;
    bool IsEnabled(WindowHandle dialog, int id) override;
    void SetFocus(WindowHandle dialog, int id) override;
    int GetFocus(WindowHandle dialog) override;
    void SetButtonStyle(WindowHandle dialog, int id, unsigned style, bool redraw) override;
    unsigned GetButtonStyle(WindowHandle dialog, int id) override;
    int GetButtonState(WindowHandle dialog, int id) override;
    void SetCheck(WindowHandle dialog, int id, int check) override;
    int ListInsert(WindowHandle dialog, int id, int index, std::string_view text) override;
    int ListDelete(WindowHandle dialog, int id, int index) override;
    void ListReset(WindowHandle dialog, int id) override;
    int ListCount(WindowHandle dialog, int id) override;
    int ListGetText(WindowHandle dialog, int id, int index, std::string& text) override;
    int ListGetCurSel(WindowHandle dialog, int id) override;
    int ListSetCurSel(WindowHandle dialog, int id, int index) override;
    void ProgressSetRange(WindowHandle dialog, int id, int low, int high) override;
    int ProgressSetPos(WindowHandle dialog, int id, int pos) override;
    void EditSetLimit(WindowHandle dialog, int id, int maxChars) override;
    bool SetTimer(WindowHandle dialog, unsigned timerId, unsigned milliseconds) override;
    bool KillTimer(WindowHandle dialog, unsigned timerId) override;
    int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                   unsigned type) override;
    void PumpMessages() override;
    bool HasSystemMenu(WindowHandle dialog) override;
    void AppendSystemMenu(WindowHandle dialog, unsigned flags, unsigned id,
                          std::string_view text) override;
    void DefaultSysCommand(WindowHandle dialog, unsigned command, std::intptr_t param) override;
    IconHandle LoadIcon(int resourceId) override;
    void SetIcon(WindowHandle dialog, IconHandle icon, bool big) override;
    bool IsIconic(WindowHandle dialog) override;
    ClientRect GetClientRect(WindowHandle dialog) override;
    IconMetrics GetIconMetrics() override { return {32, 32}; }
    void PaintIcon(WindowHandle dialog, IconHandle icon, int x, int y) override;
    void DefaultPaint(WindowHandle dialog) override;
    bool BrowseForFolder(WindowHandle owner, std::string_view title, std::string& path) override;

    void ReportUnexpected(const std::string& what);
    // The open window behind a handle; nullptr when it is not open.
    HeadlessWindow* Window(WindowHandle handle);

private:
    HeadlessControl* Find(WindowHandle handle, int id);

    std::vector<std::unique_ptr<HeadlessWindow>> windows;  // open windows, innermost last
    std::map<int, std::deque<ModalScript>> scripts;
    std::deque<MessageBoxAnswer> messageBoxAnswers;
    std::deque<std::pair<long, std::function<void()>>> pumpActions;  // (pump number, action)
    std::deque<std::function<std::optional<std::string>(std::string_view, const std::string&)>>
        browseAnswers;
    std::map<int, int> iconStorage;  // resource id -> placeholder whose address is the handle
};

// A clock and a Shift key that tests set.
class HeadlessSystem : public System {
public:
    std::uint32_t GetTickCount() override { return tick += tickStep; }
    bool IsShiftDown() override { return shiftDown; }
    std::int64_t UnixTime() override { return unixTime; }
    std::string CacheFolder() override { return cacheFolder; }
    std::uint32_t tick = 0;
    // Added to the clock whenever it is read: work that reads it goes on taking time.
    std::uint32_t tickStep = 0;
    std::int64_t unixTime = 0;
    bool shiftDown = false;
    std::string cacheFolder;  // none: nothing is kept
};

}  // namespace fw
