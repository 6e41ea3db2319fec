#include "platform/gtk/system_gtk.h"

#include <gtk/gtk.h>

namespace fw {

std::uint32_t GtkSystem::GetTickCount() {
    // Microseconds to milliseconds in 64 bits; the narrowing keeps the low 32 bits, which is the
    // wrap-around a tick count has.
    auto ms = static_cast<std::uint64_t>(g_get_monotonic_time()) / 1000u;
    return static_cast<std::uint32_t>(ms & 0xFFFFFFFFu);
}

std::int64_t GtkSystem::UnixTime() { return static_cast<std::int64_t>(g_get_real_time() / 1000000); }

bool GtkSystem::IsShiftDown() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return false;
    GdkKeymap* keymap = gdk_keymap_get_for_display(display);
    return keymap != nullptr && (gdk_keymap_get_modifier_state(keymap) & GDK_SHIFT_MASK) != 0;
}

}  // namespace fw
