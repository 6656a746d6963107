#pragma once

#include <QObject>

class QSocketNotifier;

namespace vestrel {

// Tells when the session is ending and the program must go without a word: on POSIX the
// termination signals (SIGTERM, SIGHUP, SIGINT), which a session manager or the system sends
// at log-off and shutdown; on Windows WM_ENDSESSION, which every top-level window of the
// program gets at log-off and shutdown. One watcher per process.
class SessionEndWatcher : public QObject {
    Q_OBJECT
public:
    explicit SessionEndWatcher(QObject* parent = nullptr);
    ~SessionEndWatcher() override;

signals:
    void sessionEnding();

private:
    QSocketNotifier* notifier_ = nullptr;
#ifdef _WIN32
    class Filter;
    Filter* filter_ = nullptr;
#endif
};

} // namespace vestrel
