#pragma once
// Starts MeridoxRunner for due jobs: one process per job, the integration
// file name as its one argument, not waited for. Ended runners are reaped
// at the next pass.

#include "CDispather.h"

#include <sys/types.h>
#include <vector>

// Environment variable naming the runner program to start instead of the
// MeridoxRunner beside the service (tests use a stand-in script).
inline constexpr const char* kRunnerProgramEnv = "MERIDOX_RUNNER";

class ProcessRunnerLauncher final : public IRunnerLauncher {
public:
    // program: absolute path of the runner.
    explicit ProcessRunnerLauncher(QString program);
    ~ProcessRunnerLauncher() override;

    // $MERIDOX_RUNNER if set, else "MeridoxRunner" in the folder of the
    // running program.
    static QString defaultProgram();

    QString programName() const override;
    bool start(const QString& fileName, QString& error) override;
    void reap() override;
    long long lastStarted() const override { return lastStarted_; }
    bool isRunning(long long runner) const override;

    const QString& program() const { return program_; }
    // Runners started and not yet reaped.
    std::size_t running() const { return children_.size(); }

private:
    QString program_;
    std::vector<pid_t> children_;
    pid_t lastStarted_ = 0;
};
