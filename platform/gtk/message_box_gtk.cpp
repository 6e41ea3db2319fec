// Message boxes with the Windows button sets, answers and default buttons.

#include <gtk/gtk.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/gtk/dialog_window_gtk.h"

namespace fw {

namespace {

// A message holds at most this much of its text: a scrolled page or two of it, never a label
// taller than a window can be.
constexpr std::size_t kMaxMessageChars = 20000;

// The box's text wraps anywhere, even inside a long file name, and scrolls once it is taller
// than half the screen: the box stays within the screen and every line stays reachable.
void FitMessageText(GtkWidget* box, GtkWidget* near) {
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box));
    GList* children = gtk_container_get_children(GTK_CONTAINER(area));
    GtkWidget* label = children != nullptr ? GTK_WIDGET(children->data) : nullptr;
    g_list_free(children);
    if (label == nullptr || !GTK_IS_LABEL(label)) return;
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    // The label shows the text with break points added; the box's text stays as given.
    gtk_label_set_text(GTK_LABEL(label),
                       BreakableText(gtk_label_get_text(GTK_LABEL(label))).c_str());
    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    GtkScrolledWindow* scrolled = GTK_SCROLLED_WINDOW(scroller);
    gtk_scrolled_window_set_policy(scrolled, GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_propagate_natural_width(scrolled, TRUE);
    gtk_scrolled_window_set_propagate_natural_height(scrolled, TRUE);
    gtk_scrolled_window_set_max_content_height(scrolled, MessageTextMaxHeight(near));
    // The text is read with the box; a pane without a name of its own is no Tab stop.
    gtk_widget_set_can_focus(scroller, FALSE);
    g_object_ref(label);
    gtk_container_remove(GTK_CONTAINER(area), label);
    gtk_container_add(GTK_CONTAINER(scroller), label);
    g_object_unref(label);
    gtk_box_pack_start(GTK_BOX(area), scroller, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(area), scroller, 0);
    gtk_widget_show_all(scroller);
}

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

// Escape answers a Yes/No box as No; in the other boxes it closes them, as the close button does.
gboolean OnBoxKeyPress(GtkWidget* box, GdkEventKey* event, gpointer) {
    guint mods = event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SHIFT_MASK);
    if (event->keyval != GDK_KEY_Escape || mods != 0) return FALSE;
    if (GPOINTER_TO_INT(g_object_get_data(G_OBJECT(box), "fw-close-answer")) != 0) return FALSE;
    if (gtk_dialog_get_widget_for_response(GTK_DIALOG(box), IDNO) == nullptr) return FALSE;
    gtk_dialog_response(GTK_DIALOG(box), IDNO);
    return TRUE;
}

}  // namespace

int GtkBackend::MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                           unsigned type) {
    std::vector<BoxButton> buttons = ButtonsOf(type);
    std::size_t defaultIndex = (type & MB_DEFMASK) >> 8;
    if (defaultIndex >= buttons.size()) defaultIndex = 0;
    int closeAnswer = CloseAnswer(buttons);

    GtkWindow* parent = state->Parent(owner);
    std::string shown = BoundedText(ShownText(text), kMaxMessageChars);
    GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, MessageTypeOf(type),
                                            GTK_BUTTONS_NONE, "%s", shown.c_str());
    g_object_ref_sink(box);
    std::unique_ptr<GtkWidget, GObjectUnref<GtkWidget>> keep(box);
    g_object_set_data_full(G_OBJECT(box), "fw-text", g_strdup(shown.c_str()), g_free);
    FitMessageText(box, parent != nullptr ? GTK_WIDGET(parent) : box);
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
    g_signal_connect(box, "key-press-event", G_CALLBACK(OnBoxKeyPress), nullptr);

    state->messageBoxes.push_back(box);
    ReleaseHeldFrames(*state);
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
    const auto* text = static_cast<const char*>(g_object_get_data(G_OBJECT(box), "fw-text"));
    view.text = text ? text : "";
    view.closable = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(box), "fw-close-answer")) != 0;
    view.width = gtk_widget_get_allocated_width(box);
    view.height = gtk_widget_get_allocated_height(box);
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

}  // namespace fw
