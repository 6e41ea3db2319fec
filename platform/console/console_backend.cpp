#include "platform/console/console_backend.h"

namespace fw {

ConsoleBackend::ConsoleBackend(ConsoleUser& user, std::ostream& err) : user(user), err(err) {
    // Nothing is scripted here, so anything unexpected is a fault of ours; say so rather than
    // go on quietly.
    onUnexpected = [this](const std::string& what) {
        unexpected.push_back(what);
        this->err << "internal: " << what << '\n' << std::flush;
    };
}

std::intptr_t ConsoleBackend::RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate,
                                       WindowHandle owner) {
    ScriptModal(dialogTemplate.id, [this](HeadlessWindow& window) { user.Run(window); });
    return HeadlessBackend::RunModal(dialog, dialogTemplate, owner);
}

void ConsoleBackend::SetText(WindowHandle dialog, int id, std::string_view text) {
    HeadlessBackend::SetText(dialog, id, text);
    if (HeadlessWindow* window = Window(dialog)) user.TextChanged(*window, id, std::string(text));
}

int ConsoleBackend::ProgressSetPos(WindowHandle dialog, int id, int pos) {
    int previous = HeadlessBackend::ProgressSetPos(dialog, id, pos);
    if (HeadlessWindow* window = Window(dialog)) {
        int now = window->ProgressPos(id);
        if (now != previous) user.ProgressChanged(*window, id, now);
    }
    return previous;
}

int ConsoleBackend::MessageBox(WindowHandle owner, std::string_view text,
                               std::string_view caption, unsigned type) {
    err << ConsoleLines(text) << '\n' << std::flush;
    ShownMessageBox box{std::string(text), std::string(caption), type, owner != nullptr, 0};
    box.answer = user.Answer(text, caption, type);
    messageBoxes.push_back(box);
    return box.answer;
}

bool ConsoleBackend::BrowseForFolder(WindowHandle, std::string_view, std::string&) {
    return false;
}

std::string ConsoleLines(std::string_view text) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            lines += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            lines += text[i];
        }
    }
    return lines;
}

void ConsoleBackend::PumpMessages() {
    HeadlessBackend::PumpMessages();
    user.Pumped();
}

void ConsoleBackend::RepaintPending() {
    user.Pumped();
}

bool ConsoleBackend::StopRequested() {
    return user.Stopping();
}

}  // namespace fw
