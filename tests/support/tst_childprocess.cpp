#include "ChildProcess.h"
#include "SchoolProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QtTest>

#include <csignal>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

const char* const childMode = "TAMIX_TEST_SCHOOL_OWNER";

// A process (not a zombie) with this id is still there.
bool running(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray line = stat.readAll();
    const int end = line.lastIndexOf(')');
    return end > 0 && line.mid(end + 2, 1) != "Z";
}

// The child: a test that has started its school, then waits to be struck down.
int ownSchoolAndWait(int argc, char** argv)
{
#ifdef Q_OS_LINUX
    const rlimit noCore{0, 0}; // struck down on purpose: no core file
    setrlimit(RLIMIT_CORE, &noCore);
#endif
    QCoreApplication app(argc, argv);
    SchoolProcess school;
    if (!school.start()) {
        return 2;
    }
    std::printf("%lld\n", static_cast<long long>(school.processId()));
    std::fflush(stdout);
    return app.exec();
}

} // namespace

class TestChildProcess : public QObject
{
    Q_OBJECT
private slots:
    void schoolEndsWithItsTest_data();
    void schoolEndsWithItsTest();
};

void TestChildProcess::schoolEndsWithItsTest_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("crash") << int(SIGSEGV);
    QTest::newRow("killed, as ctest does at its time-out") << int(SIGKILL);
}

// The school of a test that dies without running its destructors goes with it.
void TestChildProcess::schoolEndsWithItsTest()
{
#ifndef Q_OS_LINUX
    QSKIP("the kernel's parent-death signal is Linux's");
#else
    QFETCH(int, signal);
    ChildProcess owner;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(childMode, "1");
    owner.setProcessEnvironment(env);
    owner.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(owner.waitForStarted(10000));
    QVERIFY(owner.waitForReadyRead(20000));
    const qint64 schoolPid = owner.readLine().trimmed().toLongLong();
    QVERIFY(schoolPid > 0);
    QVERIFY(running(schoolPid));

    QCOMPARE(::kill(pid_t(owner.processId()), signal), 0);
    QVERIFY(owner.waitForFinished(10000));
    QCOMPARE(owner.exitStatus(), QProcess::CrashExit);
    QTRY_VERIFY_WITH_TIMEOUT(!running(schoolPid), 5000);
#endif
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(childMode)) {
        return ownSchoolAndWait(argc, argv);
    }
    QCoreApplication app(argc, argv);
    TestChildProcess test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_childprocess.moc"
