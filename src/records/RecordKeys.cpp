#include "RecordKeys.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

#include <sodium.h>

namespace r310::records {

namespace {

bool SodiumReady() { return sodium_init() >= 0; }

QString ConfigFile(const QString &name)
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("R310Conf/") + name);
}

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Writes `bytes` to `path` readable by its owner only.
bool WritePrivate(const QString &path, const QByteArray &bytes, QString *error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(kOwnerOnly) || file.write(bytes) != bytes.size()
        || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

} // namespace

QString KeyId(const QByteArray &publicKey)
{
    return QString::fromLatin1(QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).toHex().left(16));
}

QString KeyFingerprint(const QByteArray &publicKey)
{
    const QString hex = QString::fromLatin1(QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).toHex());
    QStringList groups;
    for (int n = 0; n < hex.size(); n += 4)
        groups.append(hex.mid(n, 4));
    return groups.join(u':');
}

QString PublicKeyText(const QByteArray &publicKey) { return QString::fromLatin1(publicKey.toBase64()); }

QByteArray PublicKeyFromText(const QString &text)
{
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == crypto_sign_PUBLICKEYBYTES ? decoded.decoded : QByteArray();
}

QString WorkstationKeyPath() { return ConfigFile(QStringLiteral("records-key.ed25519")); }

std::optional<KeyPair> WorkstationKey(QString *error)
{
    if (!SodiumReady()) {
        *error = QStringLiteral("the signing library cannot start");
        return std::nullopt;
    }
    const QString path = WorkstationKeyPath();
    QFile file(path);
    KeyPair key;
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the records key %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
            return std::nullopt;
        }
        key.secretKey = QByteArray::fromBase64(file.readAll().trimmed());
        if (key.secretKey.size() != crypto_sign_SECRETKEYBYTES) {
            *error = QStringLiteral("the records key %1 is damaged").arg(QDir::toNativeSeparators(path));
            return std::nullopt;
        }
        key.publicKey = key.secretKey.right(crypto_sign_PUBLICKEYBYTES);
        return key;
    }
    key.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    key.secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(key.publicKey.data()),
                        reinterpret_cast<unsigned char *>(key.secretKey.data()));
    if (!WritePrivate(path, key.secretKey.toBase64() + '\n', error))
        return std::nullopt;
    return key;
}

QString SignText(const KeyPair &key, const QByteArray &message)
{
    QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(message.constData()),
                         static_cast<unsigned long long>(message.size()),
                         reinterpret_cast<const unsigned char *>(key.secretKey.constData()));
    return QString::fromLatin1(signature.toBase64());
}

bool SignatureHolds(const QByteArray &publicKey, const QByteArray &message, const QString &signature)
{
    const QByteArray bytes = QByteArray::fromBase64(signature.toLatin1());
    if (!SodiumReady() || bytes.size() != crypto_sign_BYTES || publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                       reinterpret_cast<const unsigned char *>(message.constData()),
                                       static_cast<unsigned long long>(message.size()),
                                       reinterpret_cast<const unsigned char *>(publicKey.constData()))
           == 0;
}

QByteArray RecordSignedText(qint64 id, const QString &hash)
{
    return QByteArrayLiteral("r310 record ") + QByteArray::number(id) + ' ' + hash.toLatin1();
}

QString TrustedKeysPath() { return ConfigFile(QStringLiteral("trusted-keys")); }

std::optional<std::vector<TrustedKey>> ReadTrustedKeys(const QString &path, QString *error)
{
    std::vector<TrustedKey> keys;
    QFile file(path);
    if (!file.exists())
        return keys;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the trusted keys %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return std::nullopt;
    }
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QString keyText = line.section(u' ', 0, 0);
        const QByteArray key = PublicKeyFromText(keyText);
        if (key.isEmpty()) {
            *error = QStringLiteral("line %1 of the trusted keys %2 holds no key").arg(number).arg(QDir::toNativeSeparators(path));
            return std::nullopt;
        }
        keys.push_back({key, KeyId(key), line.mid(keyText.size()).trimmed()});
    }
    return keys;
}

bool AddTrustedKey(const QString &path, const QByteArray &publicKey, const QString &name, QString *error)
{
    const std::optional<std::vector<TrustedKey>> keys = ReadTrustedKeys(path, error);
    if (!keys)
        return false;
    QByteArray text = "# Keys whose signatures on the service records count: the public key, then its name.\n";
    bool added = false;
    for (const TrustedKey &key : *keys) {
        const bool same = key.publicKey == publicKey;
        added = added || same;
        text += PublicKeyText(key.publicKey).toLatin1() + ' ' + (same ? name : key.name).toUtf8() + '\n';
    }
    if (!added)
        text += PublicKeyText(publicKey).toLatin1() + ' ' + name.toUtf8() + '\n';
    return WritePrivate(path, text, error);
}

} // namespace r310::records
