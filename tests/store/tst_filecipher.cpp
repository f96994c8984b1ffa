// The stored cipher form: FIPS-197 vectors, block-by-block without chaining, zero fill,
// and whole, atomic replacement of destinations.
#include "FileCipher.h"

#include <QtTest>
#include <thread>

static QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

static QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

static void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class TestFileCipher : public QObject
{
    Q_OBJECT
private slots:
    void fipsVectors_data();
    void fipsVectors();
    void invalidKeyLength();
    void sizes_data();
    void sizes();
    void noChaining();
    void decryptKeepsZeroFill();
    void replacesLongerDestinationWhole();
    void deviceFormMatchesMemoryForm();
    void missingSourceWritesNothing();
    void concurrentCalls();

private:
    QTemporaryDir dir;
};

// FIPS-197 appendix C: plaintext 00112233…ff under the keys 000102…
void TestFileCipher::fipsVectors_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("cipherText");
    QTest::newRow("AES-128") << hex("000102030405060708090a0b0c0d0e0f")
                             << hex("69c4e0d86a7b0430d8cdb78070b4c55a");
    QTest::newRow("AES-192") << hex("000102030405060708090a0b0c0d0e0f1011121314151617")
                             << hex("dda97ca4864cdfe06eaf70a0ec0d7191");
    QTest::newRow("AES-256")
        << hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")
        << hex("8ea2b7ca516745bfeafc49904b496089");
}

void TestFileCipher::fipsVectors()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, cipherText);
    const FileCipher cipher(key.size(), reinterpret_cast<const unsigned char*>(key.constData()));
    QVERIFY(cipher.isValid());
    const QByteArray plain = hex("00112233445566778899aabbccddeeff");
    QCOMPARE(cipher.encrypt(plain).toHex(), cipherText.toHex());
    QCOMPARE(cipher.decrypt(cipherText).toHex(), plain.toHex());

    const QString path = dir.filePath("vector");
    QVERIFY(cipher.encryptBytes(plain, path));
    QCOMPARE(readFile(path).toHex(), cipherText.toHex());
}

void TestFileCipher::invalidKeyLength()
{
    const QByteArray key(20, 'k');
    const FileCipher cipher(key.size(), reinterpret_cast<const unsigned char*>(key.constData()));
    QVERIFY(!cipher.isValid());
    const QString path = dir.filePath("invalid");
    QVERIFY(!cipher.encryptBytes("some bytes", path));
    QVERIFY(!QFile::exists(path));
}

void TestFileCipher::sizes_data()
{
    QTest::addColumn<int>("plainSize");
    QTest::addColumn<int>("storedSize");
    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("1 byte") << 1 << 16;
    QTest::newRow("one block") << 16 << 16;
    QTest::newRow("17 bytes") << 17 << 32;
    QTest::newRow("over a megabyte") << (1 << 20) + 3 << (1 << 20) + 16;
}

void TestFileCipher::sizes()
{
    QFETCH(int, plainSize);
    QFETCH(int, storedSize);
    const FileCipher cipher = FileCipher::programCipher();
    const QString source = dir.filePath("plain");
    const QString stored = dir.filePath("stored");
    const QString back = dir.filePath("back");
    QByteArray plain(plainSize, Qt::Uninitialized);
    for (int i = 0; i < plainSize; ++i) {
        plain[i] = char(i * 7 + 1);
    }
    writeFile(source, plain);
    QVERIFY(cipher.encryptFile(source, stored));
    QCOMPARE(QFileInfo(stored).size(), qint64(storedSize));
    QVERIFY(cipher.decryptFile(stored, back));
    const QByteArray decrypted = readFile(back);
    QCOMPARE(decrypted.size(), storedSize);
    QCOMPARE(decrypted.left(plainSize), plain);
    QCOMPARE(decrypted.mid(plainSize), QByteArray(storedSize - plainSize, '\0'));
}

void TestFileCipher::noChaining()
{
    const FileCipher cipher = FileCipher::programCipher();
    const QByteArray block("0123456789abcdef");
    const QByteArray out = cipher.encrypt(block + block + "x");
    QCOMPARE(out.size(), 48);
    QCOMPARE(out.mid(0, 16), out.mid(16, 16));
    QVERIFY(out.mid(0, 16) != block);
    QCOMPARE(out.mid(32, 16), cipher.encrypt(QByteArray("x") + QByteArray(15, '\0')));
}

void TestFileCipher::decryptKeepsZeroFill()
{
    const FileCipher cipher = FileCipher::programCipher();
    const QByteArray plain("twenty bytes exactly");
    QCOMPARE(plain.size(), 20);
    QCOMPARE(cipher.decrypt(cipher.encrypt(plain)), plain + QByteArray(12, '\0'));
}

void TestFileCipher::replacesLongerDestinationWhole()
{
    const FileCipher cipher = FileCipher::programCipher();
    const QString path = dir.filePath("replaced");
    writeFile(path, QByteArray(64, 'o'));
    const QByteArray plain(32, 'n');
    QVERIFY(cipher.encryptBytes(plain, path));
    QCOMPARE(readFile(path), cipher.encrypt(plain));
}

void TestFileCipher::deviceFormMatchesMemoryForm()
{
    const FileCipher cipher = FileCipher::programCipher();
    QByteArray plain(3 * 1024 * 1024 + 5, 'a');
    for (int i = 0; i < plain.size(); i += 4099) {
        plain[i] = char(i);
    }
    QBuffer in(&plain);
    QByteArray stored;
    QBuffer out(&stored);
    QVERIFY(cipher.encryptDevice(&in, &out));
    QCOMPARE(stored, cipher.encrypt(plain));
    QBuffer storedIn(&stored);
    QByteArray back;
    QBuffer backOut(&back);
    QVERIFY(cipher.decryptDevice(&storedIn, &backOut));
    QCOMPARE(back.left(plain.size()), plain);
}

void TestFileCipher::missingSourceWritesNothing()
{
    const FileCipher cipher = FileCipher::programCipher();
    const QString path = dir.filePath("untouched");
    writeFile(path, "previous");
    QVERIFY(!cipher.encryptFile(dir.filePath("no-such-file"), path));
    QCOMPARE(readFile(path), QByteArray("previous"));
}

void TestFileCipher::concurrentCalls()
{
    const FileCipher cipher = FileCipher::programCipher();
    const QByteArray plain(256 * 1024, 'z');
    const QByteArray expected = cipher.encrypt(plain);
    std::atomic_int mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                if (cipher.encrypt(plain) != expected) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    QCOMPARE(mismatches.load(), 0);
}

QTEST_GUILESS_MAIN(TestFileCipher)
#include "tst_filecipher.moc"
