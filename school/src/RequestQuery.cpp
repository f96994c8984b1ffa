#include "RequestQuery.h"

#include <QByteArray>
#include <QList>

RequestQuery::RequestQuery(const std::string& target)
{
    const auto mark = target.find('?');
    if (mark == std::string::npos) {
        return;
    }
    const QByteArray query = QByteArray::fromStdString(target.substr(mark + 1));
    const QList<QByteArray> pairs = query.split('&');
    for (const QByteArray& pair : pairs) {
        if (pair.isEmpty()) {
            continue;
        }
        const int eq = pair.indexOf('=');
        const QByteArray key = eq < 0 ? pair : pair.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        const QString name = QString::fromUtf8(QByteArray::fromPercentEncoding(key));
        // A repeated key keeps its last value, as the school's web stack does.
        values.insert(name, QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
}
