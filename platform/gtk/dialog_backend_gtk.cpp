#include "platform/gtk/dialog_backend_gtk.h"

#include <gtk/gtk.h>
#if defined(FW_HAVE_XTEST)
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/ui/dialog.h"
#include "platform/ui/win_constants.h"

// The program's icons, compiled into the executable (see CMakeLists.txt).
extern "C" GResource* fw_icons_get_resource(void);

namespace fw {
namespace {

// "MS Sans Serif" does not exist here. DejaVu Sans is on every Debian desktop, and at 8 points
// every text of our templates fits the rectangle that the template gives it.
constexpr const char* kFontFamily = "DejaVu Sans";
constexpr int kFontPoints = 8;
constexpr int kAppIconId = 128;
constexpr int kIconSizes[] = {16, 32, 48, 256};
constexpr unsigned kMinimumTimerMs = 10;   // as USER_TIMER_MINIMUM
constexpr gint64 kPumpIntervalUs = 5000;   // PumpMessages looks at most this often
constexpr gint64 kMaxPumpPassUs = 100000;  // and dispatches for at most this long

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
std::string ShownText(std::string_view raw) {
    std::string text;
    text.reserve(raw.size());
    for (char c : raw) {
        if (c != '\r' && c != '\0') text.push_back(c);
    }
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    gsize written = 0;
    GCharPtr converted(g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                                 "WINDOWS-1252", nullptr, &written, nullptr));
    if (!converted) {
        converted.reset(g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                                  "ISO-8859-1", nullptr, &written, nullptr));
    }
    return converted ? std::string(converted.get(), written) : std::string();
}

// "&Check" -> "_Check", "&&" -> a literal "&", a literal "_" -> "__".
std::string ToMnemonic(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out.push_back('&');
                ++i;
            } else if (i + 1 < text.size()) {
                out.push_back('_');
            }
        } else if (c == '_') {
            out += "__";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool HasOwnMnemonics(ControlKind kind) {
    return kind == ControlKind::kStatic || kind == ControlKind::kGroupBox ||
           kind == ControlKind::kPushButton || kind == ControlKind::kCheckBox;
}

}  // namespace

struct GtkDialogWindow;

struct GtkControl {
    GtkDialogWindow* owner = nullptr;
    const ControlTemplate* tmpl = nullptr;
    int id = kNoControlId;
    ControlKind kind = ControlKind::kStatic;
    GtkWidget* widget = nullptr;       // what sits on the GtkFixed
    GtkWidget* focusWidget = nullptr;  // what takes the keyboard focus
    GtkWidget* label = nullptr;        // the GtkLabel that shows the text, if any
    GtkListStore* store = nullptr;     // list boxes: column 0 shown text, column 1 our bytes
    std::string text;                  // the text as the program gave it
    unsigned buttonStyle = 0;
    int rangeLow = 0;
    int rangeHigh = 100;
    int pos = 0;
    double drawnFraction = -1;  // progress bars: what the last paint showed; -1 before one
    int limit = 0;
    bool programmatic = false;  // a change the program made: no notification, no limit
    gulong insertHandler = 0;
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
    gint64 lastPumpEnd = 0;  // monotonic microseconds; 0 before the first PumpMessages

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

namespace {

// Every event goes to the dialog here, and only here. The window stays alive for the call even
// when a handler destroys it.
void Dispatch(GtkDialogWindow* w, const Message& message) {
    if (w == nullptr || w->closed || w->ended || w->dialog == nullptr) return;
    std::shared_ptr<GtkDialogWindow> keep = w->shared_from_this();
    w->dialog->HandleMessage(message);
}

void SetLabelText(GtkControl& c) {
    if (c.label == nullptr) return;
    std::string shown = ShownText(c.text);
    bool literal = c.kind == ControlKind::kStatic && c.tmpl && (c.tmpl->style & SS_NOPREFIX) != 0;
    if (literal || !HasOwnMnemonics(c.kind)) {
        gtk_label_set_text(GTK_LABEL(c.label), shown.c_str());
    } else {
        gtk_label_set_text_with_mnemonic(GTK_LABEL(c.label), ToMnemonic(shown).c_str());
    }
}

void UpdateFraction(GtkControl& c) {
    int low = std::min(c.rangeLow, c.rangeHigh);
    int high = std::max(c.rangeLow, c.rangeHigh);
    double fraction = high > low ? static_cast<double>(c.pos - low) / (high - low) : 0.0;
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(c.widget), fraction);
}

// Runs after the bar has painted itself: what the user saw, not what the program last set.
gboolean OnProgressDrawn(GtkWidget* widget, cairo_t*, gpointer data) {
    static_cast<GtkControl*>(data)->drawnFraction =
        gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(widget));
    return FALSE;
}

void OnButtonClicked(GtkButton*, gpointer data) {
    auto* c = static_cast<GtkControl*>(data);
    if (c->programmatic) return;
    Dispatch(c->owner, {MessageKind::kCommand, c->id, BN_CLICKED, 0});
}

gboolean OnListButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* c = static_cast<GtkControl*>(data);
    if (event->type != GDK_2BUTTON_PRESS || event->button != 1) return FALSE;
    if ((c->tmpl->style & LBS_NOTIFY) != 0) {
        Dispatch(c->owner, {MessageKind::kCommand, c->id, LBN_DBLCLK, 0});
    }
    return TRUE;
}

// An edit box's limit holds for what the user types or pastes; the program may put in a longer
// text, as EM_LIMITTEXT allows.
void OnEntryInsert(GtkEditable* editable, const gchar* text, gint length, gint* position,
                   gpointer data) {
    auto* c = static_cast<GtkControl*>(data);
    if (c->programmatic || c->limit <= 0) return;
    glong have = g_utf8_strlen(gtk_entry_get_text(GTK_ENTRY(editable)), -1);
    glong adding = length < 0 ? g_utf8_strlen(text, -1) : g_utf8_strlen(text, length);
    glong room = c->limit - have;
    if (adding <= room) return;
    g_signal_stop_emission_by_name(editable, "insert-text");
    gtk_widget_error_bell(GTK_WIDGET(editable));
    if (room <= 0) return;
    const gchar* end = g_utf8_offset_to_pointer(text, room);
    g_signal_handler_block(editable, c->insertHandler);
    gtk_editable_insert_text(editable, text, static_cast<gint>(end - text), position);
    g_signal_handler_unblock(editable, c->insertHandler);
}

bool IsFocusable(const GtkControl& c) {
    return c.tmpl && (c.tmpl->style & WS_TABSTOP) != 0 && c.focusWidget &&
           gtk_widget_is_sensitive(c.focusWidget) && gtk_widget_get_visible(c.widget);
}

void MoveFocus(GtkDialogWindow& w, bool forward) {
    GtkControl* current = w.ControlOfWidget(gtk_window_get_focus(GTK_WINDOW(w.window)));
    int n = static_cast<int>(w.controls.size());
    int start = -1;
    for (int i = 0; i < n; ++i) {
        if (w.controls[static_cast<std::size_t>(i)].get() == current) start = i;
    }
    for (int step = 1; step <= n; ++step) {
        int i = start < 0 ? (forward ? step - 1 : n - step)
                          : ((start + (forward ? step : -step)) % n + n) % n;
        GtkControl& c = *w.controls[static_cast<std::size_t>(i)];
        if (IsFocusable(c)) {
            gtk_widget_grab_focus(c.focusWidget);
            return;
        }
    }
}

