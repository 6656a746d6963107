// When the scheduler starts the backups, on the real main window with the system's wall-clock
// timer (a timerfd on Linux). The clock the window reads is the real one shifted so that an
// hour boundary comes a few seconds after the start; every deadline the window arms is
// shifted back by the same amount before it reaches the system's timer. A "clock change"
// moves the shift and reports it as the kernel does (a timerfd read failing with ECANCELED);
// a "resume" moves it and arms the system's timer again, so the deadline the machine slept
// through is overdue and the kernel fires it.
#include "app/fmain.h"
#include "app/mbackup.h"
#include "platform/clock.h"
#include "platform/walltimer.h"
#include "support/fixtures.h"
#include "support/tds/standin.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>
#include <memory>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

const QDate kDay(2026, 12, 7);

class ShiftedClock final : public IClock, public IWallTimerFactory {
public:
    struct Job {
        QDateTime start, end;
    };

    explicit ShiftedClock(const QDateTime& startAt)
        : system_(WallTimerSeam().get()), offsetMs_(QDateTime::currentDateTime().msecsTo(startAt)),
          clock_(ClockSeam(), this), timers_(WallTimerSeam(), this) {}

    QDateTime Now() const override {
        const QDateTime now = QDateTime::currentDateTime().addMSecs(offsetMs_);
        if (bBackupRunning) {
            if (!running_)
                jobs_.append({now, now});
            jobs_.last().end = now;
        }
        running_ = bBackupRunning;
        return now;
    }
    const QList<Job>& jobs() const { return jobs_; }

    std::unique_ptr<IWallTimerEngine> CreateWallTimer(WallTimerCallbacks callbacks) override {
        clockSet_.append(callbacks.clockSet);
        auto engine = std::make_unique<Engine>(*this, system_.CreateWallTimer(callbacks));
        engines_.append(engine.get());
        return engine;
    }

    // The clock is set to when: the kernel reports it.
    void setClock(const QDateTime& when) {
        shift(when);
        for (const auto& report : std::as_const(clockSet_))
            report();
    }
    // The machine resumes at when: the deadlines it slept through are overdue.
    void resume(const QDateTime& when) {
        shift(when);
        for (Engine* engine : std::as_const(engines_))
            engine->rearm();
    }

private:
    class Engine final : public IWallTimerEngine {
    public:
        Engine(ShiftedClock& clock, std::unique_ptr<IWallTimerEngine> inner)
            : clock_(clock), inner_(std::move(inner)) {}
        ~Engine() override { clock_.engines_.removeOne(this); }
        void Arm(qint64 msecsSinceEpoch) override {
            armed_ = true;
            deadline_ = msecsSinceEpoch;
            inner_->Arm(deadline_ - clock_.offsetMs_);
        }
        void Disarm() override {
            armed_ = false;
            inner_->Disarm();
        }
        void rearm() {
            if (armed_)
                Arm(deadline_);
        }

    private:
        ShiftedClock& clock_;
        std::unique_ptr<IWallTimerEngine> inner_;
        bool armed_ = false;
        qint64 deadline_ = 0;
    };

    void shift(const QDateTime& when) { offsetMs_ = QDateTime::currentDateTime().msecsTo(when); }

    IWallTimerFactory& system_;
    qint64 offsetMs_;
    mutable QList<Job> jobs_;
    mutable bool running_ = false;
    QList<std::function<void()>> clockSet_;
    QList<Engine*> engines_;
    ScopedSeam<IClock> clock_;
    ScopedSeam<IWallTimerFactory> timers_;
};

struct Program {
    test::TempProgramFolder folder;
    test::TdsStandin standin;
    ShiftedClock clock;
    FMain form;

    Program(const QDateTime& startAt, std::initializer_list<int> hours,
            test::StandinScript script = {})
        : standin(std::move(script)), clock(startAt) {
        ArrayTempo.fill(false);
        for (int hour : hours)
            ArrayTempo[static_cast<std::size_t>(hour)] = true;
        form.Form_Load();
        form.txtSrv->setText(standin.ServerName());
        form.txtUsr->setText(u"sa"_s);
        form.txtPwd->setText(u"secret"_s);
        form.txtDBName->setText(u"Sales"_s);
        form.TxtPath->setText(folder.file(u"Sales.bak"_s));
    }

    // Runs the event loop until count jobs have ended, for at most limitMs.
    bool waitForJobs(int count, int limitMs) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < limitMs) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            if (clock.jobs().size() >= count && !bBackupRunning)
                return true;
        }
        return false;
    }
};

int fail(const char* what) {
    std::fprintf(stderr, "schedule_latency: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.warning=false");
    QApplication app(argc, argv);
    const QDateTime boundary(kDay, QTime(11, 0));

    {
        // Only hour 11 enabled, three seconds before it.
        Program p(boundary.addSecs(-3), {11});
        if (!p.waitForJobs(1, 10000))
            return fail("no backup at 11:00");
        std::printf("schedule_boundary_start %lld ms after the hour (goal <= 1000 ms)\n",
                    boundary.msecsTo(p.clock.jobs().at(0).start));
    }
    {
        // Hour 10's backup is held past 11:00; hour 11's follows its end.
        test::StandinScript script;
        script.pauseAtPercent = 43;
        Program p(boundary.addSecs(-2), {10, 11}, script);
        QTimer::singleShot(4000, &p.form, [&] { p.standin.Resume(); });
        if (!p.waitForJobs(2, 15000))
            return fail("no second backup after the long one");
        const auto& jobs = p.clock.jobs();
        if (jobs.at(0).end < boundary)
            return fail("the long backup did not cross the hour");
        std::printf("schedule_after_crossing_job %lld ms after the job's end, which was %lld ms "
                    "past the hour (goal <= 1000 ms)\n",
                    jobs.at(0).end.msecsTo(jobs.at(1).start), boundary.msecsTo(jobs.at(0).end));
    }
    for (const bool resume : {false, true}) {
        // Idle in hour 10, the timer armed for 11:00; then the clock reads 11:20.
        Program p(QDateTime(kDay, QTime(10, 20)), {11});
        p.waitForJobs(1, 1000);
        QElapsedTimer elapsed;
        elapsed.start();
        if (resume)
            p.clock.resume(QDateTime(kDay, QTime(11, 20)));
        else
            p.clock.setClock(QDateTime(kDay, QTime(11, 20)));
        if (!p.waitForJobs(1, 5000))
            return fail("no backup after the clock moved");
        const qint64 ms = elapsed.elapsed();
        std::printf("schedule_after_%s %lld ms to the hour's backup (goal <= 2000 ms)\n",
                    resume ? "resume" : "clock_change", ms);
    }
    return 0;
}
