#pragma once
// Who made a calibration record: Ed25519 signatures through OpenSSL's libcrypto.
//
// Each user of a workstation has one key, made on first use in the user's data folder
// (SigningKeyFolder(): ~/.local/share/qx510/podpis/klic.pem, PKCS#8 PEM, mode 0600 in a folder
// of mode 0700), with its public part beside it (klic-verejny.pem) to be handed on. A record
// carries the public key and the signer's name (user@host) and is signed over all its bytes;
// whoever changes a byte without the private key breaks the signature.
//
// A signature proves only that the holder of a key made the record; whose key to believe is
// the plant's decision: the own key of the user, and the public keys put (as *.pem, named
// after their holder) into the folder of trusted keys (TrustedKeysFolder()). A record signed
// by any other key is refused for a certificate, with the key's fingerprint and the name the
// record claims, so that the plant can tell whose key it is.

#include <QByteArray>
#include <QString>

struct SigningKey {
  QByteArray seed;       // the 32 secret bytes
  QByteArray publicKey;  // the 32 public bytes
  QString signer;        // "user@host": the name the records it signs carry
  bool valid() const { return seed.size() == 32 && publicKey.size() == 32; }
};

// <GenericDataLocation>/qx510/podpis; empty when the user has no data folder.
QString SigningKeyFolder();
// The folder of the keys trusted besides the own one: SigningKeyFolder()/duveryhodne.
QString TrustedKeysFolder();

// The key in `folder` (klic.pem), made there when missing. False with the Czech reason when it
// cannot be read or made, or when others than its owner may read it.
bool LoadSigningKey(const QString& folder, SigningKey& key, QString& error);

// The 64-byte signature of `message`; empty when the key is not valid.
QByteArray SignMessage(const SigningKey& key, const QByteArray& message);
bool VerifyMessage(const QByteArray& publicKey, const QByteArray& message, const QByteArray& signature);

// The first 20 bytes of the public key's SHA-256 in groups of four hexadecimal digits,
// "3F2A 9C01 …", as the certificate prints it and the messages name a key.
QString KeyFingerprint(const QByteArray& publicKey);

struct KeyTrust {
  enum Kind { Own, Trusted, Unknown } kind = Unknown;
  QString name;  // Trusted: the file name of the trusted key without ".pem"
};
// Whether `publicKey` is the own key in `folder` or one of the keys in its trusted folder.
KeyTrust TrustOfKey(const QByteArray& publicKey, const QString& folder = SigningKeyFolder());