// Enter sends the command of the focused push button, else of the default push button; a
// disabled button sends nothing, so the keyboard never reaches a command the user cannot click.
void PressEnter(GtkDialogWindow& w) {
    GtkControl* focused = w.ControlOfWidget(gtk_window_get_focus(GTK_WINDOW(w.window)));
    GtkControl* target = nullptr;
    if (focused && focused->kind == ControlKind::kPushButton) {
        target = focused;
    } else {
        for (auto& c : w.controls) {
            if (c->kind == ControlKind::kPushButton && c->buttonStyle == BS_DEFPUSHBUTTON) {
                target = c.get();
                break;
            }
        }
        if (target == nullptr) target = w.Find(IDOK);
        if (target == nullptr) {
            Dispatch(&w, {MessageKind::kCommand, IDOK, BN_CLICKED, 0});
            return;
        }
    }
    if (gtk_widget_is_sensitive(target->widget)) {
        Dispatch(&w, {MessageKind::kCommand, target->id, BN_CLICKED, 0});
    }
}

gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* w = static_cast<GtkDialogWindow*>(data);
    guint mods = event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK);
    if (mods != 0) return FALSE;
    switch (event->keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            PressEnter(*w);
            return TRUE;
        case GDK_KEY_Escape:
            Dispatch(w, {MessageKind::kCommand, IDCANCEL, BN_CLICKED, 0});
            return TRUE;
        case GDK_KEY_Tab:
        case GDK_KEY_KP_Tab:
            MoveFocus(*w, (event->state & GDK_SHIFT_MASK) == 0);
            return TRUE;
        case GDK_KEY_ISO_Left_Tab:
            MoveFocus(*w, false);
            return TRUE;
        default:
            return FALSE;
    }
}

// The close button is the system menu's Close: the dialog decides, the window stays.
gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    Dispatch(static_cast<GtkDialogWindow*>(data),
             {MessageKind::kSysCommand, static_cast<int>(SC_CLOSE), 0, 0});
    return TRUE;
}

gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
    static_cast<GtkDialogWindow*>(data)->iconic =
        (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    return FALSE;
}

void OnMenuActivate(GtkMenuItem*, gpointer data) {
    auto* entry = static_cast<GtkMenuEntry*>(data);
    Dispatch(entry->owner, {MessageKind::kSysCommand, static_cast<int>(entry->id), 0, 0});
}

gboolean OnTimer(gpointer data) {
    auto* timer = static_cast<GtkTimer*>(data);
    // The handler may kill or replace this very timer: read what we need first.
    GtkDialogWindow* owner = timer->owner;
    int id = static_cast<int>(timer->id);
    Dispatch(owner, {MessageKind::kTimer, id, 0, 0});
    return G_SOURCE_CONTINUE;
}

void AddWidgetCss(GtkDialogWindow& w, GtkWidget* widget, const std::string& css) {
    CssProviderPtr provider(gtk_css_provider_new());
    gtk_css_provider_load_from_data(provider.get(), css.c_str(), -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                   GTK_STYLE_PROVIDER(provider.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
    w.providers.push_back(std::move(provider));
}

GtkWidget* MakeLabel(int heightPx, int lineHeight, bool top) {
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_yalign(GTK_LABEL(label), top ? 0.0f : 0.5f);
    int lines = lineHeight > 0 ? heightPx / lineHeight : 1;
    // Ellipsizing keeps a label from asking for more room than its rectangle; texts with room
    // for several lines wrap within it.
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    if (lines >= 2) {
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
        gtk_label_set_lines(GTK_LABEL(label), lines);
    }
    // A GtkFixed gives a child its natural width: keep that at the rectangle's.
    gtk_label_set_width_chars(GTK_LABEL(label), 1);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
    return label;
}

void EllipsizeChildLabel(GtkControl& c) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(c.widget));
    if (child && GTK_IS_LABEL(child)) {
        c.label = child;
        gtk_label_set_ellipsize(GTK_LABEL(child), PANGO_ELLIPSIZE_END);
        gtk_label_set_width_chars(GTK_LABEL(child), 1);
        gtk_label_set_max_width_chars(GTK_LABEL(child), 1);
    }
}

void OnCssParsingError(GtkCssProvider* provider, GtkCssSection*, GError* error, gpointer) {
    if (g_error_matches(error, GTK_CSS_PROVIDER_ERROR, GTK_CSS_PROVIDER_ERROR_DEPRECATED)) {
        g_signal_stop_emission_by_name(provider, "parsing-error");
    }
}

}  // namespace

// ---- toolkit and backend ----

bool GtkBackend::InitToolkit(int* argc, char*** argv) {
    return gtk_init_check(argc, argv) != 0;
}

