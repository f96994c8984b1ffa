// The parts of the download engine that need no server: segment names, the key-file name,
// the server's size text, the speed, the speed limit and the percentage.
#include "Downloader.h"
#include "M3u8Loader.h"
#include "SegmentName.h"
#include "SpeedMeter.h"
#include "TokenBucket.h"

#include <QtTest>
#include <limits>

class TestDownloadParts : public QObject
{
    Q_OBJECT
private slots:
    void segmentNames_data();
    void segmentNames();
    void keyFileName_data();
    void keyFileName();
    void serverSize_data();
    void serverSize();
    void speedOverTheLastSeconds();
    void limitKeepsItsAverageAndNoMoreThanASecond();
    void limitSetting_data();
    void limitSetting();
    void percentage_data();
    void percentage();
};

void TestDownloadParts::segmentNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("plain");
    QTest::newRow("segment") << "seg00000.ts" << true;
    QTest::newRow("chinese") << QStringLiteral("第一段.ts") << true;
    QTest::newRow("255 bytes") << QString(255, 'a') << true;
    QTest::newRow("256 bytes") << QString(256, 'a') << false;
    // 86 characters of three UTF-8 bytes each: 258 bytes.
    QTest::newRow("256+ bytes in UTF-8") << QString(86, QChar(0x6BB5)) << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("parent") << "../x.ts" << false;
    QTest::newRow("slash") << "a/b.ts" << false;
    QTest::newRow("absolute") << "/etc/passwd" << false;
    QTest::newRow("backslash") << "a\\b.ts" << false;
    QTest::newRow("drive") << "C:x.ts" << false;
    QTest::newRow("url") << "http://host/seg.ts" << false;
    QTest::newRow("device") << "CON" << false;
    QTest::newRow("device with suffix") << "nul.ts" << false;
    QTest::newRow("com port") << "COM1.ts" << false;
    QTest::newRow("lpt port") << "lpt9" << false;
    QTest::newRow("not a port") << "COM0.ts" << true;
    QTest::newRow("console-like") << "CONSOLE.ts" << true;
    QTest::newRow("trailing dot") << "seg." << false;
    QTest::newRow("control character") << "seg\n.ts" << false;
    QTest::newRow("the stored playlist") << "00000.ls" << false;
    QTest::newRow("a partial file") << "seg00000.ts.part" << false;
}

void TestDownloadParts::segmentNames()
{
    QFETCH(QString, name);
    QFETCH(bool, plain);
    QCOMPARE(SegmentName::isPlain(name), plain);
}

void TestDownloadParts::keyFileName_data()
{
    QTest::addColumn<QByteArray>("keyName");
    QTest::addColumn<QString>("address");
    // By hand: f+3=i, c+4=g, g+5=l, a+6=g, b+7=i, b+8=j, f+9=o, a+10=k, d+11=o, a+12=m, b+13=o,
    // g+14=u, g+15=v, b+16=r, d+17=u, b+18=t; characters 17 to 20 are not used.
    QTest::newRow("20 characters")
        << QByteArray("fcgabbfadabggbdbgabd") << "http://k.test/keyfile/2016/iglgijokomouvrut.k";
    // 0xFD + 3 = 0x100 wraps to 0x00; 'a' + 4 ... 'a' + 18 = e ... s.
    QTest::newRow("wrap at the first byte") << QByteArray("\xFD"
                                                          "aaaaaaaaaaaaaaa")
                                            << "http://k.test/keyfile/2016/%00efghijklmnopqrs.k";
    // 0x7D + 3 = 0x80: one byte above 127, sent as that byte.
    QTest::newRow("high byte") << QByteArray("\x7D"
                                             "aaaaaaaaaaaaaaa")
                               << "http://k.test/keyfile/2016/%80efghijklmnopqrs.k";
    // 0xFF + i + 3 = i + 2 after the wrap: 0x02 ... 0x11.
    QTest::newRow("all bytes wrap")
        << QByteArray(16, '\xFF')
        << "http://k.test/keyfile/2016/%02%03%04%05%06%07%08%09%0A%0B%0C%0D%0E%0F%10%11.k";
    // '+' + 3 = '.', ',' + 4 = '0'; a shifted byte that is a path character stays in the name:
    // ',' (0x2C) + 3 = '/' (0x2F).
    QTest::newRow("slash after the shift")
        << QByteArray(",bbbbbbbbbbbbbbb") << "http://k.test/keyfile/2016/%2Ffghijklmnopqrst.k";
}

void TestDownloadParts::keyFileName()
{
    QFETCH(QByteArray, keyName);
    QFETCH(QString, address);
    QCOMPARE(M3u8Loader::encryptStr(QString::fromLatin1(keyName), "http://k.test/"), address);
}

void TestDownloadParts::serverSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("size");
    QTest::newRow("MB") << "123.5MB" << 123.5f;
    QTest::newRow("lower-case unit") << "123.5mb" << 0.0f;
    QTest::newRow("no unit") << "42" << 42.0f;
    QTest::newRow("empty") << "" << 0.0f;
    QTest::newRow("not a number") << "abc" << 0.0f;
    QTest::newRow("zero") << "0MB" << 0.0f;
    QTest::newRow("negative") << "-5MB" << 0.0f;
    QTest::newRow("infinite") << "1e999MB" << 0.0f;
}

