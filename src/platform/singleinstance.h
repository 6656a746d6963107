#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace vestrel {

// One running instance per program folder (config.ini and Command.log live there). The lock
// is a file whose owner's process id is checked, so a lock left behind by a crashed or killed
// instance does not block the next start.
class SingleInstance {
public:
    explicit SingleInstance(const QString& programFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process holds the lock; false when another live instance does.
    bool acquire();

    QString lockPath() const { return path_; }

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

} // namespace vestrel