GtkBackend::GtkBackend() : state(std::make_unique<State>()) {
    char fontName[64];
    std::snprintf(fontName, sizeof fontName, "%s %d", kFontFamily, kFontPoints);
    state->font.reset(pango_font_description_from_string(fontName));

    // The dialog base units, as Windows derives them from the dialog font: the average width of
    // the 52 letters, rounded as GdiGetCharDimensions does, and the line height.
    GtkWidget* probe = gtk_label_new(nullptr);
    g_object_ref_sink(probe);
    PangoLayout* layout = gtk_widget_create_pango_layout(
        probe, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    pango_layout_set_font_description(layout, state->font.get());
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    g_object_unref(probe);
    if (width > 0 && height > 0) {
        state->baseX = (width / 26 + 1) / 2;
        state->baseY = height;
    }

    // Our dialogs are laid out to the pixel: the theme's generous paddings and minimum sizes
    // would make controls outgrow their rectangles, so within a dialog's client area they go.
    char css[1600];
    std::snprintf(css, sizeof css,
                  ".fw-client, .fw-client * { font-family: \"%s\", sans-serif; font-size: %dpt; }\n"
                  ".fw-client button { padding: 0 3px; min-height: 0; min-width: 0; }\n"
                  ".fw-client checkbutton { padding: 0; min-height: 0; }\n"
                  ".fw-client checkbutton check { margin: 0 4px 0 0; }\n"
                  ".fw-client entry { min-height: 0; padding: 0 3px; }\n"
                  ".fw-client progressbar trough, .fw-client progressbar progress "
                  "{ min-width: 0; }\n"
                  ".fw-client progressbar { -GtkProgressBar-min-horizontal-bar-width: 1; }\n"
                  ".fw-client frame > border { border-radius: 2px; }\n"
                  ".fw-titlebar { min-height: 0; padding: 2px 6px; }\n"
                  ".fw-titlebar button { min-height: 0; min-width: 0; padding: 2px; }\n"
                  ".fw-titlebar .title { font-size: 10pt; }\n",
                  kFontFamily, kFontPoints);
    state->css.reset(gtk_css_provider_new());
    // The progress bar's minimum width is still a style property; setting it is reported as
    // deprecated on every load, which says nothing to a user.
    g_signal_connect(state->css.get(), "parsing-error", G_CALLBACK(OnCssParsingError), nullptr);
    GError* error = nullptr;
    if (!gtk_css_provider_load_from_data(state->css.get(), css, -1, &error) && error) {
        g_warning("dialog style: %s", error->message);
        g_error_free(error);
    }
    if (GdkScreen* screen = gdk_screen_get_default()) {
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(state->css.get()),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
}

GtkBackend::~GtkBackend() {
    for (auto& w : state->windows) w->Close();
    state->windows.clear();
    if (GdkScreen* screen = gdk_screen_get_default()) {
        gtk_style_context_remove_provider_for_screen(screen, GTK_STYLE_PROVIDER(state->css.get()));
    }
}

int GtkBackend::BaseUnitX() const {
    return state->baseX;
}
int GtkBackend::BaseUnitY() const {
    return state->baseY;
}

// ---- dialogs ----

std::intptr_t GtkBackend::RunModal(CDialog& dialog, const DialogTemplate& tmpl,
                                   WindowHandle owner) {
    auto w = std::make_shared<GtkDialogWindow>();
    w->backend = state.get();
    w->dialog = &dialog;
    w->tmpl = &tmpl;
    w->caption = std::string(tmpl.caption);
    GtkWindow* parent = state->Parent(owner);

    w->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (w->window == nullptr) return -1;
    GtkWindow* win = GTK_WINDOW(w->window);
    gtk_window_set_title(win, ShownText(w->caption).c_str());
    gtk_window_set_resizable(win, FALSE);
    gtk_window_set_modal(win, TRUE);
    if (parent) {
        gtk_window_set_transient_for(win, parent);
        gtk_window_set_position(win, GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(win, GTK_WIN_POS_CENTER);
    }
    gtk_window_set_skip_taskbar_hint(win, (tmpl.exStyle & WS_EX_APPWINDOW) == 0 && parent);
    if ((tmpl.style & WS_CAPTION) == WS_CAPTION) {
        w->headerBar = gtk_header_bar_new();
        gtk_style_context_add_class(gtk_widget_get_style_context(w->headerBar), "fw-titlebar");
        gtk_header_bar_set_title(GTK_HEADER_BAR(w->headerBar), ShownText(w->caption).c_str());
        gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(w->headerBar),
                                             (tmpl.style & WS_SYSMENU) != 0);
        gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(w->headerBar), ":close");
        gtk_window_set_titlebar(win, w->headerBar);
    }
    g_signal_connect(w->window, "key-press-event", G_CALLBACK(OnKeyPress), w.get());
    g_signal_connect(w->window, "delete-event", G_CALLBACK(OnDelete), w.get());
    g_signal_connect(w->window, "window-state-event", G_CALLBACK(OnWindowState), w.get());

    w->fixed = gtk_fixed_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(w->fixed), "fw-client");
    gtk_widget_set_size_request(w->fixed, state->MapX(tmpl.rect.cx), state->MapY(tmpl.rect.cy));
    gtk_container_add(GTK_CONTAINER(w->window), w->fixed);

    for (const ControlTemplate& ct : tmpl.controls) {
        auto c = std::make_unique<GtkControl>();
        c->owner = w.get();
        c->tmpl = &ct;
        c->id = ct.id;
        c->kind = ct.kind;
        c->text = std::string(ct.text);
        int x = state->MapX(ct.rect.x);
        int y = state->MapY(ct.rect.y);
        int cx = state->MapX(ct.rect.x + ct.rect.cx) - x;
        int cy = state->MapY(ct.rect.y + ct.rect.cy) - y;
        switch (ct.kind) {
            case ControlKind::kStatic:
                c->widget = c->label = MakeLabel(cy, state->baseY, true);
                break;
            case ControlKind::kIcon: {
                GtkIconSet* icons = static_cast<GtkIconSet*>(
                    const_cast<void*>(LoadIcon(ct.iconId != 0 ? ct.iconId : kAppIconId)));
                IconMetrics m = GetIconMetrics();
                GdkPixbuf* best = icons ? icons->Best(m.width) : nullptr;
                PixbufPtr scaled(
                    best ? gdk_pixbuf_scale_simple(best, m.width, m.height, GDK_INTERP_BILINEAR)
                         : nullptr);
                c->widget = scaled ? gtk_image_new_from_pixbuf(scaled.get()) : gtk_image_new();
                gtk_widget_set_halign(c->widget, GTK_ALIGN_START);
                gtk_widget_set_valign(c->widget, GTK_ALIGN_START);
                cx = std::max(cx, m.width);
                cy = std::max(cy, m.height);
                break;
            }
            case ControlKind::kGroupBox:
                c->widget = gtk_frame_new(nullptr);
                // A frame sizes its label itself, within the frame's width.
                c->label = gtk_label_new(nullptr);
                gtk_label_set_ellipsize(GTK_LABEL(c->label), PANGO_ELLIPSIZE_END);
                gtk_frame_set_label_widget(GTK_FRAME(c->widget), c->label);
                gtk_frame_set_shadow_type(GTK_FRAME(c->widget), GTK_SHADOW_ETCHED_IN);
                break;
            case ControlKind::kPushButton:
                c->widget = c->focusWidget = gtk_button_new_with_mnemonic("");
                EllipsizeChildLabel(*c);
                c->buttonStyle = ct.style & 0x0F;
                g_signal_connect(c->widget, "clicked", G_CALLBACK(OnButtonClicked), c.get());
                break;
            case ControlKind::kCheckBox:
                c->widget = c->focusWidget = gtk_check_button_new_with_mnemonic("");
                EllipsizeChildLabel(*c);
                c->buttonStyle = ct.style & 0x0F;
                g_signal_connect(c->widget, "clicked", G_CALLBACK(OnButtonClicked), c.get());
                break;
            case ControlKind::kListBox: {
                c->store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_STRING);
                GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(c->store));
                g_object_unref(c->store);  // the view holds it
                gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view), FALSE);
                gtk_tree_view_set_enable_search(GTK_TREE_VIEW(view), FALSE);
                GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
                g_object_set(renderer, "ypad", 0, nullptr);
                gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "", renderer,
                                                            "text", 0, nullptr);
                gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)),
                                            GTK_SELECTION_SINGLE);
                g_signal_connect(view, "button-press-event", G_CALLBACK(OnListButtonPress),
                                 c.get());
                c->widget = gtk_scrolled_window_new(nullptr, nullptr);
                gtk_scrolled_window_set_shadow_type(
                    GTK_SCROLLED_WINDOW(c->widget),
                    (ct.style & WS_BORDER) ? GTK_SHADOW_IN : GTK_SHADOW_NONE);
                gtk_scrolled_window_set_policy(
                    GTK_SCROLLED_WINDOW(c->widget), GTK_POLICY_NEVER,
                    (ct.style & WS_VSCROLL) ? GTK_POLICY_AUTOMATIC : GTK_POLICY_NEVER);
                gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(c->widget), FALSE);
                gtk_container_add(GTK_CONTAINER(c->widget), view);
                c->focusWidget = view;
                break;
            }
            case ControlKind::kEdit:
                c->widget = c->focusWidget = gtk_entry_new();
                gtk_entry_set_width_chars(GTK_ENTRY(c->widget), 1);
                gtk_entry_set_has_frame(GTK_ENTRY(c->widget), (ct.style & WS_BORDER) != 0);
                c->insertHandler =
                    g_signal_connect(c->widget, "insert-text", G_CALLBACK(OnEntryInsert), c.get());
                break;
            case ControlKind::kProgress: {
                c->widget = gtk_progress_bar_new();
                // The bar fills its rectangle, as the common control does.
                char css[200];
                std::snprintf(css, sizeof css,
                              "progressbar trough { min-height: %dpx; }"
                              " progressbar progress { min-height: %dpx; }",
                              std::max(cy - 2, 1), std::max(cy - 4, 1));
                AddWidgetCss(*w, c->widget, css);
                g_signal_connect_after(c->widget, "draw", G_CALLBACK(OnProgressDrawn), c.get());
                break;
            }
        }
        if (c->focusWidget == nullptr || (ct.style & WS_TABSTOP) == 0) {
            if (c->focusWidget == nullptr) {
                gtk_widget_set_can_focus(c->widget, FALSE);
            }
        }
        if (c->kind == ControlKind::kEdit) {
            c->programmatic = true;
            gtk_entry_set_text(GTK_ENTRY(c->widget), ShownText(c->text).c_str());
            c->programmatic = false;
        } else {
            SetLabelText(*c);
        }
        if ((ct.style & WS_DISABLED) != 0) gtk_widget_set_sensitive(c->widget, FALSE);
        gtk_widget_set_size_request(c->widget, cx, cy);
        gtk_fixed_put(GTK_FIXED(w->fixed), c->widget, x, y);
        gtk_widget_show_all(c->widget);
        if ((ct.style & WS_VISIBLE) == 0) gtk_widget_hide(c->widget);
        w->controls.push_back(std::move(c));
    }
    // A static text's mnemonic moves to the control after it, as in a Windows dialog.
    for (std::size_t i = 0; i < w->controls.size(); ++i) {
        GtkControl& c = *w->controls[i];
        if (c.kind != ControlKind::kStatic || c.label == nullptr) continue;
        for (std::size_t j = i + 1; j < w->controls.size(); ++j) {
            if (w->controls[j]->focusWidget) {
                gtk_label_set_mnemonic_widget(GTK_LABEL(c.label), w->controls[j]->focusWidget);
                break;
            }
        }
    }
    state->windows.push_back(w);
    for (auto& c : w->controls) {
        if (c->kind == ControlKind::kPushButton && c->buttonStyle == BS_DEFPUSHBUTTON) {
            SetButtonStyle(w.get(), c->id, BS_DEFPUSHBUTTON, true);
        }
    }
    if (w->headerBar) gtk_widget_show_all(w->headerBar);
    gtk_widget_show(w->fixed);

    dialog.AttachWindow(w.get());
    bool defaultFocus = dialog.HandleInitDialog();
    if (!w->ended && !w->closed) {
        if (defaultFocus && gtk_window_get_focus(win) == nullptr) {
            for (auto& c : w->controls) {
                if (IsFocusable(*c)) {
                    gtk_widget_grab_focus(c->focusWidget);
                    break;
                }
            }
        }
        gtk_widget_show(w->window);
        std::unique_ptr<GMainLoop, MainLoopUnref> loop(g_main_loop_new(nullptr, FALSE));
        w->loop = loop.get();
        if (!w->ended) g_main_loop_run(loop.get());
        w->loop = nullptr;
    }
    return w->result;
}

