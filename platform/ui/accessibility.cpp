#include "platform/ui/accessibility.h"

#include <cstddef>

#include "platform/ui/win_constants.h"

namespace fw {
namespace {

bool Names(ControlKind kind) {
    return kind == ControlKind::kListBox || kind == ControlKind::kEdit ||
           kind == ControlKind::kProgress;
}

}  // namespace

int FocusAfterDisabling(const DialogTemplate& dialogTemplate, int disabledId,
                        const std::function<bool(int id)>& canFocus) {
    const auto& controls = dialogTemplate.controls;
    const auto n = static_cast<std::ptrdiff_t>(controls.size());
    std::ptrdiff_t from = -1;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        if (controls[static_cast<std::size_t>(i)].id == disabledId) from = i;
    }
    if (from < 0) return kNoControlId;
    for (bool buttonsOnly : {true, false}) {
        for (std::ptrdiff_t step = 1; step < n; ++step) {
            for (std::ptrdiff_t i : {from + step, from - step}) {
                if (i < 0 || i >= n) continue;
                const ControlTemplate& c = controls[static_cast<std::size_t>(i)];
                if ((c.style & WS_TABSTOP) == 0 || c.id == kNoControlId || c.id == disabledId) {
                    continue;
                }
                if (buttonsOnly && c.kind != ControlKind::kPushButton) continue;
                if (canFocus(c.id)) return c.id;
            }
        }
    }
    return kNoControlId;
}

const ControlTemplate* LabelOf(const DialogTemplate& dialogTemplate, int id) {
    const ControlTemplate* before = nullptr;
    for (const ControlTemplate& c : dialogTemplate.controls) {
        if (c.id == id && id != kNoControlId) {
            bool labelled = Names(c.kind) && before && before->kind == ControlKind::kStatic;
            return labelled ? before : nullptr;
        }
        before = &c;
    }
    return nullptr;
}

std::string WithoutMnemonic(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out.push_back(text[i]);
    }
    return out;
}

std::string AccessibleName(const DialogTemplate& dialogTemplate, int id) {
    const ControlTemplate* c = dialogTemplate.Find(id);
    if (c == nullptr) return {};
    if (c->kind == ControlKind::kPushButton || c->kind == ControlKind::kCheckBox) {
        return WithoutMnemonic(c->text);
    }
    const ControlTemplate* label = LabelOf(dialogTemplate, id);
    if (label == nullptr) return {};
    return (label->style & SS_NOPREFIX) != 0 ? std::string(label->text) : WithoutMnemonic(label->text);
}

}  // namespace fw
