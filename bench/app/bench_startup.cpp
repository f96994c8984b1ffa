// Start-up time of the client: from starting the process to the first painted main window,
// measured from outside over repeated cold-ish starts, and its CPU time to that paint (all
// threads, as each process reads its own) against an empty window under the same style sheet. Run
// it with a display, for example
//   xvfb-run -a -s "-screen 0 1920x1080x24 -dpi 96" build/bench/app/bench_startup 21
// (96 dpi: a screen at 100 %; Xvfb's own 100 dpi has the toolkit scale everything by 1.04).
// Beside them, the same yardstick holding the client's first screen without its program: what
// the ratio cannot go below.
// The client runs with a fresh data folder each time and a school address nobody answers, so
// only the program's own start-up is measured (the network step does not hold up the window).
#include "BenchSupport.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

struct Run
{
    double wallMs = -1; // process start to the first paint
    double cpuMs = -1;  // user and system time of the whole process, start to exit
    QByteArray line;
};

double childCpuMs()
{
#ifdef Q_OS_UNIX
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
#else
    return 0;
#endif
}

// Starts `program`, waits for its first line (printed at its first paint) and for its end.
Run runOnce(const QString& program, const QStringList& arguments)
{
    QTemporaryDir data;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TAMIX_DOCUMENTS_DIR"), data.path());
    env.insert(QStringLiteral("TAMIX_VIDEOS_DIR"), data.path());
    env.insert(QStringLiteral("TAMIX_API_URL"), QStringLiteral("http://127.0.0.1:9"));
    env.insert(QStringLiteral("TAMIX_KEY_URL"), QStringLiteral("http://127.0.0.1:9"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setStandardErrorFile(QProcess::nullDevice());
    Run run;
    const double cpuBefore = childCpuMs();
    QElapsedTimer clock;
    clock.start();
    child.start(program, arguments);
    while (!run.line.contains('\n') && child.waitForReadyRead(10000)) {
        run.line += child.readAllStandardOutput();
    }
    run.wallMs = clock.nsecsElapsed() / 1e6;
    if (!child.waitForFinished(10000)) {
        child.kill();
        child.waitForFinished(2000);
        return Run();
    }
    run.cpuMs = childCpuMs() - cpuBefore;
    return run;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 21;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "bench_startup needs a display; run it under xvfb-run\n");
        return 2;
    }

    std::vector<double> outside, inside, cpu, emptyWall, emptyCpu, wholeCpu, emptyWholeCpu,
        screenCpu;
    // Side by side, so that a busy moment of the machine costs both alike; the first pair
    // warms the file cache.
    for (int i = 0; i < runs + 1; ++i) {
        const Run client =
            runOnce(QStringLiteral(TAMIX_CLIENT), {QStringLiteral("--startup-probe")});
        const Run empty = runOnce(QStringLiteral(TAMIX_EMPTY_WINDOW), {});
        const Run screen =
            runOnce(QStringLiteral(TAMIX_EMPTY_WINDOW), {QStringLiteral("--screen")});
        // "shown after N ms, cpu M ms", measured by the client from the start of main() and
        // of the process; "shown cpu M ms" from the empty window.
        const QList<QByteArray> words = client.line.trimmed().split(' ');
        const QList<QByteArray> emptyWords = empty.line.trimmed().split(' ');
        const QList<QByteArray> screenWords = screen.line.trimmed().split(' ');
        if (client.cpuMs < 0 || words.size() < 6 || words.first() != "shown") {
            std::fprintf(stderr, "run %d: no start-up line (%s)\n", i, client.line.constData());
            return 1;
        }
        if (empty.cpuMs < 0 || emptyWords.size() < 3 || emptyWords.first() != "shown" ||
            screen.cpuMs < 0 || screenWords.size() < 3 || screenWords.first() != "shown") {
            std::fprintf(stderr, "run %d: the empty window did not show\n", i);
            return 1;
        }
        if (i == 0) {
            continue;
        }
        outside.push_back(client.wallMs);
        inside.push_back(words.at(2).toDouble());
        cpu.push_back(words.at(5).toDouble());
        wholeCpu.push_back(client.cpuMs);
        emptyWall.push_back(empty.wallMs);
        emptyCpu.push_back(emptyWords.at(2).toDouble());
        emptyWholeCpu.push_back(empty.cpuMs);
        screenCpu.push_back(screenWords.at(2).toDouble());
    }
    std::printf("start-up to first painted main window over %d runs:\n", runs);
    std::printf("  process start -> shown: median %.0f ms (min %.0f, max %.0f)\n", median(outside),
                *std::min_element(outside.begin(), outside.end()),
                *std::max_element(outside.begin(), outside.end()));
    std::printf("  main() -> shown:        median %.0f ms\n", median(inside));
    std::printf("  empty window: process start -> shown median %.0f ms\n", median(emptyWall));
    // What the first paint costs; the whole lives, start to exit, beside it (the client's
    // orderly stop is not the empty window's).
    std::printf("  whole process, start to exit: client %.0f ms CPU, empty window %.0f ms CPU\n",
                median(wholeCpu), median(emptyWholeCpu));
    const double ratio = median(cpu) / std::max(1.0, median(emptyCpu));
    std::printf("start-up: client %.0f ms CPU, empty window %.0f ms CPU, ratio %.2f\n", median(cpu),
                median(emptyCpu), ratio);
    // The part of the ratio that no start-up work can take away: showing the first screen.
    std::printf("  the first screen alone: %.0f ms CPU, ratio %.2f\n", median(screenCpu),
                median(screenCpu) / std::max(1.0, median(emptyCpu)));
    std::printf("  targets: median under 300 ms, ratio at most 1.25\n");
    return median(outside) < 300 && ratio <= 1.25 ? 0 : 1;
}
