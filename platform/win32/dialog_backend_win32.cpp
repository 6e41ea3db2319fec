#include "platform/win32/dialog_backend_win32.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <climits>
#include <string>
#include <vector>

#include "platform/ui/accessibility.h"
#include "platform/ui/dialog.h"
#include "platform/ui/message_map.h"
#include "platform/win32/scrolling_message_box_win32.h"
#include "platform/win32/text_fit_win32.h"
#include "platform/win32/windows_win32.h"

namespace fw {
namespace {

// What the dialog procedure of one running dialog needs; it lives on RunModal's stack for as
// long as the dialog manager runs the window, and the window holds it in DWLP_USER.
struct DialogContext {
    Win32Backend* backend = nullptr;
    CDialog* dialog = nullptr;
    UINT defaultableMessage = 0;   // WM_SYSCOMMAND or WM_PAINT while one is being dispatched
    bool defaultRequested = false;  // the dialog asked for the default handling of it
    std::wstring wideTipText;       // the last tooltip text handed out in UTF-16
    // Disabling the focused control parks the focus on another one; the control gets it back
    // when it is enabled again while the focus is still parked.
    int owedFocus = kNoControlId;
    int parkedFocus = kNoControlId;
};

// Not in every SDK's headers; the value is fixed.
constexpr DWORD kEventLiveRegionChanged = 0x8019;

// A list box, a progress bar: controls that show no text of their own carry their accessible
// name (the static text before them) as their window text, which MSAA reads when it finds no
// label, as Wine's does.
void NameControls(HWND window, const DialogTemplate& t) {
    for (const ControlTemplate& c : t.controls) {
        if (c.kind != ControlKind::kListBox && c.kind != ControlKind::kProgress) continue;
        std::string name = AccessibleName(t, c.id);
        HWND control = GetDlgItem(window, c.id);
        if (control != nullptr && !name.empty()) SetWindowTextA(control, name.c_str());
    }
}

// Delete and the context-menu key on a list box that notifies act as a double click on its
// selected item: the dialog's one handler decides what that does.
bool ActOnListItem(DialogContext& context, HWND list) {
    const ControlTemplate* c = context.dialog->GetTemplate().Find(GetDlgCtrlID(list));
    if (c == nullptr || c->kind != ControlKind::kListBox || (c->style & LBS_NOTIFY) == 0) {
        return false;
    }
    if (SendMessageA(list, LB_GETCURSEL, 0, 0) != LB_ERR) {
        context.dialog->HandleMessage(Message{MessageKind::kCommand, c->id, LBN_DBLCLK, 0});
    }
    return true;
}

DialogContext* ContextOf(HWND window) {
    return reinterpret_cast<DialogContext*>(GetWindowLongPtrA(window, DWLP_USER));
}

HWND Hwnd(WindowHandle handle) { return static_cast<HWND>(handle); }

LRESULT Send(WindowHandle control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return control == nullptr ? LB_ERR : SendMessageA(Hwnd(control), message, wParam, lParam);
}

int ToInt(LRESULT value) {
    return static_cast<int>(std::clamp<LRESULT>(value, INT_MIN, INT_MAX));
}

// The in-memory dialog template: DLGTEMPLATE, then per control a DWORD-aligned DLGITEMTEMPLATE,
// each followed by its variable-length parts as 16-bit words.
class TemplateBuilder {
public:
    std::vector<WORD>& words() { return data; }

