#pragma once

#include <QString>

namespace vestrel {

// True when the server name points at this machine, so a path means the same file to the
// server and to us: the local forms ("(local)", ".", "localhost"), a loopback address, this
// machine's name, one of its own addresses, or a name that resolves to one of them (a LAN
// name, an alias), with any instance or port. A name that cannot be resolved within
// kResolveTimeoutMs is not this machine. The calling thread's events are handled meanwhile.
bool ServerIsThisMachine(const QString& server);
inline constexpr int kResolveTimeoutMs = 3000;

} // namespace vestrel
