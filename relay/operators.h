#pragma once

#include <QByteArrayView>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

// What an operator may do with the radio. Every role may ask the radio what
// it likes and set its own level of reports.
enum class Role {
    // Hears the receiver: asks, but changes nothing.
    Listen,
    // Tunes and switches, but never keys the transmitter.
    Operate,
    // May also key: a tune carrier, CW, transmit.
    Transmit,
};

std::optional<Role> roleNamed(QStringView name);
QString nameOf(Role role);
bool roleAllows(Role role, QByteArrayView command);

struct Operator
{
    QString name;
    Role role = Role::Listen;
};

// The station's operators, by the fingerprint of each one's key: a file of
// lines "FINGERPRINT ROLE NAME", where "#" begins a comment. The file is
// read again whenever it changes, also when an editor replaces it or it is
// made later; a line it cannot read is skipped and told.
class Operators : public QObject
{
    Q_OBJECT

public:
    explicit Operators(QObject *parent = nullptr);

    // Reads the file and watches it; an operators file that is not there
    // yet lists nobody.
    void watch(const QString &path);
    QString path() const { return m_path; }
    std::optional<Operator> find(const QString &fingerprint) const;
    qsizetype count() const { return m_operators.size(); }

    // The operators as written in text; what cannot be read is told to
    // `problems`, one line each.
    static QHash<QString, Operator> parse(QStringView text, QStringList *problems);

signals:
    // The list was read again: keys no longer on it are revoked.
    void changed();
    void message(const QString &text);

private:
    void reload();

    QString m_path;
    QHash<QString, Operator> m_operators;
    QFileSystemWatcher m_watcher;
    // Editors write in steps; the file is read once they are done.
    QTimer m_settle;
};
