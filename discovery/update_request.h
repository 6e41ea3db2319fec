#pragma once
// The form that tells the information server what is installed.

#include <string>
#include <string_view>

#include "session/update_entry.h"

namespace fw {

// Appends `text` to `body` with the form's 23 reserved characters as "%xx" (lower-case hex);
// every other byte, control characters and bytes from 0x7F up included, is copied unchanged.
void EscapeFormText(std::string& body, std::string_view text);
// Appends "name=value" (both escaped), preceded by "&" when the body is not empty.
void AppendFormField(std::string& body, std::string_view name, std::string_view value);

// The whole body: "beta" (when beta), "dir", "version", "systems", in this order. `folder` is
// the install folder as the user sees it; its backslashes are sent as slashes.
std::string BuildUpdateRequestBody(bool beta, std::string_view folder, std::string_view version,
                                   const TextList& installedSystems);
// The two header lines for a body of `length` bytes.
std::string UpdateRequestHeaders(std::size_t length);

}  // namespace fw
