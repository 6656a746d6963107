#pragma once

#include "platform/seam.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>

namespace vestrel {

// This machine on the network: its name, its own addresses and the resolution of a name.
class IHostNetwork {
public:
    virtual ~IHostNetwork() = default;
    virtual QString HostName() const = 0;
    // Every address of this machine's interfaces (loopback, LAN, ...).
    virtual QList<QHostAddress> OwnAddresses() const = 0;
    // The addresses a name stands for; none when it cannot be resolved within timeoutMs, or
    // when `stop` (asked whenever the calling thread's events have been handled) says so;
    // *timedOut, when given, says whether the time ran out. The calling thread's events are
    // handled while it waits. A lookup given up on holds up nobody: not the caller, not the
    // program's exit.
    virtual QList<QHostAddress> Resolve(const QString& name, int timeoutMs,
                                        const std::function<bool()>& stop = {},
                                        bool* timedOut = nullptr) = 0;
};

// Defaults to the system's interfaces and resolver.
Seam<IHostNetwork>& HostNetworkSeam();

} // namespace vestrel