    void Add(WORD w) { data.push_back(w); }
    void AddDword(DWORD d) {
        Add(static_cast<WORD>(d & 0xFFFFu));
        Add(static_cast<WORD>(d >> 16));
    }
    void AddShort(int value) {
        Add(static_cast<WORD>(static_cast<unsigned>(std::clamp(value, -32768, 32767)) & 0xFFFFu));
    }
    void AddText(std::string_view text) {
        if (!text.empty() && text.size() < static_cast<std::size_t>(INT_MAX)) {
            int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
            std::vector<wchar_t> wide(static_cast<std::size_t>(std::max(n, 0)));
            MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                wide.data(), n);
            for (wchar_t c : wide) Add(static_cast<WORD>(c));
        }
        Add(0);
    }
    void AlignDword() {
        if (data.size() % 2 != 0) Add(0);
    }

private:
    std::vector<WORD> data;
};

// Predefined window classes of dialog templates are given by atom.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kListBoxAtom = 0x0083;

std::vector<WORD> BuildTemplate(const DialogTemplate& t) {
    TemplateBuilder b;
    // Dialogs open centred on the screen, as the framework centres them.
    DWORD style = t.style | DS_SETFONT | DS_CENTER;
    b.AddDword(style);
    b.AddDword(t.exStyle);
    b.Add(static_cast<WORD>(std::min<std::size_t>(t.controls.size(), 0xFFFF)));
    b.AddShort(t.rect.x);
    b.AddShort(t.rect.y);
    b.AddShort(t.rect.cx);
    b.AddShort(t.rect.cy);
    b.Add(0);  // no menu
    b.Add(0);  // the dialog class
    b.AddText(t.caption);
    b.Add(static_cast<WORD>(std::clamp(t.fontPoints, 1, 72)));
    b.AddText(t.fontName.empty() ? std::string_view("MS Sans Serif") : t.fontName);

    for (const ControlTemplate& c : t.controls) {
        b.AlignDword();
        // A list box that notifies gets its keys to the dialog first (WM_VKEYTOITEM), so that
        // Delete can act on its item.
        bool keys = c.kind == ControlKind::kListBox && (c.style & LBS_NOTIFY) != 0;
        b.AddDword(keys ? c.style | LBS_WANTKEYBOARDINPUT : c.style);
        b.AddDword(0);
        b.AddShort(c.rect.x);
        b.AddShort(c.rect.y);
        b.AddShort(c.rect.cx);
        b.AddShort(c.rect.cy);
        // kNoControlId (-1) becomes 0xFFFF, the resource compiler's IDC_STATIC.
        b.Add(static_cast<WORD>(static_cast<unsigned>(c.id) & 0xFFFFu));
        switch (c.kind) {
            case ControlKind::kStatic:
            case ControlKind::kIcon:
                b.Add(0xFFFF);
                b.Add(kStaticAtom);
                break;
            case ControlKind::kGroupBox:
            case ControlKind::kPushButton:
            case ControlKind::kCheckBox:
                b.Add(0xFFFF);
                b.Add(kButtonAtom);
                break;
            case ControlKind::kListBox:
                b.Add(0xFFFF);
                b.Add(kListBoxAtom);
                break;
            case ControlKind::kEdit:
                b.Add(0xFFFF);
                b.Add(kEditAtom);
                break;
            case ControlKind::kProgress:
                b.AddText("msctls_progress32");
                break;
        }
        if (c.kind == ControlKind::kIcon) {
            b.Add(0xFFFF);  // the text of an icon control is the icon's resource number
            b.Add(static_cast<WORD>(static_cast<unsigned>(c.iconId) & 0xFFFFu));
        } else {
            b.AddText(c.text);
        }
        b.Add(0);  // no creation data
    }
    return std::move(b.words());
}

// Runs the dialog's handler for a message whose default handling the dialog may ask for;
// returns whether the dialog handled it itself.
bool DispatchDefaultable(DialogContext& context, UINT message, const Message& event) {
    UINT savedMessage = context.defaultableMessage;
    bool savedRequest = context.defaultRequested;
    context.defaultableMessage = message;
    context.defaultRequested = false;
    context.dialog->HandleMessage(event);
    bool handled = !context.defaultRequested;
    context.defaultableMessage = savedMessage;
    context.defaultRequested = savedRequest;
    return handled;
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* context = reinterpret_cast<DialogContext*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(context));
        context->backend->WindowCreated(window);
        context->dialog->AttachWindow(window);
        NameControls(window, context->dialog->GetTemplate());
        return context->dialog->HandleInitDialog() ? TRUE : FALSE;
    }
    DialogContext* context = ContextOf(window);
    if (context == nullptr) return FALSE;
    switch (message) {
        case WM_COMMAND: {
            int id = LOWORD(wParam);
            int code = HIWORD(wParam);
            // Enter reaches the OK command even when the OK button is disabled; a disabled
            // button cannot be clicked, so neither can its command arrive that way.
            if (id == IDOK && code == BN_CLICKED) {
                HWND ok = GetDlgItem(window, IDOK);
                if (ok != nullptr && !IsWindowEnabled(ok)) return TRUE;
            }
            context->dialog->HandleMessage(Message{MessageKind::kCommand, id, code, 0});
            return TRUE;
        }
        case WM_VKEYTOITEM:
            // Answered directly: -2 when the key was dealt with, -1 for the list's own handling.
            if ((LOWORD(wParam) == VK_DELETE || LOWORD(wParam) == VK_APPS) &&
                ActOnListItem(*context, reinterpret_cast<HWND>(lParam))) {
                return -2;
            }
            return -1;
        case WM_CONTEXTMENU:
            return ActOnListItem(*context, reinterpret_cast<HWND>(wParam)) ? TRUE : FALSE;
        case WM_TIMER:
            if (wParam == Win32Backend::kBarTimer) {
                context->backend->ShowDueBars(window);
                return TRUE;
            }
            context->dialog->HandleMessage(
                Message{MessageKind::kTimer, static_cast<int>(wParam), 0, 0});
            return TRUE;
        case WM_SYSCOMMAND:
            return DispatchDefaultable(*context, message,
                                       Message{MessageKind::kSysCommand,
                                               static_cast<int>(wParam & 0xFFFFu), 0, lParam})
                       ? TRUE
                       : FALSE;
        case WM_PAINT:
            return DispatchDefaultable(*context, message, Message{MessageKind::kPaint, 0, 0, 0})
                       ? TRUE
                       : FALSE;
        case WM_QUERYDRAGICON: {
            // One of the messages whose answer a dialog procedure returns directly.
            IconHandle icon =
                context->dialog->HandleMessage(Message{MessageKind::kQueryDragIcon, 0, 0, 0});
            return reinterpret_cast<INT_PTR>(icon);
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            // The tooltip asks in the character set it settled on with the dialog.
            if (header->code == TTN_GETDISPINFOA) {
                auto* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
                const std::string& text =
                    context->backend->ListTipText(reinterpret_cast<HWND>(header->idFrom));
                info->lpszText = const_cast<char*>(text.c_str());
                return TRUE;
            }
            if (header->code == TTN_GETDISPINFOW) {
                auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
                const std::string& text =
                    context->backend->ListTipText(reinterpret_cast<HWND>(header->idFrom));
                std::wstring& wide = context->wideTipText;
                int n = MultiByteToWideChar(CP_ACP, 0, text.data(),
                                            static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX)),
                                            nullptr, 0);
                wide.assign(static_cast<std::size_t>(std::max(n, 0)), L'\0');
                MultiByteToWideChar(CP_ACP, 0, text.data(), n > 0 ? static_cast<int>(text.size()) : 0,
                                    wide.data(), n);
                info->lpszText = wide.data();
                return TRUE;
            }
            return FALSE;
        }
        case WM_NCDESTROY:
            context->backend->WindowDestroyed(window);
            SetWindowLongPtrA(window, DWLP_USER, 0);
            return FALSE;
        default:
            return FALSE;
    }
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

