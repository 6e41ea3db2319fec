// The controls of a dialog: their widgets, texts, states, list boxes and progress bars.

#include <algorithm>
#include <cstdio>

#include "platform/gtk/dialog_window_gtk.h"
#include "platform/ui/accessibility.h"

namespace fw {
namespace {

// A row or a label never shows more than a screen's width or a few lines of text; laying out
// more would only cost time (a line of the definitions may be megabytes long).
constexpr std::size_t kMaxDrawnBytes = 16384;

bool HasOwnMnemonics(ControlKind kind) {
    return kind == ControlKind::kStatic || kind == ControlKind::kGroupBox ||
           kind == ControlKind::kPushButton || kind == ControlKind::kCheckBox;
}

// A bar changes its value (and so tells assistive technology) at most this often; the last
// position always shows, a little later.
constexpr gint64 kFractionPeriodUs = 250000;

void ShowFraction(GtkControl& c) {
    int low = std::min(c.rangeLow, c.rangeHigh);
    int high = std::max(c.rangeLow, c.rangeHigh);
    double fraction = high > low ? static_cast<double>(c.pos - low) / (high - low) : 0.0;
    c.fractionShownUs = g_get_monotonic_time();
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(c.widget), fraction);
}

gboolean OnFractionDue(gpointer data) {
    auto* c = static_cast<GtkControl*>(data);
    c->fractionSource = 0;
    ShowFraction(*c);
    return G_SOURCE_REMOVE;
}

void UpdateFraction(GtkControl& c) {
    gint64 due = c.fractionShownUs + kFractionPeriodUs;
    gint64 now = g_get_monotonic_time();
    // Back to the start (a new file) or to a new range shows at once.
    if (now >= due || c.pos == std::min(c.rangeLow, c.rangeHigh)) {
        if (c.fractionSource != 0) g_source_remove(c.fractionSource);
        c.fractionSource = 0;
        ShowFraction(c);
    } else if (c.fractionSource == 0) {
        c.fractionSource = g_timeout_add(static_cast<guint>((due - now + 999) / 1000),
                                         OnFractionDue, &c);
    }
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

void AddWidgetCss(GtkDialogWindow& w, GtkWidget* widget, const std::string& css) {
    CssProviderPtr provider(gtk_css_provider_new());
    gtk_css_provider_load_from_data(provider.get(), css.c_str(), -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                   GTK_STYLE_PROVIDER(provider.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
    w.providers.push_back(std::move(provider));
}

GtkWidget* MakeLabel(int heightPx, int lineHeight, bool top, bool live) {
    GtkWidget* label = live ? NewLiveLabel() : gtk_label_new(nullptr);
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
    AddWholeTextTooltip(label);
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

// List rows keep the program's bytes; only the rows on screen are converted for drawing.
void ShowRowText(GtkTreeViewColumn*, GtkCellRenderer* renderer, GtkTreeModel* model,
                 GtkTreeIter* iter, gpointer) {
    // Read in place: a row can be long, and only its first bytes are drawn.
    const std::deque<std::string>& rows = TextListRows(model);
    auto index = static_cast<std::size_t>(GPOINTER_TO_INT(iter->user_data));
    std::string_view raw = index < rows.size() ? std::string_view(rows[index]) : std::string_view();
    g_object_set(renderer, "text", ShownPrefix(raw, kMaxDrawnBytes).c_str(), nullptr);
}

gboolean OnListQueryTooltip(GtkWidget* widget, gint x, gint y, gboolean keyboard,
                            GtkTooltip* tooltip, gpointer data) {
    GtkTreeView* view = GTK_TREE_VIEW(widget);
    GtkTreePath* path = nullptr;
    if (!gtk_tree_view_get_tooltip_context(view, &x, &y, keyboard, nullptr, &path, nullptr)) {
        return FALSE;
    }
    int row = gtk_tree_path_get_indices(path)[0];
    std::string whole = ListRowTooltip(*static_cast<GtkControl*>(data), row);
    bool shown = !whole.empty() && SetWholeTextTooltip(widget, tooltip, whole);
    if (shown) gtk_tree_view_set_tooltip_row(view, tooltip, path);
    gtk_tree_path_free(path);
    return shown ? TRUE : FALSE;
}

}  // namespace

void SetLabelText(GtkControl& c) {
    if (c.label == nullptr) return;
    std::string shown = ShownPrefix(c.text, kMaxDrawnBytes);
    bool literal = c.kind == ControlKind::kStatic && c.tmpl && (c.tmpl->style & SS_NOPREFIX) != 0;
    if (literal || !HasOwnMnemonics(c.kind)) {
        gtk_label_set_text(GTK_LABEL(c.label), shown.c_str());
    } else {
        gtk_label_set_text_with_mnemonic(GTK_LABEL(c.label), ToMnemonic(shown).c_str());
    }
}

bool IsFocusable(const GtkControl& c) {
    return c.tmpl && (c.tmpl->style & WS_TABSTOP) != 0 && c.focusWidget &&
           gtk_widget_is_sensitive(c.focusWidget) && gtk_widget_get_visible(c.widget);
}

std::unique_ptr<GtkControl> CreateControl(GtkBackend& backend, GtkBackend::State& state,
                                          GtkDialogWindow& w, const ControlTemplate& ct) {
    auto c = std::make_unique<GtkControl>();
    c->owner = &w;
    c->tmpl = &ct;
    c->id = ct.id;
    c->kind = ct.kind;
    c->text = std::string(ct.text);
    int x = state.MapX(ct.rect.x);
    int y = state.MapY(ct.rect.y);
    int cx = state.MapX(ct.rect.x + ct.rect.cx) - x;
    int cy = state.MapY(ct.rect.y + ct.rect.cy) - y;
    switch (ct.kind) {
        case ControlKind::kStatic:
            c->widget = c->label = MakeLabel(cy, state.baseY, true, ct.live);
            break;
        case ControlKind::kIcon: {
            GtkIconSet* icons = static_cast<GtkIconSet*>(
                const_cast<void*>(backend.LoadIcon(ct.iconId != 0 ? ct.iconId : kAppIconId)));
            IconMetrics m = backend.GetIconMetrics();
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
        case ControlKind::kCheckBox:
            c->widget = c->focusWidget = ct.kind == ControlKind::kPushButton
                                             ? gtk_button_new_with_mnemonic("")
                                             : gtk_check_button_new_with_mnemonic("");
            EllipsizeChildLabel(*c);
            c->buttonStyle = ct.style & 0x0F;
            g_signal_connect(c->widget, "clicked", G_CALLBACK(OnButtonClicked), c.get());
            break;
        case ControlKind::kListBox: {
            c->store = NewTextListModel();
            GtkWidget* view = gtk_tree_view_new_with_model(c->store);
            g_object_unref(c->store);  // the view holds it
            GtkTreeView* tree = GTK_TREE_VIEW(view);
            gtk_tree_view_set_headers_visible(tree, FALSE);
            gtk_tree_view_set_enable_search(tree, FALSE);
            GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
            g_object_set(renderer, "ypad", 0, "ellipsize", PANGO_ELLIPSIZE_END, "ellipsize-set",
                         TRUE, "single-paragraph-mode", TRUE, nullptr);
            // One column as wide as the list, whatever its texts: a row never asks for more room
            // than the list has, and with every row of the same height the view measures none of
            // them, so hundreds of thousands of rows cost no more than their strings.
            GtkTreeViewColumn* column = gtk_tree_view_column_new();
            gtk_tree_view_column_pack_start(column, renderer, TRUE);
            gtk_tree_view_column_set_cell_data_func(column, renderer, ShowRowText, nullptr,
                                                    nullptr);
            gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
            gtk_tree_view_column_set_fixed_width(column, 1);
            gtk_tree_view_column_set_expand(column, TRUE);
            gtk_tree_view_append_column(tree, column);
            gtk_tree_view_set_fixed_height_mode(tree, TRUE);
            gtk_tree_selection_set_mode(gtk_tree_view_get_selection(tree), GTK_SELECTION_SINGLE);
            g_signal_connect(view, "button-press-event", G_CALLBACK(OnListButtonPress), c.get());
            gtk_widget_set_has_tooltip(view, TRUE);
            g_signal_connect(view, "query-tooltip", G_CALLBACK(OnListQueryTooltip), c.get());
            c->widget = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_scrolled_window_set_shadow_type(
                GTK_SCROLLED_WINDOW(c->widget),
                (ct.style & WS_BORDER) ? GTK_SHADOW_IN : GTK_SHADOW_NONE);
            gtk_scrolled_window_set_policy(
                GTK_SCROLLED_WINDOW(c->widget), GTK_POLICY_NEVER,
                (ct.style & WS_VSCROLL) ? GTK_POLICY_AUTOMATIC : GTK_POLICY_NEVER);
            gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(c->widget), FALSE);
            gtk_container_add(GTK_CONTAINER(c->widget), view);
            gtk_widget_set_can_focus(c->widget, FALSE);  // the list itself is the Tab stop
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
            AddWidgetCss(w, c->widget, css);
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
    gtk_fixed_put(GTK_FIXED(w.fixed), c->widget, x, y);
    gtk_widget_show_all(c->widget);
    if ((ct.style & WS_VISIBLE) == 0) gtk_widget_hide(c->widget);
    return c;
}

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
    UpdateDescriptions(*c->owner, id);
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
    GtkDialogWindow* w = state->Window(dialog);
    GtkControl* c = w ? w->Find(id) : nullptr;
    if (c == nullptr) return;
    if (!enable && c->focusWidget && GetFocus(dialog) == id) {
        // The focus never stays on a control that cannot be used.
        int next = FocusAfterDisabling(*w->tmpl, id, [&](int other) {
            GtkControl* o = w->Find(other);
            return o != nullptr && IsFocusable(*o);
        });
        if (GtkControl* n = w->Find(next)) {
            gtk_widget_grab_focus(n->focusWidget);
            w->owedFocus = id;
            w->parkedFocus = next;
        }
    }
    gtk_widget_set_sensitive(c->widget, enable);
    if (enable && w->owedFocus == id) {
        if (GetFocus(dialog) == w->parkedFocus && IsFocusable(*c)) {
            gtk_widget_grab_focus(c->focusWidget);
        }
        w->owedFocus = w->parkedFocus = kNoControlId;
    }
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

std::string ListRowTooltip(GtkControl& c, int row) {
    if (c.store == nullptr || row < 0 || row >= static_cast<int>(TextListRows(c.store).size())) {
        return {};
    }
    std::string shown =
        ShownPrefix(TextListRows(c.store)[static_cast<std::size_t>(row)], kMaxDrawnBytes);
    // Measured as the row draws it, against the room the column gives it.
    GtkTreeView* view = GTK_TREE_VIEW(c.focusWidget);
    GtkTreeViewColumn* column = gtk_tree_view_get_column(view, 0);
    int room = gtk_tree_view_column_get_width(column) - 4;
    std::string measured = WholeTextTooltipText(c.focusWidget, shown);
    PangoLayout* layout = gtk_widget_create_pango_layout(c.focusWidget, measured.c_str());
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return width > room ? shown : std::string();
}

int GtkBackend::ListInsert(WindowHandle dialog, int id, int index, std::string_view text) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    int count = static_cast<int>(TextListRows(c->store).size());
    if (index > count) return LB_ERR;
    if (index < 0) index = count;
    TextListInsert(c->store, index, std::string(text));
    return index;
}

int GtkBackend::ListDelete(WindowHandle dialog, int id, int index) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    int count = static_cast<int>(TextListRows(c->store).size());
    if (index < 0 || index >= count) return LB_ERR;
    TextListDelete(c->store, index);
    return count - 1;
}

void GtkBackend::ListReset(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return;
    // The view lets go of every row at once, rather than row by row.
    GtkTreeView* view = GTK_TREE_VIEW(c->focusWidget);
    g_object_ref(c->store);
    gtk_tree_view_set_model(view, nullptr);
    TextListClear(c->store);
    gtk_tree_view_set_model(view, c->store);
    g_object_unref(c->store);
}

int GtkBackend::ListCount(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    return static_cast<int>(TextListRows(c->store).size());
}

int GtkBackend::ListGetText(WindowHandle dialog, int id, int index, std::string& text) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    const std::deque<std::string>& rows = TextListRows(c->store);
    if (index < 0 || index >= static_cast<int>(rows.size())) return LB_ERR;
    text = rows[static_cast<std::size_t>(index)];
    return static_cast<int>(text.size());
}

int GtkBackend::ListGetCurSel(WindowHandle dialog, int id) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(c->focusWidget));
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(sel, nullptr, &iter)) return LB_ERR;
    GtkTreePath* path = gtk_tree_model_get_path(c->store, &iter);
    int index = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return index;
}

int GtkBackend::ListSetCurSel(WindowHandle dialog, int id, int index) {
    GtkControl* c = state->Control(dialog, id);
    if (c == nullptr || c->store == nullptr) return LB_ERR;
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(c->focusWidget));
    GtkTreeIter iter;
    if (index < 0 || !gtk_tree_model_iter_nth_child(c->store, &iter, nullptr, index)) {
        gtk_tree_selection_unselect_all(sel);
        return index == -1 ? 0 : LB_ERR;
    }
    gtk_tree_selection_select_iter(sel, &iter);
    GtkTreePath* path = gtk_tree_model_get_path(c->store, &iter);
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

}  // namespace fw
