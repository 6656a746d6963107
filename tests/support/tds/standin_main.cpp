// The TDS stand-in as a program of its own, for trying Vestrel without a SQL Server, the demo
// and the end-to-end run. It listens on 127.0.0.1 and serves until it is stopped. Its first
// line on standard output is "port N" (the scripts read it); standard error gets one line
// saying where it listens and which login it accepts. `tds_standin --help` lists the options.
// Test code only; it is never installed.
#include "support/tds/standin.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using vestrel::test::StandinEncryption;
using vestrel::test::StandinScript;

namespace {

struct Option {
    const char* name;
    const char* value; // what the option takes, as --help shows it
    const char* help;
    // Applies the value; false when it is not one the option takes.
    std::function<bool(StandinScript&, const QString&)> apply;
};

bool ToInt(const QString& text, int low, int high, int* out) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return false;
    *out = value;
    return true;
}

const std::vector<Option>& Options() {
    static const std::vector<Option> options = {
        {"--port", "N", "listen on 127.0.0.1 port N (default: a free port the system chooses)",
         [](StandinScript& s, const QString& v) {
             int port = 0;
             return ToInt(v, 1, 65535, &port) && (s.port = quint16(port), true);
         }},
        {"--user", "NAME", "accept only this login name (default: any name)",
         [](StandinScript& s, const QString& v) { return !v.isEmpty() && (s.user = v, true); }},
        {"--password", "TEXT", "the login's password (default: secret)",
         [](StandinScript& s, const QString& v) { return s.password = v, true; }},
        {"--encryption", "off|on|none",
         "answer to the client's PRELOGIN: off (default, as SQL Server: the login inside TLS, "
         "the rest plain), on (the whole session in TLS, as \"Force Encryption\"), none (no "
         "certificate, nothing encrypted)",
         [](StandinScript& s, const QString& v) {
             if (v == "off"_L1)
                 s.encryption = StandinEncryption::Off;
             else if (v == "on"_L1)
                 s.encryption = StandinEncryption::On;
             else if (v == "none"_L1)
                 s.encryption = StandinEncryption::NotSupported;
             else
                 return false;
             return true;
         }},
        {"--play", "2000", "answer as SQL Server 2000 (8.00.2039: TDS 7.1, no CHECKSUM)",
         [](StandinScript& s, const QString& v) {
             return v == "2000"_L1 && (s.sqlServer2000 = true, true);
         }},
        {"--delay-ms", "N", "wait N ms before each progress message (default 0)",
         [](StandinScript& s, const QString& v) {
             return ToInt(v, 0, 3600000, &s.progressDelayMs);
         }},
        {"--pause-at", "PERCENT",
         "hold the first backup after that progress message, print \"paused PERCENT\" and go on "
         "when a line arrives on standard input",
         [](StandinScript& s, const QString& v) { return ToInt(v, 0, 100, &s.pauseAtPercent); }},
        {"--stall-at", "PERCENT",
         "after that progress message every backup stops answering, as a hung server: prints "
         "\"stalled PERCENT\" and holds the connection open, sending nothing",
         [](StandinScript& s, const QString& v) { return ToInt(v, 0, 100, &s.stallAtPercent); }},
        {"--damage", "truncate|flip", "damage every backup set on disk after writing it",
         [](StandinScript& s, const QString& v) {
             if (v == "truncate"_L1)
                 s.damageWrittenSet = StandinScript::Damage::Truncate;
             else if (v == "flip"_L1)
                 s.damageWrittenSet = StandinScript::Damage::FlipByte;
             else
                 return false;
             return true;
         }},
        {"--end", "no-3014|bare-error",
         "end every backup without its completion message, or with a DONE(ERROR) and no ERROR "
         "token",
         [](StandinScript& s, const QString& v) {
             s.omitFinalMessage = v == "no-3014"_L1;
             s.errorWithoutMessage = v == "bare-error"_L1;
             return s.omitFinalMessage || s.errorWithoutMessage;
         }},
        {"--file-owner", "UID:GID",
         "write and read the backup files as that account, as SQL Server on Linux does as mssql "
         "(needs root)",
         [](StandinScript& s, const QString& v) {
             const QStringList ids = v.split(u':');
             return ids.size() == 2 && ToInt(ids[0], 0, 0x7fffffff, &s.fileUid) &&
                    ToInt(ids[1], 0, 0x7fffffff, &s.fileGid);
         }},
        {"--paths", "posix|windows",
         "how the paths it is given read: windows plays a server on Windows, where \"\\\" "
         "separates folders (with a link named \"Z:\" to / in its folder, the paths a program "
         "under Wine sends)",
         [](StandinScript& s, const QString& v) {
             s.windowsPaths = v == "windows"_L1;
             return s.windowsPaths || v == "posix"_L1;
         }},
        {"--file-root", "DIR",
         "serve the backup files from a file system of its own rooted at DIR, as a server in a "
         "container: the paths it is given are under DIR",
         [](StandinScript& s, const QString& v) {
             s.fileRoot = v;
             return !v.isEmpty();
         }},
    };
    return options;
}

