// Timers and the message pump.

#include <gtk/gtk.h>

#include <algorithm>

#include "platform/gtk/dialog_window_gtk.h"

namespace fw {
namespace {

constexpr unsigned kMinimumTimerMs = 10;   // as USER_TIMER_MINIMUM
constexpr gint64 kPumpIntervalUs = 5000;   // PumpMessages looks at most this often
constexpr gint64 kMaxPumpPassUs = 100000;  // and dispatches for at most this long


gboolean OnTimer(gpointer data) {
    auto* timer = static_cast<GtkTimer*>(data);
    // The handler may kill or replace this very timer: read what we need first.
    GtkDialogWindow* owner = timer->owner;
    int id = static_cast<int>(timer->id);
    Dispatch(owner, {MessageKind::kTimer, id, 0, 0});
    return G_SOURCE_CONTINUE;
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
// connection) costs a good half of what the block itself does (docs/PERFORMANCE.md). So a call
// that comes sooner than kPumpIntervalUs after the previous pass returns at once: pending input
// and repaints wait at most that long (well below a frame), a confirmed Cancel still stops the
// transfer before the block that follows its dispatch, and slow transfers, whose blocks come
// further apart, still get a whole pass before every block.
void GtkBackend::PumpMessages() {
    gint64 now = g_get_monotonic_time();
    if (state->lastPumpEnd != 0 && now - state->lastPumpEnd < kPumpIntervalUs) return;
    // Each iteration dispatches what is ready; the one that finds nothing ends the pass. A
    // source that is always ready (a timer whose handler outlasts its period) cannot hold the
    // caller here for ever.
    while (g_main_context_iteration(nullptr, FALSE)) {
        if (g_get_monotonic_time() - now > kMaxPumpPassUs) break;
    }
    state->lastPumpEnd = g_get_monotonic_time();
}

}  // namespace fw
