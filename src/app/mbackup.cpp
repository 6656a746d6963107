#include "app/mbackup.h"

#include "app/fmain.h"
#include "backup/sqldmo.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/messagebox.h"
#include "platform/programfolder.h"
#include "platform/regional.h"
#include "platform/sessionend.h"
#include "platform/singleinstance.h"
#include "platform/textfile.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <initializer_list>
#include <memory>

namespace vestrel {

bool bBackupRunning = false;

namespace {

const QString kRule = LogRule();

std::unique_ptr<SingleInstance> instanceLock;
std::unique_ptr<FMain> mainWindow;
FMain* currentWindow = nullptr;
bool exitPending = false;

// Writes the lines in order; the first line that cannot be written ends the block.
void LogBlock(std::initializer_list<QString> lines) {
    for (const QString& line : lines)
        if (!WriteLog(line))
            return;
}

QString NowText(const QString& prefix) {
    return StampText(prefix, Now());
}

} // namespace

FMain* MainWindow() {
    return currentWindow;
}

void SetMainWindow(FMain* window) {
    currentWindow = window;
}

void ReleaseMainWindow() {
    mainWindow.reset();
    instanceLock.reset();
}

bool Main() {
    instanceLock = std::make_unique<SingleInstance>(ProgramFolder());
    if (!instanceLock->acquire()) {
        instanceLock.reset();
        MsgBox(QStringLiteral("Programma gi\u00e0 in esecuzione."));
        return false;
    }
    if (!instanceLock->held())
        qWarning("vestrel: no instance lock can be made at %s; running without one",
                 qUtf8Printable(instanceLock->lockPath()));
    std::fprintf(stderr, "vestrel: config.ini in %s, Command.log in %s\n",
                 qUtf8Printable(QDir::toNativeSeparators(ProgramFolder())),
                 qUtf8Printable(QDir::toNativeSeparators(LogFolder())));

    // From here on a failing step does not stop start-up.
    QString why;
    if (!SqlServerClientInstalled(&why)) {
        // The message is the fixed one; the reason is for whoever looks at the terminal.
        std::fprintf(stderr, "vestrel: no SQL Server client: %s\n", qUtf8Printable(why));
        MsgBox(QStringLiteral("Installare SQL Server o MSDE prima di usare l'applicazione."));
        instanceLock.reset();
        return false;
    }

    PrepareProgramFolders();
    oIni.IniFileName(ProgramFile(QStringLiteral("config.ini")));
    try {
        LoadSettings();
    } catch (const Error&) {
        // A value that cannot be converted ends the loading; the rest keep their defaults.
    }
    bBackupRunning = false;

    mainWindow = std::make_unique<FMain>();
    mainWindow->Form_Load();
    auto* sessionEnd = new SessionEndWatcher(mainWindow.get());
    FMain* window = mainWindow.get();
    QObject::connect(sessionEnd, &SessionEndWatcher::sessionEnding, window, &FMain::EndSession);
    mainWindow->showNormal();

    LogBlock({QStringLiteral(" "), kRule, NowText(QStringLiteral("Avvio Programma in data ")),
              kRule, QStringLiteral(" "), QStringLiteral("Avviata sequenza automatica.."),
              QStringLiteral(" ")});
    return true;
}

void ExitProgram() {
    // The job must not go on working on a window that is gone: it is stopped, and the exit
    // follows its end.
    if (bBackupRunning) {
        exitPending = true;
        if (FMain* window = MainWindow())
            window->CancelBackup(QStringLiteral("Backup annullato per la chiusura del programma."));
        return;
    }
    exitPending = false;
    // A closing line that cannot be written does not keep the program from ending.
    for (const QString& line :
         {QStringLiteral(" "), QStringLiteral("Chiusura transazioni.."), QStringLiteral(" "), kRule,
          NowText(QStringLiteral("Chiusura Programma in data ")), kRule, QStringLiteral(" ")})
        (void)WriteLog(line);
    if (FMain* window = MainWindow()) {
        window->bUnload = true;
        window->close();
    }
    QCoreApplication::quit();
}

void RunPendingExit() {
    if (exitPending && !bBackupRunning)
        ExitProgram();
}

void LoadSettings() {
    LoadSettings(oIni, Settings, ArrayTempo);
}

} // namespace vestrel
