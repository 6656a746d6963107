#pragma once

#include "platform/clock.h"
#include "platform/messagebox.h"
#include "platform/regional.h"
#include "platform/walltimer.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace vestrel::test {

// Wall-clock timers that fire only when the test says: what the kernel would do, as events
// the test raises. Installed while the object lives.
class SimulatedWallTimers final : public IWallTimerFactory {
public:
    SimulatedWallTimers();
    ~SimulatedWallTimers() override;
    std::unique_ptr<IWallTimerEngine> CreateWallTimer(WallTimerCallbacks callbacks) override;

    // The deadlines armed now, earliest first.
    QList<QDateTime> armed() const;
    // How often a deadline has been armed so far.
    int arms() const;
    // Every armed deadline at or before now fires (and is disarmed); returns how many did.
    int fireDue(const QDateTime& now);
    // The wall clock was set, or the machine resumed: every timer is told, as a timerfd read
    // fails with ECANCELED; the deadlines stay armed.
    void clockSet();

    struct State;

private:
    std::shared_ptr<State> state_;
    ScopedSeam<IWallTimerFactory> scope_;
};

// A clock that stands still until the test moves it, with its wall-clock timers.
class FakeClock final : public IClock {
public:
    explicit FakeClock(QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(10, 25, 0)))
        : now_(std::move(now)), scope_(ClockSeam(), this) {}
    QDateTime Now() const override { return now_; }
    void set(const QDateTime& now) { now_ = now; }
    void advanceSeconds(qint64 seconds) { now_ = now_.addSecs(seconds); }
    // The timers due at the clock's time fire; returns how many did.
    int fireTimers() { return timers.fireDue(now_); }

    SimulatedWallTimers timers;

private:
    QDateTime now_;
    ScopedSeam<IClock> scope_;
};

// Records every message box instead of showing it.
class MessageBoxRecorder final : public IMessageBox {
public:
    MessageBoxRecorder() : scope_(MessageBoxSeam(), this) {}
    void Exclamation(const QString& text, const QString& caption) override {
        texts.append(text);
        captions.append(caption);
    }
    QStringList texts;
    QStringList captions;

private:
    ScopedSeam<IMessageBox> scope_;
};

// dd/MM/yyyy and H.mm.ss, the Italian regional formats, unless the test says otherwise.
class PinnedFormats {
public:
    explicit PinnedFormats(const QString& date = QStringLiteral("dd/MM/yyyy"),
                           const QString& time = QStringLiteral("H.mm.ss"))
        : format_(date, time), scope_(RegionalFormatSeam(), &format_) {}

private:
    PinnedRegionalFormat format_;
    ScopedSeam<IRegionalFormat> scope_;
};

// A fresh folder that stands in for the program folder while the object lives.
class TempProgramFolder {
public:
    TempProgramFolder();
    ~TempProgramFolder();
    TempProgramFolder(const TempProgramFolder&) = delete;
    TempProgramFolder& operator=(const TempProgramFolder&) = delete;

    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    QByteArray read(const QString& name) const;
    // The lines of a file split at CR LF, the empty piece after the last CR LF dropped.
    QList<QByteArray> lines(const QString& name) const;

private:
    QTemporaryDir dir_;
};

// The calling thread acts as another user, as a program started by that user would: real and
// effective user and group, and the supplementary groups, of this thread alone (and of the
// threads it starts meanwhile); the saved user stays root, so the destructor comes back.
// Needs root: ok() says whether it took.
class ActAsUser {
public:
    ActAsUser(int uid, int gid, const QList<int>& groups = {});
    ~ActAsUser();
    ActAsUser(const ActAsUser&) = delete;
    ActAsUser& operator=(const ActAsUser&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    QList<unsigned> groups_; // this thread's before
};

// What stands behind the time stamp of a log line ("<stamp> > text").
QByteArray AfterStamp(const QByteArray& line);

} // namespace vestrel::test
