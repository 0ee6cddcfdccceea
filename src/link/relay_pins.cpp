#include "link/relay_pins.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

namespace {
// Nothing when the file is there but cannot be read. Only a plain file is
// read: opening a FIFO would wait for a writer.
std::optional<QByteArray> contentsOf(const QString &path, QString *problem = nullptr)
{
    QFile file(path);
    if (!file.exists())
        return QByteArray();
    if (QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly))
        return file.readAll();
    if (problem)
        *problem = QStringLiteral("cannot read %1: %2")
                       .arg(QFileInfo(path).absoluteFilePath(), file.errorString());
    return std::nullopt;
}
} // namespace

QString RelayPins::keyOf(const QString &hostPort) const
{
    for (const QByteArray &line : contentsOf(m_path).value_or(QByteArray()).split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 2 && QString::fromUtf8(fields.first()) == hostPort)
            return QString::fromLatin1(fields.last());
    }
    return {};
}

// Written whole to a temporary file that replaces the old one once complete,
// so that the pins already there survive a full disk; a file that cannot be
// read is not replaced.
bool RelayPins::pin(const QString &hostPort, const QString &key)
{
    std::optional<QByteArray> contents = contentsOf(m_path, &m_error);
    if (!contents)
        return false;
    if (!contents->isEmpty() && !contents->endsWith('\n'))
        *contents += '\n';
    *contents += (hostPort + u' ' + key + u'\n').toUtf8();
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly) && file.write(*contents) == contents->size() && file.commit())
        return true;
    m_error
        = QStringLiteral("cannot write %1: %2").arg(QFileInfo(m_path).absoluteFilePath(), file.errorString());
    return false;
}