// COM for the shell's folder browser, for the length of one browse.
class ComScope {
public:
    ComScope() : initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (initialized) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialized;
};

// Frees an item list with the shell's allocator.
class ItemList {
public:
    explicit ItemList(LPITEMIDLIST list) : list(list) {}
    ~ItemList() {
        if (list == nullptr) return;
        IMalloc* allocator = nullptr;
        if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
            allocator->Free(list);
            allocator->Release();
        }
    }
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;
    LPITEMIDLIST get() const { return list; }

private:
    LPITEMIDLIST list;
};

// The text of a list box item, asked for in the list box's own character set: Wine translates
// LB_GETTEXT between the two through a fixed buffer of 512 characters on the stack, which a
// longer item (a template name from the server) overruns, and the program dies.
std::optional<std::string> ListItemText(HWND list, WPARAM index) {
    if (!IsWindowUnicode(list)) {
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, index, 0);
        if (length < 0) return std::nullopt;
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        LRESULT copied = SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
        if (copied < 0) return std::nullopt;
        text.resize(static_cast<std::size_t>(std::min(copied, length)));
        return text;
    }
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length < 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    LRESULT copied = SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(wide.data()));
    if (copied < 0) return std::nullopt;
    wide.resize(static_cast<std::size_t>(std::min(copied, length)));
    if (wide.empty()) return std::string();
    int wideLength = static_cast<int>(std::min<std::size_t>(wide.size(), INT_MAX / 4));
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(std::max(n, 0)), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, text.data(), n, nullptr, nullptr);
    return text;
}

// Statics that show text (not icons, frames or bitmaps).
bool IsTextStatic(HWND control) {
    char name[16] = {};
    if (GetClassNameA(control, name, sizeof(name)) == 0 || lstrcmpiA(name, "Static") != 0) {
        return false;
    }
    auto type = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)) & SS_TYPEMASK;
    return type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT;
}

constexpr std::size_t kMeasuredCharacters = 2048;

struct TextExtent {
    int width = 0;
    int height = 0;
    int lineHeight = 1;
};

