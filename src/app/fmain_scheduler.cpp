// Activity hours, automatic mode and the timer tick of the main window.
#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/clock.h"
#include "platform/events.h"
#include "platform/walltimer.h"

#include <QLineEdit>
#include <QTimer>

namespace vestrel {

namespace {
const QColor kHourOn = Rgb(0x0000FF);
const QColor kHourOff = Rgb(0xFFFFFF);
} // namespace

void FMain::connectSchedulerHandlers() {
    // Tmr ticks when something asks for a look now; tmrClock_ at the next hour boundary or
    // retry, on the wall clock, and the wall clock being set (or a resume) asks for a look.
    Tmr->setSingleShot(true);
    connect(Tmr, &QTimer::timeout, this, &FMain::Tmr_Timer);
    tmrClock_ = new WallClockTimer(this);
    connect(tmrClock_, &WallClockTimer::timeout, this, &FMain::Tmr_Timer);
    connect(tmrClock_, &WallClockTimer::clockChanged, this, &FMain::CheckScheduleSoon);
    for (int hour = 0; hour < 24; ++hour)
        connect(CmdHour(hour), &QPushButton::clicked, this, [this, hour] { CmdHour_Click(hour); });
    connect(CmdIncludi, &QPushButton::clicked, this, &FMain::CmdIncludi_Click);
    connect(CmdEscludi, &QPushButton::clicked, this, &FMain::CmdEscludi_Click);
    connect(CmdAbilita, &QPushButton::clicked, this, &FMain::CmdAbilita_Click);
}

void FMain::ShowJobState() {
    const bool running = bBackupRunning;
    ShpStat(1)->setFillColor(Rgb(running ? 0xFF0000 : 0xFFFFFF));
    ShpStat(2)->setFillColor(Rgb(running ? 0xFFFFFF : 0x00FF00));
    CmdEsci->setEnabled(!running);
    CmdBackup->setEnabled(!running);
    for (QLineEdit* field : {txtSrv, txtUsr, txtPwd, txtDBName, TxtPath})
        field->setReadOnly(running);
}

void FMain::Tmr_Timer() {
    // A tick that comes while another tick pumps messages (a menu, a message box, the
    // backup it started) only refreshes the display; the outer tick looks again when done.
    if (inTick_) {
        ShowJobState();
        CheckMissedBackup();
        tickAgain_ = true;
        armTimer();
        return;
    }
    inTick_ = true;
    tickAgain_ = false;
    armTimer();
    DoEvents();
    // "Chiudi" may have been handled in that pump: a closing program starts nothing.
    if (bUnload) {
        stopTimers();
        inTick_ = false;
        return;
    }
    ShowJobState();
    CheckMissedBackup();
    const QDateTime now = Now();
    if (AutomaticStartDue(bBackupRunning, bAuto, ArrayTempo, lastStart_, now)) {
        // Remembered before anything else can run, so a nested tick finds this start.
        lastStart_.Remember(now);
        DoEvents();
        if (!bBackupRunning && !bUnload) {
            automaticJob_ = true;
            RunBackup();
            automaticJob_ = false;
        }
    }
    inTick_ = false;
    // Only the wall-clock deadline is armed here: a look asked for meanwhile (the job's end,
    // a click) stays due.
    armTimer();
    if (tickAgain_)
        CheckScheduleSoon();
}

void FMain::armTimer() {
    // A window that is closing for good needs no more ticks.
    if (bUnload)
        return;
    tmrClock_->startAt(NextCheck(Now(), lastStart_));
}

void FMain::stopTimers() {
    Tmr->stop();
    tmrClock_->stop();
}

void FMain::CheckScheduleSoon() {
    if (!bUnload)
        Tmr->start(0);
}

void FMain::CmdHour_Click(int index) {
    auto& flag = ArrayTempo[static_cast<std::size_t>(index)];
    flag = !flag;
    CmdHour(index)->setBackColor(flag ? kHourOn : kHourOff);
    CheckScheduleSoon();
}

void FMain::CmdIncludi_Click() {
    for (int hour = 0; hour < 24; ++hour) {
        CmdHour(hour)->setBackColor(kHourOn);
        ArrayTempo[static_cast<std::size_t>(hour)] = true;
    }
    CheckScheduleSoon();
}

void FMain::CmdEscludi_Click() {
    for (int hour = 0; hour < 24; ++hour) {
        CmdHour(hour)->setBackColor(kHourOff);
        ArrayTempo[static_cast<std::size_t>(hour)] = false;
    }
    CheckScheduleSoon();
}

void FMain::CmdAbilita_Click() {
    if (bAuto) {
        CmdAbilita->setText(QStringLiteral("Abilita Auto"));
        bAuto = false;
    } else {
        CmdAbilita->setText(QStringLiteral("Disabilita Auto"));
        bAuto = true;
    }
    CheckScheduleSoon();
}

} // namespace vestrel
