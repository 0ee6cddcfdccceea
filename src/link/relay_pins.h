#pragma once

#include <QString>

// The relays' keys the operator has trusted, kept in a file beside the
// settings, one "HOST:PORT FINGERPRINT" a line. The operator may edit it:
// removing a relay's line forgets its key, and the next link asks again.
class RelayPins
{
public:
    explicit RelayPins(const QString &path)
        : m_path(path)
    { }

    // The fingerprint pinned for host:port, or an empty text.
    QString keyOf(const QString &hostPort) const;
    // Adds the line, leaving the others as they are; false when the file
    // cannot be written, which errorString() tells.
    bool pin(const QString &hostPort, const QString &key);
    QString errorString() const { return m_error; }

private:
    QString m_path;
    QString m_error;
};
