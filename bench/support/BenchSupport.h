#pragma once

// What the benchmark programs share: the median of their runs, and waiting in the event loop.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QList>
#include <algorithm>
#include <functional>
#include <vector>

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs the event loop until `done` holds or `ms` pass; the elapsed milliseconds, or -1.
inline double waitFor(const std::function<bool()>& done, int ms = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            return -1;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return clock.nsecsElapsed() / 1e6;
}

// Kilobytes of proportional set size of `pid`, 0 when it cannot be read.
inline qint64 pssKB(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("Pss:")) {
            return line.mid(4).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return 0;
}

// This process and every process below it.
inline QList<qint64> processTree(qint64 root)
{
    QMultiHash<qint64, qint64> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!isPid || !stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        // "pid (name) state ppid ...": the name may hold spaces, so read after the last ')'.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        children.insert(fields.value(1).toLongLong(), pid);
    }
    QList<qint64> tree{root};
    for (int i = 0; i < tree.size(); ++i) {
        tree.append(children.values(tree.at(i)));
    }
    return tree;
}

// PSS of `root` and its descendants, without the processes below `excluded` (the school).
inline qint64 treePssKB(qint64 root, qint64 excluded)
{
    QList<qint64> tree = processTree(root);
    for (qint64 pid : processTree(excluded)) {
        tree.removeAll(pid);
    }
    qint64 total = 0;
    for (qint64 pid : tree) {
        total += pssKB(pid);
    }
    return total;
}
