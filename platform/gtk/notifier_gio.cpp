#include "platform/gtk/notifier_gio.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <signal.h>

#include <cstdlib>
#include <memory>

// The program's icons, compiled into the executable (see CMakeLists.txt).
extern "C" GResource* fw_icons_get_resource(void);

namespace fw {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
// A notification service that does not answer within this time is not there.
constexpr int kCallTimeoutMs = 10000;
// How often a waiting notification looks whether the run was asked to stop.
constexpr guint kInterruptLookMs = 200;
constexpr const char* kActionDefault = "default";  // a click on the notification itself
constexpr const char* kActionUpdate = "update";
constexpr const char* kActionLater = "later";
constexpr const char* kActionSkip = "skip";

template <class T>
struct GObjectUnref {
    void operator()(T* object) const { g_object_unref(object); }
};
struct VariantUnref {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
struct ContextRelease {
    void operator()(GMainContext* c) const {
        g_main_context_pop_thread_default(c);
        g_main_context_unref(c);
    }
};
struct StrvFree {
    void operator()(gchar** v) const { g_strfreev(v); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using BusPtr = std::unique_ptr<GDBusConnection, GObjectUnref<GDBusConnection>>;

std::string Message(GError* e) { return e != nullptr ? e->message : "unknown error"; }

// The 48-pixel icon as the "image-data" hint, so that the notification shows the program's
// icon whether or not an icon theme has it; nullptr when it cannot be read.
GVariant* IconHint() {
    GBytes* bytes = g_resource_lookup_data(fw_icons_get_resource(),
                                           "/org/fablewright/update/fablewright_update_48.png",
                                           G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    if (bytes == nullptr) return nullptr;
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    std::unique_ptr<GdkPixbuf, GObjectUnref<GdkPixbuf>> pixbuf(
        gdk_pixbuf_new_from_stream(stream, nullptr, nullptr));
    g_object_unref(stream);
    g_bytes_unref(bytes);
    if (!pixbuf) return nullptr;
    GdkPixbuf* p = pixbuf.get();
    GVariant* data = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, gdk_pixbuf_read_pixels(p),
                                               gdk_pixbuf_get_byte_length(p), 1);
    return g_variant_new("(iiibii@ay)", gdk_pixbuf_get_width(p), gdk_pixbuf_get_height(p),
                         gdk_pixbuf_get_rowstride(p), gdk_pixbuf_get_has_alpha(p),
                         gdk_pixbuf_get_bits_per_sample(p), gdk_pixbuf_get_n_channels(p), data);
}

bool TakesActions(GDBusConnection* bus) {
    VariantPtr reply(g_dbus_connection_call_sync(bus, kService, kPath, kInterface,
                                                 "GetCapabilities", nullptr,
                                                 G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
                                                 kCallTimeoutMs, nullptr, nullptr));
    if (!reply) return false;
    std::unique_ptr<gchar*, StrvFree> caps;
    {
        gchar** list = nullptr;
        g_variant_get(reply.get(), "(^as)", &list);
        caps.reset(list);
    }
    for (gchar** c = caps.get(); c != nullptr && *c != nullptr; ++c) {
        if (g_strcmp0(*c, "actions") == 0) return true;
    }
    return false;
}

struct Wait {
    guint32 id = 0;
    bool done = false;
    NotificationChoice choice = NotificationChoice::kNone;
    const std::function<bool()>* interrupted = nullptr;
};

void OnSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
              GVariant* parameters, gpointer data) {
    auto* wait = static_cast<Wait*>(data);
    if (g_strcmp0(signal, "ActionInvoked") == 0 &&
        g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) {
        guint32 id = 0;
        const gchar* action = nullptr;
        g_variant_get(parameters, "(u&s)", &id, &action);
        if (id != wait->id || wait->done) return;
        if (g_strcmp0(action, kActionDefault) == 0 || g_strcmp0(action, kActionUpdate) == 0) {
            wait->choice = NotificationChoice::kUpdateNow;
        } else if (g_strcmp0(action, kActionLater) == 0) {
            wait->choice = NotificationChoice::kLater;
        } else if (g_strcmp0(action, kActionSkip) == 0) {
            wait->choice = NotificationChoice::kSkipVersion;
        } else {
            return;
        }
        wait->done = true;
    } else if (g_strcmp0(signal, "NotificationClosed") == 0 &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) {
        guint32 id = 0;
        guint32 reason = 0;
        g_variant_get(parameters, "(uu)", &id, &reason);
        if (id == wait->id) wait->done = true;
    }
}

gboolean OnTimeout(gpointer data) {
    static_cast<Wait*>(data)->done = true;
    return G_SOURCE_REMOVE;
}

gboolean OnInterruptLook(gpointer data) {
    auto* wait = static_cast<Wait*>(data);
    if (*wait->interrupted && (*wait->interrupted)()) wait->done = true;
    return G_SOURCE_CONTINUE;
}

// The window starts with the signals a program expects: the console run blocks the ones it
// reads itself.
void ResetSignalMask(gpointer) {
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

NetworkState GioNotifier::Network() {
    GNetworkMonitor* monitor = g_network_monitor_get_default();  // GIO's own, never freed
    if (!g_network_monitor_get_network_available(monitor)) return NetworkState::kNone;
    if (g_network_monitor_get_network_metered(monitor)) return NetworkState::kMetered;
    return NetworkState::kAvailable;
}

bool GioNotifier::Show(const Notification& n, std::uint32_t waitMs,
                       const std::function<bool()>& interrupted, NotificationChoice& choice,
                       std::string& error) {
    choice = NotificationChoice::kNone;
    // Signals are delivered to the context that is the thread's default when they are
    // subscribed to; a context of our own sees only them and our timers.
    GMainContext* raw = g_main_context_new();
    g_main_context_push_thread_default(raw);
    std::unique_ptr<GMainContext, ContextRelease> context(raw);

    GError* e = nullptr;
    BusPtr bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e));
    ErrorPtr busError(e);
    if (!bus) {
        error = "no session bus: " + Message(busError.get());
        return false;
    }
    Wait wait;
    wait.interrupted = &interrupted;
    guint subscription = g_dbus_connection_signal_subscribe(
        bus.get(), kService, kInterface, nullptr, kPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        OnSignal, &wait, nullptr);
    struct Unsubscribe {
        GDBusConnection* bus;
        guint id;
        ~Unsubscribe() { g_dbus_connection_signal_unsubscribe(bus, id); }
    } unsubscribe{bus.get(), subscription};

