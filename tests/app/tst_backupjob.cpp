// The backup job of the real main window against the TDS stand-in.
#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/hostnetwork.h"
#include "support/fixtures.h"
#include "support/tds/media.h"
#include "support/tds/standin.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace vestrel;
using namespace Qt::StringLiterals;
using test::StandinScript;
using test::TdsStandin;

namespace {

const QByteArray kRule(57, '=');

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Job {
    test::TempProgramFolder folder;
    test::FakeClock clock;
    test::PinnedFormats formats;
    test::MessageBoxRecorder boxes;
    TdsStandin standin;
    FMain form;

    explicit Job(StandinScript script = {}) : standin(std::move(script)) {
        form.txtSrv->setText(standin.ServerName());
        form.txtUsr->setText(u"sa"_s);
        form.txtPwd->setText(u"secret"_s);
        form.txtDBName->setText(u"Sales"_s);
        form.TxtPath->setText(folder.file(u"Sales.bak"_s));
    }
    QList<QByteArray> log() const {
        QList<QByteArray> lines;
        for (const QByteArray& line : folder.lines(u"Command.log"_s))
            lines.append(test::AfterStamp(line));
        return lines;
    }
    QList<QByteArray> startBlock(const QString& file,
                                 const QByteArray& password = "********") const {
        return {"Inizio Backup in data 07/12/2026 alle ore 10.25.00",
                kRule,
                "Nome Server : " + standin.ServerName().toUtf8(),
                "User : sa",
                "Password : " + password,
                "Nome Database : Sales",
                "File : " + file.toUtf8(),
                kRule};
    }
};

// A resolver that takes 30 s over every name, as one whose DNS servers do not answer; like
// the system's, it gives up when told to stop.
class SlowResolver final : public IHostNetwork {
public:
    QString HostName() const override { return u"office-pc"_s; }
    QList<QHostAddress> OwnAddresses() const override { return {}; }
    QList<QHostAddress> Resolve(const QString&, int timeoutMs, const std::function<bool()>& stop,
                                bool* timedOut) override {
        asked = true;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < std::min(timeoutMs, 30000) && !(stop && stop()))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (timedOut)
            *timedOut = clock.elapsed() >= timeoutMs;
        return {};
    }
    bool asked = false;
};

QList<QByteArray> progressLines() {
    QList<QByteArray> lines;
    for (int percent = 10; percent <= 87; percent += 11)
        lines.append("oBackupEvent_PercentComplete -- " + QByteArray::number(percent) +
                     " percent processed. " + QByteArray::number(percent));
    lines.append("oBackupEvent_PercentComplete -- 100 percent processed. 100");
    return lines;
}

} // namespace

class TestBackupJob : public QObject {
    Q_OBJECT
private slots:
    void aSuccessfulBackup() {
        Job job;
        const QString file = job.folder.file(u"Sales.bak"_s);
        job.form.CmdBackup->click();
        QVERIFY(!bBackupRunning);

        QList<QByteArray> expected = job.startBlock(file);
        expected += progressLines();
        const QList<QByteArray> log = job.log();
        QCOMPARE(log.mid(0, expected.size()), expected);
        QVERIFY(log.at(expected.size())
                    .startsWith("oBackupEvent_Complete -- BACKUP DATABASE successfully processed"));
        QVERIFY(log.at(expected.size()).endsWith("MB/sec). The backup set on file 1 is valid."));
        QCOMPARE(log.mid(expected.size() + 1),
                 (QList<QByteArray>{kRule, "Fine Backup in data 07/12/2026 alle ore 10.25.00",
                                    kRule, " "}));

        // The status box holds the event lines, the bar the last percent.
        const QStringList status = job.form.txtStatus->text().split(u"\r\n"_s);
        QCOMPARE(status.size(), progressLines().size() + 2); // + Complete + the empty tail
        QCOMPARE(status.first(), QString::fromUtf8(progressLines().first()));
        QVERIFY(status.at(status.size() - 2).startsWith(u"oBackupEvent_Complete -- "_s));
        QCOMPARE(job.form.PgBar->value(), 100);
        QCOMPARE(job.form.LblLastUpdate->text(), u"07/12/2026 10.25.00"_s);
        QCOMPARE(job.form.ShpStat(3)->fillColor(), QColor(0xFF, 0xFF, 0xFF));

        // The file is in place, nothing is left beside it.
        const test::media::Media written = test::media::ReadFile(file);
        QCOMPARE(written.sets.size(), 1);
        QVERIFY(written.complete && written.sets.first().intact);
        QCOMPARE(written.sets.first().database, u"Sales"_s);
        // The server verified the file it wrote, beside the old one, before it took its place.
        QCOMPARE(job.standin.Verifies().size(), 1);
        QCOMPARE(job.standin.Verifies().first().disks, QStringList{file + u".vestrel-new"_s});
        // Anew, never appended to whatever a file of that name held.
        QVERIFY(job.standin.Backups().first().format && job.standin.Backups().first().init);
        QCOMPARE(QDir(job.folder.path()).entryList({u"Sales.bak*"_s}, QDir::Files),
                 QStringList{u"Sales.bak"_s});
        QCOMPARE(Settings.sDataSource, job.standin.ServerName());
        QCOMPARE(Settings.sBackupFile, file);
    }

