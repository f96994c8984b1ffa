#include "MyClassBridge.h"

#include <QDebug>

MyClassBridge::MyClassBridge(const QString& schoolOrigin, std::function<QUrl()> currentUrl,
                             QObject* target, QObject* parent)
    : QObject(parent), schoolOrigin(schoolOrigin), currentUrl(std::move(currentUrl)), target(target)
{
}

QString MyClassBridge::originOf(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty()) {
        return QString();
    }
    QUrl origin;
    origin.setScheme(url.scheme().toLower());
    origin.setHost(url.host());
    const int defaultPort = origin.scheme() == QLatin1String("https")  ? 443
                            : origin.scheme() == QLatin1String("http") ? 80
                                                                       : -1;
    origin.setPort(url.port() == defaultPort ? -1 : url.port());
    return origin.toString(QUrl::FullyEncoded);
}

void MyClassBridge::call(const QString& origin, const QString& method, const QVariantList& args)
{
    const QString shown = originOf(currentUrl());
    if (origin != schoolOrigin || shown != schoolOrigin) {
        qWarning().noquote() << "refused a page call of" << method << "from" << origin << "(page"
                             << shown << "), only" << schoolOrigin << "may call";
        return;
    }
    const int expected = method == QLatin1String("skipToVideo")       ? 5
                         : method == QLatin1String("skipToList")      ? 1
                         : method == QLatin1String("getMyCourseInfo") ? 1
                                                                      : -1;
    if (expected < 0 || args.size() != expected) {
        qWarning().noquote() << "refused a page call of" << method << "with" << args.size()
                             << "arguments";
        return;
    }
    QStringList text;
    for (const QVariant& arg : args) {
        text.append(arg.toString());
    }
    const QByteArray name = method.toLatin1();
    if (expected == 1) {
        QMetaObject::invokeMethod(target, name.constData(), Q_ARG(QString, text.at(0)));
    } else {
        QMetaObject::invokeMethod(target, name.constData(), Q_ARG(QString, text.at(0)),
                                  Q_ARG(QString, text.at(1)), Q_ARG(QString, text.at(2)),
                                  Q_ARG(QString, text.at(3)), Q_ARG(QString, text.at(4)));
    }
}
