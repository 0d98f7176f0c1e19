#include "base/calibration/record_signature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <memory>

#include "base/files/checked_file.h"
#include "base/text/plain_text.h"
#include "base/settings/settings.h"

namespace {

constexpr char PrivateName[] = "klic.pem";
constexpr char PublicName[] = "klic-verejny.pem";
// A PEM key is a few hundred bytes.
constexpr qint64 MaxKeyFileBytes = 64 << 10;
// More trusted keys than a plant has workstations and people.
constexpr int MostTrustedKeys = 1000;

struct Free {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
  void operator()(BIO* b) const { BIO_free(b); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Context = std::unique_ptr<EVP_MD_CTX, Free>;
using Bio = std::unique_ptr<BIO, Free>;

QByteArray RawPart(EVP_PKEY* key, bool secret) {
  QByteArray raw(32, '\0');
  size_t size = std::size_t(raw.size());
  auto* bytes = reinterpret_cast<unsigned char*>(raw.data());
  const int ok = secret ? EVP_PKEY_get_raw_private_key(key, bytes, &size) : EVP_PKEY_get_raw_public_key(key, bytes, &size);
  return ok == 1 && size == 32 ? raw : QByteArray();
}

Key PrivateKey(const QByteArray& seed) {
  return Key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(seed.constData()),
                                          std::size_t(seed.size())));
}

QByteArray Pem(EVP_PKEY* key, bool secret) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio) return {};
  const int ok = secret ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                        : PEM_write_bio_PUBKEY(bio.get(), key);
  if (ok != 1) return {};
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return QByteArray(data, int(size));
}

// An Ed25519 key from PEM text, private or public; null for anything else.
Key ParsePem(const QByteArray& text, bool secret) {
  Bio bio(BIO_new_mem_buf(text.constData(), int(text.size())));
  if (!bio) return {};
  Key key(secret ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                 : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (key && EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) key.reset();
  return key;
}

QString Signer() {
  QString user;
  passwd entry{}, *found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
    user = QString::fromLocal8Bit(found->pw_name);
  if (user.isEmpty()) user = qEnvironmentVariable("USER", QStringLiteral("uzivatel"));
  // The name goes into every record, which refuses what a terminal would act on.
  QString name;
  for (const char32_t c : (user + QLatin1Char('@') + QSysInfo::machineHostName()).toUcs4())
    if (!IsUnsafeCodePoint(c) && name.size() < 100) name += QString::fromUcs4(&c, 1);
  return name;
}

bool FromPrivatePem(const QByteArray& text, SigningKey& key) {
  const Key parsed = ParsePem(text, true);
  if (!parsed) return false;
  key.seed = RawPart(parsed.get(), true);
  key.publicKey = RawPart(parsed.get(), false);
  return key.valid();
}

// The own public key, without making one.
QByteArray OwnPublicKey(const QString& folder) {
  QByteArray text;
  SigningKey key;
  if (folder.isEmpty() || !ReadFileChecked(QDir(folder).filePath(QLatin1String(PrivateName)), MaxKeyFileBytes, &text) ||
      !FromPrivatePem(text, key))
    return {};
  return key.publicKey;
}

}  // namespace

QString SigningKeyFolder() {
  const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (dataHome.isEmpty()) return QString();
  return QDir(dataHome).filePath(QStringLiteral("%1/podpis").arg(QLatin1String(SettingsFolderName)));
}

QString TrustedKeysFolder() {
  const QString folder = SigningKeyFolder();
  return folder.isEmpty() ? QString() : QDir(folder).filePath(QStringLiteral("duveryhodne"));
}

