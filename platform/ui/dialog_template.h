#pragma once
// Dialog templates as data. Each host lays them out itself from the dialog units.

#include <cstdint>
#include <span>
#include <string_view>

namespace fw {

enum class ControlKind { kStatic, kIcon, kGroupBox, kPushButton, kCheckBox, kListBox, kEdit, kProgress };

struct DialogRect {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};

// A control without an id of its own carries kNoControlId (the resource compiler's IDC_STATIC).
inline constexpr int kNoControlId = -1;

struct ControlTemplate {
    int id = kNoControlId;
    ControlKind kind = ControlKind::kStatic;
    std::string_view text;
    std::uint32_t style = 0;
    DialogRect rect;
    int iconId = 0;  // the icon resource of a kIcon control
    // For assistive technology: the control whose text describes this one, and whether a
    // change of this control's text is announced (a live region).
    int describedBy = kNoControlId;
    bool live = false;
};

struct DialogTemplate {
    int id = 0;
    std::string_view caption;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    DialogRect rect;
    std::string_view fontName;
    int fontPoints = 8;
    std::span<const ControlTemplate> controls;

    const ControlTemplate* Find(int controlId) const {
        for (const ControlTemplate& c : controls) {
            if (c.id == controlId) return &c;
        }
        return nullptr;
    }
};

}  // namespace fw
