// Writes a lesson's 16-byte AES key for the media build: the MD5 digest of a seed text, so
// every build makes the same keys without committing binary files.
#include <QCryptographicHash>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tamix-school-keygen SEED-TEXT KEY-FILE\n");
        return 2;
    }
    QFile out(QString::fromLocal8Bit(argv[2]));
    const QByteArray key = QCryptographicHash::hash(QByteArray(argv[1]), QCryptographicHash::Md5);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(key) != key.size()) {
        std::fprintf(stderr, "tamix-school-keygen: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
