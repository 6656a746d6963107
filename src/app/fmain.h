#pragma once

#include "app/controls.h"
#include "backup/sqldmo.h"
#include "job/backupjob.h"
#include "job/backupstate.h"
#include "platform/events.h"
#include "scheduler/schedule.h"
#include "settings/settings.h"
#include "tray/clsicontray.h"

#include <QWidget>
#include <array>
#include <memory>

class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;

namespace vestrel {

class WallClockTimer;

// The main window: every control with its design-time values. Geometry is given in twips
// (15 twips are one pixel at 96 dpi) relative to the control's container.
class FMain : public QWidget {
    Q_OBJECT
public:
    explicit FMain(QWidget* parent = nullptr);
    ~FMain() override;

    static constexpr int kClientWidthTwips = 10620;
    static constexpr int kClientHeightTwips = 5625;

    // Shows the text as a new last line of the status box, processes pending messages once,
    // then writes the same text to the log. Returns false when the log line could not be
    // written (the line is on screen all the same).
    [[nodiscard]] bool ShowStatus(const QString& text);

    // Control arrays: ShpStat(1..3), Label13(0..23), CmdHour(0..23); the index is the hour.
    Shape* ShpStat(int index) const;
    QLabel* Label13(int hour) const;
    ColorButton* CmdHour(int hour) const;

    QTimer* Tmr = nullptr;
    MultiLineTextBox* txtStatus = nullptr;
    QGroupBox* Frame1 = nullptr;
    QPushButton* CmdEsci = nullptr;
    QPushButton* CmdNascondi = nullptr;
    QPushButton* CmdAbilita = nullptr;
    QPushButton* CmdBackup = nullptr;
    QPushButton* CmdLoad = nullptr;
    QPushButton* CmdSave = nullptr;
    QGroupBox* fraCon = nullptr;
    QGroupBox* Frame5 = nullptr;
    QLabel* LblVersion = nullptr;
    QLabel* Label3 = nullptr;

    QLabel* Label6 = nullptr;
    QLabel* LblLastUpdate = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QProgressBar* PgBar = nullptr;

    QLabel* lblSrvName = nullptr;
    QLineEdit* txtSrv = nullptr;
    QCheckBox* chkIntegrated = nullptr;
    QLabel* lblUsr = nullptr;
    QLineEdit* txtUsr = nullptr;
    QLabel* lblPwd = nullptr;
    QLineEdit* txtPwd = nullptr;
    QLabel* lblDBName = nullptr;
    QLineEdit* txtDBName = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* TxtPath = nullptr;
    QPushButton* CmdDir = nullptr;

    QPushButton* CmdEscludi = nullptr;
    QPushButton* CmdIncludi = nullptr;

    // --- Settings: between the window, the record and config.ini ---
    // Writes the seven keys from the controls and ArrayTempo, and updates Settings.
    void SaveSettings();
    // Shows Settings and ArrayTempo in the controls; the file is not read.
    void ShowSettings();
    // Copies the connection and file fields into Settings (a save, and every backup run).
    void CopyFieldsToSettings();
    void CmdSave_Click();
    void CmdLoad_Click();
    // Lets the user pick the backup file; only TxtPath receives the choice.
    void CmdDir_Click();
    // The enabling rule: txtUsr and txtPwd are enabled exactly when the box is not ticked.
    void chkIntegrated_Click();
    // --- end of settings ---

    // --- The tray icon and hiding and showing ---------------------------------------------
    void CmdNascondi_Click();
    void icontray_MouseDblClick(short Button);
    void icontray_PopMenuClick(int Index);
    std::unique_ptr<ClsIconTray> icontray; // from the load until the window is released

    // --- Start-up and exit ---------------------------------------------------------------
    // Runs once when start-up loads the window, before it is shown.
    void Form_Load();
    // The close-request rule: UnloadMode 0 the close button or window menu, 1 the program
    // itself, 2 the session ending. Sets Cancel to keep the window (it is hidden instead).
    void Form_QueryUnload(bool& Cancel, int UnloadMode);
    // The session is ending: the next close passes without the closing lines.
    void EndSession();
    bool bUnload = false; // the exit sequence has started

    // --- The backup job ------------------------------------------------------------------
    void RunBackup();
    bool CheckFields() const;
    void CmdBackup_Click();
    void oBackupEvent_PercentComplete(const QString& Message, int Percent);
    void oBackupEvent_NextMedia(const QString& Message);
    void oBackupEvent_Complete(const QString& Message);
    Backup* oBackupEvent = nullptr; // the running backup, while its events may arrive
    // How the job ended, for the scheduler's retries and the tray icon's failure alert.
    void BackupFailed(const QString& description);
    void BackupSucceeded();
    // The last backup that wholly succeeded (verified and in place), this run's or one the
    // state file remembers; "Ultimo Backup eseguito" and the tray tip show it.
    const LastGoodBackup& LastGood() const { return lastGood_; }
    // The server has not reported progress for a long while (the backup goes on waiting):
    // the warning icon and a balloon saying since when, until its next message.
    void BackupStalled(const QDateTime& since);
    void BackupResumed();
    bool StallShown() const { return stallShown_; }
    // Stops a running job: it ends on its error path with "Errore " + reason, within the
    // engine's grace time whatever the server does. Nothing happens when no job runs.
    void CancelBackup(const QString& reason);

