#include "support/fixtures.h"

#include "platform/programfolder.h"

#include <QFile>
#include <algorithm>
#include <vector>
#ifndef _WIN32
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace vestrel::test {

struct SimulatedWallTimers::State {
    struct Timer {
        WallTimerCallbacks callbacks;
        bool armed = false;
        qint64 deadline = 0;
    };
    QList<std::weak_ptr<Timer>> timers;
    int arms = 0;

    QList<std::shared_ptr<Timer>> live() {
        QList<std::shared_ptr<Timer>> alive;
        for (const auto& weak : std::as_const(timers))
            if (auto timer = weak.lock())
                alive.append(timer);
        return alive;
    }
};

namespace {
class SimulatedEngine final : public IWallTimerEngine {
public:
    SimulatedEngine(std::shared_ptr<SimulatedWallTimers::State> state,
                    std::shared_ptr<SimulatedWallTimers::State::Timer> timer)
        : state_(std::move(state)), timer_(std::move(timer)) {}
    void Arm(qint64 msecsSinceEpoch) override {
        ++state_->arms;
        timer_->armed = true;
        timer_->deadline = msecsSinceEpoch;
    }
    void Disarm() override { timer_->armed = false; }

private:
    std::shared_ptr<SimulatedWallTimers::State> state_;
    std::shared_ptr<SimulatedWallTimers::State::Timer> timer_;
};
} // namespace

SimulatedWallTimers::SimulatedWallTimers()
    : state_(std::make_shared<State>()), scope_(WallTimerSeam(), this) {}

SimulatedWallTimers::~SimulatedWallTimers() = default;

std::unique_ptr<IWallTimerEngine>
SimulatedWallTimers::CreateWallTimer(WallTimerCallbacks callbacks) {
    auto timer = std::make_shared<State::Timer>();
    timer->callbacks = std::move(callbacks);
    state_->timers.append(timer);
    return std::make_unique<SimulatedEngine>(state_, std::move(timer));
}

QList<QDateTime> SimulatedWallTimers::armed() const {
    QList<QDateTime> deadlines;
    for (const auto& timer : state_->live())
        if (timer->armed)
            deadlines.append(QDateTime::fromMSecsSinceEpoch(timer->deadline));
    std::sort(deadlines.begin(), deadlines.end());
    return deadlines;
}

int SimulatedWallTimers::arms() const {
    return state_->arms;
}

int SimulatedWallTimers::fireDue(const QDateTime& now) {
    QList<std::shared_ptr<State::Timer>> due;
    for (const auto& timer : state_->live())
        if (timer->armed && timer->deadline <= now.toMSecsSinceEpoch())
            due.append(timer);
    for (const auto& timer : due) {
        timer->armed = false;
        timer->callbacks.expired();
    }
    return int(due.size());
}

void SimulatedWallTimers::clockSet() {
    for (const auto& timer : state_->live())
        timer->callbacks.clockSet();
}

TempProgramFolder::TempProgramFolder() {
    SetProgramFolder(dir_.path());
}

TempProgramFolder::~TempProgramFolder() {
    SetProgramFolder(QString());
}

QByteArray TempProgramFolder::read(const QString& name) const {
    QFile file(this->file(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QList<QByteArray> TempProgramFolder::lines(const QString& name) const {
    QList<QByteArray> result = read(name).split('\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    for (QByteArray& line : result)
        if (line.endsWith('\r'))
            line.chop(1);
    return result;
}

QByteArray AfterStamp(const QByteArray& line) {
    const qsizetype at = line.indexOf(" > ");
    return at < 0 ? QByteArray() : line.mid(at + 3);
}

#ifndef _WIN32
// The C library's setresuid and setgroups change every thread of the process; the system
// calls themselves change only the calling one.
ActAsUser::ActAsUser(int uid, int gid, const QList<int>& groups) {
    if (::geteuid() != 0)
        return;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> before(size_t(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, before.data()) == count)
        for (gid_t g : before)
            groups_.append(unsigned(g));
    std::vector<gid_t> wanted;
    for (int g : groups)
        wanted.push_back(gid_t(g));
    ok_ = ::syscall(SYS_setgroups, wanted.size(), wanted.data()) == 0 &&
          ::syscall(SYS_setresgid, gid, gid, -1) == 0 &&
          ::syscall(SYS_setresuid, uid, uid, -1) == 0;
}

ActAsUser::~ActAsUser() {
    if (::syscall(SYS_setresuid, 0, 0, -1) != 0)
        return;
    std::vector<gid_t> before;
    for (unsigned g : groups_)
        before.push_back(gid_t(g));
    ::syscall(SYS_setresgid, 0, 0, -1);
    ::syscall(SYS_setgroups, before.size(), before.data());
}
#else
ActAsUser::ActAsUser(int, int, const QList<int>&) {}
ActAsUser::~ActAsUser() = default;
#endif

} // namespace vestrel::test
