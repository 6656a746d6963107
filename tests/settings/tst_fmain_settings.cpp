#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/gui/filedialog.h"
#include "support/fixtures.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace vestrel;
using namespace vestrel::test;
using namespace Qt::StringLiterals;

namespace {

// Answers the file dialog as the test says and keeps the last request.
class FakeFileDialog final : public IFileDialog {
public:
    FakeFileDialog() : scope_(FileDialogSeam(), this) {}
    std::optional<QString> GetOpenFileName(const FileDialogRequest& request,
                                           QWidget* parent) override {
        ++calls;
        last = request;
        lastParent = parent;
        if (fail)
            throw std::runtime_error("dialog failed");
        return answer;
    }
    std::optional<QString> answer;
    bool fail = false;
    int calls = 0;
    FileDialogRequest last;
    QWidget* lastParent = nullptr;

private:
    ScopedSeam<IFileDialog> scope_;
};

QColor blue() {
    return Rgb(0x0000FF);
}
QColor white() {
    return Rgb(0xFFFFFF);
}

} // namespace

class TestFMainSettings : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TempProgramFolder> folder_;
    QString iniPath() const { return folder_->file(u"config.ini"_s); }
    void createIni(const QByteArray& bytes = {}) {
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray value(const QString& section, const QString& key) {
        CIniFile reader;
        reader.IniFileName(iniPath());
        return reader.GetValue(section, key, u"<missing>"_s).toUtf8();
    }

private slots:
    void init() {
        folder_ = std::make_unique<TempProgramFolder>();
        oIni = CIniFile();
        oIni.IniFileName(iniPath());
        Settings = SettingsRecord();
        ArrayTempo.fill(false);
    }
    void cleanup() { folder_.reset(); }

    void enablingRuleKeepsTexts() {
        FMain form;
        form.txtUsr->setText(u"sa"_s);
        form.txtPwd->setText(u"secret"_s);
        QTest::mouseClick(form.chkIntegrated, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(form.chkIntegrated->isChecked());
        QVERIFY(!form.txtUsr->isEnabled());
        QVERIFY(!form.txtPwd->isEnabled());
        QCOMPARE(form.txtUsr->text(), u"sa"_s);
        QCOMPARE(form.txtPwd->text(), u"secret"_s);
        QTest::mouseClick(form.chkIntegrated, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(form.txtUsr->isEnabled());
        QVERIFY(form.txtPwd->isEnabled());
        QCOMPARE(form.txtPwd->text(), u"secret"_s);
        // A state set by the program follows the same rule.
        form.chkIntegrated->setCheckState(Qt::PartiallyChecked);
        QVERIFY(form.txtUsr->isEnabled());
        form.chkIntegrated->setChecked(true);
        QVERIFY(!form.txtPwd->isEnabled());
    }

    void loadButtonRestoresTheRecord() {
        Settings = {u"srv"_s, u"db"_s, u"usr"_s, u"pwd"_s, true, u"/b/x.bak"_s};
        ArrayTempo[3] = ArrayTempo[22] = true;
        FMain form;
        form.ShowSettings();
        QVERIFY(!form.txtUsr->isEnabled());

        form.txtSrv->setText(u"edited"_s);
        form.TxtPath->setText(u"edited.bak"_s);
        form.chkIntegrated->setChecked(false);
        for (int hour = 0; hour < 24; ++hour)
            form.CmdHour(hour)->setBackColor(Rgb(0x123456));
        createIni("[Connection String]\r\nData Source=from the file\r\n");

        QTest::mouseClick(form.CmdLoad, Qt::LeftButton);
        QCOMPARE(form.txtSrv->text(), u"srv"_s); // the record, not the file
        QCOMPARE(form.txtDBName->text(), u"db"_s);
        QCOMPARE(form.txtUsr->text(), u"usr"_s);
        QCOMPARE(form.txtPwd->text(), u"pwd"_s);
        QCOMPARE(form.TxtPath->text(), u"/b/x.bak"_s);
        QVERIFY(form.chkIntegrated->isChecked());
        QVERIFY(!form.txtUsr->isEnabled());
        QVERIFY(!form.txtPwd->isEnabled());
        for (int hour = 0; hour < 24; ++hour)
            QCOMPARE(form.CmdHour(hour)->backColor(), hour == 3 || hour == 22 ? blue() : white());
    }

    void showReplacesTheDesignTexts() {
        FMain form;
        QVERIFY(!form.txtSrv->text().isEmpty());
        form.txtUsr->setEnabled(false); // locked by someone else; the rule puts it right
        form.ShowSettings();
        QCOMPARE(form.txtSrv->text(), QString());
        QCOMPARE(form.txtUsr->text(), QString());
        QVERIFY(form.txtUsr->isEnabled());
        QVERIFY(!form.chkIntegrated->isChecked());
        QCOMPARE(form.CmdHour(0)->backColor(), white());
    }

    void saveWritesTheWindow() {
        createIni();
        MessageBoxRecorder boxes;
        FMain form;
        form.txtSrv->setText(u"SRV\\SQL"_s);
        form.txtDBName->setText(u"Gestionale"_s);
        form.txtUsr->setText(u" sa"_s);
        form.txtPwd->setText(u"p;w=d"_s);
        form.TxtPath->setText(u"/backup/g.bak"_s);
        form.chkIntegrated->setChecked(true); // the boxes are disabled but still saved
        ArrayTempo[0] = ArrayTempo[23] = true;
        form.CmdHour(5)->setBackColor(blue()); // colours are not the flags
        QTest::mouseClick(form.CmdSave, Qt::LeftButton);

        QVERIFY(boxes.texts.isEmpty());
        QCOMPARE(
            folder_->lines(u"config.ini"_s),
            (QList<QByteArray>{"[Connection String]", "Integrated Security=1", "User ID= sa",
                               "Initial Catalog=Gestionale", "Data Source=SRV\\SQL",
                               "Password=p;w=d", "[Opzioni_Avanzate]", "FileName=/backup/g.bak",
                               "ARRAY_TEMPO=1|" + QByteArray("0|").repeated(22) + "1|"}));
        QCOMPARE(Settings.sDataSource, u"SRV\\SQL"_s);
        QCOMPARE(Settings.sUserID, u" sa"_s);
        QCOMPARE(Settings.sPassword, u"p;w=d"_s);
        QVERIFY(Settings.bIntegratedSecurity);

        // What was saved loads back the same.
        SettingsRecord loaded;
        HourFlags flags{};
        LoadSettings(oIni, loaded, flags);
        QCOMPARE(loaded.sInitialCatalog, u"Gestionale"_s);
        QCOMPARE(loaded.sPassword, u"p;w=d"_s);
        QCOMPARE(loaded.sBackupFile, u"/backup/g.bak"_s);
        QVERIFY(loaded.bIntegratedSecurity);
        QVERIFY(flags == ArrayTempo);

        form.chkIntegrated->setChecked(false);
        form.SaveSettings();
        QCOMPARE(value(u"Connection String"_s, u"Integrated Security"_s), "0"_ba);
        QVERIFY(!Settings.bIntegratedSecurity);
    }

    void saveWithoutFile() {
        MessageBoxRecorder boxes;
        FMain form;
        form.txtSrv->setText(u"srv"_s);
        form.TxtPath->setText(u"x.bak"_s);
        form.SaveSettings();
        const QString message =
            u"File di informazioni di configurazione "_s + iniPath() + u" inesistente."_s;
        QCOMPARE(boxes.texts, QStringList(7, message));
        QVERIFY(!QFile::exists(iniPath()));
        QCOMPARE(Settings.sDataSource, u"srv"_s);
        QCOMPARE(Settings.sBackupFile, u"x.bak"_s);
    }

    // A config.ini of the Windows edition, in its ANSI code page: what "&Salva" writes back
    // after a load and a show is the same file, byte for byte.
    void windows1252RoundTrip() {
        const QByteArray original =
            "; Configurazione della Societ\xE0\r\n"
            "[Connection String]\r\n"
            "Integrated Security=0\r\n"
            "User ID=Niccol\xF2\r\n"
            "Initial Catalog=Contabilit\xE0\r\n"
            "Data Source=SRV\\CITT\xC0\r\n"
            "Password=perch\xE9\x80\xFC\r\n"
            "[Opzioni_Avanzate]\r\n"
            "FileName=D:\\Backup\\Societ\xE0 \xAB"
            "1\xBB.bak\r\n"
            "ARRAY_TEMPO=0|0|0|0|0|0|0|0|1|1|1|1|1|1|1|1|1|1|0|0|0|0|0|0|\r\n";
        createIni(original);
        MessageBoxRecorder boxes;
        vestrel::LoadSettings();
        FMain form;
        form.ShowSettings();
        QCOMPARE(form.txtDBName->text(), u"Contabilit\u00e0"_s);
        QCOMPARE(form.txtPwd->text(), u"perch\u00e9\u20ac\u00fc"_s);
        QCOMPARE(form.TxtPath->text(), u"D:\\Backup\\Societ\u00e0 \u00ab1\u00bb.bak"_s);
        QTest::mouseClick(form.CmdSave, Qt::LeftButton);
        QVERIFY(boxes.texts.isEmpty());
        QCOMPARE(folder_->read(u"config.ini"_s), original);
    }

    // A save that did not reach the file says so once, with the file and the reason.
    void failedSaveSaysWhy() {
        createIni("[Connection String]\r\nData Source=Societ\xE0\r\n"); // Windows-1252
        MessageBoxRecorder boxes;
        FMain form;
        form.txtSrv->setText(u"\u0141\u00f3d\u017a"_s); // not in Windows-1252
        form.txtDBName->setText(u"Citt\u00e0"_s);
        QTest::mouseClick(form.CmdSave, Qt::LeftButton);
#ifdef Q_OS_WIN
        QEXPECT_FAIL("",
                     "on Windows a character outside the ANSI code page becomes '?' before "
                     "the INI functions see it: not refused yet",
                     Abort);
#endif
        QCOMPARE(boxes.texts,
                 QStringList{u"Impossibile salvare le impostazioni nel file "_s + iniPath() +
                             u": il valore di \"Data Source\" contiene caratteri che la codifica "
                             u"del file (Windows-1252) non pu\u00f2 rappresentare."_s});
        QCOMPARE(boxes.captions, QStringList{u"Corbanel"_s});
        // The other keys are written, in the file's encoding.
        QVERIFY(folder_->read(u"config.ini"_s).contains("Data Source=Societ\xE0\r\n"));
        QVERIFY(folder_->read(u"config.ini"_s).contains("Initial Catalog=Citt\xE0\r\n"));
        QCOMPARE(Settings.sDataSource, u"\u0141\u00f3d\u017a"_s);

        // A file the user may not write: every key fails, one message.
        boxes.texts.clear();
        form.txtSrv->setText(u"srv"_s);
#ifdef Q_OS_WIN
        // The read-only attribute: neither a replacement nor a rewrite in place may go through.
        QVERIFY(QFile::setPermissions(iniPath(), QFileDevice::ReadOwner));
        // Wine keeps the attribute in the file's mode, which does not stop root.
        if (QFile probe(iniPath()); probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
            probe.close();
            QFile::setPermissions(iniPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QSKIP("the read-only attribute is not enforced here (Wine run by root)");
        }
        form.SaveSettings();
        QVERIFY(QFile::setPermissions(iniPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
#else
        const QByteArray path = iniPath().toLocal8Bit();
        QVERIFY(chmod(path.constData(), 0400) == 0);
        QVERIFY(chmod(folder_->path().toLocal8Bit().constData(), 0555) == 0);
        const bool asRoot = geteuid() == 0; // root writes everywhere
        if (asRoot) {
            QVERIFY(chown(path.constData(), 65534, 65534) == 0);
            QVERIFY(seteuid(65534) == 0);
        }
        form.SaveSettings();
        if (asRoot)
            QVERIFY(seteuid(0) == 0);
        QVERIFY(chmod(folder_->path().toLocal8Bit().constData(), 0700) == 0);
#endif
        QCOMPARE(boxes.texts, QStringList{u"Impossibile salvare le impostazioni nel file "_s +
                                          iniPath() + u": accesso negato."_s});
    }

    // A value config.ini could not give back whole is refused at "&Salva", and with it the
    // whole save; one that is in the file already (written by hand) is read whole, not cut.
    void tooLongToKeep_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("key");
        QTest::newRow("FileName") << u"TxtPath"_s << u"FileName"_s;
        QTest::newRow("Data Source") << u"txtSrv"_s << u"Data Source"_s;
        QTest::newRow("Password") << u"txtPwd"_s << u"Password"_s;
    }
    void tooLongToKeep() {
        QFETCH(QString, control);
        QFETCH(QString, key);
        createIni("[Connection String]\r\nUser ID=before\r\n");
        MessageBoxRecorder boxes;
        FMain form;
        form.txtUsr->setText(u"after"_s);
        const QString fits = u"/srv/"_s + QString(249, u'a'); // 254 bytes
        const QString longer = fits + u'b';
        form.findChild<QLineEdit*>(control)->setText(fits);
        QTest::mouseClick(form.CmdSave, Qt::LeftButton);
        QVERIFY(boxes.texts.isEmpty());
        QCOMPARE(value(u"Connection String"_s, u"User ID"_s), "after"_ba);
        form.txtUsr->setText(u"later"_s);
        form.findChild<QLineEdit*>(control)->setText(longer);
        QTest::mouseClick(form.CmdSave, Qt::LeftButton);
        QCOMPARE(boxes.texts,
                 QStringList{u"Impossibile salvare le impostazioni nel file "_s + iniPath() +
                             u": il valore di \"%1\" \u00e8 troppo lungo (255 byte, al massimo "
                             u"254). Nessuna impostazione \u00e8 stata salvata."_s.arg(key)});
        QCOMPARE(value(u"Connection String"_s, u"User ID"_s), "after"_ba);

        // Put there by hand: read whole.
        const QString section =
            key == u"FileName"_s ? u"Opzioni_Avanzate"_s : u"Connection String"_s;
        createIni("[" + section.toUtf8() + "]\r\n" + key.toUtf8() + "=" + longer.toUtf8() + "\r\n");
        LoadSettings(oIni, Settings, ArrayTempo);
        form.ShowSettings();
        QCOMPARE(form.findChild<QLineEdit*>(control)->text(), longer);
    }

    // Single-line fields: a pasted text keeps only its first line, the rest of the field stays.
    void pasteKeepsTheFirstLine_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("after");
        QTest::newRow("trailing CR LF")
            << QString() << 0 << u"D:\\Backup\\x.bak\r\n"_s << u"D:\\Backup\\x.bak"_s;
        QTest::newRow("two lines") << u"[]"_s << 1 << u"first\nsecond\n"_s << u"[first]"_s;
        QTest::newRow("lone CR") << u"ab"_s << 2 << u"c\rd"_s << u"abc"_s;
        QTest::newRow("break first") << u"keep"_s << 4 << u"\r\nlost"_s << u"keep"_s;
        QTest::newRow("one line") << u"ab"_s << 1 << u"xy"_s << u"axyb"_s;
    }
    void pasteKeepsTheFirstLine() {
        QFETCH(QString, before);
        QFETCH(int, cursor);
        QFETCH(QString, pasted);
        QFETCH(QString, after);
        FMain form;
        for (QLineEdit* field :
             {form.txtSrv, form.txtUsr, form.txtPwd, form.txtDBName, form.TxtPath}) {
            field->setText(before);
            field->setCursorPosition(cursor);
            QApplication::clipboard()->setText(pasted);
            field->paste();
            QCOMPARE(field->text(), after);
        }
        // What the job and the save take is the field's text.
        form.TxtPath->setText(QString());
        QApplication::clipboard()->setText(u"/b/x.bak\n"_s);
        QTest::keySequence(form.TxtPath, QKeySequence::Paste);
        form.CopyFieldsToSettings();
        QCOMPARE(Settings.sBackupFile, u"/b/x.bak"_s);
    }

    void fileDialogRequest() {
        FakeFileDialog dialog;
        FMain form;
        QTest::mouseClick(form.CmdDir, Qt::LeftButton);
        QCOMPARE(dialog.calls, 1);
        QCOMPARE(dialog.last.title, u"Data File Name:"_s);
        QCOMPARE(dialog.last.filters, (QList<FileFilter>{{u"All Files (*.*)"_s, u"*.*"_s},
                                                         {u"Backup Files (*.bak)"_s, u"*.bak"_s}}));
        QCOMPARE(dialog.last.selectedFilter, 1);
        QCOMPARE(dialog.last.defaultExtension, u"bak"_s);
        QCOMPARE(dialog.lastParent, &form);
    }

    // What Qt's own dialog makes of the entries: the texts as they are, "*.*" matching every
    // file (to Qt it would leave out the names without a dot).
    void fileDialogEntriesInQt() {
        const FileFilter all{u"All Files (*.*)"_s, u"*.*"_s};
        const FileFilter bak{u"Backup Files (*.bak)"_s, u"*.bak"_s};
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters({QtNameFilter(all), QtNameFilter(bak)});
        auto* types = dialog.findChild<QComboBox*>(u"fileTypeCombo"_s);
        QVERIFY(types);
        QCOMPARE(types->itemText(0), all.name);
        QCOMPARE(types->itemText(1), bak.name);
        auto* model = dialog.findChild<QFileSystemModel*>();
        QVERIFY(model);
        dialog.selectNameFilter(QtNameFilter(all));
        QCOMPARE(model->nameFilters(), QStringList{u"*"_s});
        dialog.selectNameFilter(QtNameFilter(bak));
        QCOMPARE(model->nameFilters(), QStringList{u"*.bak"_s});
        QCOMPARE(QtNameFilter({u"Texts"_s, u"*.txt;*.log"_s}), u"Texts (*.txt *.log)"_s);
    }

    void fileDialogAnswers() {
        MessageBoxRecorder boxes;
        FakeFileDialog dialog;
        FMain form;
        form.TxtPath->setText(QString());
        form.CmdDir_Click(); // Cancel
        QCOMPARE(form.TxtPath->text(), QString());
        dialog.answer = u"/data/chosen.bak"_s;
        form.CmdDir_Click();
        QCOMPARE(form.TxtPath->text(), u"/data/chosen.bak"_s);
        QCOMPARE(Settings.sBackupFile, QString()); // only the text box
        dialog.fail = true;
        form.CmdDir_Click();
        QCOMPARE(form.TxtPath->text(), u"/data/chosen.bak"_s);
        QVERIFY(boxes.texts.isEmpty());
    }

    void defaultExtension() {
        QCOMPARE(WithDefaultExtension(u"/b/name"_s, u"bak"_s), u"/b/name.bak"_s);
        QCOMPARE(WithDefaultExtension(u"/b.d/name"_s, u"bak"_s), u"/b.d/name.bak"_s);
        QCOMPARE(WithDefaultExtension(u"/b/name.txt"_s, u"bak"_s), u"/b/name.txt"_s);
        QCOMPARE(WithDefaultExtension(u"/b/name"_s, QString()), u"/b/name"_s);
    }

    void realDialogAppendsTheExtension() {
        // The dialog of the widget layer, with a name typed that has no extension.
        FMain form;
        const QString typed = folder_->file(u"nuovo"_s);
        QTimer::singleShot(0, this, [typed] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), u"Data File Name:"_s);
            QCOMPARE(dialog->selectedNameFilter(), u"Backup Files (*.bak)"_s);
            dialog->selectFile(typed);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        form.CmdDir_Click();
        QCOMPARE(form.TxtPath->text(), QDir::toNativeSeparators(typed + u".bak"_s));
    }
};

QTEST_MAIN(TestFMainSettings)
#include "tst_fmain_settings.moc"