void GtkBackend::EndModal(WindowHandle dialog, std::intptr_t result) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr || w->ended) return;
    w->ended = true;
    w->result = result;
    gtk_widget_hide(w->window);
    if (w->loop) g_main_loop_quit(w->loop);
}

void GtkBackend::DestroyDialog(WindowHandle dialog) {
    auto& windows = state->windows;
    auto it = std::find_if(windows.begin(), windows.end(),
                           [&](const auto& w) { return w.get() == dialog; });
    if (it == windows.end()) return;
    std::shared_ptr<GtkDialogWindow> w = *it;
    windows.erase(it);
    w->Close();
}

// ---- controls ----

void GtkBackend::SetText(WindowHandle dialog, int id, std::string_view text) {
    if (id == 0) {
        if (GtkDialogWindow* w = state->Window(dialog)) {
            w->caption = std::string(text);
            std::string shown = ShownText(text);
            gtk_window_set_title(GTK_WINDOW(w->window), shown.c_str());
            if (w->headerBar) gtk_header_bar_set_title(GTK_HEADER_BAR(w->headerBar), shown.c_str());
        }
        return;
    }
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr) return;
    c->text = std::string(text);
    if (c->kind == ControlKind::kEdit) {
        c->programmatic = true;
        gtk_entry_set_text(GTK_ENTRY(c->widget), ShownText(text).c_str());
        c->programmatic = false;
    } else {
        SetLabelText(*c);
    }
}

std::string GtkBackend::GetText(WindowHandle dialog, int id) {
    if (id == 0) {
        GtkDialogWindow* w = state->Window(dialog);
        return w ? w->caption : std::string();
    }
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr) return {};
    if (c->kind == ControlKind::kEdit) {
        std::string typed = gtk_entry_get_text(GTK_ENTRY(c->widget));
        // Unchanged since the program set it: give back the program's own bytes.
        return typed == ShownText(c->text) ? c->text : typed;
    }
    return c->text;
}

void GtkBackend::Enable(WindowHandle dialog, int id, bool enable) {
    if (GtkControl* c = state->Control(dialog, id)) gtk_widget_set_sensitive(c->widget, enable);
}

bool GtkBackend::IsEnabled(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    return c != nullptr && gtk_widget_get_sensitive(c->widget);
}

void GtkBackend::SetFocus(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c && c->focusWidget) gtk_widget_grab_focus(c->focusWidget);
}

int GtkBackend::GetFocus(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return 0;
    GtkControl* c = w->ControlOfWidget(gtk_window_get_focus(GTK_WINDOW(w->window)));
    return c && c->id != kNoControlId ? c->id : 0;
}

void GtkBackend::SetButtonStyle(WindowHandle dialog, int id, unsigned style, bool) {
    GtkDialogWindow* w = state->Window(dialog);
    GtkControl* c = w ? w->Find(id) : nullptr;
    if (c == nullptr) return;
    if (c->kind != ControlKind::kPushButton) return;
    c->buttonStyle = style & 0x0F;
    GtkStyleContext* context = gtk_widget_get_style_context(c->widget);
    if (c->buttonStyle == BS_DEFPUSHBUTTON) {
        gtk_widget_set_can_default(c->widget, TRUE);
        gtk_widget_grab_default(c->widget);
        gtk_style_context_add_class(context, "suggested-action");
    } else {
        gtk_style_context_remove_class(context, "suggested-action");
        if (gtk_window_get_default_widget(GTK_WINDOW(w->window)) == c->widget) {
            gtk_window_set_default(GTK_WINDOW(w->window), nullptr);
        }
    }
}

