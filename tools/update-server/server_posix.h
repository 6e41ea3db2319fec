#pragma once
// The few things the update server needs from the host's socket and signal layer that the
// HTTP library does not offer.

namespace fw::server {

// Writing to a connection that the client has closed must fail, not end the process.
void IgnoreBrokenPipes();

// Options for the listening socket: an address still in TIME_WAIT may be reused, but a port
// that another server listens on may not be shared (the library's default would share it).
void SetListeningSocketOptions(int socket);

// Shuts down our end of the connection from `remotePort` to our `localPort`, so the client
// gets no answer at all. False when no such connection is open in this process.
bool ShutDownConnection(int localPort, int remotePort);

// SIGINT and SIGTERM are held back from every thread started afterwards, so that
// WaitForStopSignal() can take them; call it before any thread starts.
bool BlockStopSignals();
// Waits for SIGINT or SIGTERM and returns its number.
int WaitForStopSignal();

}  // namespace fw::server
