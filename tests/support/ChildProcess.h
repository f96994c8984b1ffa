#pragma once

#include <QProcess>

// A QProcess for tests: the child does not outlive the test process. On Linux the kernel kills
// it when the test ends in any way (a crash, an abort, ctest's kill at its time-out), not only
// when the QProcess is destroyed.
class ChildProcess : public QProcess
{
public:
    explicit ChildProcess(QObject* parent = nullptr);

protected:
    void setupChildProcess() override;

private:
    qint64 parentPid;
};
