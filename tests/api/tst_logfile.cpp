// The support log: lines land in the file with their secrets masked, and the file starts over
// beside one older generation once it passes its size.
#include "LogFile.h"

#include <QTemporaryDir>
#include <QtTest>

class TestLogFile : public QObject
{
    Q_OBJECT
private slots:
    void masksAndRotates();
};

void TestLogFile::masksAndRotates()
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/logs/tamix.log";
    LogFile::install(path);
    qDebug() << "request ended: http://school.test/a/?key=SID-77&sign=0123abcd";
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray first = file.readAll();
    file.close();
    QVERIFY2(first.contains("?key=***&sign=***") && !first.contains("SID-77"), first.constData());

    // 1 KB lines until the file has passed its size twice over.
    const QString filler(1000, QLatin1Char('x'));
    for (qint64 written = 0; written < 2 * LogFile::maxBytes + 4096; written += 1024) {
        qDebug().noquote() << filler;
    }
    LogFile::uninstall();
    const QFileInfo current(path);
    const QFileInfo older(path + ".1");
    QVERIFY(older.exists());
    QVERIFY(!QFileInfo::exists(path + ".2"));
    QVERIFY2(older.size() > LogFile::maxBytes && older.size() < LogFile::maxBytes + 2048,
             qPrintable(QString::number(older.size())));
    QVERIFY(current.size() <= LogFile::maxBytes);
}

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
