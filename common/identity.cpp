#include "identity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace {

constexpr QStringView Prefix = u"SHA256:";
constexpr qsizetype DigestText = 43; // 32 bytes in base64 without padding

template<typename T, void (*Free)(T *)> struct Freeing
{
    void operator()(T *p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freeing<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freeing<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Freeing<BIO, BIO_free_all>>;

QByteArray pemOf(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, size);
}

// A P-256 key and a certificate of its own that carries it for a century.
QByteArray newKeyPairPem(const QString &name)
{
    Key key(EVP_EC_gen("P-256"));
    Certificate certificate(X509_new());
    if (!key || !certificate)
        return {};
    X509 *x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set_int64(X509_get_serialNumber(x), qint64(QRandomGenerator::system()->generate64() >> 1));
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 100L * 365 * 24 * 3600);
    X509_NAME *subject = X509_get_subject_name(x);
    const QByteArray cn = name.toUtf8();
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(cn.data()), int(cn.size()), -1, 0);
    X509_set_issuer_name(x, subject);
    if (X509_set_pubkey(x, key.get()) != 1 || X509_sign(x, key.get(), EVP_sha256()) == 0)
        return {};
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1
        || PEM_write_bio_X509(bio.get(), x) != 1)
        return {};
    return pemOf(bio.get());
}

bool writePrivately(const QString &path, const QByteArray &pem, QString *problem)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || ::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0
        || file.write(pem) != pem.size() || !file.commit()) {
        *problem = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

std::optional<Identity> Identity::loadOrCreate(const QString &path, const QString &name, QString *problem)
{
    QString ignored;
    if (!problem)
        problem = &ignored;
    QFile file(path);
    QByteArray pem;
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *problem = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return std::nullopt;
        }
        pem = file.readAll();
    } else {
        pem = newKeyPairPem(name);
        if (pem.isEmpty()) {
            *problem = QStringLiteral("cannot make a key pair for %1").arg(path);
            return std::nullopt;
        }
        if (!writePrivately(path, pem, problem))
            return std::nullopt;
    }
    Identity identity{QSslKey(pem, QSsl::Ec), QSslCertificate(pem)};
    if (identity.key.isNull() || identity.certificate.isNull()) {
        *problem = QStringLiteral("%1 holds no key pair of ours (a P-256 key and its certificate)").arg(path);
        return std::nullopt;
    }
    return identity;
}

QString Identity::fingerprintOf(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return {};
    const QByteArray der = certificate.toDer();
    const auto *data = reinterpret_cast<const unsigned char *>(der.constData());
    Certificate x(d2i_X509(nullptr, &data, der.size()));
    unsigned char *spki = nullptr;
    const int size = x ? i2d_PUBKEY(X509_get0_pubkey(x.get()), &spki) : -1;
    if (size <= 0)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    EVP_Digest(spki, size_t(size), digest, &digestSize, EVP_sha256(), nullptr);
    OPENSSL_free(spki);
    return Prefix.toString()
        + QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), digestSize)
                                  .toBase64(QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals));
}

bool Identity::isFingerprint(QStringView text)
{
    if (!text.startsWith(Prefix) || text.size() != Prefix.size() + DigestText)
        return false;
    const QStringView digest = text.mid(Prefix.size());
    return std::all_of(digest.begin(), digest.end(), [](QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'+'
            || c == u'/';
    });
}

QSslConfiguration Identity::tlsConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_3OrLater);
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setCaCertificates({});
    configuration.setPeerVerifyMode(QSslSocket::QueryPeer);
    return configuration;
}
