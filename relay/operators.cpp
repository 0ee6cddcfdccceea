#include "operators.h"

#include "cat_commands.h"
#include "identity.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr std::chrono::milliseconds SettleTime{200};

} // namespace

std::optional<Role> roleNamed(QStringView name)
{
    for (Role role : {Role::Listen, Role::Operate, Role::Transmit}) {
        if (name == nameOf(role))
            return role;
    }
    return std::nullopt;
}

QString nameOf(Role role)
{
    switch (role) {
    case Role::Listen:
        return QStringLiteral("listen");
    case Role::Operate:
        return QStringLiteral("operate");
    case Role::Transmit:
        return QStringLiteral("transmit");
    }
    return {};
}

bool roleAllows(Role role, QByteArrayView command)
{
    if (CatCommand::isQuery(command) || CatCommand::code(command) == "AI")
        return true;
    switch (role) {
    case Role::Listen:
        return false;
    case Role::Operate:
        return !CatCommand::keysTransmitter(command);
    case Role::Transmit:
        return true;
    }
    return false;
}

Operators::Operators(QObject *parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleTime);
    connect(&m_settle, &QTimer::timeout, this, &Operators::reload);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_settle, qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_settle, qOverload<>(&QTimer::start));
}

void Operators::watch(const QString &path)
{
    m_path = QFileInfo(path).absoluteFilePath();
    m_watcher.addPath(QFileInfo(m_path).absolutePath());
    reload();
}

std::optional<Operator> Operators::find(const QString &fingerprint) const
{
    const auto found = m_operators.constFind(fingerprint);
    if (found == m_operators.cend())
        return std::nullopt;
    return *found;
}

QHash<QString, Operator> Operators::parse(QStringView text, QStringList *problems)
{
    QHash<QString, Operator> operators;
    int number = 0;
    for (QStringView line : text.split(u'\n')) {
        ++number;
        line = line.left(line.indexOf(u'#')).trimmed();
        if (line.isEmpty())
            continue;
        const QList<QStringView> words = line.split(u' ', Qt::SkipEmptyParts);
        const auto role = words.size() >= 3 ? roleNamed(words.at(1)) : std::nullopt;
        if (!role || !Identity::isFingerprint(words.at(0))) {
            problems->append(QStringLiteral("line %1 is not \"FINGERPRINT ROLE NAME\" with a role of "
                                            "listen, operate or transmit; skipped")
                                 .arg(number));
            continue;
        }
        const QString name = line.sliced(words.at(2).data() - line.data()).toString();
        operators.insert(words.at(0).toString(), Operator{name, *role});
    }
    return operators;
}

// A file replaced by an editor is watched anew.
void Operators::reload()
{
    QFile file(m_path);
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(file.readAll());
    else if (file.exists())
        emit message(QStringLiteral("cannot read the operators in %1: %2; nobody is let in")
                         .arg(m_path, file.errorString()));
    if (file.exists() && !m_watcher.files().contains(m_path))
        m_watcher.addPath(m_path);
    QStringList problems;
    const auto operators = parse(text, &problems);
    for (const QString &problem : std::as_const(problems))
        emit message(QStringLiteral("operators file %1: %2").arg(m_path, problem));
    m_operators = operators;
    if (file.exists())
        emit message(QStringLiteral("%1 operators in %2").arg(m_operators.size()).arg(m_path));
    else
        emit message(
            QStringLiteral("no operators file %1 yet: every key is refused until it is written").arg(m_path));
    emit changed();
}
