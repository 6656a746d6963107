// What the login encryption SQL Server negotiates costs against the stand-in: its start-up
// (the key and certificate it makes) and the engine's login with no encryption, with the
// login inside TLS (ENCRYPT_OFF) and with the whole session inside TLS (ENCRYPT_ON).
#include "backup/sqldmo.h"
#include "support/tds/standin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;
using vestrel::test::StandinEncryption;

namespace {

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

struct Figures {
    double startMs = 0;
    double loginMs = 0;
};

Figures Measure(StandinEncryption encryption) {
    constexpr int kStarts = 10;
    constexpr int kLogins = 40;
    vestrel::test::StandinScript script;
    script.encryption = encryption;
    QList<double> starts;
    QElapsedTimer clock;
    for (int i = 0; i < kStarts; ++i) {
        clock.start();
        vestrel::test::TdsStandin standin(script);
        starts << double(clock.nsecsElapsed()) / 1e6;
    }
    vestrel::test::TdsStandin standin(script);
    QList<double> logins;
    for (int i = 0; i < kLogins; ++i) {
        vestrel::SQLServer server;
        server.LoginTimeout = 15;
        clock.start();
        server.Connect(standin.ServerName(), u"sa"_s, u"secret"_s);
        logins << double(clock.nsecsElapsed()) / 1e6;
    }
    return {Median(starts), Median(logins)};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Figures none = Measure(StandinEncryption::NotSupported);
    const Figures off = Measure(StandinEncryption::Off);
    const Figures on = Measure(StandinEncryption::On);
    std::printf("login_encryption login p50 ENCRYPT_NOT_SUP=%.2fms ENCRYPT_OFF=%.2fms "
                "ENCRYPT_ON=%.2fms (goal: TLS adds <= 10 ms); stand-in start p50 %.2fms, "
                "%.2fms with its certificate\n",
                none.loginMs, off.loginMs, on.loginMs, none.startMs, off.startMs);
    return 0;
}
