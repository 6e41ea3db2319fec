// The folder browser.

#include <gtk/gtk.h>

#include <algorithm>
#include <optional>
#include <string>

#include "platform/gtk/dialog_window_gtk.h"

namespace fw {

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
    ReleaseHeldFrames(*state);
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
