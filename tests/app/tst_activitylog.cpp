#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/programfolder.h"
#include "support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QTest>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace vestrel;
using namespace Qt::StringLiterals;

class TestActivityLog : public QObject {
    Q_OBJECT
private slots:
    void lineFormat_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << u"Avviata sequenza automatica.."_s
                               << "07/12/2026 10.25.00 > Avviata sequenza automatica..\r\n"_ba;
        // The separator's blank and the text's blank: the line ends in ">" and two blanks.
        QTest::newRow("one blank") << u" "_s << "07/12/2026 10.25.00 >  \r\n"_ba;
        QTest::newRow("empty") << QString() << "07/12/2026 10.25.00 > \r\n"_ba;
        // Only the first physical line carries the stamp.
        QTest::newRow("two lines") << u"a\r\nb"_s << "07/12/2026 10.25.00 > a\r\nb\r\n"_ba;
    }
    void lineFormat() {
        QFETCH(QString, text);
        QFETCH(QByteArray, line);
        test::TempProgramFolder folder;
        test::FakeClock clock;
        test::PinnedFormats formats;
        QVERIFY(WriteLog(text));
        QCOMPARE(folder.read(u"Command.log"_s), line);
    }

    void midnightStampIsTheDateAlone() {
        test::TempProgramFolder folder;
        test::FakeClock clock(QDateTime(QDate(2026, 12, 8), QTime(0, 0)));
        test::PinnedFormats formats;
        QVERIFY(WriteLog(u"x"_s));
        QCOMPARE(folder.read(u"Command.log"_s), "08/12/2026 > x\r\n"_ba);
    }

    void appendsAndRecreatesADeletedLog() {
        test::TempProgramFolder folder;
        test::FakeClock clock;
        test::PinnedFormats formats;
        {
            QFile old(folder.file(u"Command.log"_s));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("earlier line\r\n");
        }
        QVERIFY(WriteLog(u"one"_s));
        clock.advanceSeconds(1);
        QVERIFY(WriteLog(u"two"_s));
        QCOMPARE(folder.lines(u"Command.log"_s),
                 (QList<QByteArray>{"earlier line", "07/12/2026 10.25.00 > one",
                                    "07/12/2026 10.25.01 > two"}));

        QVERIFY(QFile::remove(folder.file(u"Command.log"_s)));
        QVERIFY(WriteLog(u"three"_s));
        QCOMPARE(folder.lines(u"Command.log"_s),
                 (QList<QByteArray>{"07/12/2026 10.25.01 > three"}));
    }

    void textIsWrittenInTheSystemCodePage() {
        test::TempProgramFolder folder;
        test::FakeClock clock;
        test::PinnedFormats formats;
        QVERIFY(WriteLog(u"Ore di Attivit\u00e0"_s));
#ifdef Q_OS_WIN
        // The ANSI code page, as Windows converts to it.
        char agrave[4] = {};
        const int n = WideCharToMultiByte(CP_ACP, 0, L"\u00e0", 1, agrave, 4, nullptr, nullptr);
        QVERIFY(n > 0);
        QCOMPARE(folder.read(u"Command.log"_s),
                 "07/12/2026 10.25.00 > Ore di Attivit"_ba + QByteArray(agrave, n) + "\r\n");
#else
        // The tests run in a UTF-8 locale: no byte-order mark, the text as UTF-8.
        QCOMPARE(folder.read(u"Command.log"_s),
                 "07/12/2026 10.25.00 > Ore di Attivit\xc3\xa0\r\n"_ba);
#endif
    }

    // Root may write anywhere, so the failures are made with paths that cannot be files.
    void unwritableLogFailsCleanly() {
        test::TempProgramFolder folder;
        QVERIFY(QDir(folder.path()).mkdir(u"Command.log"_s));
        QString error;
        QVERIFY(!WriteLog(u"lost"_s, &error));
        QVERIFY(!error.isEmpty());

        SetProgramFolder(folder.file(u"no such folder"_s));
        QVERIFY(!WriteLog(u"lost"_s));
        QVERIFY(!QFile::exists(folder.file(u"no such folder/Command.log"_s)));
        SetProgramFolder(folder.path());
    }

    void showStatusAppendsToTheBoxThenLogs() {
        test::TempProgramFolder folder;
        test::FakeClock clock;
        test::PinnedFormats formats;
        FMain window;
        QVERIFY(window.ShowStatus(u"a"_s));
        QVERIFY(window.ShowStatus(u"b"_s));
        QVERIFY(window.ShowStatus(u"c"_s));
        QCOMPARE(window.txtStatus->text(), u"a\r\nb\r\nc\r\n"_s);
        QCOMPARE(folder.lines(u"Command.log"_s),
                 (QList<QByteArray>{"07/12/2026 10.25.00 > a", "07/12/2026 10.25.00 > b",
                                    "07/12/2026 10.25.00 > c"}));
    }

    void showStatusKeepsTheLineOnScreenWhenTheLogFails() {
        test::TempProgramFolder folder;
        QVERIFY(QDir(folder.path()).mkdir(u"Command.log"_s));
        FMain window;
        window.txtStatus->setText(u"earlier\r\n"_s);
        QVERIFY(!window.ShowStatus(u"x"_s));
        QCOMPARE(window.txtStatus->text(), u"earlier\r\nx\r\n"_s);
    }
};

QTEST_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
