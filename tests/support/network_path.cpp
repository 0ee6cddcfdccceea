#include "network_path.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {
// The forwarder answers at once; a loaded machine may still take a while.
constexpr int ReplyTimeout = 5000;

// Why no path can be made here, or nothing.
QString obstacle()
{
    if (::geteuid() != 0)
        return QStringLiteral("the network path needs root");
    if (!QFile::exists(QStringLiteral("/dev/net/tun")))
        return QStringLiteral("the network path needs /dev/net/tun");
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        return QStringLiteral("the network path needs ip (iproute2)");
    return {};
}
} // namespace

NetworkPath::~NetworkPath()
{
    leave();
    if (m_forwarder.state() == QProcess::NotRunning)
        return;
    // Its input's end has it remove the namespaces; a kill would leave them.
    m_forwarder.closeWriteChannel();
    if (m_forwarder.waitForFinished(ReplyTimeout))
        return;
    m_forwarder.terminate();
    if (!m_forwarder.waitForFinished(ReplyTimeout))
        m_forwarder.kill();
}

bool NetworkPath::open(QString *problem, const Conditions &conditions)
{
    *problem = obstacle();
    if (!problem->isEmpty())
        return false;
    m_forwarder.start(QStringLiteral(NETPATH_PATH), {});
    const QStringList ready = reply().split(u' ');
    if (ready.size() != 5 || ready.first() != u"ready") {
        const QString said = QString::fromLocal8Bit(m_forwarder.readAllStandardError()).trimmed();
        *problem = QStringLiteral("the network path did not open: %1")
                       .arg(said.isEmpty() ? m_forwarder.errorString() : said);
        return false;
    }
    m_namespaces = {ready.at(1), ready.at(2)};
    m_addresses = {ready.at(3), ready.at(4)};
    set(conditions);
    return true;
}

QString NetworkPath::reply()
{
    const bool answered = QTest::qWaitFor(
        [this] { return m_forwarder.canReadLine() || m_forwarder.state() == QProcess::NotRunning; },
        ReplyTimeout);
    return answered ? QString::fromLatin1(m_forwarder.readLine()).trimmed() : QString();
}

void NetworkPath::tell(const QString &setting)
{
    m_forwarder.write(setting.toLatin1() + '\n');
    const QString answer = reply();
    if (answer != u"ok")
        qWarning("The network path did not take \"%s\": %s", qPrintable(setting), qPrintable(answer));
}

void NetworkPath::set(const Conditions &conditions)
{
    tell(QStringLiteral("delay %1").arg(conditions.delayMs));
    tell(QStringLiteral("jitter %1").arg(conditions.jitterMs));
    tell(QStringLiteral("loss %1").arg(conditions.lossPercent));
}

void NetworkPath::cutFor(std::chrono::milliseconds outage)
{
    tell(QStringLiteral("outage %1").arg(outage.count()));
}

void NetworkPath::passUdp(bool pass)
{
    tell(pass ? QStringLiteral("udp on") : QStringLiteral("udp off"));
}

QStringList NetworkPath::inNamespace(Side side, const QString &program, const QStringList &arguments) const
{
    return QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
                       m_namespaces.at(side), program}
    + arguments;
}

bool NetworkPath::enter(Side side)
{
    const QByteArray path = "/var/run/netns/" + QFile::encodeName(m_namespaces.at(side));
    const int target = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (target < 0)
        return false;
    if (m_home < 0)
        m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const bool entered = m_home >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    ::close(target);
    return entered;
}

void NetworkPath::leave()
{
    if (m_home < 0)
        return;
    ::setns(m_home, CLONE_NEWNET);
    ::close(m_home);
    m_home = -1;
}