unsigned GtkBackend::GetButtonStyle(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    return c ? c->buttonStyle : 0;
}

int GtkBackend::GetButtonState(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr) return 0;
    int result = BST_UNCHECKED;
    if (c->kind == ControlKind::kCheckBox &&
        gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->widget))) {
        result = BST_CHECKED;
    }
    if (c->focusWidget && gtk_widget_has_focus(c->focusWidget)) result |= BST_FOCUS;
    if (GetFocus(dialog) == id) result |= BST_FOCUS;
    return result;
}

void GtkBackend::SetCheck(WindowHandle dialog, int id, int check) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kCheckBox) return;
    c->programmatic = true;  // BM_SETCHECK notifies nobody
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->widget), check == BST_CHECKED);
    c->programmatic = false;
}

int GtkBackend::ListInsert(WindowHandle dialog, int id, int index, std::string_view text) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    int count = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(c->store), nullptr);
    if (index > count) return LB_ERR;
    if (index < 0) index = count;
    std::string raw(text);
    GtkTreeIter iter;
    gtk_list_store_insert_with_values(c->store, &iter, index, 0, ShownText(raw).c_str(), 1,
                                      raw.c_str(), -1);
    return index;
}

int GtkBackend::ListDelete(WindowHandle dialog, int id, int index) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    GtkTreeIter iter;
    if (index < 0 ||
        !gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(c->store), &iter, nullptr, index)) {
        return LB_ERR;
    }
    gtk_list_store_remove(c->store, &iter);
    return gtk_tree_model_iter_n_children(GTK_TREE_MODEL(c->store), nullptr);
}

void GtkBackend::ListReset(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c && c->store) gtk_list_store_clear(c->store);
}

int GtkBackend::ListCount(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    return gtk_tree_model_iter_n_children(GTK_TREE_MODEL(c->store), nullptr);
}

int GtkBackend::ListGetText(WindowHandle dialog, int id, int index, std::string& text) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    GtkTreeIter iter;
    if (index < 0 ||
        !gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(c->store), &iter, nullptr, index)) {
        return LB_ERR;
    }
    gchar* raw = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(c->store), &iter, 1, &raw, -1);
    GCharPtr owned(raw);
    text = raw ? raw : "";
    return static_cast<int>(text.size());
}

int GtkBackend::ListGetCurSel(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(c->focusWidget));
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(sel, nullptr, &iter)) return LB_ERR;
    GtkTreePath* path = gtk_tree_model_get_path(GTK_TREE_MODEL(c->store), &iter);
    int index = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return index;
}

int GtkBackend::ListSetCurSel(WindowHandle dialog, int id, int index) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(c->focusWidget));
    GtkTreeIter iter;
    if (index < 0 ||
        !gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(c->store), &iter, nullptr, index)) {
        gtk_tree_selection_unselect_all(sel);
        return index == -1 ? 0 : LB_ERR;
    }
    gtk_tree_selection_select_iter(sel, &iter);
    GtkTreePath* path = gtk_tree_model_get_path(GTK_TREE_MODEL(c->store), &iter);
    if (gtk_widget_get_realized(c->focusWidget)) {
        gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(c->focusWidget), path, nullptr, FALSE, 0, 0);
    }
    gtk_tree_path_free(path);
    return index;
}

void GtkBackend::ProgressSetRange(WindowHandle dialog, int id, int low, int high) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kProgress) return;
    c->rangeLow = low;
    c->rangeHigh = high;
    // The common control moves its position into a new range.
    c->pos = std::clamp(c->pos, std::min(low, high), std::max(low, high));
    UpdateFraction(*c);
}

int GtkBackend::ProgressSetPos(WindowHandle dialog, int id, int pos) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kProgress) return 0;
    int previous = c->pos;
    c->pos =
        std::clamp(pos, std::min(c->rangeLow, c->rangeHigh), std::max(c->rangeLow, c->rangeHigh));
    // A download sets both bars after every block; most of those calls change nothing, and the
    // bar's fraction is already that of its position and range.
    if (c->pos != previous) UpdateFraction(*c);
    return previous;
}

void GtkBackend::EditSetLimit(WindowHandle dialog, int id, int maxChars) {
    GtkControl* c = state->Control(dialog, id);
    if (c && c->kind == ControlKind::kEdit) c->limit = std::max(maxChars, 0);
}

// ---- timers and the message pump ----

bool GtkBackend::SetTimer(WindowHandle dialog, unsigned timerId, unsigned milliseconds) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return false;
    auto existing = w->timers.find(timerId);
    if (existing != w->timers.end()) {
        g_source_remove(existing->second->source);
        w->timers.erase(existing);
    }
    auto timer = std::make_unique<GtkTimer>();
    timer->owner = w;
    timer->id = timerId;
    timer->source = g_timeout_add(std::max(milliseconds, kMinimumTimerMs), OnTimer, timer.get());
    w->timers[timerId] = std::move(timer);
    return true;
}

bool GtkBackend::KillTimer(WindowHandle dialog, unsigned timerId) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return false;
    auto it = w->timers.find(timerId);
    if (it == w->timers.end()) return false;
    g_source_remove(it->second->source);
    w->timers.erase(it);
    return true;
}

// A download pumps before every 4096-byte block, which at loopback speed is every few
// microseconds, and one pass over the main context (preparing every source, polling the X
// connection) costs a good half of what the block itself does (docs/PERFORMANCE.md). So a call
// that comes sooner than kPumpIntervalUs after the previous pass returns at once: pending input
// and repaints wait at most that long (well below a frame), a confirmed Cancel still stops the
// transfer before the block that follows its dispatch, and slow transfers, whose blocks come
// further apart, still get a whole pass before every block.
void GtkBackend::PumpMessages() {
    gint64 now = g_get_monotonic_time();
    if (state->lastPumpEnd != 0 && now - state->lastPumpEnd < kPumpIntervalUs) return;
    // Each iteration dispatches what is ready; the one that finds nothing ends the pass. A
    // source that is always ready (a timer whose handler outlasts its period) cannot hold the
    // caller here for ever.
    while (g_main_context_iteration(nullptr, FALSE)) {
        if (g_get_monotonic_time() - now > kMaxPumpPassUs) break;
    }
    state->lastPumpEnd = g_get_monotonic_time();
}

// ---- message boxes ----

namespace {

struct BoxButton {
    int answer;
    const char* label;
};

std::vector<BoxButton> ButtonsOf(unsigned type) {
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return {{IDOK, "_OK"}, {IDCANCEL, "_Cancel"}};
        case MB_ABORTRETRYIGNORE:
            return {{IDABORT, "_Abort"}, {IDRETRY, "_Retry"}, {IDIGNORE, "_Ignore"}};
        case MB_YESNOCANCEL:
            return {{IDYES, "_Yes"}, {IDNO, "_No"}, {IDCANCEL, "_Cancel"}};
        case MB_YESNO:
            return {{IDYES, "_Yes"}, {IDNO, "_No"}};
        case MB_RETRYCANCEL:
            return {{IDRETRY, "_Retry"}, {IDCANCEL, "_Cancel"}};
        default:
            return {{IDOK, "_OK"}};
    }
}

