#ifdef _WIN32
#include <winsock2.h> // before anything that may bring in windows.h
#include <ws2tcpip.h>
#endif
#include "platform/events.h"
#include "platform/hostnetwork.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QNetworkInterface>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>
#ifndef _WIN32
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace vestrel {
namespace {

// One lookup, shared between the thread that asked and the thread that looks the name up.
struct Lookup {
    std::mutex mutex;
    bool done = false;
    QList<QHostAddress> addresses;
    QAbstractEventDispatcher* waiter = nullptr; // woken when done; cleared when nobody waits
};

// The system's resolver, on a thread of its own that nobody ever waits for: it can take far
// longer than anyone should wait (DNS timeouts times retries times servers), and a thread
// pool's lookups would be waited for when the program ends.
void LookUp(const std::shared_ptr<Lookup>& lookup, const QByteArray& host) {
    std::thread([lookup, host] {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        QList<QHostAddress> found;
        if (getaddrinfo(host.constData(), nullptr, &hints, &result) == 0) {
            for (const addrinfo* entry = result; entry; entry = entry->ai_next) {
                const QHostAddress address(entry->ai_addr);
                if (!address.isNull() && !found.contains(address))
                    found.append(address);
            }
            freeaddrinfo(result);
        }
        const std::lock_guard lock(lookup->mutex);
        lookup->addresses = found;
        lookup->done = true;
        if (lookup->waiter)
            lookup->waiter->interrupt();
    }).detach();
}

class SystemHostNetwork final : public IHostNetwork {
public:
    QString HostName() const override { return QSysInfo::machineHostName(); }

    QList<QHostAddress> OwnAddresses() const override { return QNetworkInterface::allAddresses(); }

    QList<QHostAddress> Resolve(const QString& name, int timeoutMs,
                                const std::function<bool()>& stop, bool* timedOut) override {
        if (timedOut)
            *timedOut = false;
        const QByteArray host = QUrl::toAce(name);
        if (host.isEmpty())
            return {};
        auto lookup = std::make_shared<Lookup>();
        lookup->waiter = QAbstractEventDispatcher::instance();
        LookUp(lookup, host);
        const QDeadlineTimer deadline(timeoutMs);
        // Wakes the wait at the deadline; armed again when it woke it a little early.
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        QObject::connect(&wake, &QTimer::timeout, &wake, [] { EndWait(); });
        for (;;) {
            {
                const std::lock_guard lock(lookup->mutex);
                if (lookup->done)
                    return lookup->addresses;
            }
            if (stop && stop())
                break;
            if (deadline.hasExpired()) {
                if (timedOut)
                    *timedOut = true;
                break;
            }
            if (!wake.isActive())
                wake.start(int(std::max<qint64>(1, deadline.remainingTime())));
            WaitForEvents();
        }
        const std::lock_guard lock(lookup->mutex);
        lookup->waiter = nullptr;
        return lookup->done ? lookup->addresses : QList<QHostAddress>();
    }
};

} // namespace

Seam<IHostNetwork>& HostNetworkSeam() {
    static SystemHostNetwork system;
    static Seam<IHostNetwork> seam(system);
    return seam;
}

} // namespace vestrel
