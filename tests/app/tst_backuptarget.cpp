#include "app/backuptarget.h"
#include "platform/error.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

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
        const BackupTarget local(dir.filePath(u"db.bak"_s), true);
        QVERIFY(local.local());
        QCOMPARE(local.serverPath(), dir.filePath(u"db.bak.vestrel-new"_s));

        // Names this machine cannot look at go to the server unchanged (a drive letter only
        // where there are no drives).
        QStringList remotes{u"relative.bak"_s, dir.filePath(u"no such folder/db.bak"_s)};
#ifndef Q_OS_WIN
        remotes << u"C:\\Backup_07122026_102500"_s;
#endif
        for (const QString& remote : std::as_const(remotes)) {
            const BackupTarget target(remote, true);
            QVERIFY2(!target.local(), qPrintable(remote));
            QCOMPARE(target.serverPath(), remote);
            target.Prepare();
            target.Commit();
            target.Discard();
        }

        // A remote server's path is on its own disks, even where this machine has a folder of
        // the same name: handed over unchanged, nothing here is touched.
        const QString file = dir.filePath(u"db.bak"_s);
        write(file, "a file of this machine");
        const BackupTarget remote(file, false);
        QVERIFY(!remote.local());
        QCOMPARE(remote.serverPath(), file);
        remote.Prepare();
        remote.Discard();
        QCOMPARE(read(file), "a file of this machine"_ba);
        QVERIFY(!QFile::exists(file + u".vestrel-new"_s));

        // A network share's path is the same file from both sides, whoever the server is.
        const BackupTarget share(u"\\\\nas\\backup\\db.bak"_s, false);
        QVERIFY(!share.local()); // no such share here, so nothing to look at
        QCOMPARE(share.serverPath(), u"\\\\nas\\backup\\db.bak"_s);
    }

    void aFinishedBackupReplacesTheOldOne() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"db.bak"_s);
        write(file, "old backup");
        auto target = std::make_unique<BackupTarget>(file, true);
        write(target->serverPath(), "left by a crash");
        target->Prepare();
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
        const BackupTarget target(file, true);
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
        const BackupTarget target(file, true);
        target.Prepare();
        write(target.serverPath(), "new backup");
        QVERIFY_THROWS_EXCEPTION(Error, target.Commit());
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
        const BackupTarget first(file, true);
        first.Prepare();
        write(first.serverPath(), "first's partial");
        {
            const BackupTarget second(file, true);
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
            const BackupTarget target(file, true);
            QVERIFY_THROWS_EXCEPTION(Error, target.Prepare());
        }
        holder.kill(); // SIGKILL: no chance to clean up
        QVERIFY(holder.waitForFinished(5000));
        {
            const BackupTarget target(file, true);
            target.Prepare();
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestBackupTarget)
#include "tst_backuptarget.moc"
