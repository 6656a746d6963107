#include "platform/hostnetwork.h"

#include "platform/events.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QSysInfo>
#include <QTimer>
#include <memory>

namespace vestrel {
namespace {

class SystemHostNetwork final : public IHostNetwork {
public:
    QString HostName() const override { return QSysInfo::machineHostName(); }

    QList<QHostAddress> OwnAddresses() const override { return QNetworkInterface::allAddresses(); }

    // The system's resolver can take far longer than a backup should wait (DNS timeouts
    // times retries times servers): the lookup runs on Qt's resolver threads and is given up
    // after timeoutMs.
    QList<QHostAddress> Resolve(const QString& name, int timeoutMs) override {
        struct Answer {
            bool done = false;
            QList<QHostAddress> addresses;
        };
        auto answer = std::make_shared<Answer>();
        QObject context; // a late answer dies with it
        const int id = QHostInfo::lookupHost(name, &context, [answer](const QHostInfo& info) {
            answer->done = true;
            EndWait();
            if (info.error() == QHostInfo::NoError)
                answer->addresses = info.addresses();
        });
        bool late = false;
        QTimer::singleShot(timeoutMs, &context, [&late] {
            late = true;
            EndWait();
        });
        while (!answer->done && !late)
            WaitForEvents();
        if (!answer->done)
            QHostInfo::abortHostLookup(id);
        return answer->addresses;
    }
};

} // namespace

Seam<IHostNetwork>& HostNetworkSeam() {
    static SystemHostNetwork system;
    static Seam<IHostNetwork> seam(system);
    return seam;
}

} // namespace vestrel
