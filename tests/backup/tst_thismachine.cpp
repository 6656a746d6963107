// Whether a server name points at this machine, through a network the test controls, and the
// system's own resolver kept to its time limit.
#include "backup/thismachine.h"
#include "platform/hostnetwork.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTest>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

// office-pc: loopback, a LAN address and a link-local IPv6 one; "nas-backup" is an alias of
// it, "sqlhost" another machine, anything else unknown.
class OfficeNetwork final : public IHostNetwork {
public:
    QString HostName() const override { return u"office-pc"_s; }
    QList<QHostAddress> OwnAddresses() const override {
        return {QHostAddress(u"127.0.0.1"_s), QHostAddress(u"192.168.1.20"_s),
                QHostAddress(u"fe80::a00:27ff:fe4e:66a1"_s), QHostAddress(u"::1"_s)};
    }
    QList<QHostAddress> Resolve(const QString& name, int timeoutMs, const std::function<bool()>&,
                                bool*) override {
        asked << name;
        lastTimeoutMs = timeoutMs;
        const QHash<QString, QList<QHostAddress>> names = {
            {u"nas-backup"_s, {QHostAddress(u"192.168.1.20"_s)}},
            {u"office-pc.example.lan"_s, {QHostAddress(u"192.168.1.20"_s)}},
            {u"sqlhost"_s, {QHostAddress(u"192.168.1.30"_s)}},
            {u"sqlhost6"_s, {QHostAddress(u"fe80::a00:27ff:fe4e:9999"_s)}},
        };
        return names.value(name.toLower());
    }
    QStringList asked;
    int lastTimeoutMs = 0;
};

} // namespace

class TestThisMachine : public QObject {
    Q_OBJECT
private slots:
    void recognised_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("here");
        QTest::addColumn<bool>("resolved"); // the name had to be looked up
        QTest::newRow("this machine's LAN address") << u"192.168.1.20"_s << true << false;
        QTest::newRow("LAN address, instance and port")
            << u"192.168.1.20\\SQLEXPRESS,1433"_s << true << false;
        QTest::newRow("LAN address after tcp:") << u"tcp:192.168.1.20,1433"_s << true << false;
        QTest::newRow("LAN address as IPv4-mapped IPv6")
            << u"::ffff:192.168.1.20"_s << true << false;
        QTest::newRow("link-local IPv6 of this machine")
            << u"fe80::a00:27ff:fe4e:66a1"_s << true << false;
        QTest::newRow("an alias resolving here") << u"NAS-BACKUP\\SQLEXPRESS"_s << true << true;
        QTest::newRow("a remote address") << u"192.168.1.30"_s << false << false;
        QTest::newRow("a remote name") << u"sqlhost,1433"_s << false << true;
        QTest::newRow("a remote IPv6 name") << u"sqlhost6"_s << false << true;
        QTest::newRow("an unresolvable name") << u"no-such-server\\SQL2019"_s << false << true;
        QTest::newRow("this machine's name, no lookup")
            << u"Office-PC\\SQLEXPRESS"_s << true << false;
        QTest::newRow("(local)") << u"(local)"_s << true << false;
        QTest::newRow(".") << u".\\SQLEXPRESS"_s << true << false;
        QTest::newRow("localhost") << u"localhost,1433"_s << true << false;
        QTest::newRow("another loopback") << u"127.0.1.1"_s << true << false;
    }
    void recognised() {
        QFETCH(QString, server);
        QFETCH(bool, here);
        QFETCH(bool, resolved);
        OfficeNetwork network;
        const ScopedSeam<IHostNetwork> scope(HostNetworkSeam(), &network);
        QCOMPARE(ServerIsThisMachine(server), here);
        QCOMPARE(!network.asked.isEmpty(), resolved);
        if (resolved)
            QCOMPARE(network.lastTimeoutMs, kResolveTimeoutMs);
    }

    // The system's side: its loopback is among its own addresses, localhost resolves, and a
    // name no resolver knows comes back empty within the time given (plus scheduling).
    void systemNetwork() {
        IHostNetwork& system = HostNetworkSeam().get();
        const QList<QHostAddress> own = system.OwnAddresses();
        QVERIFY(std::any_of(own.begin(), own.end(),
                            [](const QHostAddress& a) { return a.isLoopback(); }));
        const QList<QHostAddress> local = system.Resolve(u"localhost"_s, 5000);
        QVERIFY(std::any_of(local.begin(), local.end(),
                            [](const QHostAddress& a) { return a.isLoopback(); }));
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(system.Resolve(u"no-such-host.invalid"_s, 1500).isEmpty());
        QVERIFY2(elapsed.elapsed() < 1500 + 1000, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(ServerIsThisMachine(system.HostName()));
    }
};

QTEST_MAIN(TestThisMachine)
#include "tst_thismachine.moc"
