#pragma once

#include "job/backupjob.h"

namespace vestrel::test {

// A front end for the backup job that shows nothing: for tests and benchmarks that look only
// at the job's result, its files and its log.
class QuietFront final : public IJobFront {
public:
    void PercentComplete(const QString&, int) override {}
    void NextMedia(const QString&) override {}
    void Complete(const QString&) override {}
};

} // namespace vestrel::test