// What closing the box answers, as Windows: Cancel where there is one, OK for a lone OK, and
// nothing (the box stays) otherwise.
int CloseAnswer(const std::vector<BoxButton>& buttons) {
    for (const BoxButton& b : buttons) {
        if (b.answer == IDCANCEL) return IDCANCEL;
    }
    return buttons.size() == 1 && buttons[0].answer == IDOK ? IDOK : 0;
}

GtkMessageType MessageTypeOf(unsigned type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND:
            return GTK_MESSAGE_ERROR;
        case MB_ICONQUESTION:
            return GTK_MESSAGE_QUESTION;
        case MB_ICONEXCLAMATION:
            return GTK_MESSAGE_WARNING;
        case MB_ICONASTERISK:
            return GTK_MESSAGE_INFO;
        default:
            return GTK_MESSAGE_OTHER;
    }
}

}  // namespace

int GtkBackend::MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                           unsigned type) {
    std::vector<BoxButton> buttons = ButtonsOf(type);
    std::size_t defaultIndex = (type & MB_DEFMASK) >> 8;
    if (defaultIndex >= buttons.size()) defaultIndex = 0;
    int closeAnswer = CloseAnswer(buttons);

    GtkWindow* parent = state->Parent(owner);
    GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, MessageTypeOf(type),
                                            GTK_BUTTONS_NONE, "%s", ShownText(text).c_str());
    g_object_ref_sink(box);
    std::unique_ptr<GtkWidget, GObjectUnref<GtkWidget>> keep(box);
    gtk_window_set_title(GTK_WINDOW(box), ShownText(caption).c_str());
    gtk_window_set_deletable(GTK_WINDOW(box), closeAnswer != 0);
    // The caption is drawn by the box itself, like our dialogs' title bars, so it shows also
    // where no window manager decorates the window.
    GtkWidget* header = gtk_header_bar_new();
    gtk_header_bar_set_title(GTK_HEADER_BAR(header), ShownText(caption).c_str());
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(header), closeAnswer != 0);
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(header), ":close");
    gtk_widget_show(header);
    gtk_window_set_titlebar(GTK_WINDOW(box), header);
    for (const BoxButton& b : buttons) gtk_dialog_add_button(GTK_DIALOG(box), b.label, b.answer);
    int defaultAnswer = buttons[defaultIndex].answer;
    gtk_dialog_set_default_response(GTK_DIALOG(box), defaultAnswer);
    if (GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), defaultAnswer)) {
        gtk_style_context_add_class(gtk_widget_get_style_context(b), "suggested-action");
        gtk_widget_grab_focus(b);
    }
    g_object_set_data(G_OBJECT(box), "fw-close-answer", GINT_TO_POINTER(closeAnswer));

    state->messageBoxes.push_back(box);
    int answer = 0;
    while (answer == 0) {
        int response = gtk_dialog_run(GTK_DIALOG(box));
        if (response == GTK_RESPONSE_DELETE_EVENT) {
            answer = closeAnswer;
        } else if (response == GTK_RESPONSE_NONE) {
            answer = closeAnswer != 0 ? closeAnswer : buttons.back().answer;  // destroyed
        } else {
            answer = response;
        }
    }
    state->messageBoxes.erase(
        std::find(state->messageBoxes.begin(), state->messageBoxes.end(), box));
    gtk_widget_destroy(box);
    return answer;
}

// ---- system menu ----

bool GtkBackend::HasSystemMenu(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    return w != nullptr && (w->tmpl->style & WS_SYSMENU) != 0;
}

// The items that Windows appends to the window menu sit behind a menu button in the title bar.
void GtkBackend::AppendSystemMenu(WindowHandle dialog, unsigned flags, unsigned id,
                                  std::string_view text) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr || w->headerBar == nullptr) return;
    if (w->menu == nullptr) {
        w->menuButton = gtk_menu_button_new();
        gtk_widget_set_tooltip_text(w->menuButton, "Menu");
        gtk_button_set_image(
            GTK_BUTTON(w->menuButton),
            gtk_image_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_MENU));
        gtk_widget_set_can_focus(w->menuButton, FALSE);
        w->menu = gtk_menu_new();
        gtk_menu_button_set_popup(GTK_MENU_BUTTON(w->menuButton), w->menu);
        gtk_header_bar_pack_end(GTK_HEADER_BAR(w->headerBar), w->menuButton);
        gtk_widget_show_all(w->menuButton);
    }
    auto entry = std::make_unique<GtkMenuEntry>();
    entry->owner = w;
    entry->id = id;
    if ((flags & MF_SEPARATOR) != 0) {
        entry->item = gtk_separator_menu_item_new();
    } else {
        entry->text = std::string(text);
        entry->item = gtk_menu_item_new_with_mnemonic(ToMnemonic(ShownText(text)).c_str());
        g_signal_connect(entry->item, "activate", G_CALLBACK(OnMenuActivate), entry.get());
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(w->menu), entry->item);
    gtk_widget_show(entry->item);
    w->menuEntries.push_back(std::move(entry));
}

void GtkBackend::DefaultSysCommand(WindowHandle dialog, unsigned command, std::intptr_t) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return;
    switch (command & 0xFFF0u) {
        case SC_MINIMIZE:
            gtk_window_iconify(GTK_WINDOW(w->window));
            break;
        case SC_RESTORE:
            gtk_window_deiconify(GTK_WINDOW(w->window));
            gtk_window_present(GTK_WINDOW(w->window));
            break;
        default:
            break;  // moving and sizing belong to the window manager
    }
}

// ---- icons and painting ----

IconHandle GtkBackend::LoadIcon(int resourceId) {
    if (resourceId != kAppIconId) return nullptr;
    auto& slot = state->icons[resourceId];
    if (!slot) {
        auto set = std::make_unique<GtkIconSet>();
        GResource* resource = fw_icons_get_resource();
        for (int size : kIconSizes) {
            char path[96];
            std::snprintf(path, sizeof path, "/org/fablewright/update/fablewright_update_%d.png",
                          size);
            GBytes* bytes =
                g_resource_lookup_data(resource, path, G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
            if (bytes == nullptr) continue;
            GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
            GdkPixbuf* pixbuf = gdk_pixbuf_new_from_stream(stream, nullptr, nullptr);
            g_object_unref(stream);
            g_bytes_unref(bytes);
            if (pixbuf) set->sizes.emplace_back(pixbuf);
        }
        if (set->sizes.empty()) return nullptr;
        slot = std::move(set);
    }
    return slot.get();
}

void GtkBackend::SetIcon(WindowHandle dialog, IconHandle icon, bool) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr || icon == nullptr) return;
    const auto* set = static_cast<const GtkIconSet*>(icon);
    GList* list = nullptr;
    for (const PixbufPtr& p : set->sizes) list = g_list_append(list, p.get());
    // Both sizes of WM_SETICON come from one list; the window manager picks.
    gtk_window_set_icon_list(GTK_WINDOW(w->window), list);
    g_list_free(list);
    w->hasIcon = true;
}