// What `text` takes when the control draws it in `font`, wrapped at `width`. A word longer than
// the width makes the extent wider than it.
TextExtent MeasureText(HWND control, HFONT font, const std::string& text, UINT format,
                       int width) {
    TextExtent extent;
    HDC dc = GetDC(control);
    if (dc == nullptr) return extent;
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA metrics{};
    if (GetTextMetricsA(dc, &metrics)) extent.lineHeight = std::max<int>(metrics.tmHeight, 1);
    RECT rect{0, 0, width, 0};
    DrawTextA(dc, text.c_str(), static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX)),
              &rect, format | DT_CALCRECT);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    extent.width = rect.right - rect.left;
    extent.height = rect.bottom - rect.top;
    return extent;
}

}  // namespace

Win32Backend::Win32Backend() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
}

Win32Backend::~Win32Backend() {
    for (auto& [key, font] : fonts) DeleteObject(static_cast<HFONT>(font));
}

WindowHandle Win32Backend::ScaledFont(WindowHandle dialog, WindowHandle baseFont, int percent) {
    auto key = std::make_pair(dialog, percent);
    auto known = fonts.find(key);
    if (known != fonts.end()) return known->second;
    LOGFONTA font{};
    if (GetObjectA(static_cast<HFONT>(baseFont), sizeof(font), &font) == 0) return nullptr;
    font.lfHeight = font.lfHeight * percent / 100;
    font.lfWidth = 0;
    HFONT made = CreateFontIndirectA(&font);
    if (made != nullptr) fonts.emplace(key, made);
    return made;
}

void Win32Backend::SetToolTip(WindowHandle dialog, WindowHandle control, std::string_view text,
                              bool askForText) {
    auto known = tooltips.find(dialog);
    if (known == tooltips.end()) {
        if (text.empty() && !askForText) return;
        // Owned by the dialog, so it goes with it.
        HWND tip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Hwnd(dialog),
                                   nullptr, GetModuleHandleA(nullptr), nullptr);
        if (tip == nullptr) return;
        // Long texts wrap within most of the screen's width.
        SendMessageA(tip, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN) * 3 / 4);
        known = tooltips.emplace(dialog, tip).first;
    }
    std::string copy = TipText(text);
    TTTOOLINFOA tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Hwnd(dialog);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = askForText ? LPSTR_TEXTCALLBACKA : copy.data();
    HWND tip = Hwnd(known->second);
    SendMessageA(tip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    if (!text.empty() || askForText) {
        SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

const std::string& Win32Backend::ListTipText(WindowHandle list) {
    // The item under the mouse, when the list box cuts it off; nothing otherwise.
    tipText.clear();
    HWND box = Hwnd(list);
    POINT point{};
    if (!GetCursorPos(&point) || !ScreenToClient(box, &point)) return tipText;
    LRESULT hit = SendMessageA(box, LB_ITEMFROMPOINT, 0, MAKELPARAM(point.x, point.y));
    if (HIWORD(hit) != 0) return tipText;  // below the last item
    std::optional<std::string> found = ListItemText(box, static_cast<WPARAM>(LOWORD(hit)));
    if (!found || found->empty()) return tipText;
    const std::string& item = *found;
    RECT client{};
    ::GetClientRect(box, &client);
    HDC dc = GetDC(box);
    if (dc == nullptr) return tipText;
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0)));
    // Its first characters are enough to tell: measuring all of a huge text takes Wine ages.
    SIZE size{};
    BOOL measured = GetTextExtentPoint32A(
        dc, item.c_str(), static_cast<int>(std::min(item.size(), kMeasuredCharacters)), &size);
    SelectObject(dc, old);
    ReleaseDC(box, dc);
    if (measured && size.cx > client.right) tipText = TipText(item);
    return tipText;
}

WindowHandle Win32Backend::Child(WindowHandle dialog, int id) {
    if (id == 0) return dialog;  // id 0 addresses the dialog window itself
    // Looking a control up is a round trip to the window system under Wine, and a download
    // sets both progress bars after every block.
    auto key = std::make_pair(dialog, id);
    auto known = controls.find(key);
    if (known != controls.end()) return known->second;
    HWND control = GetDlgItem(Hwnd(dialog), id);
    if (control != nullptr && IsLive(dialog)) controls.emplace(key, control);
    return control;
}

void Win32Backend::WindowDestroyed(WindowHandle dialog) {
    liveDialogs.erase(dialog);
    // Its controls go with it, and a later window may get the same handle.
    for (auto it = controls.lower_bound(std::make_pair(dialog, INT_MIN));
         it != controls.end() && it->first.first == dialog;) {
        tippedLists.erase(it->second);
        it = controls.erase(it);
    }
    tooltips.erase(dialog);  // destroyed with the dialog, which owns it
    bars.erase(bars.lower_bound(std::make_pair(dialog, INT_MIN)),
               bars.upper_bound(std::make_pair(dialog, INT_MAX)));
    // The controls that used these fonts are gone.
    for (auto it = fonts.lower_bound(std::make_pair(dialog, INT_MIN));
         it != fonts.end() && it->first.first == dialog;) {
        DeleteObject(static_cast<HFONT>(it->second));
        it = fonts.erase(it);
    }
}

