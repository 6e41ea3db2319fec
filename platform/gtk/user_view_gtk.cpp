// What a user sees and does, for tests and diagnostics: the layout as drawn, and input through
// the window system.

#include <gtk/gtk.h>
#if defined(FW_HAVE_XTEST)
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#endif

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/gtk/dialog_window_gtk.h"

namespace fw {

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
        // A hidden text (one that only names a control) shows nothing that could be cut.
        if (c->label && gtk_widget_get_visible(c->widget)) {
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

int GtkBackend::PaintCount(WindowHandle dialog) {
    GtkDialogWindow* w = state->Window(dialog);
    return w != nullptr ? w->paints : 0;
}

ClientRect GtkBackend::ScreenArea() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_monitor(display, 0) : nullptr;
    if (monitor == nullptr) return {};
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return {area.width, area.height};
}

std::string GtkBackend::TooltipText(WindowHandle dialog, int id, int row) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr) return {};
    if (c->store != nullptr) return ListRowTooltip(*c, row);
    if (c->label == nullptr || !gtk_widget_get_has_tooltip(c->label) ||
        !pango_layout_is_ellipsized(gtk_label_get_layout(GTK_LABEL(c->label)))) {
        return {};
    }
    return gtk_label_get_text(GTK_LABEL(c->label));
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
    int count = static_cast<int>(TextListRows(c->store).size());
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

}  // namespace fw