bool GtkBackend::IsIconic(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return false;
    GdkWindow* gdk = gtk_widget_get_window(w->window);
    if (gdk != nullptr) return (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_ICONIFIED) != 0;
    return w->iconic;
}

ClientRect GtkBackend::GetClientRect(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return {};
    if (gtk_widget_get_realized(w->fixed)) {
        return {gtk_widget_get_allocated_width(w->fixed),
                gtk_widget_get_allocated_height(w->fixed)};
    }
    return {state->MapX(w->tmpl->rect.cx), state->MapY(w->tmpl->rect.cy)};
}

IconMetrics GtkBackend::GetIconMetrics() {
    int width = 32;
    int height = 32;
    gtk_icon_size_lookup(GTK_ICON_SIZE_DND, &width, &height);
    return {width, height};
}

// GTK draws a minimised window's icon itself (from the icon list).
void GtkBackend::PaintIcon(WindowHandle, IconHandle, int, int) {}
void GtkBackend::DefaultPaint(WindowHandle) {}

// ---- the folder browser ----

bool GtkBackend::BrowseForFolder(WindowHandle owner, std::string_view title, std::string& path) {
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        ShownText(title).c_str(), state->Parent(owner), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
        "_Cancel", GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    g_object_ref_sink(chooser);
    std::unique_ptr<GtkWidget, GObjectUnref<GtkWidget>> keep(chooser);
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
    // Open on the folder, or on the nearest folder above it that exists.
    std::string folder = path;
    while (!folder.empty() && !g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR)) {
        GCharPtr up(g_path_get_dirname(folder.c_str()));
        if (folder == up.get()) {
            folder.clear();
            break;
        }
        folder = up.get();
    }
    if (!folder.empty()) {
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), folder.c_str());
    }
    state->browsers.push_back(chooser);
    int response = gtk_dialog_run(GTK_DIALOG(chooser));
    state->browsers.erase(std::find(state->browsers.begin(), state->browsers.end(), chooser));
    bool chosen = false;
    if (response == GTK_RESPONSE_ACCEPT) {
        GCharPtr file(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser)));
        if (file) {
            path = file.get();
            chosen = true;
        }
    }
    gtk_widget_destroy(chooser);
    return chosen;
}

// ---- what a user sees and does ----

std::vector<GtkControlLayout> GtkBackend::DescribeLayout(WindowHandle dialog) {
    std::vector<GtkControlLayout> result;
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return result;
    for (auto& c : w->controls) {
        GtkControlLayout l;
        l.id = c->id;
        l.kind = c->kind;
        gtk_widget_translate_coordinates(c->widget, w->fixed, 0, 0, &l.x, &l.y);
        l.width = gtk_widget_get_allocated_width(c->widget);
        l.height = gtk_widget_get_allocated_height(c->widget);
        if (c->label) {
            GtkLabel* label = GTK_LABEL(c->label);
            l.shownText = gtk_label_get_text(label);
            guint key = gtk_label_get_mnemonic_keyval(label);
            if (key != GDK_KEY_VoidSymbol)
                l.mnemonic = gdk_keyval_to_unicode(gdk_keyval_to_lower(key));
            PangoLayout* layout = gtk_label_get_layout(label);
            PangoRectangle ink;
            PangoRectangle logical;
            pango_layout_get_pixel_extents(layout, &ink, &logical);
            l.textWidth = logical.width;
            l.textHeight = logical.height;
            int lx = 0;
            int ly = 0;
            gtk_widget_translate_coordinates(c->label, w->fixed, 0, 0, &lx, &ly);
            int lw = gtk_widget_get_allocated_width(c->label);
            int lh = gtk_widget_get_allocated_height(c->label);
            l.textClipped = pango_layout_is_ellipsized(layout) || logical.width > lw ||
                            logical.height > lh || lx < l.x || ly < l.y ||
                            lx + lw > l.x + l.width || ly + lh > l.y + l.height;
        }
        result.push_back(std::move(l));
    }
    return result;
}

namespace {

// Input through the window system: the X server moves the pointer, presses and releases, as a
// user's hand would, and the toolkit sees ordinary device events.
#if defined(FW_HAVE_XTEST)
Display* XDisplayOf(GtkWidget* widget) {
    GdkDisplay* display = gtk_widget_get_display(widget);
    return GDK_IS_X11_DISPLAY(display) ? GDK_DISPLAY_XDISPLAY(display) : nullptr;
}
#endif

bool ClickAt(GtkWidget* widget, int x, int y, int clicks) {
#if defined(FW_HAVE_XTEST)
    Display* xdisplay = XDisplayOf(widget);
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    if (xdisplay == nullptr || !gtk_widget_get_mapped(widget) || !gtk_widget_is_toplevel(top)) {
        return false;
    }
    int wx = 0;
    int wy = 0;
    gtk_widget_translate_coordinates(widget, top, x, y, &wx, &wy);
    int ox = 0;
    int oy = 0;
    gdk_window_get_origin(gtk_widget_get_window(top), &ox, &oy);
    XTestFakeMotionEvent(xdisplay, -1, ox + wx, oy + wy, CurrentTime);
    for (int i = 0; i < clicks; ++i) {
        XTestFakeButtonEvent(xdisplay, 1, True, CurrentTime);
        XTestFakeButtonEvent(xdisplay, 1, False, CurrentTime);
    }
    XFlush(xdisplay);
    return true;
#else
    (void)widget;
    (void)x;
    (void)y;
    (void)clicks;
    return false;
#endif
}

}  // namespace

std::optional<double> GtkBackend::DrawnProgressFraction(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kProgress || c->drawnFraction < 0) {
        return std::nullopt;
    }
    return c->drawnFraction;
}

bool GtkBackend::SimulateClick(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || !GTK_IS_BUTTON(c->widget)) return false;
    return ClickAt(c->widget, gtk_widget_get_allocated_width(c->widget) / 2,
                   gtk_widget_get_allocated_height(c->widget) / 2, 1);
}

bool GtkBackend::SimulateDoubleClick(WindowHandle dialog, int id, int row) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return false;
    GtkTreeView* view = GTK_TREE_VIEW(c->focusWidget);
    int y = 0;
    int count = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(c->store), nullptr);
    if (row >= 0 && row < count) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
        GdkRectangle cell;
        gtk_tree_view_get_cell_area(view, path, nullptr, &cell);
        gtk_tree_path_free(path);
        int wx = 0;
        gtk_tree_view_convert_bin_window_to_widget_coords(view, 0, cell.y + cell.height / 2, &wx,
                                                          &y);
    } else {
        y = gtk_widget_get_allocated_height(c->focusWidget) - 3;
    }
    return ClickAt(c->focusWidget, 6, y, 2);
}