void TestDownloadParts::serverSize()
{
    QFETCH(QString, text);
    QFETCH(float, size);
    QCOMPARE(M3u8Loader::parseSize(text), size);
}

void TestDownloadParts::speedOverTheLastSeconds()
{
    SpeedMeter meter(6000);
    QCOMPARE(meter.sample(0), 0.0f);
    meter.add(2048 * 1024); // 2 MB in the first two seconds
    QCOMPARE(meter.sample(2000), 1024.0f);
    meter.add(1024 * 1024); // 1 MB in the next two
    // (2 MB + 1 MB) over 4 s = 768 KB/s.
    QCOMPARE(meter.sample(4000), 768.0f);
    meter.add(0);
    QCOMPARE(meter.sample(6000), 512.0f); // 3 MB over 6 s
    // Nothing more: the window slides, the first two seconds drop out: 1 MB over 6 s.
    QCOMPARE(meter.sample(8000), float(1024.0 / 6.0));
    // Only silence in the window.
    QCOMPARE(meter.sample(14000), 0.0f);
    // A sample at the same moment divides by nothing.
    SpeedMeter same;
    same.add(100);
    QCOMPARE(same.sample(5), 0.0f);
    QCOMPARE(same.sample(5), 0.0f);
}

void TestDownloadParts::limitKeepsItsAverageAndNoMoreThanASecond()
{
    TokenBucket bucket;
    QCOMPARE(bucket.available(0), std::numeric_limits<qint64>::max()); // no limit yet
    bucket.setRate(300, 0);
    QCOMPARE(bucket.available(0), qint64(0)); // a new limit starts empty
    // A reader taking all it may every 7 ms for 1001 ms: 300 B/s x 1.001 s = 300.3 bytes, so
    // 300 whole bytes. Rounding each 2.1-byte take down would give 143 x 2 = 286.
    qint64 taken = 0;
    for (qint64 ms = 7; ms <= 1001; ms += 7) {
        const qint64 bytes = bucket.available(ms);
        bucket.take(bytes);
        taken += bytes;
    }
    QCOMPARE(taken, qint64(300));
    // A minute without reading saves one second's allowance, not 60 x 300 bytes.
    QCOMPARE(bucket.available(61001), qint64(300));
    bucket.take(300);
    // 150 bytes come in 150 / 300 s; a wish above one second's allowance waits one second.
    QCOMPARE(bucket.msUntil(150, 61001), qint64(500));
    QCOMPARE(bucket.msUntil(1000, 61001), qint64(1000));
    QCOMPARE(bucket.available(61251), qint64(75)); // 300 B/s x 0.25 s
    // A lower limit keeps no more than its own second: 300 saved by 62251, 100 kept.
    bucket.setRate(100, 62251);
    QCOMPARE(bucket.available(62251), qint64(100));
    bucket.setRate(0, 62251);
    QVERIFY(!bucket.isLimited());
}

void TestDownloadParts::limitSetting_data()
{
    QTest::addColumn<QString>("text"); // KB/s, as stored
    QTest::addColumn<qint64>("bytesPerSecond");
    QTest::newRow("missing") << "" << qint64(0);
    QTest::newRow("not a number") << "1 MB/s" << qint64(0);
    QTest::newRow("negative") << "-256" << qint64(0);
    QTest::newRow("256 KB/s") << "256" << qint64(262144);
    QTest::newRow("below the floor") << "1" << qint64(16384);
    QTest::newRow("above 1 GB/s") << "99999999999" << qint64(1073741824);
}

void TestDownloadParts::limitSetting()
{
    QFETCH(QString, text);
    QFETCH(qint64, bytesPerSecond);
    QCOMPARE(TokenBucket::bytesPerSecond(text), bytesPerSecond);
}

void TestDownloadParts::percentage_data()
{
    QTest::addColumn<float>("sizeKB");
    QTest::addColumn<float>("totalMB");
    QTest::addColumn<int>("percent");
    QTest::newRow("half") << 512.0f << 1.0f << 50;
    QTest::newRow("all") << 1024.0f << 1.0f << 100;
    QTest::newRow("more than announced") << 5000.0f << 1.0f << 100;
    QTest::newRow("unknown size") << 512.0f << 0.0f << 0;
    QTest::newRow("negative size") << 512.0f << -1.0f << 0;
    QTest::newRow("not a number") << 512.0f << float(qQNaN()) << 0;
    QTest::newRow("nothing yet") << 0.0f << 2.0f << 0;
}

void TestDownloadParts::percentage()
{
    QFETCH(float, sizeKB);
    QFETCH(float, totalMB);
    QFETCH(int, percent);
    QCOMPARE(Downloader::percent(sizeKB, totalMB), percent);
}

QTEST_GUILESS_MAIN(TestDownloadParts)
#include "tst_downloadparts.moc"
