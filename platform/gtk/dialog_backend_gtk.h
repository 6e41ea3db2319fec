#pragma once
// The GTK 3 host of our dialogs. Templates are laid out on a GtkFixed from dialog units, with the
// dialog font's average character size as Windows computes it; every event reaches the dialog
// through CDialog::HandleMessage. No toolkit type appears here, so the program's entry point and
// the tests include this header without the toolkit's headers.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ui/dialog_backend.h"
#include "platform/ui/dialog_template.h"

namespace fw {

// Where a control landed, in pixels of the dialog's client area, and how its text fits.
struct GtkControlLayout {
    int id = kNoControlId;
    ControlKind kind = ControlKind::kStatic;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::string shownText;  // as drawn: mnemonic markers removed, CR dropped
    char32_t mnemonic = 0;  // the Alt+key that activates it, lower case; 0 when none
    int textWidth = 0;      // the drawn text's extents
    int textHeight = 0;
    bool textClipped = false;  // ellipsized, or larger than the room its widget has
};

// The message box that is open at the moment, as a user sees it.
struct GtkMessageBoxView {
    std::string title;
    std::string text;
    std::vector<int> answers;         // IDOK, IDCANCEL, IDYES ... in the order shown
    std::vector<std::string> labels;  // the button texts, mnemonic markers removed
    int defaultAnswer = 0;
    int focusedAnswer = 0;
    bool closable = true;  // whether closing the window answers at all
    int width = 0;         // the box's window, in pixels
    int height = 0;
};

class GtkBackend : public DialogBackend {
  public:
    // Initialises the toolkit from the program's arguments (removing the ones it understands);
    // false when there is no display. The entry point calls this once, before constructing a
    // GtkBackend; arguments may be null.
    static bool InitToolkit(int* argc, char*** argv);

    GtkBackend();
    ~GtkBackend() override;
    GtkBackend(const GtkBackend&) = delete;
    GtkBackend& operator=(const GtkBackend&) = delete;

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
    // Makes a whole pass over the pending events at most every 5 ms, or less often when passes
    // are long (at least every 40 ms); calls in between return at once (see the definition).
    void PumpMessages() override;
    // A pass over the main context in which only painting happens; input waits.
    void RepaintPending() override;
    bool HasSystemMenu(WindowHandle dialog) override;
    void AppendSystemMenu(WindowHandle dialog, unsigned flags, unsigned id,
                          std::string_view text) override;
    void DefaultSysCommand(WindowHandle dialog, unsigned command, std::intptr_t param) override;
    IconHandle LoadIcon(int resourceId) override;
    void SetIcon(WindowHandle dialog, IconHandle icon, bool big) override;
    bool IsIconic(WindowHandle dialog) override;
    ClientRect GetClientRect(WindowHandle dialog) override;
    IconMetrics GetIconMetrics() override;
    void PaintIcon(WindowHandle dialog, IconHandle icon, int x, int y) override;
    void DefaultPaint(WindowHandle dialog) override;
    bool BrowseForFolder(WindowHandle owner, std::string_view title, std::string& path) override;

    // The dialog base units: the font's average character width and its height, in pixels.
    int BaseUnitX() const;
    int BaseUnitY() const;

    // What a user sees and does, for tests and diagnostics. Each acts through the window system
    // (synthesised pointer and key events) or the widgets' own signals, never by calling a
    // dialog's handler, and reports false when the window or control does not exist.
    std::vector<GtkControlLayout> DescribeLayout(WindowHandle dialog);
    // The work area of the screen, in pixels.
    ClientRect ScreenArea();
    // The text the tooltip of control `id` (for a list box: of row `row`) would show now;
    // empty when the text fits and no tooltip shows.
    std::string TooltipText(WindowHandle dialog, int id, int row = -1);
    // The fraction (0 to 1) a progress bar showed the last time it was painted on screen;
    // nothing before its first paint or when `id` is no progress bar.
    std::optional<double> DrawnProgressFraction(WindowHandle dialog, int id);
    bool SimulateClick(WindowHandle dialog, int id);
    // Double-clicks row `row` of a list box; -1 double-clicks below the last row.
    bool SimulateDoubleClick(WindowHandle dialog, int id, int row);
    // A key by its name ("Return", "Escape", "Tab", "x"), optionally with Alt or Shift.
    bool SimulateKey(WindowHandle dialog, std::string_view keyName, bool alt = false,
                     bool shift = false);
    // Types into an edit box at its cursor, as a keyboard would (the limit applies).
    bool TypeText(WindowHandle dialog, int id, std::string_view text);
    // The title bar's close button.
    bool CloseWindow(WindowHandle dialog);
    std::vector<std::pair<unsigned, std::string>> SystemMenuItems(WindowHandle dialog);
    bool ChooseSystemMenuItem(WindowHandle dialog, unsigned id);
    // The window that `dialog` is transient for (nullptr when none) and whether it is modal.
    WindowHandle OwnerOf(WindowHandle dialog);
    bool IsModalWindow(WindowHandle dialog);
    bool IsShown(WindowHandle dialog);
    bool HasWindowIcon(WindowHandle dialog);
    // How many times the window has been drawn on screen.
    int PaintCount(WindowHandle dialog);

    std::optional<GtkMessageBoxView> ActiveMessageBox();
    bool AnswerMessageBox(int answer);
    bool CloseMessageBox();
    // The folder the open folder browser shows; nothing when none is open.
    std::optional<std::string> ActiveFolderBrowser();
    // Chooses `folder` (nothing: Cancel) in the open folder browser.
    bool AnswerFolderBrowser(const std::optional<std::string>& folder);

    struct State;

  private:
    std::unique_ptr<State> state;
};

}  // namespace fw