std::intptr_t Win32Backend::RunModal(CDialog& dialog, const DialogTemplate& dialogTemplate,
                                     WindowHandle owner) {
    std::vector<WORD> bytes = BuildTemplate(dialogTemplate);
    DialogContext context;
    context.backend = this;
    context.dialog = &dialog;
    return DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                                   reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()), Hwnd(owner),
                                   DialogProc, reinterpret_cast<LPARAM>(&context));
}

void Win32Backend::EndModal(WindowHandle dialog, std::intptr_t result) {
    if (IsLive(dialog)) EndDialog(Hwnd(dialog), result);
}

void Win32Backend::DestroyDialog(WindowHandle dialog) {
    // A window still running modally must leave through its modal loop, which destroys it;
    // destroying it under the loop would leave the dialog manager with a dead window.
    if (IsLive(dialog)) EndDialog(Hwnd(dialog), IDCANCEL);
}

void Win32Backend::SetText(WindowHandle dialog, int id, std::string_view text) {
    HWND control = Hwnd(Child(dialog, id));
    if (control == nullptr) return;
    std::string value(text);
    SetWindowTextA(control, value.c_str());
    if (id != 0 && IsLive(dialog) && IsTextStatic(control)) FitText(dialog, control, value);
    if (DialogContext* context = id != 0 ? ContextOf(Hwnd(dialog)) : nullptr) {
        const ControlTemplate* c = context->dialog->GetTemplate().Find(id);
        if (c != nullptr && c->live) {
            NotifyWinEvent(kEventLiveRegionChanged, control, OBJID_CLIENT, CHILDID_SELF);
        }
    }
}

void Win32Backend::FitText(WindowHandle dialog, WindowHandle controlHandle,
                           const std::string& text) {
    HWND control = Hwnd(controlHandle);
    RECT box{};
    ::GetClientRect(control, &box);
    auto dialogFont = reinterpret_cast<HFONT>(SendMessageA(Hwnd(dialog), WM_GETFONT, 0, 0));
    LOGFONTA base{};
    if (dialogFont == nullptr || GetObjectA(dialogFont, sizeof(base), &base) == 0) return;
    auto style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
    style &= ~static_cast<DWORD>(SS_ELLIPSISMASK);
    UINT format = DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) != 0 ? DT_NOPREFIX : 0);

    HFONT font = dialogFont;
    // A text this long fills no static of ours; measuring it would take Wine ages.
    bool measurable = text.size() <= kMeasuredCharacters && LongestRun(text) < kLongestWrappedRun;
    TextExtent extent =
        MeasureText(control, font, measurable ? text : std::string(), format, box.right);
    bool fits = measurable && extent.width <= box.right && extent.height <= box.bottom;
    if (!fits && measurable && box.bottom >= 2 * extent.lineHeight) {
        // Wrapped text that needs more lines than the template gives: the same font a little
        // smaller, as long as it stays readable.
        int height = base.lfHeight < 0 ? -base.lfHeight : base.lfHeight;
        for (int percent = 90; !fits && height * percent / 100 >= kSmallestFontPixels;
             percent -= 10) {
            auto smaller = static_cast<HFONT>(ScaledFont(dialog, dialogFont, percent));
            if (smaller == nullptr) break;
            font = smaller;
            extent = MeasureText(control, font, measurable ? text : std::string(), format,
                                 box.right);
            fits = measurable && extent.width <= box.right && extent.height <= box.bottom;
        }
    } else if (!fits) {
        // One line: it ends in an ellipsis (a path keeps its last part).
        bool path = text.find('\\') != std::string::npos || text.find('/') != std::string::npos;
        style |= path ? SS_PATHELLIPSIS : SS_ENDELLIPSIS;
    }
    // The whole text stays reachable: a static with a tooltip must see the mouse.
    if (!fits) style |= SS_NOTIFY;
    SetWindowLongA(control, GWL_STYLE, static_cast<LONG>(style));
    if (reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)) != font) {
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    SetToolTip(dialog, controlHandle, fits ? std::string_view{} : std::string_view(text));
    InvalidateRect(control, nullptr, TRUE);
}

std::string Win32Backend::GetText(WindowHandle dialog, int id) {
    HWND control = Hwnd(Child(dialog, id));
    if (control == nullptr) return {};
    int length = GetWindowTextLengthA(control);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::clamp(copied, 0, length)));
    return text;
}

