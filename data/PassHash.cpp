#include "data/PassHash.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QStringList>
#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace {
const QString kScheme = "pbkdf2-sha256";
constexpr int kSaltBytes = 16;
constexpr int kKeyBytes = 32;
int newIterations = kPasswordIterations;

QByteArray Derive(const QString& password, const QByteArray& salt, int iterations)
{
    const QByteArray utf8 = password.toUtf8();
    QByteArray key(kKeyBytes, '\0');
    if (PKCS5_PBKDF2_HMAC(utf8.constData(), int(utf8.size()), reinterpret_cast<const unsigned char*>(salt.constData()),
                          int(salt.size()), iterations, EVP_sha256(), kKeyBytes,
                          reinterpret_cast<unsigned char*>(key.data())) != 1)
        return QByteArray();
    return key;
}

struct TParts
{
    int iterations = 0;
    QByteArray salt;
    QByteArray key;
};

bool Parse(const QString& stored, TParts& parts)
{
    const QStringList fields = stored.split(u'$');
    if (fields.size() != 4 || fields[0] != kScheme)
        return false;
    bool number = false;
    parts.iterations = fields[1].toInt(&number);
    const auto salt = QByteArray::fromBase64Encoding(fields[2].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    const auto key = QByteArray::fromBase64Encoding(fields[3].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!number || parts.iterations < 1 || !salt || !key || salt.decoded.isEmpty() || key.decoded.size() != kKeyBytes)
        return false;
    parts.salt = salt.decoded;
    parts.key = key.decoded;
    return true;
}
} // namespace

QString HashPassword(const QString& password)
{
    QByteArray salt(kSaltBytes, '\0');
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(salt.data()),
                                         reinterpret_cast<quint32*>(salt.data() + salt.size()));
    const QByteArray key = Derive(password, salt, newIterations);
    if (key.isEmpty())
        throw std::runtime_error("password hash failed");
    return QStringList{kScheme, QString::number(newIterations), QString::fromLatin1(salt.toBase64()),
                       QString::fromLatin1(key.toBase64())}
        .join(u'$');
}

bool IsPasswordHash(const QString& stored)
{
    TParts parts;
    return Parse(stored, parts);
}

int PasswordHashIterations(const QString& stored)
{
    TParts parts;
    return Parse(stored, parts) ? parts.iterations : 0;
}

bool PasswordMatches(const QString& stored, const QString& typed)
{
    TParts parts;
    if (!Parse(stored, parts))
        return typed == stored;
    const QByteArray key = Derive(typed, parts.salt, parts.iterations);
    return key.size() == parts.key.size() && CRYPTO_memcmp(key.constData(), parts.key.constData(), key.size()) == 0;
}

void SetNewPasswordIterations(int iterations)
{
    newIterations = iterations;
}
