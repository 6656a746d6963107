#include "job/backuptarget.h"
#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/programfolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestBackupTarget : public QObject {
    Q_OBJECT
private slots:
    void whereTheServerWrites() {
        QTemporaryDir dir;
        BackupTarget local(dir.filePath(u"db.bak"_s), true);
        local.Prepare();
        QVERIFY(local.local());
        QVERIFY(local.notes().isEmpty());
        QCOMPARE(local.serverPath(), dir.filePath(u"db.bak.vestrel-new"_s));

        // Names this machine cannot look at go to the server unchanged (a drive letter only
        // where there are no drives).
        QStringList remotes{u"relative.bak"_s, dir.filePath(u"no such folder/db.bak"_s)};
#ifndef Q_OS_WIN
        remotes << u"C:\\Backup_07122026_102500"_s;
#endif
        for (const QString& remote : std::as_const(remotes)) {
            BackupTarget target(remote, true);
            target.Prepare();
            QVERIFY2(!target.local(), qPrintable(remote));
            QCOMPARE(target.serverPath(), remote);
            QCOMPARE(target.notes().size(), 1);
            target.Commit();
            target.Discard();
        }

        // A remote server's path is on its own disks, even where this machine has a folder of
        // the same name: handed over unchanged, nothing here is touched.
        const QString file = dir.filePath(u"db.bak"_s);
        write(file, "a file of this machine");
        BackupTarget remote(file, false);
        remote.Prepare();
        QVERIFY(!remote.local());
        QCOMPARE(remote.serverPath(), file);
        QVERIFY(remote.notes().first().contains(u"sui dischi del server"_s));
        remote.Discard();
        QCOMPARE(read(file), "a file of this machine"_ba);
        QVERIFY(!QFile::exists(file + u".vestrel-new"_s));

        // A network share's path is the same file from both sides, whoever the server is.
        BackupTarget share(u"\\\\nas\\backup\\db.bak"_s, false);
        share.Prepare();
        QVERIFY(!share.local()); // no such share here, so nothing to look at
        QCOMPARE(share.serverPath(), u"\\\\nas\\backup\\db.bak"_s);
    }

    void aFinishedBackupReplacesTheOldOne() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"db.bak"_s);
        write(file, "old backup");
        auto target = std::make_unique<BackupTarget>(file, true);
        write(file + u".vestrel-new"_s, "left by a crash");
        target->Prepare();
        QCOMPARE(target->serverPath(), file + u".vestrel-new"_s);
        QVERIFY(!QFile::exists(target->serverPath()));
        QCOMPARE(read(file), "old backup"_ba);

        write(target->serverPath(), "new backup");
        target->Commit();
        QCOMPARE(read(file), "new backup"_ba);
        QVERIFY(!QFile::exists(target->serverPath()));
        target.reset();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"db.bak"_s});
    }

    void aFailedBackupLeavesTheOldOne() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"db.bak"_s);
        write(file, "old backup");
        BackupTarget target(file, true);
        target.Prepare();
        write(target.serverPath(), "partial");
        target.Discard();
        QCOMPARE(read(file), "old backup"_ba);
        QVERIFY(!QFile::exists(target.serverPath()));
    }

    void aBackupThatCannotBePutInPlaceStaysBeside() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"db.bak"_s);
        QVERIFY(QDir(dir.path()).mkpath(u"db.bak/inside"_s)); // a folder where the file should go
        BackupTarget target(file, true);
        target.Prepare();
        write(target.serverPath(), "new backup");
        try {
            target.Commit();
            QFAIL("a backup was put where a folder stands");
        } catch (const Error& error) {
            // The failure names the file that holds the verified backup.
            QVERIFY2(error.description().endsWith(u"Il backup verificato \u00e8 nel file "_s +
                                                  target.serverPath() + u"."_s),
                     qPrintable(error.description()));
        }
        target.Discard(); // what the job's error path does
        QCOMPARE(read(target.serverPath()), "new backup"_ba);

        // A server that wrote somewhere this machine does not see is a failure too.
        QVERIFY(QFile::remove(target.serverPath()));
        QVERIFY_THROWS_EXCEPTION(Error, target.Commit());
    }

    // Two programs backing up to one file: the second one fails and leaves the first one's
    // partial file alone; the first one goes on to put its backup in place.
    void twoRunsOnOneTarget() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"db.bak"_s);
        write(file, "old backup");
        BackupTarget first(file, true);
        first.Prepare();
        write(first.serverPath(), "first's partial");
        {
            BackupTarget second(file, true);
            try {
                second.Prepare();
                QFAIL("the second run was let in");
            } catch (const Error& error) {
                QVERIFY2(
                    error.description().startsWith(
                        u"Il file "_s + file + u" \u00e8 in uso da un altro backup in corso ("_s),
                    qPrintable(error.description()));
            }
            second.Discard(); // what its job's error path does
            QVERIFY_THROWS_EXCEPTION(Error, second.Commit());
        }
        QCOMPARE(read(first.serverPath()), "first's partial"_ba);
        write(first.serverPath(), "first's backup");
        first.Commit();
        QCOMPARE(read(file), "first's backup"_ba);
    }

    // The lock dies with its holder, also a killed one; after a released one the lock file is
    // gone.
    void theLockEndsWithItsHolder() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"db.bak"_s);
        QProcess holder;
        holder.start(QStringLiteral(VESTREL_LOCK_HOLDER), {file + u".vestrel-lock"_s});
        QVERIFY(holder.waitForReadyRead(5000));
        QCOMPARE(holder.readAllStandardOutput().trimmed(), "locked"_ba);
        {
            BackupTarget target(file, true);
            QVERIFY_THROWS_EXCEPTION(Error, target.Prepare());
        }
        holder.kill(); // SIGKILL: no chance to clean up
        QVERIFY(holder.waitForFinished(5000));
        {
            BackupTarget target(file, true);
            target.Prepare();
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }

    // A server that does not find the file we made in the target's folder writes into a file
    // system of its own: the file is then written in place, and the run says why.
    void aServerThatDoesNotSeeOurFiles() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"db.bak"_s);
        QStringList asked;
        BackupTarget target(file, true);
        target.Prepare([&](const QString& path) {
            asked << path;
            return !QFile::exists(path); // it was there when the server was asked
        });
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().startsWith(file + u".vestrel-"_s));
        QVERIFY(!target.local());
        QCOMPARE(target.serverPath(), file);
        QCOMPARE(target.notes().size(), 1);
        QVERIFY(target.notes().first().contains(u"file system suo"_s));
        // Only the lock is left of what was made in the folder.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"db.bak.vestrel-lock"_s});
    }

    // A name too long for the lock file beside it: the lock goes to the program's state
    // folder, under a name made from the target's full path, and the file is written in place.
    void aLockThatCannotLiveBeside() {
        QTemporaryDir dir;
        QTemporaryDir state;
        SetProgramFolder(state.path());
        const QString file = dir.filePath(QString(250, u'x'));
        {
            BackupTarget target(file, true);
            target.Prepare();
            QVERIFY(target.lockPath().startsWith(state.path() + u"/vestrel-lock-"_s));
            QVERIFY(QFile::exists(target.lockPath()));
            QVERIFY(!target.local());
            QVERIFY(target.notes().first().contains(u"il nome del file \u00e8 troppo lungo"_s));
            // Another run on the same file finds the same lock.
            BackupTarget second(file, true);
            QVERIFY_THROWS_EXCEPTION(Error, second.Prepare());
        }
        QCOMPARE(QDir(state.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
        SetProgramFolder(QString());
    }

    // What stands at the lock file's name and is not a lock file of this user is neither
    // followed, nor truncated, nor written to.
    void theLockFileMustBeOurs_data() {
        QTest::addColumn<QString>("what");
#ifndef Q_OS_WIN // QFile::link makes a shortcut there, and there are no named pipes in folders
        QTest::newRow("symbolic link") << u"link"_s;
        QTest::newRow("named pipe") << u"fifo"_s;
#endif
        QTest::newRow("second name of a file") << u"hard link"_s;
    }
    void theLockFileMustBeOurs() {
        QFETCH(QString, what);
        QTemporaryDir dir;
        const QString victim = dir.filePath(u"victim"_s);
        const QString lock = dir.filePath(u"db.bak.vestrel-lock"_s);
        write(victim, "keep me");
        if (what == u"hard link"_s) {
            std::error_code error;
            std::filesystem::create_hard_link(victim.toStdU16String(), lock.toStdU16String(),
                                              error);
            QVERIFY2(!error, error.message().c_str());
        }
#ifndef Q_OS_WIN
        else if (what == u"link"_s)
            QVERIFY(QFile::link(victim, lock));
        else
            QVERIFY(::mkfifo(QFile::encodeName(lock).constData(), 0644) == 0);
#endif
        FileLock fileLock(lock);
        QString why;
        QCOMPARE(fileLock.TryLock(u"me"_s, &why), FileLock::Result::Failed);
        QVERIFY(!why.isEmpty());
        QCOMPARE(read(victim), "keep me"_ba);
    }
};

QTEST_GUILESS_MAIN(TestBackupTarget)
#include "tst_backuptarget.moc"