void Win32Backend::Enable(WindowHandle dialog, int id, bool enable) {
    HWND control = Hwnd(Child(dialog, id));
    if (control == nullptr) return;
    DialogContext* context = id != 0 ? ContextOf(Hwnd(dialog)) : nullptr;
    if (context != nullptr && !enable && ::GetFocus() == control) {
        // Windows leaves the focus nowhere when the control holding it is disabled.
        int next = FocusAfterDisabling(context->dialog->GetTemplate(), id, [&](int other) {
            HWND o = Hwnd(Child(dialog, other));
            return o != nullptr && IsWindowEnabled(o) && IsWindowVisible(o);
        });
        if (HWND n = next != kNoControlId ? Hwnd(Child(dialog, next)) : nullptr) {
            SendMessageA(Hwnd(dialog), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(n), TRUE);
            context->owedFocus = id;
            context->parkedFocus = next;
        }
    }
    EnableWindow(control, enable ? TRUE : FALSE);
    if (context != nullptr && enable && context->owedFocus == id) {
        if (GetFocus(dialog) == context->parkedFocus) {
            SendMessageA(Hwnd(dialog), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        }
        context->owedFocus = context->parkedFocus = kNoControlId;
    }
}

bool Win32Backend::IsEnabled(WindowHandle dialog, int id) {
    HWND control = Hwnd(Child(dialog, id));
    return control != nullptr && IsWindowEnabled(control);
}

void Win32Backend::SetFocus(WindowHandle dialog, int id) {
    HWND control = Hwnd(Child(dialog, id));
    if (control != nullptr) ::SetFocus(control);
}

int Win32Backend::GetFocus(WindowHandle dialog) {
    HWND focus = ::GetFocus();
    if (focus == nullptr || !IsChild(Hwnd(dialog), focus)) return 0;
    return GetDlgCtrlID(focus);
}

void Win32Backend::SetButtonStyle(WindowHandle dialog, int id, unsigned style, bool redraw) {
    Send(Child(dialog, id), BM_SETSTYLE, style, redraw ? TRUE : FALSE);
}

unsigned Win32Backend::GetButtonStyle(WindowHandle dialog, int id) {
    HWND control = Hwnd(Child(dialog, id));
    if (control == nullptr) return 0;
    return static_cast<unsigned>(GetWindowLongA(control, GWL_STYLE)) & BS_TYPEMASK;
}

int Win32Backend::GetButtonState(WindowHandle dialog, int id) {
    HWND control = Hwnd(Child(dialog, id));
    return control == nullptr ? 0 : ToInt(SendMessageA(control, BM_GETSTATE, 0, 0));
}

void Win32Backend::SetCheck(WindowHandle dialog, int id, int check) {
    HWND control = Hwnd(Child(dialog, id));
    if (control != nullptr) SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(check), 0);
}

int Win32Backend::ListInsert(WindowHandle dialog, int id, int index, std::string_view text) {
    std::string item(text);
    WindowHandle list = Child(dialog, id);
    // A list box cuts long items off at its edge (it never widens the window); a tooltip shows
    // the whole item under the mouse.
    if (list != nullptr && IsLive(dialog) && tippedLists.insert(list).second) {
        SetToolTip(dialog, list, {}, true);
    }
    return ToInt(Send(list, LB_INSERTSTRING, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(item.c_str())));
}

int Win32Backend::ListDelete(WindowHandle dialog, int id, int index) {
    return ToInt(Send(Child(dialog, id), LB_DELETESTRING, static_cast<WPARAM>(index)));
}

void Win32Backend::ListReset(WindowHandle dialog, int id) { Send(Child(dialog, id), LB_RESETCONTENT); }

int Win32Backend::ListCount(WindowHandle dialog, int id) {
    return ToInt(Send(Child(dialog, id), LB_GETCOUNT));
}

int Win32Backend::ListGetText(WindowHandle dialog, int id, int index, std::string& text) {
    HWND list = Hwnd(Child(dialog, id));
    if (list == nullptr || index < 0) return LB_ERR;
    std::optional<std::string> item = ListItemText(list, static_cast<WPARAM>(index));
    if (!item) return LB_ERR;
    text = std::move(*item);
    return ToInt(static_cast<LRESULT>(std::min<std::size_t>(text.size(), INT_MAX)));
}

int Win32Backend::ListGetCurSel(WindowHandle dialog, int id) {
    return ToInt(Send(Child(dialog, id), LB_GETCURSEL));
}

int Win32Backend::ListSetCurSel(WindowHandle dialog, int id, int index) {
    return ToInt(Send(Child(dialog, id), LB_SETCURSEL, static_cast<WPARAM>(index)));
}

