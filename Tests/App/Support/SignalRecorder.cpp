#include "Support/SignalRecorder.h"

#include <QMetaMethod>

namespace Quandril::AppTesting {

SignalRecorder::SignalRecorder(QObject* source, std::function<QString()> snapshot)
    : snapshot_(std::move(snapshot))
{
    const QMetaObject* meta = source->metaObject();
    const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("record()"));
    for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal)
            connect(source, method, this, slot, Qt::DirectConnection);
    }
}

QStringList SignalRecorder::names() const
{
    QStringList out;
    for (const QString& entry : entries_)
        out.append(entry.section(QLatin1Char(' '), 0, 0));
    return out;
}

void SignalRecorder::record()
{
    QString entry = QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name());
    if (snapshot_)
        entry += QLatin1Char(' ') + snapshot_();
    entries_.append(entry);
}

} // namespace Quandril::AppTesting
