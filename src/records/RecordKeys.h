#pragma once
// The keys that sign the service records: each workstation's user has an
// Ed25519 key pair (libsodium), made on first use, its private half in a
// file of the user's configuration folder that only the user may read. A
// record is signed over its id and content hash; the signature and the
// key's id are kept with it. The verifier's trusted-keys file lists whose
// signatures count.
#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace r310::records {

struct KeyPair {
    QByteArray publicKey; // 32 bytes
    QByteArray secretKey; // 64 bytes
};

// The key's id: the first 16 hex digits of its public key's SHA-256.
QString KeyId(const QByteArray &publicKey);
// The fingerprint the user compares: the SHA-256 in groups of four hex digits.
QString KeyFingerprint(const QByteArray &publicKey);
// The public key as text (base64) and back; empty for a text that is no key.
QString PublicKeyText(const QByteArray &publicKey);
QByteArray PublicKeyFromText(const QString &text);

// The configuration folder's file of this user's key pair.
QString WorkstationKeyPath();
// This user's key pair, made and kept 0600 on first use; empty with *error
// when the file cannot be read or written.
std::optional<KeyPair> WorkstationKey(QString *error);

// The signature (base64) of `message`, and whether `signature` signs it.
QString SignText(const KeyPair &key, const QByteArray &message);
bool SignatureHolds(const QByteArray &publicKey, const QByteArray &message, const QString &signature);

// What a record's signature covers: its id and its content hash.
QByteArray RecordSignedText(qint64 id, const QString &hash);

struct TrustedKey {
    QByteArray publicKey;
    QString id;
    QString name;
};

// The verifier's trusted-keys file in the configuration folder.
QString TrustedKeysPath();
// The keys of a trusted-keys file: one a line, the public key then its
// name; lines starting with '#' are comments. Empty with *error when the
// file cannot be read or a line holds no key; no file is no key.
std::optional<std::vector<TrustedKey>> ReadTrustedKeys(const QString &path, QString *error);
// Adds (or renames) a key in the file; false with *error.
bool AddTrustedKey(const QString &path, const QByteArray &publicKey, const QString &name, QString *error);

} // namespace r310::records