    const bool actions = TakesActions(bus.get());
    GVariantBuilder actionList;
    g_variant_builder_init(&actionList, G_VARIANT_TYPE("as"));
    if (actions) {
        for (const auto& [key, label] :
             {std::pair{kActionDefault, &n.updateNow}, std::pair{kActionUpdate, &n.updateNow},
              std::pair{kActionLater, &n.later}, std::pair{kActionSkip, &n.skipVersion}}) {
            g_variant_builder_add(&actionList, "s", key);
            g_variant_builder_add(&actionList, "s", label->c_str());
        }
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("fablewright-update"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
    if (GVariant* icon = IconHint()) g_variant_builder_add(&hints, "{sv}", "image-data", icon);

    GVariant* parameters = g_variant_new("(susssasa{sv}i)", "Fablewright Update", 0u,
                                         "fablewright-update", n.title.c_str(), n.body.c_str(),
                                         &actionList, &hints, -1);
    VariantPtr reply(g_dbus_connection_call_sync(bus.get(), kService, kPath, kInterface, "Notify",
                                                 parameters, G_VARIANT_TYPE("(u)"),
                                                 G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr,
                                                 &e));
    ErrorPtr callError(e);
    if (!reply) {
        error = "the notification service did not take the notification: " +
                Message(callError.get());
        return false;
    }
    g_variant_get(reply.get(), "(u)", &wait.id);
    // Without actions there is nothing to wait for.
    if (!actions) return true;

    GSource* timeout = g_timeout_source_new(waitMs);
    g_source_set_callback(timeout, OnTimeout, &wait, nullptr);
    g_source_attach(timeout, context.get());
    GSource* look = g_timeout_source_new(kInterruptLookMs);
    g_source_set_callback(look, OnInterruptLook, &wait, nullptr);
    g_source_attach(look, context.get());
    while (!wait.done) g_main_context_iteration(context.get(), TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
    g_source_destroy(look);
    g_source_unref(look);

    choice = wait.choice;
    // An answered notification may stay in the desktop's list; one left unanswered is
    // withdrawn, since its buttons would do nothing once this process has ended.
    VariantPtr closed(g_dbus_connection_call_sync(
        bus.get(), kService, kPath, kInterface, "CloseNotification",
        g_variant_new("(u)", wait.id), nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr,
        nullptr));
    return true;
}

bool GioNotifier::OpenWindow(const std::vector<std::string>& arguments, std::string& error) {
    std::unique_ptr<gchar, decltype(&g_free)> self(
        g_file_read_link("/proc/self/exe", nullptr), g_free);
    if (!self) {
        error = "the program's own file is unknown";
        return false;
    }
    std::vector<std::string> command;
    // Under a systemd service every process of the unit ends with it: the window gets a
    // transient unit of its own from the person's service manager instead.
    std::unique_ptr<gchar, decltype(&g_free)> systemdRun(g_find_program_in_path("systemd-run"),
                                                         g_free);
    if (std::getenv("INVOCATION_ID") != nullptr && systemdRun) {
        command = {systemdRun.get(), "--user", "--quiet", "--collect", "--no-block", "--"};
    }
    command.emplace_back(self.get());
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<gchar*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    GError* e = nullptr;
    // Not a child to wait for: GLib lets an intermediate process go, so the window outlives us.
    gboolean started = g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT,
                                     ResetSignalMask, nullptr, nullptr, &e);
    ErrorPtr spawnError(e);
    if (!started) error = Message(spawnError.get());
    return started;
}

}  // namespace fw
