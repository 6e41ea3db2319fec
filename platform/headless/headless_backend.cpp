#include "platform/headless/headless_backend.h"

#include <algorithm>
#include <utility>

namespace fw {
namespace {

const HeadlessControl& MissingControl() {
    static const HeadlessControl kMissing{};
    return kMissing;
}

}  // namespace

// ---- HeadlessWindow ----

HeadlessWindow::HeadlessWindow(HeadlessBackend& backend, CDialog& dialog,
                               const DialogTemplate& tmpl)
    : caption(tmpl.caption), dialog(dialog), dialogTemplate(tmpl), backend(backend) {
    for (const ControlTemplate& c : tmpl.controls) {
        if (c.id == kNoControlId) continue;
        HeadlessControl control;
        control.kind = c.kind;
        control.text = std::string(c.text);
        control.enabled = (c.style & WS_DISABLED) == 0;
        if (c.kind == ControlKind::kPushButton) control.buttonStyle = c.style & 0x0F;
        controls[c.id] = control;
    }
}

const HeadlessControl& HeadlessWindow::Control(int id) const {
    auto it = controls.find(id);
    if (it == controls.end()) {
        backend.ReportUnexpected("the test looked at control " + std::to_string(id) +
                                 ", which dialog " + std::to_string(dialogTemplate.id) +
                                 " does not have");
        return MissingControl();
    }
    return it->second;
}

HeadlessControl& HeadlessWindow::Mutable(int id) { return controls.at(id); }

bool HeadlessWindow::Click(int id) {
    auto it = controls.find(id);
    if (it == controls.end() || !it->second.enabled || ended) return false;
    HeadlessControl& c = it->second;
    if (c.kind == ControlKind::kCheckBox) {
        c.check = c.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    } else if (c.kind != ControlKind::kPushButton) {
        return false;
    }
    focus = id;
    dialog.HandleMessage({MessageKind::kCommand, id, BN_CLICKED, 0});
    return true;
}

bool HeadlessWindow::Select(int index) {
    for (auto& [id, c] : controls) {
        if (c.kind != ControlKind::kListBox) continue;
        if (!c.enabled) return false;
        if (index < -1 || index >= static_cast<int>(c.items.size())) return false;
        c.curSel = index;
        return true;
    }
    return false;
}

bool HeadlessWindow::DoubleClickItem(int index) {
    for (auto& [id, c] : controls) {
        if (c.kind != ControlKind::kListBox) continue;
        if (!c.enabled || ended) return false;
        if (index < -1 || index >= static_cast<int>(c.items.size())) return false;
        c.curSel = index;
        focus = id;
        dialog.HandleMessage({MessageKind::kCommand, id, LBN_DBLCLK, 0});
        return true;
    }
    return false;
}

bool HeadlessWindow::DoubleClickListWithoutSelection() {
    for (auto& [id, c] : controls) {
        if (c.kind != ControlKind::kListBox) continue;
        if (!c.enabled || ended) return false;
        dialog.HandleMessage({MessageKind::kCommand, id, LBN_DBLCLK, 0});
        return true;
    }
    return false;
}

bool HeadlessWindow::TypeText(int id, std::string_view text) {
    auto it = controls.find(id);
    if (it == controls.end() || !it->second.enabled || it->second.kind != ControlKind::kEdit) {
        return false;
    }
    std::string value(text);
    int limit = it->second.limit > 0 ? it->second.limit : 30000;
    if (value.size() > static_cast<size_t>(limit)) value.resize(static_cast<size_t>(limit));
    it->second.text = value;
    return true;
}

void HeadlessWindow::SendCommand(int id, int code) {
    if (!ended) dialog.HandleMessage({MessageKind::kCommand, id, code, 0});
}

void HeadlessWindow::SysCommand(unsigned command, std::intptr_t param) {
    if (!ended) {
        dialog.HandleMessage({MessageKind::kSysCommand, static_cast<int>(command), 0, param});
    }
}

void HeadlessWindow::Paint() { dialog.HandleMessage({MessageKind::kPaint, 0, 0, 0}); }

IconHandle HeadlessWindow::QueryDragIcon() {
    return dialog.HandleMessage({MessageKind::kQueryDragIcon, 0, 0, 0});
}

bool HeadlessWindow::TickTimer(unsigned id) {
    if (ended || timers.count(id) == 0) return false;
    dialog.HandleMessage({MessageKind::kTimer, static_cast<int>(id), 0, 0});
    return true;
}

// ---- HeadlessBackend ----

HeadlessBackend::HeadlessBackend()
    : onUnexpected([this](const std::string& what) { unexpected.push_back(what); }) {}

HeadlessBackend::~HeadlessBackend() = default;

void HeadlessBackend::ReportUnexpected(const std::string& what) {
    if (onUnexpected) onUnexpected(what);
}

void HeadlessBackend::ScriptModal(int templateId, ModalScript script) {
    scripts[templateId].push_back(std::move(script));
}

void HeadlessBackend::ExpectMessageBox(int answer, std::string expectedCaption) {
    messageBoxAnswers.push_back(
        [this, answer, expectedCaption = std::move(expectedCaption)](const ShownMessageBox& box) {
            if (!expectedCaption.empty() && box.caption != expectedCaption) {
                ReportUnexpected("message box with caption \"" + box.caption + "\" and text \"" +
                                 box.text + "\" where one captioned \"" + expectedCaption +
                                 "\" was expected");
            }
            return answer;
        });
}

void HeadlessBackend::ExpectMessageBox(MessageBoxAnswer answer) {
    messageBoxAnswers.push_back(std::move(answer));
}

void HeadlessBackend::AtPump(int n, std::function<void()> action) {
    pumpActions.emplace_back(pumpCount + std::max(n, 1), std::move(action));
    std::stable_sort(pumpActions.begin(), pumpActions.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

void HeadlessBackend::ExpectBrowse(
    std::function<std::optional<std::string>(std::string_view, const std::string&)> answer) {
    browseAnswers.push_back(std::move(answer));
}

HeadlessWindow* HeadlessBackend::Top() { return windows.empty() ? nullptr : windows.back().get(); }

HeadlessWindow* HeadlessBackend::FindByTemplate(int templateId) {
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if ((*it)->templateId() == templateId) return it->get();
    }
    return nullptr;
}

std::size_t HeadlessBackend::PendingScripts() const {
    std::size_t n = 0;
    for (const auto& [id, queue] : scripts) n += queue.size();
    return n;
}

HeadlessWindow* HeadlessBackend::Window(WindowHandle handle) {
    for (auto& w : windows) {
        if (w.get() == handle) return w.get();
    }
    return nullptr;
}

HeadlessControl* HeadlessBackend::Find(WindowHandle handle, int id) {
    HeadlessWindow* w = Window(handle);
    if (w == nullptr) return nullptr;
    auto it = w->controls.find(id);
    return it == w->controls.end() ? nullptr : &it->second;
}

std::intptr_t HeadlessBackend::RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate,
                                        WindowHandle) {
    modalRuns.push_back(dialogTemplate.id);
    auto queue = scripts.find(dialogTemplate.id);
    if (queue == scripts.end() || queue->second.empty()) {
        ReportUnexpected("modal dialog " + std::to_string(dialogTemplate.id) + " (\"" +
                         std::string(dialogTemplate.caption) + "\") that the script did not expect");
        return IDCANCEL;
    }
    ModalScript script = std::move(queue->second.front());
    queue->second.pop_front();

    windows.push_back(std::make_unique<HeadlessWindow>(*this, dialog, dialogTemplate));
    HeadlessWindow* window = windows.back().get();
    dialog.AttachWindow(window);
    if (dialog.HandleInitDialog() && window->focus == 0) {
        for (const ControlTemplate& c : dialogTemplate.controls) {
            if ((c.style & WS_TABSTOP) != 0 && c.id != kNoControlId &&
                window->controls[c.id].enabled) {
                window->focus = c.id;
                break;
            }
        }
    }
    if (!window->ended) script(*window);
    if (!window->ended) {
        window->ended = true;
        window->result = -1;
    }
    return window->result;
}

void HeadlessBackend::EndModal(WindowHandle dialog, std::intptr_t result) {
    if (HeadlessWindow* w = Window(dialog)) {
        w->ended = true;
        w->result = result;
    }
}

void HeadlessBackend::DestroyDialog(WindowHandle dialog) {
    auto it = std::find_if(windows.begin(), windows.end(),
                           [&](const auto& w) { return w.get() == dialog; });
    if (it != windows.end()) windows.erase(it);
}

void HeadlessBackend::SetText(WindowHandle dialog, int id, std::string_view text) {
    if (id == 0) {
        if (HeadlessWindow* w = Window(dialog)) w->caption = std::string(text);
        return;
    }
    if (HeadlessControl* c = Find(dialog, id)) {
        // A program can put a longer text into an edit box than a user can type.
        c->text = std::string(text);
    }
}

std::string HeadlessBackend::GetText(WindowHandle dialog, int id) {
    if (id == 0) {
        HeadlessWindow* w = Window(dialog);
        return w ? w->caption : std::string();
    }
    HeadlessControl* c = Find(dialog, id);
    return c ? c->text : std::string();
}

void HeadlessBackend::Enable(WindowHandle dialog, int id, bool enable) {
    if (HeadlessControl* c = Find(dialog, id)) c->enabled = enable;
}

bool HeadlessBackend::IsEnabled(WindowHandle dialog, int id) {
    HeadlessControl* c = Find(dialog, id);
    return c != nullptr && c->enabled;
}

void HeadlessBackend::SetFocus(WindowHandle dialog, int id) {
    if (HeadlessWindow* w = Window(dialog)) {
        if (w->controls.count(id) != 0) w->focus = id;
    }
}

int HeadlessBackend::GetFocus(WindowHandle dialog) {
    HeadlessWindow* w = Window(dialog);
    return w ? w->focus : 0;
}

void HeadlessBackend::SetButtonStyle(WindowHandle dialog, int id, unsigned style, bool) {
    if (HeadlessControl* c = Find(dialog, id)) c->buttonStyle = style & 0x0F;
}

unsigned HeadlessBackend::GetButtonStyle(WindowHandle dialog, int id) {
    HeadlessControl* c = Find(dialog, id);
    return c ? c->buttonStyle : 0;
}

int HeadlessBackend::GetButtonState(WindowHandle dialog, int id) {
    HeadlessWindow* w = Window(dialog);
    HeadlessControl* c = Find(dialog, id);
    if (c == nullptr) return 0;
    int state = c->check;
    if (w && w->focus == id) state |= BST_FOCUS;
    return state;
}

void HeadlessBackend::SetCheck(WindowHandle dialog, int id, int check) {
    if (HeadlessControl* c = Find(dialog, id)) c->check = check;
}

int HeadlessBackend::ListInsert(WindowHandle dialog, int id, int index, std::string_view text) {
    HeadlessControl* c = Find(dialog, id);
    if (c == nullptr) return LB_ERR;
    int count = static_cast<int>(c->items.size());
    if (index > count) return LB_ERR;
    if (index < 0) index = count;
    c->items.insert(c->items.begin() + index, std::string(text));
    if (c->curSel >= index) ++c->curSel;
    return index;
}

int HeadlessBackend::ListDelete(WindowHandle dialog, int id, int index) {
    HeadlessControl* c = Find(dialog, id);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return LB_ERR;
    c->items.erase(c->items.begin() + index);
    if (c->curSel == index) {
        c->curSel = LB_ERR;
    } else if (c->curSel > index) {
        --c->curSel;
    }
    return static_cast<int>(c->items.size());
}

void HeadlessBackend::ListReset(WindowHandle dialog, int id) {
    if (HeadlessControl* c = Find(dialog, id)) {
        c->items.clear();
        c->curSel = LB_ERR;
    }
}

int HeadlessBackend::ListCount(WindowHandle dialog, int id) {
    HeadlessControl* c = Find(dialog, id);
    return c ? static_cast<int>(c->items.size()) : LB_ERR;
}

int HeadlessBackend::ListGetText(WindowHandle dialog, int id, int index, std::string& text) {
    HeadlessControl* c = Find(dialog, id);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return LB_ERR;
    text = c->items[static_cast<size_t>(index)];
    return static_cast<int>(text.size());
}

int HeadlessBackend::ListGetCurSel(WindowHandle dialog, int id) {
    HeadlessControl* c = Find(dialog, id);
    return c ? c->curSel : LB_ERR;
}

int HeadlessBackend::ListSetCurSel(WindowHandle dialog, int id, int index) {
    HeadlessControl* c = Find(dialog, id);
    if (c == nullptr) return LB_ERR;
    if (index < 0 || index >= static_cast<int>(c->items.size())) {
        c->curSel = LB_ERR;
        return index == -1 ? 0 : LB_ERR;
    }
    c->curSel = index;
    return index;
}

void HeadlessBackend::ProgressSetRange(WindowHandle dialog, int id, int low, int high) {
    if (HeadlessControl* c = Find(dialog, id)) {
        c->rangeLow = low;
        c->rangeHigh = high;
        // A new range pulls the position into it, as the common control does.
        c->pos = std::clamp(c->pos, std::min(low, high), std::max(low, high));
    }
}

int HeadlessBackend::ProgressSetPos(WindowHandle dialog, int id, int pos) {
    HeadlessControl* c = Find(dialog, id);
    if (c == nullptr) return 0;
    int previous = c->pos;
    // A progress bar keeps its position inside its range, as the common control does.
    c->pos = std::clamp(pos, std::min(c->rangeLow, c->rangeHigh), std::max(c->rangeLow, c->rangeHigh));
    return previous;
}

void HeadlessBackend::EditSetLimit(WindowHandle dialog, int id, int maxChars) {
    if (HeadlessControl* c = Find(dialog, id)) c->limit = maxChars;
}

bool HeadlessBackend::SetTimer(WindowHandle dialog, unsigned timerId, unsigned milliseconds) {
    HeadlessWindow* w = Window(dialog);
    if (w == nullptr) return false;
    w->timers[timerId] = milliseconds;
    return true;
}

bool HeadlessBackend::KillTimer(WindowHandle dialog, unsigned timerId) {
    HeadlessWindow* w = Window(dialog);
    return w != nullptr && w->timers.erase(timerId) != 0;
}

int HeadlessBackend::MessageBox(WindowHandle owner, std::string_view text,
                                std::string_view caption, unsigned type) {
    ShownMessageBox box{std::string(text), std::string(caption), type, owner != nullptr, 0};
    if (messageBoxAnswers.empty()) {
        ReportUnexpected("message box \"" + box.caption + "\": \"" + box.text +
                         "\" that the script did not expect");
        unsigned buttons = type & MB_TYPEMASK;
        box.answer = (buttons == MB_OK) ? IDOK : (buttons == MB_YESNO ? IDNO : IDCANCEL);
    } else {
        MessageBoxAnswer answer = std::move(messageBoxAnswers.front());
        messageBoxAnswers.pop_front();
        box.answer = answer(box);
    }
    messageBoxes.push_back(box);
    return box.answer;
}

void HeadlessBackend::PumpMessages() {
    ++pumpCount;
    if (onEveryPump) onEveryPump();
    while (!pumpActions.empty() && pumpActions.front().first <= pumpCount) {
        std::function<void()> action = std::move(pumpActions.front().second);
        pumpActions.pop_front();
        action();
    }
}

bool HeadlessBackend::HasSystemMenu(WindowHandle dialog) {
    HeadlessWindow* w = Window(dialog);
    return w != nullptr && (w->dialogTemplate.style & WS_SYSMENU) != 0;
}

void HeadlessBackend::AppendSystemMenu(WindowHandle dialog, unsigned flags, unsigned id,
                                       std::string_view text) {
    if (HeadlessWindow* w = Window(dialog)) {
        w->systemMenu.emplace_back(flags, std::string(text));
        w->systemMenuIds.push_back(id);
    }
}

void HeadlessBackend::DefaultSysCommand(WindowHandle dialog, unsigned command, std::intptr_t) {
    if (HeadlessWindow* w = Window(dialog)) {
        w->defaultSysCommands.push_back(command);
        if ((command & 0xFFF0u) == SC_MINIMIZE) w->iconic = true;
        if ((command & 0xFFF0u) == SC_RESTORE) w->iconic = false;
    }
}

IconHandle HeadlessBackend::LoadIcon(int resourceId) {
    return &iconStorage[resourceId];
}

void HeadlessBackend::SetIcon(WindowHandle dialog, IconHandle icon, bool big) {
    if (HeadlessWindow* w = Window(dialog)) (big ? w->bigIcon : w->smallIcon) = icon;
}

bool HeadlessBackend::IsIconic(WindowHandle dialog) {
    HeadlessWindow* w = Window(dialog);
    return w != nullptr && w->iconic;
}

ClientRect HeadlessBackend::GetClientRect(WindowHandle dialog) {
    HeadlessWindow* w = Window(dialog);
    if (w == nullptr) return {};
    if (w->iconic) return {36, 36};
    // Dialog units at the 8-point font's base units (6 x 13 pixels per 4 x 8 units).
    return {w->dialogTemplate.rect.cx * 6 / 4, w->dialogTemplate.rect.cy * 13 / 8};
}

void HeadlessBackend::PaintIcon(WindowHandle dialog, IconHandle icon, int x, int y) {
    if (HeadlessWindow* w = Window(dialog)) w->paintedIcons.push_back({icon, x, y});
}

void HeadlessBackend::DefaultPaint(WindowHandle dialog) {
    if (HeadlessWindow* w = Window(dialog)) ++w->defaultPaints;
}

bool HeadlessBackend::BrowseForFolder(WindowHandle, std::string_view title, std::string& path) {
    browseTitles.emplace_back(title);
    browseInitialFolders.push_back(path);
    if (browseAnswers.empty()) {
        ReportUnexpected("folder browser \"" + std::string(title) + "\" that the script did not expect");
        return false;
    }
    auto answer = std::move(browseAnswers.front());
    browseAnswers.pop_front();
    std::optional<std::string> chosen = answer(title, path);
    if (!chosen) return false;
    path = *chosen;
    return true;
}

}  // namespace fw