void Win32Backend::ProgressSetRange(WindowHandle dialog, int id, int low, int high) {
    // A position not shown yet is moved into the new range as the control moves its own.
    auto known = bars.find(std::make_pair(dialog, id));
    if (known != bars.end() && known->second.pending) {
        Send(Child(dialog, id), PBM_SETPOS, static_cast<WPARAM>(known->second.pos));
    }
    // PBM_SETRANGE carries two 16-bit limits.
    auto word = [](int v) { return static_cast<WORD>(static_cast<unsigned>(v) & 0xFFFFu); };
    Send(Child(dialog, id), PBM_SETRANGE, 0, MAKELPARAM(word(low), word(high)));
    if (known != bars.end()) bars.erase(known);  // read afresh from the control when next set
}

int Win32Backend::ProgressSetPos(WindowHandle dialog, int id, int pos) {
    WindowHandle control = Child(dialog, id);
    if (control == nullptr || !IsLive(dialog)) {
        return ToInt(Send(control, PBM_SETPOS, static_cast<WPARAM>(pos)));
    }
    auto [known, added] = bars.try_emplace(std::make_pair(dialog, id));
    PacedBar& bar = known->second;
    if (added) {
        PBRANGE range{};
        Send(control, PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range));
        bar.low = std::min(range.iLow, range.iHigh);
        bar.high = std::max(range.iLow, range.iHigh);
        bar.pos = bar.shown = ToInt(Send(control, PBM_GETPOS));
    }
    int previous = bar.pos;
    bar.pos = std::clamp(pos, bar.low, bar.high);
    auto now = std::chrono::steady_clock::now();
    if (bar.pos == bar.shown) {
        bar.pending = false;
    } else if (now - bar.shownAt >= kBarPeriod || bar.pos == bar.low || bar.pos == bar.high) {
        // A file's start and end show at once.
        ShowBar(dialog, id, bar);
    } else if (!bar.pending) {
        bar.pending = true;
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(bar.shownAt + kBarPeriod - now);
        ::SetTimer(Hwnd(dialog), kBarTimer, static_cast<UINT>(std::max<long long>(wait.count(), 1)),
                   nullptr);
    }
    return previous;
}

void Win32Backend::ShowBar(WindowHandle dialog, int id, PacedBar& bar) {
    Send(Child(dialog, id), PBM_SETPOS, static_cast<WPARAM>(bar.pos));
    bar.shown = bar.pos;
    bar.shownAt = std::chrono::steady_clock::now();
    bar.pending = false;
}

void Win32Backend::ShowDueBars(WindowHandle dialog) {
    auto now = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> next;
    for (auto it = bars.lower_bound(std::make_pair(dialog, INT_MIN));
         it != bars.end() && it->first.first == dialog; ++it) {
        PacedBar& bar = it->second;
        if (!bar.pending) continue;
        if (now - bar.shownAt >= kBarPeriod) {
            ShowBar(dialog, it->first.second, bar);
        } else if (!next || bar.shownAt + kBarPeriod < *next) {
            next = bar.shownAt + kBarPeriod;
        }
    }
    if (!next) {
        ::KillTimer(Hwnd(dialog), kBarTimer);
        return;
    }
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
    ::SetTimer(Hwnd(dialog), kBarTimer, static_cast<UINT>(std::max<long long>(wait.count(), 1)),
               nullptr);
}

void Win32Backend::EditSetLimit(WindowHandle dialog, int id, int maxChars) {
    Send(Child(dialog, id), EM_LIMITTEXT, static_cast<WPARAM>(std::max(maxChars, 0)));
}

bool Win32Backend::SetTimer(WindowHandle dialog, unsigned timerId, unsigned milliseconds) {
    return ::SetTimer(Hwnd(dialog), timerId, milliseconds, nullptr) != 0;
}

bool Win32Backend::KillTimer(WindowHandle dialog, unsigned timerId) {
    return ::KillTimer(Hwnd(dialog), timerId) != FALSE;
}

int Win32Backend::MessageBox(WindowHandle owner, std::string_view text, std::string_view caption,
                             unsigned type) {
    // A text the system's box could show only in part is shown whole in a box that scrolls.
    if (MessageBoxShortens(text)) {
        int answer = ScrollingMessageBox(Hwnd(owner), text, caption, type);
        if (answer > 0) return answer;
    }
    return MessageBoxA(Hwnd(owner), MessageBoxText(text).c_str(), std::string(caption).c_str(),
                       type);
}

