#pragma once
// What the files of the GTK host share: the window and control records behind the opaque
// handles, the backend's state, and the helpers more than one of them needs. Only the host's
// own sources include this.

#include <gtk/gtk.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gtk/dialog_backend_gtk.h"
#include "platform/ui/dialog.h"
#include "platform/ui/win_constants.h"

namespace fw {

inline constexpr int kAppIconId = 128;

template <class T>
struct GObjectUnref {
    void operator()(T* object) const {
        if (object != nullptr) g_object_unref(object);
    }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, GObjectUnref<GdkPixbuf>>;
using CssProviderPtr = std::unique_ptr<GtkCssProvider, GObjectUnref<GtkCssProvider>>;

struct MainLoopUnref {
    void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};
struct FontDescriptionFree {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
struct GFree {
    void operator()(void* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

// Our texts are 8-bit strings; GTK draws UTF-8. A text that is not UTF-8 is taken as the
// Windows code page (Latin-1 where that has a gap). Windows line ends become one line break.
std::string ShownText(std::string_view raw);
// ShownText of at most the first `maxBytes` bytes, never cutting a character in two: for
// widgets that can only ever show the start of a text, however long it is.
std::string ShownPrefix(std::string_view raw, std::size_t maxBytes);
// "&Check" -> "_Check", "&&" -> a literal "&", a literal "_" -> "__".
std::string ToMnemonic(std::string_view text);

struct GtkDialogWindow;

struct GtkControl {
    GtkDialogWindow* owner = nullptr;
    const ControlTemplate* tmpl = nullptr;
    int id = kNoControlId;
    ControlKind kind = ControlKind::kStatic;
    GtkWidget* widget = nullptr;       // what sits on the GtkFixed
    GtkWidget* focusWidget = nullptr;  // what takes the keyboard focus
    GtkWidget* label = nullptr;        // the GtkLabel that shows the text, if any
    GtkTreeModel* store = nullptr;     // list boxes: our bytes, converted when drawn
    std::string text;                  // the text as the program gave it
    unsigned buttonStyle = 0;
    int rangeLow = 0;
    int rangeHigh = 100;
    int pos = 0;
    double drawnFraction = -1;  // progress bars: what the last paint showed; -1 before one
    int limit = 0;
    bool programmatic = false;  // a change the program made: no notification, no limit
    gulong insertHandler = 0;
    gint64 fractionShownUs = 0;  // progress bars: when the fraction last changed
    guint fractionSource = 0;    // progress bars: the pending change of the fraction
    ~GtkControl() {
        if (fractionSource != 0) g_source_remove(fractionSource);
    }
};

struct GtkTimer {
    GtkDialogWindow* owner = nullptr;
    unsigned id = 0;
    guint source = 0;
};

struct GtkMenuEntry {
    GtkDialogWindow* owner = nullptr;
    unsigned id = 0;
    GtkWidget* item = nullptr;
    std::string text;
};

struct GtkIconSet {
    std::vector<PixbufPtr> sizes;  // ascending
    GdkPixbuf* Best(int size) const {
        for (const PixbufPtr& p : sizes) {
            if (gdk_pixbuf_get_width(p.get()) >= size) return p.get();
        }
        return sizes.empty() ? nullptr : sizes.back().get();
    }
};

struct GtkDialogWindow : std::enable_shared_from_this<GtkDialogWindow> {
    GtkBackend::State* backend = nullptr;
    CDialog* dialog = nullptr;
    const DialogTemplate* tmpl = nullptr;
    GtkWidget* window = nullptr;
    GtkWidget* fixed = nullptr;
    GtkWidget* headerBar = nullptr;
    GtkWidget* menuButton = nullptr;
    GtkWidget* menu = nullptr;
    std::vector<std::unique_ptr<GtkControl>> controls;  // template order
    std::map<unsigned, std::unique_ptr<GtkTimer>> timers;
    std::vector<std::unique_ptr<GtkMenuEntry>> menuEntries;
    std::vector<CssProviderPtr> providers;
    std::string caption;
    GMainLoop* loop = nullptr;  // while the modal loop runs
    bool ended = false;
    std::intptr_t result = 0;
    bool closed = false;
    bool iconic = false;
    bool hasIcon = false;
    int paints = 0;  // how often the window has been drawn
    // Disabling the focused control parks the focus on another one; the control gets it back
    // when it is enabled again while the focus is still parked.
    int owedFocus = kNoControlId;
    int parkedFocus = kNoControlId;

    ~GtkDialogWindow() { Close(); }

    GtkControl* Find(int id) {
        if (id == kNoControlId || closed) return nullptr;
        for (auto& c : controls) {
            if (c->id == id) return c.get();
        }
        return nullptr;
    }

    GtkControl* ControlOfWidget(GtkWidget* widget) {
        for (GtkWidget* w = widget; w != nullptr && w != fixed; w = gtk_widget_get_parent(w)) {
            for (auto& c : controls) {
                if (c->focusWidget == w || c->widget == w) return c.get();
            }
        }
        return nullptr;
    }

    void RemoveTimers() {
        for (auto& [id, timer] : timers) g_source_remove(timer->source);
        timers.clear();
    }

    void Close() {
        if (closed) return;
        closed = true;
        RemoveTimers();
        for (auto& c : controls) {
            if (c->fractionSource != 0) g_source_remove(c->fractionSource);
            c->fractionSource = 0;
        }
        if (!ended) {
            ended = true;
            result = -1;
        }
        if (loop != nullptr) g_main_loop_quit(loop);
        if (window != nullptr) {
            GtkWidget* w = window;
            window = nullptr;
            gtk_widget_destroy(w);
        }
    }
};

struct GtkBackend::State {
    std::vector<std::shared_ptr<GtkDialogWindow>> windows;  // open windows, innermost last
    std::map<int, std::unique_ptr<GtkIconSet>> icons;
    std::vector<GtkWidget*> messageBoxes;  // open message boxes, innermost last
    std::vector<GtkWidget*> browsers;      // open folder browsers
    CssProviderPtr css;
    std::unique_ptr<PangoFontDescription, FontDescriptionFree> font;
    int baseX = 6;
    int baseY = 13;
    bool repaintOnly = false;   // inside RepaintPending: nothing reaches a dialog
    gint64 lastPumpEnd = 0;     // monotonic microseconds; 0 before the first PumpMessages
    gint64 pumpIntervalUs = 0;  // how long after lastPumpEnd the next pass may come
    gint64 lastFrameUs = 0;     // when a pass of PumpMessages last painted a dialog
    std::vector<GdkWindow*> heldFrames;  // dialogs whose painting this pass holds back (refs)

    GtkDialogWindow* Window(WindowHandle handle) {
        for (auto& w : windows) {
            if (w.get() == handle && !w->closed) return w.get();
        }
        return nullptr;
    }
    GtkControl* Control(WindowHandle handle, int id) {
        GtkDialogWindow* w = Window(handle);
        return w ? w->Find(id) : nullptr;
    }
    GtkWindow* Parent(WindowHandle owner) {
        if (GtkDialogWindow* w = Window(owner)) return GTK_WINDOW(w->window);
        // A window without an owner goes with the innermost open dialog, as the classic
        // framework gives ownerless dialogs the main window.
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
            if (!(*it)->closed && !(*it)->ended) return GTK_WINDOW((*it)->window);
        }
        return nullptr;
    }
    int MapX(int units) const { return (units * baseX + 2) / 4; }
    int MapY(int units) const { return (units * baseY + 4) / 8; }
};

// Lets the dialogs that a pass of PumpMessages keeps from painting paint again (pump_gtk.cpp).
// Every loop that runs inside a pass (a modal dialog, a message box, the folder chooser, a
// repaint) calls it first, so that the windows behind it never stay unpainted.
void ReleaseHeldFrames(GtkBackend::State& state);

// Every event goes to the dialog here, and only here. The window stays alive for the call even
// when a handler destroys it.
void Dispatch(GtkDialogWindow* w, const Message& message);

// Controls (controls_gtk.cpp): builds the widget of one template control on the window's
// GtkFixed, with its text, state and rectangle.
std::unique_ptr<GtkControl> CreateControl(GtkBackend& backend, GtkBackend::State& state,
                                          GtkDialogWindow& w, const ControlTemplate& ct);
void SetLabelText(GtkControl& c);
bool IsFocusable(const GtkControl& c);
// The whole text of row `row` of a list box, as its tooltip shows it: empty when the row fits.
std::string ListRowTooltip(GtkControl& c, int row);

// The rows of a list box (list_model_gtk.cpp): a model of one string column over a vector.
GtkTreeModel* NewTextListModel();
const std::deque<std::string>& TextListRows(GtkTreeModel* model);
void TextListInsert(GtkTreeModel* model, int index, std::string text);
void TextListDelete(GtkTreeModel* model, int index);
// Empties the model without telling its view: detach it from the view first.
void TextListClear(GtkTreeModel* model);

// Assistive technology (accessible_gtk.cpp).
// A label whose text changes are announced (a live region).
GtkWidget* NewLiveLabel();
// Names, label and description relations and the dialog role, once the controls exist.
void ExposeControls(GtkDialogWindow& w);
// The descriptions of the controls that control `describerId` describes, after its text changed.
void UpdateDescriptions(GtkDialogWindow& w, int describerId);
// The window's description: the texts a screen reader reads when it opens.
void DescribeWindow(GtkDialogWindow& w);

// Texts longer than their room (text_fit_gtk.cpp).
// At most `maxChars` characters of a UTF-8 text, with an ellipsis when some were left out.
std::string BoundedText(std::string_view shown, std::size_t maxChars);
// `shown` with a place to break the line at least every few characters.
std::string BreakableText(std::string_view shown);
// As much of `shown` as a tooltip over `widget` shows: what fits on the screen.
std::string WholeTextTooltipText(GtkWidget* widget, std::string_view shown);
// Fills `tooltip` with `shown`, wrapped, within the screen; false when there is nothing to show.
bool SetWholeTextTooltip(GtkWidget* widget, GtkTooltip* tooltip, std::string_view shown);
// Gives an ellipsizing label a tooltip with its whole text, shown while the text is cut.
void AddWholeTextTooltip(GtkWidget* label);
// The tallest a message box's text may be before it scrolls.
int MessageTextMaxHeight(GtkWidget* widget);

}  // namespace fw
