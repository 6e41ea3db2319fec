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
constexpr gint64 kFrameIntervalUs = 100000;   // a pass paints at most this often

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

int PaintsSoFar(const GtkBackend::State& state) {
    int paints = 0;
    for (const auto& w : state.windows) paints += w->paints;
    return paints;
}

// Holds back the painting of every open dialog until ReleaseHeldFrames.
void HoldFrames(GtkBackend::State& state) {
    for (const auto& w : state.windows) {
        GdkWindow* window = w->closed || w->window == nullptr
                                ? nullptr
                                : gtk_widget_get_window(w->window);
        if (window == nullptr) continue;
        gdk_window_freeze_updates(window);
        state.heldFrames.push_back(GDK_WINDOW(g_object_ref(window)));
    }
}

}  // namespace

void ReleaseHeldFrames(GtkBackend::State& state) {
    std::vector<GdkWindow*> held;
    held.swap(state.heldFrames);
    for (GdkWindow* window : held) {
        if (!gdk_window_is_destroyed(window)) gdk_window_thaw_updates(window);
        g_object_unref(window);
    }
}

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
// connection) costs a good half of what the block itself does. So a call that comes too soon
// after the previous pass returns at once: within kPumpIntervalUs of it, or within 16 times its
// length, so that passes take at most about 6% of the caller's time, up to kMaxPumpIntervalUs.
// Pending input waits at most that long, a confirmed Cancel still stops the transfer before the
// block that follows its dispatch, and slow transfers, whose blocks come further apart, still
// get a whole pass before every block.
//
// A pass that paints costs far more (about a millisecond for the two bars under Xvfb,
// docs/PERFORMANCE.md), and during a download the bars change every 1%, which at loopback
// speed is every couple of milliseconds. So a pass within kFrameIntervalUs of the last one that
// painted holds the dialogs' painting back: input, timers and layout go on as before, and what
// changed shows in the next frame, at most a tenth of a second later.
void GtkBackend::PumpMessages() {
    gint64 now = g_get_monotonic_time();
    if (state->lastPumpEnd != 0 && now - state->lastPumpEnd < state->pumpIntervalUs) return;
    // A pass inside another one (a handler that pumps) starts from windows that paint.
    ReleaseHeldFrames(*state);
    if (now - state->lastFrameUs < kFrameIntervalUs) HoldFrames(*state);
    int paintsBefore = PaintsSoFar(*state);
    // Each iteration dispatches what is ready; the one that finds nothing ends the pass. A
    // source that is always ready (a timer whose handler outlasts its period) cannot hold the
    // caller here for ever.
    while (g_main_context_iteration(nullptr, FALSE)) {
        if (g_get_monotonic_time() - now > kMaxPumpPassUs) break;
    }
    ReleaseHeldFrames(*state);
    if (PaintsSoFar(*state) != paintsBefore) state->lastFrameUs = now;
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
    ReleaseHeldFrames(*state);
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
