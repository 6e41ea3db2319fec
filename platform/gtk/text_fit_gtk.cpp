// Texts longer than the room they have: whatever the server sends, no widget may grow past the
// screen (nor past the 32767 pixels an X window can have). On screen such a text ends in an
// ellipsis; the whole of it shows, wrapped, in a tooltip or a scrolled message.

#include <gtk/gtk.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/gtk/dialog_window_gtk.h"

namespace fw {
namespace {

constexpr int kTooltipWidthChars = 80;

// The work area of the monitor that shows `widget` (or the first one), in pixels.
GdkRectangle WorkArea(GtkWidget* widget) {
    GdkRectangle area{0, 0, 1024, 768};
    GdkDisplay* display = gtk_widget_get_display(widget);
    GdkWindow* window = gtk_widget_get_window(widget);
    GdkMonitor* monitor = window != nullptr ? gdk_display_get_monitor_at_window(display, window)
                                            : gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor != nullptr) gdk_monitor_get_workarea(monitor, &area);
    return area;
}

int LineHeight(GtkWidget* widget) {
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, "Ag");
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return std::max(height, 1);
}

gboolean OnLabelQueryTooltip(GtkWidget* widget, gint, gint, gboolean, GtkTooltip* tooltip,
                             gpointer) {
    GtkLabel* label = GTK_LABEL(widget);
    if (!pango_layout_is_ellipsized(gtk_label_get_layout(label))) return FALSE;
    return SetWholeTextTooltip(widget, tooltip, gtk_label_get_text(label)) ? TRUE : FALSE;
}

}  // namespace

std::string BoundedText(std::string_view shown, std::size_t maxChars) {
    const char* begin = shown.data();
    const char* end = begin + shown.size();
    const char* p = begin;
    for (std::size_t n = 0; n < maxChars && p < end; ++n) p = g_utf8_next_char(p);
    if (p >= end) return std::string(shown);
    return std::string(begin, static_cast<std::size_t>(p - begin)) + "\u2026";
}

std::string BreakableText(std::string_view shown) {
    // Pango breaks a word that is wider than its line by trying ever shorter pieces, which for a
    // word of thousands of characters takes seconds; a zero-width space every few characters of
    // such a run gives it places to break at once, and shows nothing.
    constexpr int kRun = 24;
    std::string out;
    out.reserve(shown.size() + shown.size() / 8);
    int run = 0;
    const char* end = shown.data() + shown.size();
    for (const char* p = shown.data(); p < end;) {
        const char* next = std::min<const char*>(g_utf8_next_char(p), end);
        gunichar ch = g_utf8_get_char_validated(p, next - p);
        out.append(p, next);
        run = g_unichar_isspace(ch) ? 0 : run + 1;
        if (run >= kRun) {
            out += "\u200B";
            run = 0;
        }
        p = next;
    }
    return out;
}

int TooltipLines(GtkWidget* widget) {
    // Three quarters of the screen's height, so that the tooltip fits wherever the pointer is.
    return std::max(1, WorkArea(widget).height * 3 / 4 / LineHeight(widget));
}

std::string WholeTextTooltipText(GtkWidget* widget, std::string_view shown) {
    return BoundedText(shown, static_cast<std::size_t>(TooltipLines(widget) * kTooltipWidthChars));
}

bool SetWholeTextTooltip(GtkWidget* widget, GtkTooltip* tooltip, std::string_view shown) {
    if (shown.empty()) return false;
    GtkWidget* label = gtk_label_new(BreakableText(WholeTextTooltipText(widget, shown)).c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(GTK_LABEL(label), kTooltipWidthChars);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_label_set_lines(GTK_LABEL(label), TooltipLines(widget));
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_tooltip_set_custom(tooltip, label);
    return true;
}

void AddWholeTextTooltip(GtkWidget* label) {
    gtk_widget_set_has_tooltip(label, TRUE);
    g_signal_connect(label, "query-tooltip", G_CALLBACK(OnLabelQueryTooltip), nullptr);
}

int MessageTextMaxHeight(GtkWidget* widget) {
    return std::max(LineHeight(widget), WorkArea(widget).height / 2);
}

}  // namespace fw
