#include "cli/commandline.h"

#include "backup/sqldmo.h"
#include "backup/thismachine.h"
#include "cli/exitstatus.h"
#include "cli/metrics.h"
#include "cli/progress.h"
#include "cli/stoprequests.h"
#include "job/activitylog.h"
#include "job/backupjob.h"
#include "job/backuptarget.h"
#include "job/eventlines.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/programfolder.h"
#include "settings/settings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace vestrel::cli {
namespace {

const QString kStopReason = QStringLiteral("Backup annullato per la chiusura del programma.");

void Say(const QString& text) {
    std::fprintf(stderr, "vestrel: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

QString VersionText() {
    return QStringLiteral("%1.%2.%3")
        .arg(VESTREL_VERSION_MAJOR)
        .arg(VESTREL_VERSION_MINOR)
        .arg(VESTREL_VERSION_PATCH);
}

// The options every command knows; `check` refuses the ones only `backup` has.
struct Options {
    QCommandLineOption config{{QStringLiteral("c"), QStringLiteral("config")},
                              QStringLiteral("Read the settings from <file> instead of the "
                                             "config.ini the window uses."),
                              QStringLiteral("file")};
    QCommandLineOption logDir{QStringLiteral("log-dir"),
                              QStringLiteral("Append Command.log in <folder> instead of the "
                                             "window's log folder."),
                              QStringLiteral("folder")};
    QCommandLineOption ifHourEnabled{
        QStringLiteral("if-hour-enabled"),
        QStringLiteral("backup: do nothing and exit 0 when the current hour is not enabled in "
                       "ARRAY_TEMPO.")};
    QCommandLineOption metrics{
        QStringLiteral("metrics"),
        QStringLiteral("backup: write the run's figures to <file> (Prometheus node-exporter "
                       "textfile format), whole or not at all."),
        QStringLiteral("file")};
};

// The settings the window would read, or those of --config; Command.log's folder. Returns an
// exit status when they cannot be read, 0 otherwise.
int LoadSettingsFor(const QCommandLineParser& parser, const Options& options, QString* configPath) {
    if (parser.isSet(options.logDir))
        SetLogFolder(QFileInfo(parser.value(options.logDir)).absoluteFilePath());
    QString path;
    if (parser.isSet(options.config)) {
        path = QFileInfo(parser.value(options.config)).absoluteFilePath();
    } else {
        PrepareProgramFolders();
        path = ProgramFile(QStringLiteral("config.ini"));
    }
    *configPath = path;
    QFile file(path);
    QString why;
    if (!QFileInfo::exists(path))
        why = QStringLiteral("no such file");
    else if (!QFileInfo(path).isFile())
        why = QStringLiteral("not a file");
    else if (!file.open(QIODevice::ReadOnly))
        why = file.errorString();
    if (!why.isEmpty()) {
        Say(QStringLiteral("cannot read the settings in %1: %2")
                .arg(QDir::toNativeSeparators(path), why));
        return kExitSettings;
    }
    file.close();
    oIni.IniFileName(path);
    try {
        LoadSettings(oIni, Settings, ArrayTempo);
    } catch (const Error& error) {
        Say(QStringLiteral("%1: \"Integrated Security\" is neither a number nor True or False "
                           "(%2)")
                .arg(QDir::toNativeSeparators(path), error.description()));
        return kExitSettings;
    }
    QDir().mkpath(LogFolder());
    return kExitSucceeded;
}

// Which of the fields a backup needs are missing, as the user knows them from config.ini.
QString MissingFields(const SettingsRecord& settings) {
    QStringList missing;
    for (const QString& key : MissingSettings(settings))
        missing << QStringLiteral("\"%1\"").arg(key) +
                       (key == QLatin1String("Data Source")
                            ? QStringLiteral(" (3 characters at least)")
                            : QString());
    return missing.join(QStringLiteral(", "));
}

// The checks both commands make before they reach the server; an exit status, 0 when done.
int Preflight(const QString& configPath) {
    if (!SettingsUsable(Settings)) {
        Say(QStringLiteral("the settings in %1 cannot make a backup: missing %2")
                .arg(QDir::toNativeSeparators(configPath), MissingFields(Settings)));
        return kExitSettings;
    }
    QString why;
    if (!SqlServerClientInstalled(&why)) {
        Say(QStringLiteral("no SQL Server client: %1").arg(why));
        return kExitConnection;
    }
    return kExitSucceeded;
}

// The hours ARRAY_TEMPO enables, for --if-hour-enabled.
QString EnabledHours() {
    QStringList hours;
    for (int hour = 0; hour < 24; ++hour)
        if (ArrayTempo[size_t(hour)])
            hours << QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0'));
    return hours.isEmpty() ? QStringLiteral("none") : hours.join(u' ');
}

QString BackupFile() {
    return Settings.sBackupFile.isEmpty() ? DefaultBackupFileName(Now()) : Settings.sBackupFile;
}

// The job's front end on a terminal or in the journal: the event lines into Command.log as
// the window writes them, the progress on the standard error, and the stop requests.
class CommandLineFront final : public IJobFront {
public:
    explicit CommandLineFront(Progress& progress) : progress_(progress) {}
    void Attach(BackupJob* job) { job_ = job; }

    void PercentComplete(const QString& Message, int Percent) override {
        (void)WriteLog(PercentCompleteLine(Message, Percent));
        progress_.Percent(Message, Percent);
    }
    void NextMedia(const QString& Message) override {
        (void)WriteLog(NextMediaLine(Message));
        progress_.Line(Message);
    }
    void Complete(const QString& Message) override {
        (void)WriteLog(CompleteLine(Message));
        progress_.Line(Message);
    }
    // A server gone quiet is told where an administrator looks (the journal); the backup
    // goes on waiting, as in the window.
    void Stalled(const QDateTime& since) override {
        progress_.Line(QStringLiteral("the server has not reported progress since %1; the backup "
                                      "is not cancelled")
                           .arg(since.toString(Qt::ISODate)));
    }
    void Resumed() override { progress_.Line(QStringLiteral("the server reports progress again")); }
    void Yield() override {
        QCoreApplication::processEvents();
        if (stopRequested_ && job_)
            job_->Cancel(kStopReason);
    }

    // A stop request: the running job is cancelled at once; one that has not begun, at its
    // first step.
    void Stop() {
        stopRequested_ = true;
        if (job_ && job_->Running())
            job_->Cancel(kStopReason);
    }
    bool StopRequested() const { return stopRequested_; }

private:
    Progress& progress_;
    BackupJob* job_ = nullptr;
    bool stopRequested_ = false;
};

int WriteMetrics(const QString& file, const MetricsRun& run) {
    const LastSuccess previous = ReadLastSuccess(file, run.server, run.database);
    QString error;
    if (!WriteMetricsFile(file, MetricsText(run, previous), &error)) {
        Say(QStringLiteral("cannot write the metrics file %1: %2")
                .arg(QDir::toNativeSeparators(file), error));
        return kExitFailed;
    }
    return kExitSucceeded;
}

int Backup(const QCommandLineParser& parser, const Options& options) {
    QString configPath;
    const QString metricsFile = parser.isSet(options.metrics)
                                    ? QFileInfo(parser.value(options.metrics)).absoluteFilePath()
                                    : QString();
    MetricsRun run;
    run.started = Now();
    // Every attempt is reported, a refused one included; the status of the run stays the
    // backup's unless only the metrics failed.
    const auto finish = [&](int status) {
        run.server = Settings.sDataSource;
        run.database = Settings.sInitialCatalog;
        run.result = status;
        if (!run.ended.isValid())
            run.ended = Now();
        if (metricsFile.isEmpty())
            return status;
        const int written = WriteMetrics(metricsFile, run);
        return status == kExitSucceeded ? written : status;
    };

    if (const int status = LoadSettingsFor(parser, options, &configPath))
        return finish(status);
    if (parser.isSet(options.ifHourEnabled)) {
        const int hour = Now().time().hour();
        if (!ArrayTempo[size_t(hour)]) {
            Say(QStringLiteral("hour %1 is not enabled in %2: no backup")
                    .arg(hour)
                    .arg(QDir::toNativeSeparators(configPath)));
            return kExitSucceeded;
        }
    }
    if (const int status = Preflight(configPath))
        return finish(status);

    Progress progress(stderr, Progress::IsTerminal(stderr));
    CommandLineFront front(progress);
    BackupJob job(front);
    front.Attach(&job);
    StopRequests stops;
    QObject::connect(&stops, &StopRequests::stopRequested, &stops, [&front] { front.Stop(); });

    const QString file = BackupFile();
    Say(QStringLiteral("backing up %1 on %2 into %3 (log: %4)")
            .arg(Settings.sInitialCatalog, Settings.sDataSource, file,
                 QDir::toNativeSeparators(LogFilePath())));
    QCoreApplication::processEvents();
    JobResult result;
    if (front.StopRequested()) {
        // Told to stop before the job began: it ends as a cancelled job does.
        result.outcome = JobOutcome::Cancelled;
        result.description = kStopReason;
        (void)WriteLog(QStringLiteral("Errore ") + result.description);
    } else {
        result = job.Run(Settings, file);
    }
    run.ended = result.ended.isValid() ? result.ended : Now();
    if (result.started.isValid())
        run.started = result.started;
    if (result.ok()) {
        run.succeeded = true;
        run.size = result.size;
        const QString size =
            result.size >= 0 ? QStringLiteral(" (%1 bytes)").arg(result.size) : QString();
        const QString seconds =
            QString::number(double(run.started.msecsTo(run.ended)) / 1000.0, 'f', 1);
        progress.Line(QStringLiteral("verified backup in ") + file + size + QStringLiteral(", ") +
                      seconds + QStringLiteral(" s"));
    } else {
        progress.Line(QStringLiteral("Errore ") + result.description);
    }
    return finish(ExitStatusFor(result.outcome));
}

int Check(const QCommandLineParser& parser, const Options& options) {
    QString configPath;
    if (const int status = LoadSettingsFor(parser, options, &configPath))
        return status;
    if (const int status = Preflight(configPath))
        return status;
    const QString file = BackupFile();
    SQLServer server;
    server.LoginTimeout = BackupJob::kLoginTimeoutSeconds;
    server.LoginSecure = Settings.bIntegratedSecurity;
    try {
        server.Connect(Settings.sDataSource, Settings.sUserID, Settings.sPassword);
    } catch (const Error& error) {
        Say(QStringLiteral("Errore ") + error.description());
        return kExitConnection;
    }
    // The way the target will be written is decided as a backup decides it: by trying, in the
    // target's folder and with the server.
    BackupTarget target(file, ServerIsThisMachine(Settings.sDataSource));
    try {
        target.Prepare([&server](const QString& path) { return server.FindsFile(path); });
    } catch (const TargetBusy& busy) {
        Say(QStringLiteral("Errore ") + busy.description());
        return kExitTargetInUse;
    } catch (const Error& error) {
        Say(QStringLiteral("Errore ") + error.description());
        return kExitFailed;
    }
    const QString version =
        server.VersionText().isEmpty() ? QStringLiteral("not given") : server.VersionText();
    const QString lines[] = {
        QStringLiteral("settings: %1").arg(QDir::toNativeSeparators(configPath)),
        QStringLiteral("server: %1, logged in as %2%3")
            .arg(Settings.sDataSource, Settings.sUserID,
                 Settings.bIntegratedSecurity ? QStringLiteral(" (integrated security)")
                                              : QString()),
        QStringLiteral("server version: %1").arg(version),
        QStringLiteral("database: %1").arg(Settings.sInitialCatalog),
        server.Checksum()
            ? QStringLiteral("checksum: yes, the backup is written WITH CHECKSUM and verified")
            : QStringLiteral("checksum: no (the server is older than SQL Server 2005), the "
                             "backup is verified without it"),
        QStringLiteral("file: %1").arg(file),
        target.local()
            ? QStringLiteral("target: written beside the old file (%1) and put in its place "
                             "once verified; the old file stays if the backup fails")
                  .arg(target.serverPath())
            : QStringLiteral("target: written in place WITH FORMAT, INIT by the server: the "
                             "old backup is gone when the new one starts"),
        QStringLiteral("enabled hours: %1").arg(EnabledHours()),
        QStringLiteral("log: %1").arg(QDir::toNativeSeparators(LogFilePath())),
    };
    for (const QString& line : lines)
        std::printf("%s\n", qUtf8Printable(line));
    for (const QString& note : target.notes())
        std::printf("note: %s\n", qUtf8Printable(note));
    return kExitSucceeded;
}

} // namespace

bool IsCommandLine(int argc, char* argv[]) {
    (void)argv;
    return argc > 1;
}

int Run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Backs up one SQL Server database into one file.\n"
                       "\n"
                       "Commands:\n"
                       "  backup  one backup, as the window's \"Esegui Backup\" makes it: the "
                       "same settings,\n"
                       "          checks, verification and Command.log lines\n"
                       "  check   read the settings, log in and say what a backup would do\n"
                       "Without a command, vestrel starts the window and the tray icon.\n"
                       "\n") +
        ExitStatusHelp());
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("backup or check"),
                                 QStringLiteral("backup|check"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const Options options;
    parser.addOptions({options.config, options.logDir, options.ifHourEnabled, options.metrics});

    const auto usage = [](const QString& text) {
        Say(text + QStringLiteral(" (vestrel --help lists the commands and options)"));
        return int(kExitUsage);
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(version)) {
        std::printf("vestrel %s\n", qUtf8Printable(VersionText()));
        return kExitSucceeded;
    }
    if (parser.isSet(help)) {
        std::printf("%s", qUtf8Printable(parser.helpText()));
        return kExitSucceeded;
    }
    const QStringList commands = parser.positionalArguments();
    if (commands.size() != 1)
        return usage(commands.isEmpty() ? QStringLiteral("no command given")
                                        : QStringLiteral("one command only"));
    const QString command = commands.first();
    if (command == QLatin1String("backup"))
        return Backup(parser, options);
    if (command == QLatin1String("check")) {
        if (parser.isSet(options.ifHourEnabled) || parser.isSet(options.metrics))
            return usage(QStringLiteral("--if-hour-enabled and --metrics belong to backup"));
        return Check(parser, options);
    }
    if (command == QLatin1String("help")) {
        std::printf("%s", qUtf8Printable(parser.helpText()));
        return kExitSucceeded;
    }
    return usage(QStringLiteral("unknown command %1").arg(command));
}

int Main(int argc, char* argv[]) {
    UseParentConsole();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vestrel"));
    QCoreApplication::setApplicationVersion(VersionText());
    return Run(QCoreApplication::arguments());
}

} // namespace vestrel::cli
