#include "support/fixtures.h"

#include "platform/programfolder.h"

#include <QFile>
#include <algorithm>

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

} // namespace vestrel::test