void Usage(FILE* to) {
    std::fprintf(to, "Usage: tds_standin [OPTION VALUE]...\n"
                     "A small TDS server on 127.0.0.1 that answers BACKUP DATABASE and RESTORE "
                     "VERIFYONLY the way SQL Server does,\nfor trying Vestrel and for its tests. "
                     "It is not SQL Server: it writes backup files of its own format.\n"
                     "Prints \"port N\" on standard output once it listens.\n\n");
    for (const Option& option : Options()) {
        const std::string left = std::string(option.name) + ' ' + option.value;
        std::fprintf(to, "  %-32s %s\n", left.c_str(), option.help);
    }
    std::fprintf(to, "  %-32s %s\n", "--help", "show this and exit");
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    StandinScript script;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == "--help"_L1 || args[i] == "-h"_L1) {
            Usage(stdout);
            return 0;
        }
        const auto option = std::find_if(Options().begin(), Options().end(), [&](const Option& o) {
            return args[i] == QLatin1StringView(o.name);
        });
        if (option == Options().end()) {
            std::fprintf(stderr, "tds_standin: unknown option %s\n", qPrintable(args[i]));
            Usage(stderr);
            return 2;
        }
        if (i + 1 >= args.size() || !option->apply(script, args[i + 1])) {
            std::fprintf(stderr, "tds_standin: %s takes %s\n", option->name, option->value);
            return 2;
        }
        ++i;
    }
    vestrel::test::TdsStandin standin(script);
    if (!standin.ListenError().isEmpty()) {
        std::fprintf(stderr, "tds_standin: cannot listen on 127.0.0.1,%u: %s\n",
                     unsigned(script.port), qPrintable(standin.ListenError()));
        return 1;
    }
    std::printf("port %u\n", static_cast<unsigned>(standin.Port()));
    std::fflush(stdout);
    const char* encryption = script.encryption == StandinEncryption::On    ? "the whole session"
                             : script.encryption == StandinEncryption::Off ? "the login"
                                                                           : "nothing";
    std::fprintf(stderr,
                 "tds_standin: listening on 127.0.0.1,%u (Nome Server: 127.0.0.1,%u); accepts "
                 "%s%s%s with password '%s'; encrypts %s; not SQL Server, a test stand-in\n",
                 unsigned(standin.Port()), unsigned(standin.Port()),
                 script.user.isEmpty() ? "any login name" : "the login '",
                 script.user.isEmpty() ? "" : qPrintable(script.user),
                 script.user.isEmpty() ? "" : "'", qPrintable(script.password), encryption);
    if (script.pauseAtPercent >= 0) {
        // Lives as long as the process; the stand-in outlives it.
        std::thread([&standin, percent = script.pauseAtPercent] {
            while (!standin.WaitPaused(1000)) {
            }
            std::printf("paused %d\n", percent);
            std::fflush(stdout);
            std::string line;
            std::getline(std::cin, line);
            standin.Resume();
        }).detach();
    }
    if (script.stallAtPercent >= 0) {
        std::thread([&standin, percent = script.stallAtPercent] {
            while (!standin.WaitStalled(1000)) {
            }
            std::printf("stalled %d\n", percent);
            std::fflush(stdout);
        }).detach();
    }
    return QCoreApplication::exec();
}
