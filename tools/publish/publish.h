#pragma once
// fablewright-publish: the publisher's side of signed update definitions. `keygen` makes a key
// pair, `make` writes definitions for a folder of updaters, `sign` sets the serial and appends
// the signature, `verify` checks a served folder as the program would.

#include <iosfwd>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "platform/system.h"

namespace fw::publish {

// Runs one command line (without the program name); what a person reads goes to `out`,
// problems to `err`. Returns the exit code: 0 on success, 1 on a problem found, 2 on misuse.
// Expiry dates are reckoned from `clock`'s calendar time; without one, the system's.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// `verify --url` fetches through `http` (without it, libcurl with the system's authorities).
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, System& clock);
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, System& clock,
        HttpClient& http);

}  // namespace fw::publish
