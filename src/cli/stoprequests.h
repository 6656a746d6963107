#pragma once

#include <QObject>

namespace vestrel::cli {

// Tells the event loop that the user or the service manager asked the command to stop:
// SIGTERM, SIGINT or SIGHUP on POSIX, Ctrl+C, Ctrl+Break or the console closing on Windows.
// One per process.
class StopRequests : public QObject {
    Q_OBJECT
public:
    explicit StopRequests(QObject* parent = nullptr);
    ~StopRequests() override;

signals:
    void stopRequested();
};

} // namespace vestrel::cli
