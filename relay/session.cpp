#include "session.h"

#include "cat_commands.h"
#include "connection.h"
#include "operators.h"
#include "pseudo_terminal.h"
#include "radio_queue.h"

Session::Session(RadioQueue &queue, Protocol protocol, const QString &name, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
    , m_protocol(protocol)
    , m_name(name)
    , m_framer(CatCommand::MaxLength, protocol == Protocol::Panel ? "##" : QByteArrayView())
{
    queue.join(this);
}

void Session::identify(const Operators &operators, const QString &fingerprint)
{
    m_operators = &operators;
    m_fingerprint = fingerprint;
    if (const auto known = operators.find(fingerprint))
        m_name += QStringLiteral(" (%1)").arg(known->name);
}

bool Session::permits(QByteArrayView command) const
{
    if (!m_operators)
        return true;
    const auto known = m_operators->find(m_fingerprint);
    return known && roleAllows(known->role, command);
}

QString Session::roleName() const
{
    const auto known = m_operators ? m_operators->find(m_fingerprint) : std::nullopt;
    return known ? nameOf(known->role) : QStringLiteral("none");
}

void Session::notice(const QString &text)
{
    if (m_protocol == Protocol::Panel)
        deliver("!!Q9 relay " + QString(text).replace(u';', u',').toLatin1() + ';');
}

void Session::take(QByteArrayView data)
{
    m_queue.take(this, m_framer.feed(data));
    if (m_framer.signedOff())
        leave(QStringLiteral("signed off"));
}

void Session::leave(const QString &what)
{
    if (m_left)
        return;
    m_left = true;
    emit message(QStringLiteral("%1 %2").arg(m_name, what));
    if (const qsizetype left = m_framer.unfinished().size())
        emit message(
            QStringLiteral("%1 left %2 bytes of a command unfinished; dropped").arg(m_name).arg(left));
    m_queue.leave(this);
}

void Session::dropFromQueue(const QString &why)
{
    m_left = true;
    emit message(QStringLiteral("%1 %2").arg(m_name, why));
    m_queue.drop(this);
}

SocketSession::SocketSession(RadioQueue &queue, Connection *connection, Protocol protocol, QObject *parent)
    : Session(queue, protocol,
              (protocol == Protocol::Panel ? QStringLiteral("client ") : QStringLiteral("CAT client "))
                  + connection->name(),
              parent)
    , m_connection(connection)
{
    connection->setParent(this);
    connect(connection, &Connection::readyRead, this, &SocketSession::readOn);
    connect(connection, &Connection::reset, this, [this] { leave(QStringLiteral("closed the connection")); });
    connect(connection, &Connection::lost, this,
            [this](const QString &why) { cutOff(QStringLiteral("lost: %1").arg(why)); });
    connect(connection, &Connection::closed, this, [this] {
        if (m_done)
            emit ended();
    });
}

void SocketSession::deliver(const QByteArray &text)
{
    if (!m_connection->isOpen())
        return;
    if (m_connection->unsent() + text.size() > MaxBacklog)
        cutOff(QStringLiteral("is not reading; cut off"));
    else
        m_connection->write(text);
}

void SocketSession::readOn()
{
    const bool reading = !hasLeft() && m_queue.hasRoom(this);
    m_connection->setReading(reading);
    if (!reading)
        return;
    take(m_connection->read(ReadBuffer));
    if (!hasLeft() && m_connection->atEnd())
        leave(QStringLiteral("closed the connection"));
}

void SocketSession::done()
{
    m_done = true;
    if (m_connection->isOpen())
        m_connection->close(Linger);
    else
        emit ended();
}

void SocketSession::cutOff(const QString &why)
{
    if (m_done)
        return;
    dropFromQueue(why);
    m_done = true;
    if (m_connection->isOpen())
        m_connection->abort();
    else
        emit ended();
}

bool SocketSession::holdsPlace() const
{
    return !hasLeft() && !m_connection->hasHungUp();
}

TerminalSession::TerminalSession(RadioQueue &queue, PseudoTerminal &terminal, const QString &name,
                                 QObject *parent)
    : Session(queue, Protocol::Cat, name, parent)
    , m_terminal(terminal)
{
    terminal.setReading(true);
}

// Nothing reaches the terminal once its program has gone: the next one
// starts with nothing owed to it.
void TerminalSession::deliver(const QByteArray &text)
{
    if (!hasLeft())
        m_terminal.write(text);
}

void TerminalSession::readOn()
{
    if (!hasLeft())
        m_terminal.setReading(m_queue.hasRoom(this));
}

void TerminalSession::done()
{
    emit ended();
}

void TerminalSession::cutOff(const QString &why)
{
    dropFromQueue(why);
    emit ended();
}

void TerminalSession::received(const QByteArray &data)
{
    take(data);
    readOn();
}

void TerminalSession::closed()
{
    leave(QStringLiteral("closed by its program"));
}
