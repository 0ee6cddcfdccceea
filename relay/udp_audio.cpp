#include "udp_audio.h"

#include "audio_packets.h"
#include "host_port.h"

#include <QNetworkDatagram>

namespace {
// A report or a packet of speech is under a hundred bytes; anything much
// longer is neither.
constexpr qint64 MostRead = 512;
constexpr std::chrono::milliseconds CheckInterval{500};
} // namespace

UdpAudio::UdpAudio(QObject *parent)
    : QObject(parent)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &UdpAudio::readReports);
    m_silenceCheck.setInterval(CheckInterval);
    connect(&m_silenceCheck, &QTimer::timeout, this, &UdpAudio::dropSilent);
}

bool UdpAudio::listen(const QHostAddress &address, quint16 port, QString *problem)
{
    // "[::]" takes both families, as the TCP port does.
    const QHostAddress bound = address == QHostAddress::AnyIPv6 ? QHostAddress(QHostAddress::Any) : address;
    if (!m_socket.bind(bound, port)) {
        *problem = m_socket.errorString();
        return false;
    }
    m_silenceCheck.start();
    return true;
}

AudioPass UdpAudio::grant(const QString &name, bool secure)
{
    const AudioPass pass = AudioPass::make();
    m_grants.try_emplace(pass.id(), pass, name, secure);
    return pass;
}

void UdpAudio::revoke(const AudioPass &pass)
{
    const auto found = m_grants.find(pass.id());
    if (found == m_grants.end())
        return;
    if (found->second.receiving)
        end(found->second, QStringLiteral("its link ended"));
    m_grants.erase(found);
}

int UdpAudio::receiving() const
{
    return int(std::count_if(m_grants.begin(), m_grants.end(),
                             [](const auto &entry) { return entry.second.receiving; }));
}

void UdpAudio::send(const QByteArray &rtp)
{
    for (auto &[id, grant] : m_grants) {
        if (!grant.receiving)
            continue;
        if (grant.sealer)
            grant.sealer->seal(rtp);
        else
            m_socket.writeDatagram(rtp, grant.address, grant.port);
    }
}

void UdpAudio::readReports()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram(MostRead);
        const quint16 port = quint16(datagram.senderPort());
        if (const auto report = AudioReport::read(datagram.data()))
            take(*report, datagram.senderAddress(), port);
        else
            hear(datagram.data(), datagram.senderAddress(), port);
    }
}

// Only a report signed with a pass, and newer than any before it, counts:
// one replayed from another address is as good as none.
UdpAudio::Grant *UdpAudio::vouchedGrant(const AudioReport &report)
{
    const auto found = m_grants.find(report.id);
    if (found == m_grants.end())
        return nullptr;
    Grant &grant = found->second;
    if (report.counter <= grant.counter || !report.isSignedBy(grant.pass))
        return nullptr;
    grant.counter = report.counter;
    return &grant;
}

std::optional<QByteArray> UdpAudio::vouchFor(const QByteArray &report)
{
    const auto read = AudioReport::read(report);
    const Grant *grant = read ? vouchedGrant(*read) : nullptr;
    return grant ? std::optional(grant->pass.id()) : std::nullopt;
}

void UdpAudio::take(const AudioReport &report, const QHostAddress &address, quint16 port)
{
    Grant *vouched = vouchedGrant(report);
    if (!vouched)
        return;
    Grant &grant = *vouched;
    grant.heard.start();
    const bool moved
        = grant.address != address || grant.port != port || grant.reporter != report.reception.reporter;
    if (!grant.receiving || moved)
        begin(grant, report, address, port);
    grant.lossPercent = (report.reception.fractionLost * 100 + 255) / 256;
    updateExpectedLoss();
}

// Audio only from where a panel's signed reports come.
void UdpAudio::hear(const QByteArray &packet, const QHostAddress &address, quint16 port)
{
    if (!AudioPackets::headerOf(packet))
        return;
    for (const auto &[id, grant] : m_grants) {
        if (grant.receiving && grant.address == address && grant.port == port) {
            emit spoken(id, packet, grant.secure ? grant.pass.srtpKey(grant.reporter) : QByteArray());
            return;
        }
    }
}

void UdpAudio::begin(Grant &grant, const AudioReport &report, const QHostAddress &address, quint16 port)
{
    grant.address = address;
    grant.port = port;
    grant.reporter = report.reception.reporter;
    grant.receiving = grant.secure ? sealFor(grant) : true;
    if (grant.receiving)
        emit message(QStringLiteral("%1%2").arg(destination(grant),
                                                grant.secure ? QStringLiteral(", sealed") : QString()));
}

// A secure link's audio never goes in clear: without SRTP, none goes.
bool UdpAudio::sealFor(Grant &grant)
{
    auto sealer = std::make_unique<SrtpSealer>();
    QString problem;
    if (!sealer->start(grant.pass.srtpKey(grant.reporter), &problem)) {
        if (!std::exchange(grant.sealRefused, true))
            emit message(
                QStringLiteral("%1 cannot be sealed, so none is sent: %2").arg(destination(grant), problem));
        return false;
    }
    connect(sealer.get(), &SrtpSealer::sealed, this, [this, &grant](const QByteArray &srtp) {
        m_socket.writeDatagram(srtp, grant.address, grant.port);
    });
    grant.sealer = std::move(sealer);
    return true;
}

void UdpAudio::end(Grant &grant, const QString &why)
{
    grant.receiving = false;
    grant.sealer.reset();
    emit message(QStringLiteral("%1 stopped: %2").arg(destination(grant), why));
    updateExpectedLoss();
}

void UdpAudio::dropSilent()
{
    for (auto &[id, grant] : m_grants) {
        if (grant.receiving && grant.heard.elapsed() > std::chrono::milliseconds(Silence).count())
            end(grant, QStringLiteral("no report for %1 seconds").arg(Silence.count()));
    }
}

void UdpAudio::updateExpectedLoss()
{
    int most = 0;
    for (const auto &[id, grant] : m_grants) {
        if (grant.receiving)
            most = std::max(most, grant.lossPercent);
    }
    if (std::exchange(m_expectedLoss, most) != most)
        emit expectedLossChanged(most);
}

QString UdpAudio::destination(const Grant &grant)
{
    return QStringLiteral("audio over UDP to %1 for %2")
        .arg(joinHostPort(grant.address, grant.port), grant.name);
}