bool GtkBackend::SimulateKey(WindowHandle dialog, std::string_view keyName, bool alt, bool shift) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr || !gtk_widget_get_mapped(w->window)) return false;
#if defined(FW_HAVE_XTEST)
    Display* xdisplay = XDisplayOf(w->window);
    KeySym sym = XStringToKeysym(std::string(keyName).c_str());
    KeyCode code = sym != NoSymbol && xdisplay ? XKeysymToKeycode(xdisplay, sym) : 0;
    if (code == 0) return false;
    // Keys go to the window with the input focus; without a window manager nobody else gives it.
    gdk_window_focus(gtk_widget_get_window(w->window), GDK_CURRENT_TIME);
    XSetInputFocus(xdisplay, GDK_WINDOW_XID(gtk_widget_get_window(w->window)), RevertToParent,
                   CurrentTime);
    KeyCode altCode = XKeysymToKeycode(xdisplay, XK_Alt_L);
    KeyCode shiftCode = XKeysymToKeycode(xdisplay, XK_Shift_L);
    if (alt) XTestFakeKeyEvent(xdisplay, altCode, True, CurrentTime);
    if (shift) XTestFakeKeyEvent(xdisplay, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(xdisplay, code, True, CurrentTime);
    XTestFakeKeyEvent(xdisplay, code, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(xdisplay, shiftCode, False, CurrentTime);
    if (alt) XTestFakeKeyEvent(xdisplay, altCode, False, CurrentTime);
    XFlush(xdisplay);
    return true;
#else
    (void)keyName;
    (void)alt;
    (void)shift;
    return false;
#endif
}

bool GtkBackend::TypeText(WindowHandle dialog, int id, std::string_view text) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->kind != ControlKind::kEdit || !gtk_widget_is_sensitive(c->widget)) {
        return false;
    }
    std::string shown = ShownText(text);
    gint position = gtk_editable_get_position(GTK_EDITABLE(c->widget));
    gtk_editable_insert_text(GTK_EDITABLE(c->widget), shown.c_str(),
                             static_cast<gint>(shown.size()), &position);
    gtk_editable_set_position(GTK_EDITABLE(c->widget), position);
    return true;
}

bool GtkBackend::CloseWindow(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return false;
    gtk_window_close(GTK_WINDOW(w->window));
    return true;
}

std::vector<std::pair<unsigned, std::string>> GtkBackend::SystemMenuItems(WindowHandle dialog) {
    std::vector<std::pair<unsigned, std::string>> items;
    if (GtkDialogWindow* w = state->Window(dialog)) {
        for (auto& e : w->menuEntries) {
            items.emplace_back(e->id,
                               GTK_IS_SEPARATOR_MENU_ITEM(e->item)
                                   ? std::string()
                                   : std::string(gtk_menu_item_get_label(GTK_MENU_ITEM(e->item))));
        }
    }
    return items;
}

bool GtkBackend::ChooseSystemMenuItem(WindowHandle dialog, unsigned id) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return false;
    for (auto& e : w->menuEntries) {
        if (e->id == id && !GTK_IS_SEPARATOR_MENU_ITEM(e->item)) {
            gtk_menu_item_activate(GTK_MENU_ITEM(e->item));
            return true;
        }
    }
    return false;
}

WindowHandle GtkBackend::OwnerOf(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return nullptr;
    GtkWindow* parent = gtk_window_get_transient_for(GTK_WINDOW(w->window));
    for (auto& other : state->windows) {
        if (other->window && GTK_WINDOW(other->window) == parent) return other.get();
    }
    return nullptr;
}

bool GtkBackend::IsModalWindow(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    return w != nullptr && gtk_window_get_modal(GTK_WINDOW(w->window));
}

bool GtkBackend::IsShown(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    return w != nullptr && gtk_widget_get_visible(w->window);
}

bool GtkBackend::HasWindowIcon(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    return w != nullptr && w->hasIcon && gtk_window_get_icon(GTK_WINDOW(w->window)) != nullptr;
}

namespace {

void CollectButtons(GtkWidget* widget, std::vector<GtkWidget*>& found) {
    if (GTK_IS_BUTTON(widget)) {
        found.push_back(widget);
    } else if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* l = children; l != nullptr; l = l->next) {
            CollectButtons(GTK_WIDGET(l->data), found);
        }
        g_list_free(children);
    }
}

}  // namespace

std::optional<GtkMessageBoxView> GtkBackend::ActiveMessageBox() {
    if (state->messageBoxes.empty()) return std::nullopt;
    GtkWidget* box = state->messageBoxes.back();
    GtkMessageBoxView view;
    view.title = gtk_window_get_title(GTK_WINDOW(box)) ? gtk_window_get_title(GTK_WINDOW(box)) : "";
    gchar* text = nullptr;
    g_object_get(box, "text", &text, nullptr);
    GCharPtr owned(text);
    view.text = text ? text : "";
    view.closable = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(box), "fw-close-answer")) != 0;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(box));
    GtkWidget* def = gtk_window_get_default_widget(GTK_WINDOW(box));
    // Every button the box really holds, found in its widget tree.
    std::vector<GtkWidget*> found;
    CollectButtons(box, found);
    for (GtkWidget* button : found) {
        int answer = gtk_dialog_get_response_for_widget(GTK_DIALOG(box), button);
        if (answer == GTK_RESPONSE_NONE) continue;
        BoxButton b{answer, nullptr};
        view.answers.push_back(b.answer);
        const gchar* label = gtk_button_get_label(GTK_BUTTON(button));
        std::string shown;
        for (const gchar* p = label ? label : ""; *p; ++p) {
            if (*p != '_') shown.push_back(*p);
        }
        view.labels.push_back(shown);
        if (button == focus) view.focusedAnswer = b.answer;
        if (button == def) view.defaultAnswer = b.answer;
    }
    return view;
}

bool GtkBackend::AnswerMessageBox(int answer) {
    if (state->messageBoxes.empty()) return false;
    GtkWidget* button =
        gtk_dialog_get_widget_for_response(GTK_DIALOG(state->messageBoxes.back()), answer);
    if (button == nullptr) return false;
    gtk_button_clicked(GTK_BUTTON(button));
    return true;
}

bool GtkBackend::CloseMessageBox() {
    if (state->messageBoxes.empty()) return false;
    gtk_window_close(GTK_WINDOW(state->messageBoxes.back()));
    return true;
}

std::optional<std::string> GtkBackend::ActiveFolderBrowser() {
    if (state->browsers.empty()) return std::nullopt;
    GCharPtr folder(gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(state->browsers.back())));
    return folder ? std::string(folder.get()) : std::string();
}

bool GtkBackend::AnswerFolderBrowser(const std::optional<std::string>& folder) {
    if (state->browsers.empty()) return false;
    GtkWidget* chooser = state->browsers.back();
    if (!folder) {
        gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
        return true;
    }
    // With nothing selected inside it, a folder chooser answers its current folder. It changes
    // folders asynchronously: wait (a bounded while) until it has.
    GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
    gtk_file_chooser_set_current_folder(fc, folder->c_str());
    gint64 deadline = g_get_monotonic_time() + 3 * G_USEC_PER_SEC;
    while (g_get_monotonic_time() < deadline) {
        GCharPtr current(gtk_file_chooser_get_current_folder(fc));
        if (current && *folder == current.get()) break;
        gtk_main_iteration_do(FALSE);
        g_usleep(2000);
    }
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    return true;
}

}  // namespace fw
