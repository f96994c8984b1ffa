// Start-up time of the client: from starting the process to the first painted main window,
// measured from outside over repeated cold-ish starts. Run it with a display, for example
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/app/bench_startup 21
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

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 21;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "bench_startup needs a display; run it under xvfb-run\n");
        return 2;
    }

    std::vector<double> outside;
    std::vector<double> inside;
    for (int i = 0; i < runs + 1; ++i) {
        QTemporaryDir data;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TAMIX_DOCUMENTS_DIR"), data.path());
        env.insert(QStringLiteral("TAMIX_VIDEOS_DIR"), data.path());
        env.insert(QStringLiteral("TAMIX_API_URL"), QStringLiteral("http://127.0.0.1:9"));
        env.insert(QStringLiteral("TAMIX_KEY_URL"), QStringLiteral("http://127.0.0.1:9"));
        QProcess client;
        client.setProcessEnvironment(env);
        client.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        client.start(QStringLiteral(TAMIX_CLIENT), {QStringLiteral("--startup-probe")});
        QByteArray line;
        while (!line.contains('\n') && client.waitForReadyRead(10000)) {
            line += client.readAllStandardOutput();
        }
        const double shownMs = clock.nsecsElapsed() / 1e6;
        client.waitForFinished(10000);
        // "shown after N ms", measured by the client from the start of main().
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.size() < 3 || words.first() != "shown") {
            std::fprintf(stderr, "run %d: no start-up line (%s)\n", i, line.constData());
            return 1;
        }
        if (i == 0) {
            continue; // warms the file cache
        }
        outside.push_back(shownMs);
        inside.push_back(words.at(2).toDouble());
    }
    std::printf("start-up to first painted main window over %d runs:\n", runs);
    std::printf("  process start -> shown: median %.0f ms (min %.0f, max %.0f)\n", median(outside),
                *std::min_element(outside.begin(), outside.end()),
                *std::max_element(outside.begin(), outside.end()));
    std::printf("  main() -> shown:        median %.0f ms\n", median(inside));
    std::printf("  target: median under 300 ms\n");
    return median(outside) < 300 ? 0 : 1;
}
