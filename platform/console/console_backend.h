#pragma once
// A dialog host for a terminal: the dialogs live in memory as on the headless host, and a
// console user acts in them by a fixed policy instead of a person. Every message box text goes
// to the error stream before the user answers it; control changes are passed to the user, who
// decides what is worth printing.

#include <ostream>
#include <string>
#include <string_view>

#include "platform/headless/headless_backend.h"

namespace fw {

class ConsoleUser {
public:
    virtual ~ConsoleUser() = default;
    // Acts in the modal dialog `window`; a run that returns without ending the dialog ends as
    // if the window had been closed from outside.
    virtual void Run(HeadlessWindow& window) = 0;
    // The button that answers a message box (IDOK, IDYES, ...).
    virtual int Answer(std::string_view text, std::string_view caption, unsigned type) = 0;
    // A control's text or a progress bar's position has changed.
    virtual void TextChanged(HeadlessWindow& window, int id, const std::string& text) = 0;
    virtual void ProgressChanged(HeadlessWindow& window, int id, int pos) = 0;
    // The dialog pumped its messages or waits for the network: a long step (a check, a
    // download) is between two blocks.
    virtual void Pumped() = 0;
    // The user wants the run to end: waits on a server give up.
    virtual bool Stopping() = 0;
};

class ConsoleBackend : public HeadlessBackend {
public:
    ConsoleBackend(ConsoleUser& user, std::ostream& err);

    std::intptr_t RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate,
                           WindowHandle owner) override;
    void SetText(WindowHandle dialog, int id, std::string_view text) override;
    int ProgressSetPos(WindowHandle dialog, int id, int pos) override;
    void PumpMessages() override;
    void RepaintPending() override;
    bool StopRequested() override;
    int MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                   unsigned type) override;
    // There is no one to browse for a folder.
    bool BrowseForFolder(WindowHandle owner, std::string_view title, std::string& path) override;

private:
    ConsoleUser& user;
    std::ostream& err;
};

// A dialog text as terminal lines: "\r\n" and a lone "\r" become "\n".
std::string ConsoleLines(std::string_view text);

}  // namespace fw
