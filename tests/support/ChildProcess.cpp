#include "ChildProcess.h"

#include <QCoreApplication>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#endif

ChildProcess::ChildProcess(QObject* parent)
    : QProcess(parent), parentPid(QCoreApplication::applicationPid())
{
}

// Runs in the child between fork and exec: only async-signal-safe calls here.
void ChildProcess::setupChildProcess()
{
#ifdef Q_OS_LINUX
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The test may have died before the line above took effect.
    if (getppid() != parentPid) {
        _exit(127);
    }
#endif
}
