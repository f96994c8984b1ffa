// Saves and loads a store of 100 courses × 100 lessons, and encrypts 64 MiB with the file
// cipher. Prints medians; targets: save + load under 30 ms, cipher at least 500 MB/s.
#include "CourseStore.h"
#include "FileCipher.h"
#include "UserRecord.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <vector>

// Swallows what is written: measures the cipher's streaming path without the cost of growing a
// destination.
class NullDevice : public QIODevice
{
protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 length) override { return length; }
};

static double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

static void fill(UserRecord& user)
{
    user.uid = QStringLiteral("100234");
    user.nickname = QStringLiteral("会计小王");
    user.username = QStringLiteral("13800138000");
    user.email = QStringLiteral("wang@example.com");
    user.is_img = QStringLiteral("http://127.0.0.1:18080/avatar/13800138000.jpg");
    user.sid = QStringLiteral("8f14e45fceea167a5a36dedd4bea2543");
    user.loginTime = QDateTime::currentDateTime();
    for (int c = 0; c < 100; ++c) {
        CourseRecord course;
        course.id = QString::number(1000 + c);
        course.title = QStringLiteral("中级会计实务精讲班第%1期").arg(c);
        course.img = QStringLiteral("http://127.0.0.1:18080/img/course%1.jpg").arg(c);
        course.dir =
            QStringLiteral("/home/student/Videos/tamixVideo/%1").arg(c, 32, 16, QLatin1Char('0'));
        for (int l = 0; l < 100; ++l) {
            LessonRecord lesson;
            lesson.courseId = course.id;
            lesson.id = QString::number(50000 + c * 100 + l);
            lesson.number = QString::number(l + 1);
            lesson.c_type = QStringLiteral("2");
            lesson.type = QStringLiteral("kejian");
            lesson.title = QStringLiteral("课件%1 长期股权投资的初始计量与后续计量").arg(l + 1);
            lesson.c_time = QStringLiteral("00:45:12");
            lesson.stutas = QStringLiteral("1");
            lesson.watchtimes = QString::number(l * 37);
            lesson.level = 3;
            lesson.state = l % 3;
            lesson.keyUrl = QStringLiteral("http://127.0.0.1:18080/course_app/GetKeysAndUrlByLid/"
                                           "?key=8f14e45fceea167a5a36dedd4bea2543&class_id=%1"
                                           "&lesson_id=%2&c_type=2&sign=%3")
                                .arg(course.id, lesson.id, QString(32, QLatin1Char('a')));
            lesson.dir = course.dir + QLatin1Char('/') + QString(32, QLatin1Char('b'));
            course.list.append(lesson);
        }
        user.courses.append(course);
    }
    for (int q = 0; q < 200; ++q) {
        user.queue.append(user.courses[q / 100].list[q % 100]);
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    const FileCipher cipher = FileCipher::programCipher();
    const CourseStore store(dir.path(), cipher);

    UserRecord user;
    fill(user);
    std::vector<double> saves, loads;
    for (int run = 0; run < 21; ++run) {
        QElapsedTimer clock;
        clock.start();
        store.save(user);
        saves.push_back(clock.nsecsElapsed() / 1e6);
        UserRecord back;
        clock.restart();
        if (store.load(user.username, back) != CourseStore::LoadResult::Loaded ||
            back.courses.size() != 100) {
            out << "load failed\n";
            return 1;
        }
        loads.push_back(clock.nsecsElapsed() / 1e6);
    }
    const qint64 fileSize = QFileInfo(store.recordPath(user.username)).size();
    out << QStringLiteral("store 100 courses x 100 lessons (%1 KiB): save %2 ms, load %3 ms, "
                          "save+load %4 ms (median of 21; target < 30 ms)\n")
               .arg(fileSize / 1024)
               .arg(median(saves), 0, 'f', 2)
               .arg(median(loads), 0, 'f', 2)
               .arg(median(saves) + median(loads), 0, 'f', 2);

    QByteArray plain(64 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < plain.size(); i += 4096) {
        plain[i] = char(i >> 12);
    }
    std::vector<double> rates;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer clock;
        clock.start();
        const QByteArray encrypted = cipher.encrypt(plain);
        const double seconds = clock.nsecsElapsed() / 1e9;
        if (encrypted.size() != plain.size()) {
            out << "encryption failed\n";
            return 1;
        }
        rates.push_back(plain.size() / 1e6 / seconds);
    }
    std::vector<double> streamed;
    for (int run = 0; run < 7; ++run) {
        QBuffer in(&plain);
        NullDevice sink;
        sink.open(QIODevice::WriteOnly);
        QElapsedTimer clock;
        clock.start();
        if (!cipher.encryptDevice(&in, &sink)) {
            out << "stream encryption failed\n";
            return 1;
        }
        streamed.push_back(plain.size() / 1e6 / (clock.nsecsElapsed() / 1e9));
    }
    out << QStringLiteral("cipher: encrypt 64 MiB streamed in 1 MiB blocks at %1 MB/s; into a new "
                          "64 MiB buffer at %2 MB/s (medians of 7; target >= 500)\n")
               .arg(median(streamed), 0, 'f', 0)
               .arg(median(rates), 0, 'f', 0);
    return 0;
}
