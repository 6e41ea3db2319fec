#pragma once
// The bundle of a host's services that the application object hands down to the dialogs.

#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/http_client.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/ui/dialog_backend.h"

namespace fw {

struct Platform {
    DialogBackend& ui;
    HttpClient& http;
    Registry& registry;
    Files& files;
    Processes& processes;
    System& system;
    // The keys whose signatures the definitions must carry; none: no signature is checked.
    // Only the build puts keys here (tests pass their own). No default: a host that forgot to
    // pass the built-in keys would silently check nothing.
    const TrustedKeys& trustedKeys;
};

}  // namespace fw