void Win32Backend::PumpMessages() {
    // A fast download calls this before every 4096-byte block, and each look at the queue is a
    // round trip to the window system (under Wine, to its server). Input and repaints wait at
    // most kPumpInterval; a slow download still gets a whole pass before every block.
    auto now = std::chrono::steady_clock::now();
    if (lastPumpEnd != std::chrono::steady_clock::time_point{} && now - lastPumpEnd < kPumpInterval) {
        return;
    }
    PumpAll();
    lastPumpEnd = std::chrono::steady_clock::now();
}

void Win32Backend::PumpAll() {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The quit belongs to the loop that runs us; hand it back.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        // Keyboard navigation of our dialogs keeps working while a download pumps.
        HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        if (root != nullptr && IsLive(root) && IsDialogMessageA(root, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void Win32Backend::RepaintPending() {
    // Paint messages only: clicks and keys stay queued until the window takes input again.
    // A window whose painting leaves its update region never stops asking; this is bounded.
    MSG message{};
    for (int i = 0; i < kMaxRepaints && PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT,
                                                     PM_REMOVE | PM_QS_PAINT);
         ++i) {
        DispatchMessageA(&message);
    }
}

bool Win32Backend::HasSystemMenu(WindowHandle dialog) {
    return GetSystemMenu(Hwnd(dialog), FALSE) != nullptr;
}

void Win32Backend::AppendSystemMenu(WindowHandle dialog, unsigned flags, unsigned id,
                                    std::string_view text) {
    HMENU menu = GetSystemMenu(Hwnd(dialog), FALSE);
    if (menu == nullptr) return;
    std::string item(text);
    AppendMenuA(menu, flags, id, (flags & MF_SEPARATOR) != 0 ? nullptr : item.c_str());
}

void Win32Backend::DefaultSysCommand(WindowHandle dialog, unsigned command, std::intptr_t param) {
    DialogContext* context = ContextOf(Hwnd(dialog));
    if (context != nullptr && context->defaultableMessage == WM_SYSCOMMAND) {
        context->defaultRequested = true;  // the dialog manager's default handling follows
        return;
    }
    DefWindowProcA(Hwnd(dialog), WM_SYSCOMMAND, command, param);
}

IconHandle Win32Backend::LoadIcon(int resourceId) {
    // An icon from the program's resources is shared; it needs no destroying.
    return LoadIconA(GetModuleHandleA(nullptr),
                     MAKEINTRESOURCEA(static_cast<WORD>(static_cast<unsigned>(resourceId))));
}

void Win32Backend::SetIcon(WindowHandle dialog, IconHandle icon, bool big) {
    SendMessageA(Hwnd(dialog), WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                 reinterpret_cast<LPARAM>(icon));
}

bool Win32Backend::IsIconic(WindowHandle dialog) { return ::IsIconic(Hwnd(dialog)) != FALSE; }

ClientRect Win32Backend::GetClientRect(WindowHandle dialog) {
    RECT rect{};
    if (!::GetClientRect(Hwnd(dialog), &rect)) return {};
    return {rect.right - rect.left, rect.bottom - rect.top};
}

IconMetrics Win32Backend::GetIconMetrics() {
    return {GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};
}

void Win32Backend::PaintIcon(WindowHandle dialog, IconHandle icon, int x, int y) {
    HWND window = Hwnd(dialog);
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    if (dc == nullptr) return;
    SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    DrawIcon(dc, x, y, static_cast<HICON>(const_cast<void*>(icon)));
    EndPaint(window, &paint);
}

void Win32Backend::DefaultPaint(WindowHandle dialog) {
    DialogContext* context = ContextOf(Hwnd(dialog));
    if (context != nullptr && context->defaultableMessage == WM_PAINT) {
        context->defaultRequested = true;
    }
}

bool Win32Backend::BrowseForFolder(WindowHandle owner, std::string_view title,
                                   std::string& path) {
    ComScope com;
    char initial[MAX_PATH] = {};
    path.copy(initial, std::min<std::size_t>(path.size(), MAX_PATH - 1));
    char displayName[MAX_PATH] = {};
    std::string titleText(title);

    BROWSEINFOA info{};
    info.hwndOwner = Hwnd(owner);
    info.pidlRoot = nullptr;  // the desktop
    info.pszDisplayName = displayName;
    info.lpszTitle = titleText.c_str();
    info.ulFlags = 0;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initial);

    ItemList chosen(SHBrowseForFolderA(&info));
    if (chosen.get() == nullptr) return false;
    char chosenPath[MAX_PATH] = {};
    if (!SHGetPathFromIDListA(chosen.get(), chosenPath)) return false;
    path = chosenPath;
    return true;
}

}  // namespace fw
