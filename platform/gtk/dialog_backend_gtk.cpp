// The toolkit, the dialog window and its layout, the keyboard, the system menu and icons.

#include "platform/gtk/dialog_backend_gtk.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/gtk/dialog_window_gtk.h"

// The program's icons, compiled into the executable (see CMakeLists.txt).
extern "C" GResource* fw_icons_get_resource(void);

namespace fw {
namespace {

// "MS Sans Serif" does not exist here. DejaVu Sans is on every Debian desktop, and at 8 points
// every text of our templates fits the rectangle that the template gives it.
constexpr const char* kFontFamily = "DejaVu Sans";
constexpr int kFontPoints = 8;
// The desktop's usual font size: a user's larger font makes the dialog's font larger by as much.
constexpr double kUsualDesktopPoints = 10.0;
constexpr int kIconSizes[] = {16, 32, 48, 256};

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

// The window menu opens from the keyboard as well, with its first item selected.
bool OpenWindowMenu(GtkDialogWindow& w, GdkEvent* event) {
    if (w.menu == nullptr || w.menuButton == nullptr) return false;
    gtk_menu_popup_at_widget(GTK_MENU(w.menu), w.menuButton, GDK_GRAVITY_SOUTH_EAST,
                             GDK_GRAVITY_NORTH_EAST, event);
    gtk_menu_shell_select_first(GTK_MENU_SHELL(w.menu), TRUE);
    return true;
}

// Delete, the context-menu key and Shift+F10 on a list box that notifies act as a double click
// on its selected row: the dialog's one handler decides what that does.
bool ActOnListRow(GtkDialogWindow& w) {
    GtkControl* focused = w.ControlOfWidget(gtk_window_get_focus(GTK_WINDOW(w.window)));
    if (focused == nullptr || focused->kind != ControlKind::kListBox ||
        (focused->tmpl->style & LBS_NOTIFY) == 0 || !gtk_widget_is_sensitive(focused->widget)) {
        return false;
    }
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(focused->focusWidget));
    if (!gtk_tree_selection_get_selected(sel, nullptr, nullptr)) return true;
    Dispatch(&w, {MessageKind::kCommand, focused->id, LBN_DBLCLK, 0});
    return true;
}

gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* w = static_cast<GtkDialogWindow*>(data);
    guint mods = event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK);
    bool shift = (event->state & GDK_SHIFT_MASK) != 0;
    if (mods == GDK_MOD1_MASK && event->keyval == GDK_KEY_space) {
        return OpenWindowMenu(*w, reinterpret_cast<GdkEvent*>(event)) ? TRUE : FALSE;
    }
    if (mods != 0) return FALSE;
    switch (event->keyval) {
        case GDK_KEY_F10:
            if (shift) return ActOnListRow(*w) ? TRUE : FALSE;
            return OpenWindowMenu(*w, reinterpret_cast<GdkEvent*>(event)) ? TRUE : FALSE;
        case GDK_KEY_Delete:
        case GDK_KEY_KP_Delete:
        case GDK_KEY_Menu:
            return ActOnListRow(*w) ? TRUE : FALSE;
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

gboolean OnWindowDrawn(GtkWidget*, cairo_t*, gpointer data) {
    ++static_cast<GtkDialogWindow*>(data)->paints;
    return FALSE;
}

void OnMenuActivate(GtkMenuItem*, gpointer data) {
    auto* entry = static_cast<GtkMenuEntry*>(data);
    Dispatch(entry->owner, {MessageKind::kSysCommand, static_cast<int>(entry->id), 0, 0});
}

void OnCssParsingError(GtkCssProvider* provider, GtkCssSection*, GError* error, gpointer) {
    if (g_error_matches(error, GTK_CSS_PROVIDER_ERROR, GTK_CSS_PROVIDER_ERROR_DEPRECATED)) {
        g_signal_stop_emission_by_name(provider, "parsing-error");
    }
}

}  // namespace

// ---- toolkit and backend ----

bool GtkBackend::InitToolkit(int* argc, char*** argv) {
    // Nothing here draws with OpenGL, yet GDK probes it on X11 to choose its visuals, which maps
    // the whole GL driver (with a software renderer some 50 MB, more than the rest of the
    // program). Asked not to, GDK picks its visuals without it. The setting is read once, at
    // start-up, and taken back at once so that the updaters we start never inherit it; a
    // user's own choice stands.
    bool askNoGl = g_getenv("GDK_GL") == nullptr;
    if (askNoGl) g_setenv("GDK_GL", "disable", TRUE);
    bool ready = gtk_init_check(argc, argv) != 0;
    if (askNoGl) g_unsetenv("GDK_GL");
    return ready;
}