    // --- Activity hours and the automatic timer ----------------------------------------------
    void Tmr_Timer();
    void CmdHour_Click(int index);
    void CmdIncludi_Click();
    void CmdEscludi_Click();
    void CmdAbilita_Click();
    // Lamps 1 and 2 and the locks on the fields, from whether a job runs.
    void ShowJobState();
    const RepeatGuard& LastAutomaticStart() const { return lastStart_; }
    bool bAuto = false; // automatic mode
    // The tray icon shows the warning variant: the last backup failed, or an enabled hour
    // passed without one.
    bool FailureShown() const { return failureShown_; }
    // An enabled hour has passed with no verified backup since it began, and the user was told.
    bool MissedShown() const { return missedShown_; }
    // Looks whether an enabled hour has passed without a verified backup: the warning icon and a
    // balloon say since when there is none. Once, until a backup succeeds again.
    void CheckMissedBackup();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void connectSettingsHandlers();
    // The text the window holds for a setting: a field's text, the check box state digit or
    // the hour flags.
    QString SettingText(const SettingEntry& entry) const;
    void createControls();
    void connectJobHandlers();
    void createTrayIcon();
    // Reads the state file at start: the last good backup and the first start.
    void loadBackupState();
    // The label and the tray tip, from lastGood_.
    void showLastGoodBackup();
    // What follows every end of a job: the lamps, the timer, an exit that waited for it.
    void finishJob();
    void connectSchedulerHandlers();
    // Makes the timer look again at once (hours, automatic mode or the job state changed).
    void CheckScheduleSoon();
    void armTimer();
    void stopTimers();

    // The job's front end in the window: the backup object's events go to the handlers
    // above, the window's events are processed between the job's steps, and the pointer is
    // busy while the job waits for the server.
    class JobFront final : public IJobFront {
    public:
        explicit JobFront(FMain& form) : form_(form) {}
        void PercentComplete(const QString& Message, int Percent) override {
            form_.oBackupEvent_PercentComplete(Message, Percent);
        }
        void NextMedia(const QString& Message) override { form_.oBackupEvent_NextMedia(Message); }
        void Complete(const QString& Message) override { form_.oBackupEvent_Complete(Message); }
        void Yield() override { DoEvents(); }
        void WaitStarted() override;
        void WaitEnded() override;
        void Subscribed(Backup* backup) override { form_.oBackupEvent = backup; }
        void Stalled(const QDateTime& since) override { form_.BackupStalled(since); }
        void Resumed() override { form_.BackupResumed(); }

    private:
        FMain& form_;
    };
    JobFront jobFront_{*this};
    BackupJob job_{jobFront_};
    QString cancelReason_; // why the running job was told to stop
    RepeatGuard lastStart_;
    bool sessionEnding_ = false;
    bool stallShown_ = false; // the warning icon stands for a server that went quiet
    bool inTick_ = false;
    bool tickAgain_ = false;    // a tick came while one ran: look again when it is done
    bool automaticJob_ = false; // the running job was started by the timer
    bool failureShown_ = false;
    bool missedShown_ = false;
    LastGoodBackup lastGood_;
    QDateTime firstStart_;    // when this state folder first saw the program: nothing missed before
    QDateTime jobStarted_;    // when the running job began
    win::HICON trayIcon_ = 0; // the icon in the notification area
    win::HICON trayWarningIcon_ = 0; // the same after a failed backup
    // The next hour boundary or retry, on the wall clock; Tmr is for "look now".
    WallClockTimer* tmrClock_ = nullptr;

    std::array<Shape*, 3> shpStat_{};
    std::array<QLabel*, 24> label13_{};
    std::array<ColorButton*, 24> cmdHour_{};
};

// The tray icon's tip: "Vestrel — ultimo backup " and the date and time of the last good
// backup, or "Vestrel — nessun backup riuscito".
QString TrayTipText(const LastGoodBackup& last);

// The window's icon, drawn for the program at 16, 32 and 48 pixels.
QIcon VestrelIcon();
// Its warning variant, shown in the notification area while the last backup has failed.
QIcon VestrelWarningIcon();

// Gives this program Qt's built-in classic "Windows" style (the desktop's own stays as it is).
// Called once, before the window is created.
void UseProgramStyle();

} // namespace vestrel
