// Timers and the message pump.

#include <gtk/gtk.h>

#include <algorithm>
#include <vector>

#include "platform/gtk/dialog_window_gtk.h"

namespace fw {
namespace {

constexpr unsigned kMinimumTimerMs = 10;      // as USER_TIMER_MINIMUM
constexpr gint64 kPumpIntervalUs = 5000;      // PumpMessages looks at most this often,
constexpr gint64 kPassSpacingFactor = 16;     // or 16 times as long as its last pass took,
constexpr gint64 kMaxPumpIntervalUs = 40000;  // but never less often than this,
constexpr gint64 kMaxPumpPassUs = 100000;     // and dispatches for at most this long

gboolean OnTimer(gpointer data) {
    auto* timer = static_cast<GtkTimer*>(data);
    // The handler may kill or replace this very timer: read what we need first.
    GtkDialogWindow* owner = timer->owner;
    int id = static_cast<int>(timer->id);
    Dispatch(owner, {MessageKind::kTimer, id, 0, 0});
    return G_SOURCE_CONTINUE;
}

// What a repaint-only pass lets through: the window system telling us what to draw and where
// the window is. Input and the window manager's requests wait for the next real pass.
bool IsPaintEvent(const GdkEvent* event) {
    switch (event->type) {
        case GDK_EXPOSE:
        case GDK_CONFIGURE:
        case GDK_MAP:
        case GDK_UNMAP:
        case GDK_VISIBILITY_NOTIFY:
        case GDK_WINDOW_STATE:
        case GDK_PROPERTY_NOTIFY:
        case GDK_DAMAGE:
        case GDK_SETTING:
            return true;
        default:
            return false;
    }
}

struct HeldEvents {
    std::vector<GdkEvent*> events;
};

void HoldInput(GdkEvent* event, gpointer data) {
    if (IsPaintEvent(event)) {
        gtk_main_do_event(event);
    } else {
        static_cast<HeldEvents*>(data)->events.push_back(gdk_event_copy(event));
    }
}

void MainDoEvent(GdkEvent* event, gpointer) {
    gtk_main_do_event(event);
}

}  // namespace

bool GtkBackend::SetTimer(WindowHandle dialog, unsigned timerId, unsigned milliseconds) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return false;
    auto existing = w->timers.find(timerId);
    if (existing != w->timers.end()) {
        g_source_remove(existing->second->source);
        w->timers.erase(existing);
    }
    auto timer = std::make_unique<GtkTimer>();
    timer->owner = w;
    timer->id = timerId;
    timer->source = g_timeout_add(std::max(milliseconds, kMinimumTimerMs), OnTimer, timer.get());
    w->timers[timerId] = std::move(timer);
    return true;
}

bool GtkBackend::KillTimer(WindowHandle dialog, unsigned timerId) {
    GtkDialogWindow* w = state->Window(dialog);
    if (w == nullptr) return false;
    auto it = w->timers.find(timerId);
    if (it == w->timers.end()) return false;
    g_source_remove(it->second->source);
    w->timers.erase(it);
    return true;
}

// A download pumps before every 4096-byte block, which at loopback speed is every few
// microseconds, and one pass over the main context (preparing every source, polling the X
// connection) costs a good half of what the block itself does, and a pass that paints a frame
// (the bars and texts that changed) some 2 ms (docs/PERFORMANCE.md). So a call that comes too
// soon after the previous pass returns at once: within kPumpIntervalUs of it, or within 16 times
// its length, so that passes take at most about 6% of the caller's time, up to
// kMaxPumpIntervalUs. Pending input and repaints wait at most that long (a frame or two), a
// confirmed Cancel still stops the transfer before the block that follows its dispatch, and
// slow transfers, whose blocks come further apart, still get a whole pass before every block.
void GtkBackend::PumpMessages() {
    gint64 now = g_get_monotonic_time();
    if (state->lastPumpEnd != 0 && now - state->lastPumpEnd < state->pumpIntervalUs) return;
    // Each iteration dispatches what is ready; the one that finds nothing ends the pass. A
    // source that is always ready (a timer whose handler outlasts its period) cannot hold the
    // caller here for ever.
    while (g_main_context_iteration(nullptr, FALSE)) {
        if (g_get_monotonic_time() - now > kMaxPumpPassUs) break;
    }
    state->lastPumpEnd = g_get_monotonic_time();
    state->pumpIntervalUs = std::clamp((state->lastPumpEnd - now) * kPassSpacingFactor,
                                       kPumpIntervalUs, kMaxPumpIntervalUs);
}

// The toolkit lays out and paints from its frame clock, a source of the main context like any
// other, so a pass over the context is what repaints. During this one the window system's input
// is held back (and put back in order afterwards, as if it had waited in the queue), and
// nothing reaches a dialog: no timer, no command.
void GtkBackend::RepaintPending() {
    if (state->repaintOnly) return;
    state->repaintOnly = true;
    HeldEvents held;
    gdk_event_handler_set(HoldInput, &held, nullptr);
    gint64 start = g_get_monotonic_time();
    while (g_main_context_iteration(nullptr, FALSE)) {
        if (g_get_monotonic_time() - start > kMaxPumpPassUs) break;
    }
    gdk_event_handler_set(MainDoEvent, nullptr, nullptr);
    for (GdkEvent* event : held.events) {
        gdk_event_put(event);
        gdk_event_free(event);
    }
    state->repaintOnly = false;
}

}  // namespace fw