GtkBackend::GtkBackend() : state(std::make_unique<State>()) {
    // The dialog font follows the desktop's font size (its scale comes with the screen's
    // resolution); the layout is then measured in dialog units of that font, as on Windows.
    int points = kFontPoints;
    if (GtkSettings* settings = gtk_settings_get_default()) {
        gchar* desktop = nullptr;
        g_object_get(settings, "gtk-font-name", &desktop, nullptr);
        GCharPtr keep(desktop);
        if (desktop != nullptr) {
            std::unique_ptr<PangoFontDescription, FontDescriptionFree> d(
                pango_font_description_from_string(desktop));
            double size = static_cast<double>(pango_font_description_get_size(d.get())) / PANGO_SCALE;
            if (size > kUsualDesktopPoints) {
                points = static_cast<int>(kFontPoints * size / kUsualDesktopPoints + 0.5);
            }
        }
    }
    char fontName[64];
    std::snprintf(fontName, sizeof fontName, "%s %d", kFontFamily, points);
    state->font.reset(pango_font_description_from_string(fontName));

    // The dialog base units, as Windows derives them from the dialog font: the average width of
    // the 52 letters and the line height.
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
    // Rounded up, not to the nearest as GdiGetCharDimensions does: a base unit rounded down
    // would give every text less room than it needs at some scales.
    if (width > 0 && height > 0) {
        state->baseX = (width + 51) / 52;
        state->baseY = height;
    }

    // Our dialogs are laid out to the pixel: the theme's generous paddings and minimum sizes
    // would make controls outgrow their rectangles, so within a dialog's client area they go.
    // So do the theme's transitions: the controls change state at once, as the classic ones do,
    // and a fading colour would restyle and repaint the labels on every frame for a fifth of a
    // second after each click, just when a download has started.
    char css[1700];
    std::snprintf(css, sizeof css,
                  ".fw-client, .fw-client * { font-family: \"%s\", sans-serif; font-size: %dpt;"
                  " transition: none; animation: none; }\n"
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
                  kFontFamily, points);
    state->css.reset(gtk_css_provider_new());
    // The progress bar's minimum width is still a style property; setting it is reported as
    // deprecated on every load, which says nothing to a user.
    g_signal_connect(state->css.get(), "parsing-error", G_CALLBACK(OnCssParsingError), nullptr);
    GError* error = nullptr;
    std::string style = css;
    // A high-contrast theme greys disabled text to about 3:1; ours keeps it at least 4.5:1
    // (WCAG AA) against the theme's light or dark background.
    std::string theme = g_getenv("GTK_THEME") ? g_getenv("GTK_THEME") : "";
    if (GtkSettings* settings = gtk_settings_get_default(); theme.empty() && settings) {
        gchar* name = nullptr;
        g_object_get(settings, "gtk-theme-name", &name, nullptr);
        GCharPtr keep(name);
        if (name != nullptr) theme = name;
    }
    if (theme.find("HighContrast") != std::string::npos) {
        bool inverse = theme.find("Inverse") != std::string::npos;
        style += std::string(".fw-client *:disabled, .fw-client *:disabled label { color: ") +
                 (inverse ? "#b8b8b8" : "#505050") + "; }\n";
    }
    if (!gtk_css_provider_load_from_data(state->css.get(), style.c_str(), -1, &error) && error) {
        g_warning("dialog style: %s", error->message);
        g_error_free(error);
    }
    if (GdkScreen* screen = gdk_screen_get_default()) {
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(state->css.get()),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
}

GtkBackend::~GtkBackend() {
    ReleaseHeldFrames(*state);
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
    g_signal_connect_after(w->window, "draw", G_CALLBACK(OnWindowDrawn), w.get());

    w->fixed = gtk_fixed_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(w->fixed), "fw-client");
    gtk_widget_set_size_request(w->fixed, state->MapX(tmpl.rect.cx), state->MapY(tmpl.rect.cy));
    gtk_container_add(GTK_CONTAINER(w->window), w->fixed);
    // The client area keeps the template's size whatever its controls do, so a change inside
    // it (a bar's position, a new text) is laid out within it. Left to the window, every such
    // change would go through the window's own resize, which asks the X server for the
    // window's place and the monitor's work area, five round trips, in every frame of a
    // download. The resize mode is deprecated in GTK 3, yet the only way to say this.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_resize_mode(GTK_CONTAINER(w->fixed), GTK_RESIZE_QUEUE);
    G_GNUC_END_IGNORE_DEPRECATIONS

    for (const ControlTemplate& ct : tmpl.controls) {
        w->controls.push_back(CreateControl(*this, *state, *w, ct));
    }
    ExposeControls(*w);
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
        DescribeWindow(*w);
        gtk_widget_show(w->window);
        ReleaseHeldFrames(*state);
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
        gtk_widget_set_tooltip_text(w->menuButton, "Menu (F10)");
        atk_object_set_name(gtk_widget_get_accessible(w->menuButton), "Menu");
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

}  // namespace fw
