#include <QtTest>
class TestDownloader : public QObject
{
    Q_OBJECT
};
QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
