#include "backup/thismachine.h"

#include "backup/odbctext.h"
#include "platform/hostnetwork.h"

namespace vestrel {

bool ServerIsThisMachine(const QString& server) {
    IHostNetwork& network = HostNetworkSeam().get();
    if (odbc::NamesThisMachine(server, network.HostName()))
        return true;
    QString host = odbc::ParseServerName(server).host;
    // "tcp:" and the like choose a protocol, not a machine.
    const qsizetype colon = host.indexOf(QLatin1Char(':'));
    if (colon > 0 && colon <= 4 && host.count(QLatin1Char(':')) == 1)
        host = host.mid(colon + 1);
    if (host.isEmpty())
        return false;
    QHostAddress literal;
    const QList<QHostAddress> addresses = literal.setAddress(host)
                                              ? QList<QHostAddress>{literal}
                                              : network.Resolve(host, kResolveTimeoutMs);
    if (addresses.isEmpty())
        return false;
    const QList<QHostAddress> own = network.OwnAddresses();
    for (const QHostAddress& address : addresses) {
        if (address.isLoopback())
            return true;
        for (const QHostAddress& mine : own)
            if (address.isEqual(mine, QHostAddress::TolerantConversion))
                return true;
    }
    return false;
}

} // namespace vestrel
