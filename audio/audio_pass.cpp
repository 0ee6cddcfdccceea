#include "audio_pass.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QtEndian>

#include <array>

namespace {

constexpr auto TextOptions = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// A compound RTCP packet: a receiver report with one block (RFC 3550), then
// an application packet named "Q9AU" with the pass's id, the report's
// number and the signature of all before it.
constexpr int ReportBytes = 32;
constexpr int AppHeaderBytes = 12;
constexpr int CounterBytes = 8;
constexpr int SignatureBytes = 16;
constexpr int SignedBytes = ReportBytes + AppHeaderBytes + AudioPass::IdBytes + CounterBytes;
constexpr int TotalBytes = SignedBytes + SignatureBytes;
constexpr std::array<uchar, 4> ReportStart{0x81, 201, 0, ReportBytes / 4 - 1};
constexpr std::array<uchar, 4> AppStart{0x80, 204, 0, (TotalBytes - ReportBytes) / 4 - 1};
constexpr char AppName[] = "Q9AU";

QByteArray signatureOf(const QByteArray &key, QByteArrayView bytes)
{
    return QMessageAuthenticationCode::hash(bytes.toByteArray(), key, QCryptographicHash::Sha256)
        .left(SignatureBytes);
}

template<typename T> void put(uchar *at, T value)
{
    qToBigEndian(value, at);
}

} // namespace

AudioPass AudioPass::make()
{
    QByteArray key(KeyBytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(key.begin(), key.end());
    return AudioPass(key);
}

std::optional<AudioPass> AudioPass::fromText(QStringView text)
{
    const auto decoded = QByteArray::fromBase64Encoding(
        text.toLatin1(), TextOptions | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != KeyBytes)
        return std::nullopt;
    return AudioPass(decoded.decoded);
}

QByteArray AudioPass::text() const
{
    return m_key.toBase64(TextOptions);
}

QByteArray AudioPass::id() const
{
    return QCryptographicHash::hash(m_key, QCryptographicHash::Sha256).left(IdBytes);
}

QByteArray AudioPass::srtpKey(quint32 reporter) const
{
    QByteArray label("Q9 SRTP ");
    label.append(QByteArray::number(reporter));
    return QMessageAuthenticationCode::hash(label, m_key, QCryptographicHash::Sha256).left(KeyBytes);
}

QByteArray AudioPass::report(const Reception &reception, quint64 counter) const
{
    QByteArray bytes(TotalBytes, '\0');
    auto *at = reinterpret_cast<uchar *>(bytes.data());
    std::copy(ReportStart.begin(), ReportStart.end(), at);
    put(at + 4, reception.reporter);
    put(at + 8, reception.source);
    at[12] = reception.fractionLost;
    put(at + 16, reception.highestSequence);
    put(at + 20, reception.jitter);
    uchar *app = at + ReportBytes;
    std::copy(AppStart.begin(), AppStart.end(), app);
    put(app + 4, reception.reporter);
    std::copy_n(AppName, 4, app + 8);
    const QByteArray passId = id();
    std::copy(passId.begin(), passId.end(), app + AppHeaderBytes);
    put(app + AppHeaderBytes + IdBytes, counter);
    const QByteArray signature = signatureOf(m_key, QByteArrayView(bytes).first(SignedBytes));
    bytes.replace(SignedBytes, SignatureBytes, signature);
    return bytes;
}

std::optional<AudioReport> AudioReport::read(const QByteArray &datagram)
{
    const auto *at = reinterpret_cast<const uchar *>(datagram.constData());
    if (datagram.size() != TotalBytes || !std::equal(ReportStart.begin(), ReportStart.end(), at))
        return std::nullopt;
    const uchar *app = at + ReportBytes;
    if (!std::equal(AppStart.begin(), AppStart.end(), app) || !std::equal(AppName, AppName + 4, app + 8))
        return std::nullopt;
    AudioReport report;
    report.reception.reporter = qFromBigEndian<quint32>(at + 4);
    report.reception.source = qFromBigEndian<quint32>(at + 8);
    report.reception.fractionLost = at[12];
    report.reception.highestSequence = qFromBigEndian<quint32>(at + 16);
    report.reception.jitter = qFromBigEndian<quint32>(at + 20);
    report.id = datagram.mid(ReportBytes + AppHeaderBytes, AudioPass::IdBytes);
    report.counter = qFromBigEndian<quint64>(app + AppHeaderBytes + AudioPass::IdBytes);
    report.m_signed = datagram.first(SignedBytes);
    report.m_signature = datagram.mid(SignedBytes);
    return report;
}

bool AudioReport::isSignedBy(const AudioPass &pass) const
{
    // Compared in full whatever differs first, so that timing tells nothing.
    const QByteArray expected = signatureOf(pass.key(), m_signed);
    uchar difference = 0;
    for (int i = 0; i < SignatureBytes; ++i)
        difference |= uchar(expected[i] ^ m_signature[i]);
    return difference == 0;
}
