#pragma once
// Static message tables: each dialog class lists the events it handles as constant data, and
// CDialog dispatches through the table. A host reports events; it never calls a handler.

#include <cstdint>
#include <span>
#include <variant>

#include "platform/ui/dialog_backend.h"

namespace fw {

enum class MessageKind { kCommand, kTimer, kSysCommand, kPaint, kQueryDragIcon };

struct Message {
    MessageKind kind = MessageKind::kCommand;
    int id = 0;                 // command: control id; timer: timer id; system command: command
    int code = 0;               // command: notification code (BN_CLICKED, LBN_DBLCLK)
    std::intptr_t param = 0;    // system command: its parameter
};

template <class T>
struct MessageEntry {
    using Plain = void (T::*)();
    using Timer = void (T::*)(unsigned);
    using SysCommand = void (T::*)(unsigned, std::intptr_t);
    using DragIcon = IconHandle (T::*)();

    MessageKind kind;
    int id;
    int code;
    std::variant<Plain, Timer, SysCommand, DragIcon> handler;

    static constexpr MessageEntry Command(int controlId, int notification, Plain h) {
        return {MessageKind::kCommand, controlId, notification, h};
    }
    static constexpr MessageEntry OnTimer(Timer h) { return {MessageKind::kTimer, 0, 0, h}; }
    static constexpr MessageEntry OnSysCommand(SysCommand h) {
        return {MessageKind::kSysCommand, 0, 0, h};
    }
    static constexpr MessageEntry OnPaint(Plain h) { return {MessageKind::kPaint, 0, 0, h}; }
    static constexpr MessageEntry OnQueryDragIcon(DragIcon h) {
        return {MessageKind::kQueryDragIcon, 0, 0, h};
    }
};

struct DispatchResult {
    bool handled = false;
    IconHandle icon = nullptr;  // the answer to kQueryDragIcon
};

template <class T>
DispatchResult DispatchThroughTable(T& target, std::span<const MessageEntry<T>> table,
                                    const Message& message) {
    for (const MessageEntry<T>& entry : table) {
        if (entry.kind != message.kind) continue;
        if (entry.kind == MessageKind::kCommand &&
            (entry.id != message.id || entry.code != message.code)) {
            continue;
        }
        DispatchResult result{true, nullptr};
        std::visit(
            [&](auto handler) {
                using H = decltype(handler);
                if constexpr (std::is_same_v<H, typename MessageEntry<T>::Plain>) {
                    (target.*handler)();
                } else if constexpr (std::is_same_v<H, typename MessageEntry<T>::Timer>) {
                    (target.*handler)(static_cast<unsigned>(message.id));
                } else if constexpr (std::is_same_v<H, typename MessageEntry<T>::SysCommand>) {
                    (target.*handler)(static_cast<unsigned>(message.id), message.param);
                } else {
                    result.icon = (target.*handler)();
                }
            },
            entry.handler);
        return result;
    }
    return {};
}

}  // namespace fw

// Declares the table of a dialog class and the override that dispatches through it.
#define FW_DECLARE_MESSAGE_MAP(Class)                                              \
public:                                                                            \
    static const ::fw::MessageEntry<Class> kMessageTable[];                        \
    static const std::size_t kMessageTableSize;                                    \
                                                                                   \
protected:                                                                         \
    ::fw::DispatchResult DispatchMessageMap(const ::fw::Message& message) override { \
        return ::fw::DispatchThroughTable<Class>(                                  \
            *this, std::span<const ::fw::MessageEntry<Class>>(kMessageTable, kMessageTableSize), \
            message);                                                              \
    }                                                                              \
                                                                                   \
private:

// Defines the table: FW_BEGIN_MESSAGE_MAP(C) entries... FW_END_MESSAGE_MAP(C)
#define FW_BEGIN_MESSAGE_MAP(Class) const ::fw::MessageEntry<Class> Class::kMessageTable[] = {
#define FW_END_MESSAGE_MAP(Class)                                   \
    }                                                               \
    ;                                                               \
    const std::size_t Class::kMessageTableSize =                    \
        sizeof(Class::kMessageTable) / sizeof(Class::kMessageTable[0]);