    void anEmptyPathGetsTheDefaultNameAndKeepsIt() {
        StandinScript script;
        script.password.clear();
        Job job(script);
        job.form.TxtPath->clear();
        job.form.txtPwd->clear();
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(job.folder.path()); // the stand-in writes a name without a folder here
        job.form.CmdBackup->click();
        const QString name = u"C:\\Backup_07122026_102500"_s;
        QCOMPARE(job.form.TxtPath->text(), name);
        QCOMPARE(job.log().mid(0, 8), job.startBlock(name, ""));
        QVERIFY2(job.log().last() == " ", job.log().last().constData());
        QCOMPARE(job.standin.Backups().size(), 1);
        QCOMPARE(job.standin.Backups().last().disks, QStringList{name});
        job.clock.advanceSeconds(3600);
        job.form.CmdBackup->click();
        QCOMPARE(job.standin.Backups().size(), 2);
        QCOMPARE(job.standin.Backups().last().disks, QStringList{name});
        QDir::setCurrent(cwd);
    }

    void defaultNameKeepsOtherSeparators() {
        test::PinnedFormats formats(u"dd/MM/yyyy"_s, u"HH:mm:ss"_s);
        QCOMPARE(DefaultBackupFileName(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3))),
                 u"C:\\Backup_07122026_09:05:03"_s);
    }

    void failedFieldChecks_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("database");
        QTest::addColumn<bool>("integrated");
        QTest::newRow("two-character server") << u"ab"_s << u"sa"_s << u"Sales"_s << false;
        QTest::newRow("no user") << QString() << QString() << u"Sales"_s << false;
        QTest::newRow("no user, integrated") << QString() << QString() << u"Sales"_s << true;
        QTest::newRow("no database") << QString() << u"sa"_s << QString() << false;
    }
    void failedFieldChecks() {
        QFETCH(QString, server);
        QFETCH(QString, user);
        QFETCH(QString, database);
        QFETCH(bool, integrated);
        Job job;
        if (!server.isEmpty())
            job.form.txtSrv->setText(server);
        job.form.txtUsr->setText(user);
        job.form.txtDBName->setText(database);
        job.form.chkIntegrated->setChecked(integrated);
        job.form.txtStatus->setText(u"old\r\n"_s);
        job.form.PgBar->setValue(40);
        job.form.ShpStat(3)->setFillColor(QColor(0xFF, 0xFF, 0));
        job.form.CmdBackup->click();
        QVERIFY(!bBackupRunning);
        QVERIFY(job.log().isEmpty());
        QVERIFY(job.standin.Logins().isEmpty());
        QVERIFY(job.boxes.texts.isEmpty());
        QCOMPARE(job.form.txtStatus->text(), QString());
        QCOMPARE(job.form.PgBar->value(), 0);
        QCOMPARE(job.form.ShpStat(3)->fillColor(), QColor(0xFF, 0xFF, 0xFF));
        // A new start is possible at once.
        job.form.txtSrv->setText(job.standin.ServerName());
        job.form.txtUsr->setText(u"sa"_s);
        job.form.txtDBName->setText(u"Sales"_s);
        job.form.chkIntegrated->setChecked(false);
        job.form.CmdBackup->click();
        QCOMPARE(job.standin.Backups().size(), 1);
    }

    void aWrongPassword() {
        Job job;
        job.form.txtPwd->setText(u"wrong"_s);
        job.form.hide();
        job.form.CmdBackup->click();
        const QList<QByteArray> log = job.log();
        QCOMPARE(log.mid(0, 8), job.startBlock(job.folder.file(u"Sales.bak"_s)));
        QCOMPARE(log.mid(8), (QList<QByteArray>{"Errore Login failed for user 'sa'."}));
        QCOMPARE(job.form.ShpStat(3)->fillColor(), QColor(0xFF, 0xFF, 0));
        QVERIFY(job.form.isVisible()); // a window hidden in the tray comes into view
        QCOMPARE(job.form.txtStatus->text(), QString());
        QCOMPARE(job.form.PgBar->value(), 0);
        QVERIFY(!bBackupRunning);
    }

    // A backup that fails halfway or is not proven good is a failure: the old file stays, the
    // new one goes.
    void unprovenBackupsKeepTheOldBackup_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("3202 at 40 percent")
            << u"fail at 40"_s << "BACKUP DATABASE is terminating"_ba;
        QTest::newRow("no 3014") << u"nofinal"_s << "without the server's confirmation"_ba;
        QTest::newRow("DONE(ERROR) without an ERROR token")
            << u"bare error"_s << "without a message saying what went wrong"_ba;
        QTest::newRow("truncated set") << u"truncate"_s << "Reached the end of the file"_ba;
        QTest::newRow("damaged set") << u"flip"_s << "Damage to the backup set was detected"_ba;
    }
    void unprovenBackupsKeepTheOldBackup() {
        QFETCH(QString, what);
        QFETCH(QByteArray, error);
        StandinScript script;
        script.failAt40Percent = what == u"fail at 40"_s;
        script.omitFinalMessage = what == u"nofinal"_s;
        script.errorWithoutMessage = what == u"bare error"_s;
        if (what == u"truncate"_s)
            script.damageWrittenSet = StandinScript::Damage::Truncate;
        if (what == u"flip"_s)
            script.damageWrittenSet = StandinScript::Damage::FlipByte;
        Job job(script);
        const QString file = job.folder.file(u"Sales.bak"_s);
        {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("the last good backup");
        }
        job.form.LblLastUpdate->setText(u"06/12/2026 23.00.00"_s);
        job.form.CmdBackup->click();
        QCOMPARE(read(file), "the last good backup"_ba);
        QCOMPARE(QDir(job.folder.path()).entryList({u"Sales.bak*"_s}, QDir::Files),
                 QStringList{u"Sales.bak"_s});
        const QList<QByteArray> log = job.log();
        QVERIFY2(log.last().startsWith("Errore ") && log.last().contains(error),
                 log.last().constData());
        for (const QByteArray& line : log)
            QVERIFY2(!line.startsWith("oBackupEvent_Complete") && !line.startsWith("Fine Backup"),
                     line.constData());
        if (script.failAt40Percent)
            QCOMPARE(job.form.PgBar->value(), 32);
        QCOMPARE(job.form.LblLastUpdate->text(), u"06/12/2026 23.00.00"_s);
        QCOMPARE(job.form.ShpStat(3)->fillColor(), QColor(0xFF, 0xFF, 0));
    }

    // A path on the server's own disks cannot be written beside and renamed: the server
    // writes it WITH FORMAT, so after several runs it holds the newest backup alone.
    void aRemoteTargetHoldsTheNewestBackupAlone() {
        Job job;
        const QString name = u"remote-disk.bak"_s; // relative: a place only the server knows
        job.form.TxtPath->setText(name);
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(job.folder.path());
        for (int run = 0; run < 3; ++run) {
            job.clock.advanceSeconds(3600);
            job.form.CmdBackup->click();
            QVERIFY2(job.log().last() == " ", job.log().last().constData());
        }
        QDir::setCurrent(cwd);
        QCOMPARE(job.standin.Backups().size(), 3);
        for (const test::BackupStatement& statement : job.standin.Backups()) {
            QCOMPARE(statement.disks, QStringList{name});
            QVERIFY(statement.format && statement.init);
        }
        const test::media::Media written = test::media::ReadFile(job.folder.file(name));
        QCOMPARE(written.sets.size(), 1);
        QVERIFY(written.complete && written.sets.first().intact);
        QCOMPARE(job.standin.Verifies().last().file, 1);
    }

    // Where this program's user and the server's account see the folder differently, a
    // backup is made all the same: beside the old one and renamed where that can be done,
    // otherwise the file itself, anew, with one log line a run saying so and why.
    void eachFolderSetUp_data() {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QByteArray>("why"); // empty: written beside and renamed
        QTest::newRow("the user in the server's group, 2770") << u"group"_s << QByteArray();
        QTest::newRow("a folder only the server writes, 0755")
            << u"server only"_s << "non pu\xc3\xb2 creare file nella cartella"_ba;
        QTest::newRow("a shared sticky folder, 1777") << u"sticky"_s << "ha lo sticky bit"_ba;
        QTest::newRow("the server in a container on this machine")
            << u"container"_s << "scrive in un file system suo"_ba;
    }
    void eachFolderSetUp() {
        QFETCH(QString, setUp);
        QFETCH(QByteArray, why);
        if (::geteuid() != 0)
            QSKIP("acting as the server's account and as another user needs root");
        constexpr int server = 64001; // the server's account, as mssql
        constexpr int user = 64002;   // the user this program runs as
        QTemporaryDir container;      // the server's own file system
        StandinScript script;
        script.fileUid = server;
        script.fileGid = server;
        if (setUp == u"container"_s)
            script.fileRoot = container.path();
        Job job(script);
        const QByteArray programFolder = QFile::encodeName(job.folder.path());
        QVERIFY(::chown(programFolder.constData(), user, user) == 0);
        QVERIFY(::chmod(programFolder.constData(), 0755) == 0);
        const QString dir = job.folder.file(u"backup"_s);
        const QString file = dir + u"/Sales.bak"_s;
        QVERIFY(QDir().mkpath(dir));
        const QByteArray folder = QFile::encodeName(dir);
        if (setUp == u"group"_s) {
            QVERIFY(::chown(folder.constData(), server, server) == 0);
            QVERIFY(::chmod(folder.constData(), 02770) == 0);
        } else if (setUp == u"server only"_s) {
            QVERIFY(::chown(folder.constData(), server, server) == 0);
            QVERIFY(::chmod(folder.constData(), 0755) == 0);
        } else if (setUp == u"sticky"_s) {
            QVERIFY(::chmod(folder.constData(), 01777) == 0);
        } else {
            QVERIFY(::chown(folder.constData(), user, user) == 0);
            const QByteArray inside = QFile::encodeName(container.path() + dir);
            QVERIFY(QDir().mkpath(container.path() + dir));
            QVERIFY(::chmod(QFile::encodeName(container.path()).constData(), 0755) == 0);
            QVERIFY(::chown(inside.constData(), server, server) == 0);
        }
        job.form.TxtPath->setText(file);
        for (int run = 0; run < 2; ++run) {
            test::ActAsUser as(user, user, setUp == u"group"_s ? QList<int>{server} : QList<int>{});
            QVERIFY(as.ok());
            job.clock.advanceSeconds(3600);
            job.form.CmdBackup->click();
            QVERIFY2(job.log().last() == " ", job.log().last().constData());
        }
        const QByteArray note = "Il backup viene scritto direttamente nel file " + file.toUtf8();
        int notes = 0;
        for (const QByteArray& line : job.log()) {
            if (!line.startsWith(note))
                continue;
            ++notes;
            QVERIFY2(line.contains(why) && line.contains("Per conservarlo: "), line.constData());
        }
        QCOMPARE(notes, why.isEmpty() ? 0 : 2);
        QCOMPARE(job.standin.Backups().size(), 2);
        for (const test::BackupStatement& statement : job.standin.Backups()) {
            QCOMPARE(statement.disks, QStringList{why.isEmpty() ? file + u".vestrel-new"_s : file});
            QVERIFY(statement.format && statement.init);
        }
        const QString written = setUp == u"container"_s ? container.path() + file : file;
        const test::media::Media media = test::media::ReadFile(written);
        QCOMPARE(media.sets.size(), 1);
        QVERIFY(media.complete && media.sets.first().intact);
        QCOMPARE(QFileInfo(written).ownerId(), uint(server));
        // Nothing else is left, neither here nor in the server's file system.
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 setUp == u"container"_s ? QStringList() : QStringList{u"Sales.bak"_s});
        QCOMPARE(QDir(QFileInfo(written).path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"Sales.bak"_s});
    }

    // A link planted where the lock file goes is not followed: the file it points to stays as
    // it was, and the lock is taken in the program's own folder instead.
    void aLinkAtTheLockIsNotFollowed() {
        Job job;
        const QString file = job.folder.file(u"Sales.bak"_s);
        const QString victim = job.folder.file(u"victim.txt"_s);
        {
            QFile target(victim);
            QVERIFY(target.open(QIODevice::WriteOnly));
            target.write("not the lock's");
        }
        QVERIFY(QFile::link(victim, file + u".vestrel-lock"_s));
        job.form.CmdBackup->click();
        QVERIFY2(job.log().last() == " ", job.log().last().constData());
        QCOMPARE(read(victim), "not the lock's"_ba);
        QVERIFY(QFileInfo(file + u".vestrel-lock"_s).isSymLink());
        QVERIFY(test::media::ReadFile(file).complete);
    }

    // A temporary file of an earlier run that cannot be removed does not stop the next run,
    // and a verified backup that cannot be put in place is named in the log.
    void leftoversAndAFailedReplace() {
        Job job;
        const QString file = job.folder.file(u"Sales.bak"_s);
        QVERIFY(QDir().mkpath(file + u".vestrel-new/in the way"_s));
        job.form.CmdBackup->click();
        QVERIFY2(job.log().last() == " ", job.log().last().constData());
        QCOMPARE(job.standin.Backups().last().disks, QStringList{file + u".vestrel-new2"_s});
        QVERIFY(job.log().contains("Impossibile eliminare il file " + file.toUtf8() +
                                   ".vestrel-new di un backup precedente (Directory not "
                                   "empty): il backup viene scritto accanto con un altro nome."));
        QVERIFY(test::media::ReadFile(file).complete);

        // The old file's place is taken by a folder: the verified backup stays beside.
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir().mkpath(file + u"/in the way"_s));
        job.clock.advanceSeconds(3600);
        job.form.CmdBackup->click();
        const QByteArray last = job.log().last();
        QVERIFY2(last.startsWith("Errore Impossibile sostituire il file " + file.toUtf8() +
                                 " con il backup verificato: ") &&
                     last.endsWith(". Il backup verificato \xc3\xa8 nel file " + file.toUtf8() +
                                   ".vestrel-new2."),
                 last.constData());
        QVERIFY(test::media::ReadFile(file + u".vestrel-new2"_s).complete);
    }

    // A file name config.ini could not keep whole is refused at the run: the next start would
    // read it back as another file's name.
    void aFileNameTooLongToKeep() {
        Job job;
        const QString file = job.folder.file(QString(255, u'x'));
        job.form.TxtPath->setText(file);
        job.form.CmdBackup->click();
        const QList<QByteArray> log = job.log();
        QCOMPARE(log.mid(0, 8), job.startBlock(file));
        QCOMPARE(log.size(), 9);
        QVERIFY2(log.last().startsWith("Errore Nome del file di backup troppo lungo: il valore "
                                       "di \"FileName\" \xc3\xa8 troppo lungo (") &&
                     log.last().endsWith(" Scegliere un nome pi\xc3\xb9 corto."),
                 log.last().constData());
        QVERIFY(job.standin.Logins().isEmpty());
    }

    void namesReachTheServerQuoted() {
        Job job;
        const QString database = u"a]b'; DROP DATABASE x --"_s;
        const QString file = job.folder.file(u"it's; [here] -- too.bak"_s);
        job.form.txtDBName->setText(database);
        job.form.TxtPath->setText(file);
        job.form.CmdBackup->click();
        QVERIFY2(job.log().last() == " ", job.log().last().constData());
        QCOMPARE(job.standin.Backups().size(), 1);
        QCOMPARE(job.standin.Backups().first().database, database);
        QCOMPARE(job.standin.Backups().first().disks, QStringList{file + u".vestrel-new"_s});
        QVERIFY(read(file).contains(database.toUtf8()));
    }

    void aSecondClickWhileRunningDoesNothing() {
        StandinScript script;
        script.pauseAtPercent = 21;
        Job job(script);
        bool clicked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &job.form, [&] {
            if (clicked || !job.standin.WaitPaused(0))
                return;
            clicked = true;
            QVERIFY(!job.form.CmdBackup->isEnabled());
            job.form.CmdBackup_Click();
            job.standin.Resume();
        });
        poll.start(5);
        job.form.CmdBackup->click();
        QVERIFY(clicked);
        QCOMPARE(job.standin.Backups().size(), 1);
        int starts = 0;
        for (const QByteArray& line : job.log())
            starts += line.startsWith("Inizio Backup") ? 1 : 0;
        QCOMPARE(starts, 1);
    }

    // A log that cannot be written ends the job cleanly, with the error lamp.
    void anUnwritableLog() {
        Job job;
        QVERIFY(QDir(job.folder.path()).mkdir(u"Command.log"_s));
        job.form.CmdBackup->click();
        QVERIFY(!bBackupRunning);
        QCOMPARE(job.form.ShpStat(3)->fillColor(), QColor(0xFF, 0xFF, 0));
        QVERIFY(job.standin.Logins().isEmpty());
        QVERIFY(job.form.CmdBackup->isEnabled());
    }

    // "Chiudi" during a backup: the exit waits for the job, then its lines follow the job's.
    // Last, because the exit ends the application's event loops.
    void closingDuringABackup_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("sessionEnds");
        // "answers": the stand-in holds the backup after 32 % and, once released, stops it at
        // the ATTENTION (or acknowledges it after the end when it comes that late); "stalls": it
        // stops after 32 % and never answers again; "login": it never answers the login (the job
        // would wait out its 15 s login timeout); "lookup": the server's name takes the
        // resolver 30 s.
        for (const QString& server : {u"answers"_s, u"stalls"_s, u"login"_s, u"lookup"_s}) {
            QTest::addRow("Chiudi, %s", qPrintable(server)) << server << false;
            QTest::addRow("session end, %s", qPrintable(server)) << server << true;
        }
    }
    void closingDuringABackup() {
        QFETCH(QString, server);
        QFETCH(bool, sessionEnds);
        const bool stalls = server == u"stalls"_s;
        const bool login = server == u"login"_s;
        StandinScript script;
        (stalls ? script.stallAtPercent : script.pauseAtPercent) = 32;
        script.loginNeverAnswers = login;
        const bool lookup = server == u"lookup"_s;
        SlowResolver resolver;
        std::optional<ScopedSeam<IHostNetwork>> slow;
        if (lookup)
            slow.emplace(HostNetworkSeam(), &resolver);
        Job job(script);
        if (lookup)
            job.form.txtSrv->setText(u"sql.slow.test,%1"_s.arg(job.standin.Port()));
        const QString file = job.folder.file(u"Sales.bak"_s);
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("the last good backup");
        old.close();
        job.form.show();
        bool asked = false;
        QElapsedTimer sinceAsked;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &job.form, [&] {
            // Once the window has shown 32 %: what the server sent after the cancel request is
            // not reported.
            const bool ready = lookup  ? resolver.asked
                               : login ? !job.standin.Logins().isEmpty()
                               : stalls
                                   ? job.standin.WaitStalled(0) && job.form.PgBar->value() == 32
                                   : job.standin.WaitPaused(0) && job.form.PgBar->value() == 32;
            if (asked || !ready)
                return;
            asked = true;
            sinceAsked.start();
            if (sessionEnds)
                job.form.EndSession();
            else
                job.form.icontray_PopMenuClick(5); // "Chiudi"
            QVERIFY(!job.form.bUnload);
            if (server == u"answers"_s)
                job.standin.Resume();
        });
        poll.start(5);
        job.form.CmdBackup->click();
        QVERIFY(asked);
        QVERIFY2(sinceAsked.elapsed() < 10000, qPrintable(QString::number(sinceAsked.elapsed())));
        QCOMPARE(job.form.bUnload, !sessionEnds);
        QVERIFY(!job.form.isVisible());
        QCOMPARE(read(file), "the last good backup"_ba);
        QCOMPARE(QDir(job.folder.path()).entryList({u"Sales.bak*"_s}, QDir::Files),
                 QStringList{u"Sales.bak"_s});

        QByteArray why = sessionEnds ? "Backup annullato per la fine della sessione."
                                     : "Backup annullato per la chiusura del programma.";
        const QByteArray givenUp = " Il server non ha risposto e non viene pi\xc3\xb9 atteso.";
        if (stalls || login)
            why += givenUp;
        QList<QByteArray> log = job.log();
        // Rarely (about once in 40 runs, on a busy machine) the driver has not finished the
        // cancel with the answering stand-in within the grace time either: the job is then
        // given up on all the same, which the line says.
        const qsizetype errorLine = log.indexOf("Errore " + why + givenUp);
        if (!stalls && !login && errorLine >= 0) {
            qWarning("the answering server's cancel was given up on");
            log[errorLine] = "Errore " + why;
        }
        QList<QByteArray> expected = job.startBlock(file);
        if (lookup)
            expected[2] = "Nome Server : " + job.form.txtSrv->text().toUtf8();
        if (!login && !lookup)
            expected += progressLines().mid(0, 3);
        expected += "Errore " + why;
        if (!sessionEnds)
            expected += QList<QByteArray>{" ",
                                          "Chiusura transazioni..",
                                          " ",
                                          kRule,
                                          "Chiusura Programma in data 07/12/2026 alle ore 10.25.00",
                                          kRule,
                                          " "};
        QCOMPARE(log, expected);
    }
};

QTEST_MAIN(TestBackupJob)
#include "tst_backupjob.moc"
