#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace vestrel {

// One running instance per program folder (the folder of config.ini). The lock
// is a file whose owner's process id is checked, so a lock left behind by a crashed or killed
// instance does not block the next start.
class SingleInstance {
public:
    explicit SingleInstance(const QString& programFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False only when another live instance holds the lock. True when this process holds it,
    // and also when no lock can be made here at all (an unusable temporary folder): the
    // program then runs unguarded rather than claim a second instance that is not there.
    bool acquire();
    // This process holds the lock.
    bool held() const;

    QString lockPath() const { return path_; }

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

} // namespace vestrel