bool LoadSigningKey(const QString& folder, SigningKey& key, QString& error) {
  key = SigningKey();
  if (folder.isEmpty()) {
    error = QStringLiteral("uživatel nemá složku pro data, klíč k podpisu záznamů nemá kde být");
    return false;
  }
  const QString path = QDir(folder).filePath(QLatin1String(PrivateName));
  if (!QDir().mkpath(folder) || !QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
    error = QStringLiteral("složku klíče %1 nelze vytvořit").arg(folder);
    return false;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    QByteArray text;
    bool missing = false;
    QString why;
    if (ReadFileChecked(path, MaxKeyFileBytes, &text, &why, &missing)) {
      struct stat st {};
      if (::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & 077) != 0) {
        error = QStringLiteral("klíč k podpisu %1 mohou číst i jiní uživatelé; smí jen jeho vlastník (chmod 600)").arg(path);
        return false;
      }
      if (!FromPrivatePem(text, key)) {
        error = QStringLiteral("soubor %1 není klíč Ed25519").arg(path);
        return false;
      }
      key.signer = Signer();
      // The public part for handing on, written again when somebody removed it.
      const QString publicPath = QDir(folder).filePath(QLatin1String(PublicName));
      if (!QFileInfo::exists(publicPath)) {
        const Key parsed = ParsePem(text, true);
        WriteFileChecked(publicPath, Pem(parsed.get(), false));
      }
      return true;
    }
    if (!missing) {
      error = QStringLiteral("klíč k podpisu %1 nelze přečíst: %2").arg(path, why);
      return false;
    }
    // First use: a new key, the file made whole or not at all; when another program made one
    // at the same moment, that one is read.
    const Key made(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    const QByteArray pem = made ? Pem(made.get(), true) : QByteArray();
    if (pem.isEmpty()) {
      error = QStringLiteral("klíč k podpisu nelze vytvořit (OpenSSL)");
      return false;
    }
    if (!WriteNewFileChecked(path, pem, 0600, &why) && !QFileInfo::exists(path)) {
      error = QStringLiteral("klíč k podpisu %1 nelze zapsat: %2").arg(path, why);
      return false;
    }
  }
  error = QStringLiteral("klíč k podpisu %1 nelze přečíst").arg(path);
  return false;
}

QByteArray SignMessage(const SigningKey& key, const QByteArray& message) {
  if (!key.valid()) return {};
  const Key secret = PrivateKey(key.seed);
  const Context ctx(EVP_MD_CTX_new());
  QByteArray signature(64, '\0');
  size_t size = std::size_t(signature.size());
  if (!secret || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, secret.get()) != 1 ||
      EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                     reinterpret_cast<const unsigned char*>(message.constData()), std::size_t(message.size())) != 1 ||
      size != 64)
    return {};
  return signature;
}

bool VerifyMessage(const QByteArray& publicKey, const QByteArray& message, const QByteArray& signature) {
  if (publicKey.size() != 32 || signature.size() != 64) return false;
  const Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                            reinterpret_cast<const unsigned char*>(publicKey.constData()), 32));
  const Context ctx(EVP_MD_CTX_new());
  return key && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.constData()), 64,
                          reinterpret_cast<const unsigned char*>(message.constData()), std::size_t(message.size())) == 1;
}

QString KeyFingerprint(const QByteArray& publicKey) {
  const QByteArray hex = QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256).left(20).toHex().toUpper();
  QStringList groups;
  for (int i = 0; i < hex.size(); i += 4) groups << QString::fromLatin1(hex.mid(i, 4));
  return groups.join(QLatin1Char(' '));
}

KeyTrust TrustOfKey(const QByteArray& publicKey, const QString& folder) {
  if (publicKey.size() != 32 || folder.isEmpty()) return {};
  if (OwnPublicKey(folder) == publicKey) return {KeyTrust::Own, QString()};
  const QDir trusted(QDir(folder).filePath(QStringLiteral("duveryhodne")));
  const QStringList names = trusted.entryList({QStringLiteral("*.pem")}, QDir::Files, QDir::Name);
  for (int i = 0; i < names.size() && i < MostTrustedKeys; ++i) {
    QByteArray text;
    if (!ReadFileChecked(trusted.filePath(names[i]), MaxKeyFileBytes, &text)) continue;
    const Key key = ParsePem(text, false);
    if (key && RawPart(key.get(), false) == publicKey) return {KeyTrust::Trusted, names[i].chopped(4)};
  }
  return {};
}
