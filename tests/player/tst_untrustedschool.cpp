// A school whose certificate no trusted CA signed is refused before anything is asked of it:
// by the client's own requests and by the player, which would take any certificate unless told
// to verify. The school counts every request it reads, so a refused handshake leaves it at 0.
#include "HttpHelper.h"
#include "MpvController.h"
#include "SchoolProcess.h"

#include <QTemporaryDir>
#include <QtTest>

class TestUntrustedSchool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refused_data();
    void refused();

private:
    SchoolProcess school;
    QTemporaryDir scratch;
};

void TestUntrustedSchool::initTestCase()
{
    qputenv("TAMIX_MPV_OPTIONS", "ao=null,vo=null,hwdec=no");
    school.setTls(SchoolProcess::Tls::Untrusted);
    QVERIFY2(school.start(), qPrintable(school.errorString()));
    QVERIFY(school.apiUrl().startsWith("https://"));
}

void TestUntrustedSchool::refused_data()
{
    QTest::addColumn<bool>("player");
    QTest::newRow("client request") << false;
    QTest::newRow("player") << true;
}

void TestUntrustedSchool::refused()
{
    QFETCH(bool, player);
    QVERIFY(school.resetStats());
    if (player) {
        // An online lesson's playlist: its key and segment on the school's two servers.
        const QString file = scratch.filePath("online.m3u8");
        QFile playlist(file);
        QVERIFY(playlist.open(QIODevice::WriteOnly));
        playlist.write("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-KEY:METHOD=AES-128,URI=\"" +
                       school.keyUrl().toUtf8() + "/keyfile/2016/k.k\"\n#EXTINF:2.0,\n" +
                       school.apiUrl().toUtf8() + "/stream/m1013/seg00000.ts\n#EXT-X-ENDLIST\n");
        playlist.close();
        MpvController mpv;
        QVERIFY2(mpv.isValid(), qPrintable(mpv.errorString()));
        QSignalSpy failed(&mpv, &MpvController::error);
        QSignalSpy started(&mpv, &MpvController::started);
        mpv.load(file);
        QVERIFY(failed.wait(15000));
        QCOMPARE(started.count(), 0);
    } else {
        HttpHelper http;
        QCOMPARE(http.getSync(school.apiUrl() + "/", 10000), QString());
    }
    QCOMPARE(school.stats().value("requests").toInt(), 0);
}

QTEST_GUILESS_MAIN(TestUntrustedSchool)
#include "tst_untrustedschool.moc"
