#include "sync/SyncFolder.h"

#include "data/UException.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <zlib.h>

namespace {
const QString kHeaderName = QStringLiteral("jotterel-sync.json");
constexpr int kFormat = 1;

// A file: magic, format, flags, then (encrypted) nonce and sealed bytes or
// (plain) checksum and compressed bytes.
const QByteArray kMagic = QByteArrayLiteral("JSYNC");
constexpr char kEncryptedFlag = 0x01;
constexpr qsizetype kPreamble = 5 + 1 + 1;
constexpr qsizetype kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr qsizetype kTagBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr qsizetype kSumBytes = crypto_generichash_BYTES;
constexpr qsizetype kKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr qsizetype kSaltBytes = crypto_pwhash_SALTBYTES;

// What the header's check seals: opening it proves the key right before any
// file is read or written.
const QByteArray kCheckText = QByteArrayLiteral("jotterel sync folder key check");

bool g_flushToDisk = true;

const QString kDamaged = QStringLiteral("文件不完整或已损坏，已跳过");
const QString kNewer = QStringLiteral("由更新版本的程序写入，已跳过");
const QString kUnverified = QStringLiteral("无法验证（同步密码不同或文件已损坏），已跳过");

void EnsureSodium()
{
    static const int ready = sodium_init();
    if (ready < 0)
        RaiseError("无法启用加密功能（libsodium 初始化失败）。");
}

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QByteArray RandomBytes(qsizetype count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    randombytes_buf(bytes.data(), size_t(bytes.size()));
    return bytes;
}

const unsigned char* Bytes(const QByteArray& bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

unsigned char* Bytes(QByteArray& bytes)
{
    return reinterpret_cast<unsigned char*>(bytes.data());
}

// Nonce and ciphertext of the plaintext, bound to the additional data.
QByteArray Seal(const QByteArray& key, const QByteArray& plain, const QByteArray& additional)
{
    const QByteArray nonce = RandomBytes(kNonceBytes);
    QByteArray sealed(plain.size() + kTagBytes, Qt::Uninitialized);
    unsigned long long length = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(Bytes(sealed), &length, Bytes(plain), plain.size(), Bytes(additional),
                                               additional.size(), nullptr, Bytes(nonce), Bytes(key));
    sealed.resize(qsizetype(length));
    return nonce + sealed;
}

// The plaintext of what Seal made; nothing when the key, the additional data
// or a single byte differs.
std::optional<QByteArray> Open(const QByteArray& key, const QByteArray& nonceAndSealed, const QByteArray& additional)
{
    if (key.size() != kKeyBytes || nonceAndSealed.size() < kNonceBytes + kTagBytes)
        return std::nullopt;
    const QByteArray nonce = nonceAndSealed.left(kNonceBytes);
    const QByteArray sealed = nonceAndSealed.mid(kNonceBytes);
    QByteArray plain(sealed.size() - kTagBytes, Qt::Uninitialized);
    unsigned long long length = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(Bytes(plain), &length, nullptr, Bytes(sealed), sealed.size(),
                                                   Bytes(additional), additional.size(), Bytes(nonce), Bytes(key)) != 0)
        return std::nullopt;
    plain.resize(qsizetype(length));
    return plain;
}

// BLAKE2b over the file's identity and its compressed bytes: a plain file
// copied under another name fails its check as an encrypted one does.
QByteArray Checksum(const QByteArray& identity, const QByteArray& compressed)
{
    QByteArray sum(kSumBytes, Qt::Uninitialized);
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kSumBytes);
    crypto_generichash_update(&state, Bytes(identity), identity.size());
    crypto_generichash_update(&state, Bytes(compressed), compressed.size());
    crypto_generichash_final(&state, Bytes(sum), kSumBytes);
    return sum;
}

QByteArray DeriveKey(const QString& passphrase, const QByteArray& salt)
{
    const QByteArray secret = passphrase.toUtf8();
    QByteArray key(kKeyBytes, Qt::Uninitialized);
    if (crypto_pwhash(Bytes(key), kKeyBytes, secret.constData(), secret.size(), Bytes(salt),
                      crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                      crypto_pwhash_ALG_ARGON2ID13) != 0)
        RaiseError("无法从同步密码生成密钥：内存不足。");
    return key;
}

[[noreturn]] void CannotWrite(const QString& path, const QString& reason)
{
    RaiseError(QString("同步文件无法写入：%1（%2）").arg(Native(path), reason));
}

// Writes the bytes whole under a hidden temporary name beside the path,
// readable by the owner alone, to the disk, then renames it into place: the
// sync tool and the other computers see the old file or the new one, never
// half of one, and pass the hidden name by.
void WriteWhole(const QString& path, const QByteArray& bytes)
{
    const QFileInfo info(path);
    const QString temporary = info.dir().filePath("." + info.fileName() + ".tmp");
    const QByteArray temporaryName = QFile::encodeName(temporary);
    const int fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        CannotWrite(path, qt_error_string(errno));
    int error = ::fchmod(fd, 0600) == 0 ? 0 : errno; // a left-over temporary file may have other rights
    for (qsizetype done = 0; error == 0 && done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written > 0)
            done += written;
        else if (written == 0 || errno != EINTR)
            error = written == 0 ? EIO : errno;
    }
    if (error == 0 && g_flushToDisk && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::rename(temporaryName.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporaryName.constData());
        CannotWrite(path, qt_error_string(error));
    }
    // The rename itself reaches the disk with the folder's entry.
    const int dirFd =
        g_flushToDisk ? ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                      : -1;
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

[[noreturn]] void HeaderUnreadable(const QString& reason)
{
    RaiseError("同步文件夹中的 " + kHeaderName + " 无法读取：" + reason);
}

// The bytes of a regular file of at most `most` bytes; nothing, with the
// reason, for anything else: a link (to /dev/zero, say), a pipe that would
// never end, a device, a file too large.
std::optional<QByteArray> ReadRegular(const QString& path, qint64 most, QString& why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = errno == ELOOP    ? QStringLiteral("是符号链接，不是普通文件，已跳过")
              : errno == ENOENT ? QStringLiteral("文件已被同步工具移走，已跳过")
                                : QString("无法读取（%1），已跳过").arg(qt_error_string(errno));
        return std::nullopt;
    }
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = QStringLiteral("不是普通文件，已跳过");
        return std::nullopt;
    }
    if (info.st_size > most) {
        why = QString("大于 %1 MB 的上限，已跳过").arg(most >> 20);
        return std::nullopt;
    }
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    bytes.resize(done); // shortened meanwhile: the check below finds it incomplete
    return bytes;
}

QJsonObject ReadHeader(const QString& path)
{
    QString why;
    const std::optional<QByteArray> bytes = ReadRegular(path, kMaxSyncHeaderBytes, why);
    if (!bytes)
        HeaderUnreadable(why);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError)
        HeaderUnreadable(error.errorString());
    if (!document.isObject() || !document.object().value("format").isDouble())
        HeaderUnreadable("没有格式版本");
    return document.object();
}

QByteArray Base64Field(const QJsonObject& header, const QString& name)
{
    const auto decoded = QByteArray::fromBase64Encoding(header.value(name).toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        HeaderUnreadable(name + " 无效");
    return decoded.decoded;
}

// The key of an existing folder's header, checked against its seal.
QByteArray KeyOfHeader(const QJsonObject& header, const QString& passphrase)
{
    const double format = header.value("format").toDouble();
    if (format > kFormat)
        RaiseError("该同步文件夹由更新版本的程序创建，请先升级。");
    if (format < kFormat)
        HeaderUnreadable("格式版本无效");
    if (!header.value("encrypted").isBool())
        HeaderUnreadable("没有说明是否加密");
    if (!header.value("encrypted").toBool()) {
        if (!passphrase.isEmpty())
            RaiseError("该同步文件夹没有加密，不能使用同步密码。");
        return QByteArray();
    }
    if (passphrase.isEmpty())
        RaiseError("该同步文件夹已加密，请输入同步密码。");
    const QByteArray salt = Base64Field(header, "salt");
    const QByteArray check = Base64Field(header, "check");
    if (salt.size() != kSaltBytes)
        HeaderUnreadable("salt 无效");
    const QByteArray key = DeriveKey(passphrase, salt);
    if (Open(key, check, kHeaderName.toUtf8()) != kCheckText)
        RaiseError("同步密码不正确，没有做任何更改。");
    return key;
}

// A new folder's header and key.
QByteArray NewHeader(const QString& path, const QString& passphrase)
{
    QJsonObject header{{"format", kFormat}, {"encrypted", !passphrase.isEmpty()}};
    QByteArray key;
    if (!passphrase.isEmpty()) {
        const QByteArray salt = RandomBytes(kSaltBytes);
        key = DeriveKey(passphrase, salt);
        header["salt"] = QString::fromLatin1(salt.toBase64());
        header["check"] = QString::fromLatin1(Seal(key, kCheckText, kHeaderName.toUtf8()).toBase64());
    }
    WriteWhole(path, QJsonDocument(header).toJson(QJsonDocument::Compact));
    return key;
}

QString FileName(const QString& computer, qint64 seq, bool state)
{
    return QString("jotterel-%1-%2%3.jsync").arg(computer).arg(seq, 10, 10, QChar('0')).arg(state ? ".state" : "");
}

// What binds a file's contents to its name.
QByteArray Identity(const TSyncFile& file)
{
    return QString("%1-%2-%3").arg(file.Computer).arg(file.Seq).arg(file.State ? 1 : 0).toUtf8();
}

// Our file of that name; nothing for any other name, also one that differs
// from how Write names a file only in the seq's zeros, so that one file never
// goes by two names. A name of ours whose number has more digits than fit
// is named as such.
std::optional<TSyncFile> ParseName(const QString& name, QString& why)
{
    static const QRegularExpression pattern("^jotterel-([0-9a-f]{16})-([0-9]+)(\\.state)?\\.jsync$");
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    if (match.capturedLength(2) != 10) {
        why = QStringLiteral("序号不是十位数字，已跳过");
        return std::nullopt;
    }
    TSyncFile file{match.captured(1), match.captured(2).toLongLong(), match.hasCaptured(3), QString()};
    if (file.Seq < 1) {
        why = QStringLiteral("序号不能为 0，已跳过");
        return std::nullopt;
    }
    return file;
}

// Why a file that is none of ours is left out: sync tools keep both sides of
// an edit as a copy under a changed name, which is worth saying apart.
QString ForeignReason(const QString& name)
{
    const bool conflict = name.contains(".sync-conflict-") || name.contains("conflicted copy", Qt::CaseInsensitive) ||
                          name.contains("冲突");
    return conflict ? QStringLiteral("同步工具产生的冲突副本，已跳过") : QStringLiteral("不是本程序的同步文件，已跳过");
}

// The file's bytes without its preamble, or why they cannot be had.
std::optional<QByteArray> Body(const QByteArray& bytes, bool encryptedFolder, QString& why)
{
    if (bytes.size() < kPreamble || !bytes.startsWith(kMagic)) {
        why = kDamaged;
        return std::nullopt;
    }
    const auto format = static_cast<unsigned char>(bytes[kMagic.size()]);
    const auto flags = static_cast<unsigned char>(bytes[kMagic.size() + 1]);
    if (format > kFormat)
        why = kNewer;
    else if (format < 1 || (flags & ~kEncryptedFlag) != 0)
        why = kDamaged;
    else if ((flags & kEncryptedFlag) && !encryptedFolder)
        why = QStringLiteral("文件已加密，而同步文件夹没有加密，已跳过");
    else if (!(flags & kEncryptedFlag) && encryptedFolder)
        why = QStringLiteral("文件没有加密，而同步文件夹已加密，已跳过");
    if (!why.isEmpty())
        return std::nullopt;
    return bytes.mid(kPreamble);
}

// The compressed bytes of a plain file's body whose checksum matches.
std::optional<QByteArray> Unsummed(const QByteArray& body, const QByteArray& identity)
{
    if (body.size() < kSumBytes)
        return std::nullopt;
    const QByteArray compressed = body.mid(kSumBytes);
    if (sodium_memcmp(body.constData(), Checksum(identity, compressed).constData(), kSumBytes) != 0)
        return std::nullopt;
    return compressed;
}

// The payload of compressed bytes that passed their check (a length of four
// bytes, then zlib's stream, as qCompress writes them); nothing where they
// do not inflate to the length they announce, or would inflate past the
// caps: kMaxSyncPayloadBytes, and kMaxSyncInflation times their own size.
std::optional<QByteArray> Inflate(const QByteArray& compressed, QString& why)
{
    if (compressed.size() < 4)
        return std::nullopt;
    const quint32 announced = (quint32(quint8(compressed[0])) << 24) | (quint32(quint8(compressed[1])) << 16) |
                              (quint32(quint8(compressed[2])) << 8) | quint32(quint8(compressed[3]));
    if (announced == 0 && compressed.size() == 4)
        return QByteArray(); // qCompress writes no stream for nothing
    const qint64 most =
        std::min(kMaxSyncPayloadBytes, std::max<qint64>(1 << 20, compressed.size() * kMaxSyncInflation));
    if (announced > most) {
        why =
            QString("解压后超过上限（%1 MB，且不超过压缩大小的 %2 倍），已跳过").arg(most >> 20).arg(kMaxSyncInflation);
        return std::nullopt;
    }
    QByteArray payload(qsizetype(announced), Qt::Uninitialized);
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData() + 4));
    stream.avail_in = uInt(compressed.size() - 4);
    stream.next_out = reinterpret_cast<Bytef*>(payload.data());
    stream.avail_out = uInt(payload.size());
    int result = inflate(&stream, Z_FINISH);
    // The stream must end exactly where the announced length does.
    if (result == Z_BUF_ERROR && stream.avail_out == 0) {
        char extra = 0;
        stream.next_out = reinterpret_cast<Bytef*>(&extra);
        stream.avail_out = 1;
        result = inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.avail_out == 1 ? Z_STREAM_END : Z_DATA_ERROR;
    }
    const bool whole = result == Z_STREAM_END && stream.total_out == announced;
    inflateEnd(&stream);
    if (!whole)
        return std::nullopt;
    return payload;
}
} // namespace

QByteArray TSyncFolder::Join(const QString& dir, const QString& passphrase)
{
    EnsureSodium();
    if (!QDir().mkpath(dir))
        RaiseError(QString("无法建立同步文件夹 %1。").arg(Native(dir)));
    const QString path = QDir(dir).filePath(kHeaderName);
    if (!QFileInfo::exists(path))
        return NewHeader(path, passphrase);
    return KeyOfHeader(ReadHeader(path), passphrase);
}

QByteArray TSyncFolder::Rekey(const QString& dir, const QString& passphrase)
{
    EnsureSodium();
    return NewHeader(QDir(dir).filePath(kHeaderName), passphrase);
}

void TSyncFolder::SetFlushToDisk(bool flush)
{
    g_flushToDisk = flush;
}

TSyncFolder::TSyncFolder(const QString& dir, const QByteArray& key) : m_dir(dir), m_key(key)
{
    Q_ASSERT(key.isEmpty() || key.size() == kKeyBytes);
    EnsureSodium();
}

void TSyncFolder::CheckHeader() const
{
    const QString path = QDir(m_dir).filePath(kHeaderName);
    if (!QFileInfo::exists(path))
        return;
    const QJsonObject header = ReadHeader(path);
    const bool encrypted = header.value("encrypted").toBool();
    const bool ours =
        encrypted ? !m_key.isEmpty() && Open(m_key, Base64Field(header, "check"), kHeaderName.toUtf8()) == kCheckText
                  : m_key.isEmpty();
    if (!ours)
        throw ESyncKeyChanged("同步文件夹的设置已被另一台电脑换过（换了同步密码，或几台电脑几乎同时开始同步），"
                              "这台电脑的同步暂停了。请在“软件设置 → 同步…”中输入现在的同步密码，重新开始同步。");
}

void TSyncFolder::Write(const QString& computer, qint64 seq, bool state, const QByteArray& payload)
{
    // A name that Files() would not list is the caller's mistake.
    Q_ASSERT(seq >= 1 && seq <= kMaxSyncSeq);
    const TSyncFile file{computer, seq, state, QDir(m_dir).filePath(FileName(computer, seq, state))};
    const QByteArray compressed = qCompress(payload);
    QByteArray bytes = kMagic;
    bytes.append(char(kFormat));
    if (m_key.isEmpty()) {
        bytes.append(char(0));
        bytes.append(Checksum(Identity(file), compressed));
        bytes.append(compressed);
    } else {
        bytes.append(kEncryptedFlag);
        bytes.append(Seal(m_key, compressed, Identity(file)));
    }
    WriteWhole(file.Path, bytes);
}

QList<TSyncFile> TSyncFolder::Files()
{
    const QDir dir(m_dir);
    if (!dir.exists() || !QFileInfo(m_dir).isReadable())
        RaiseError(QString("同步文件夹无法读取：%1").arg(Native(m_dir)));
    QList<TSyncFile> files;
    // Hidden files (a sync tool's temporary files, ours while written) are
    // not listed; "~" marks office programs' lock files.
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::System)) {
        const QString name = info.fileName();
        if (name == kHeaderName || name.startsWith('~') || name.startsWith('.'))
            continue;
        QString why;
        std::optional<TSyncFile> file = ParseName(name, why);
        if (!file) {
            Note(name, why.isEmpty() ? ForeignReason(name) : why);
            continue;
        }
        file->Path = info.filePath();
        files.append(*file);
    }
    std::sort(files.begin(), files.end(), [](const TSyncFile& a, const TSyncFile& b) {
        return std::tuple(a.Computer, a.Seq, !a.State) < std::tuple(b.Computer, b.Seq, !b.State);
    });
    return files;
}

std::optional<QByteArray> TSyncFolder::Read(const TSyncFile& file)
{
    const QString name = QFileInfo(file.Path).fileName();
    QString why;
    const std::optional<QByteArray> bytes = ReadRegular(file.Path, kMaxSyncFileBytes, why);
    const std::optional<QByteArray> body = bytes ? Body(*bytes, !m_key.isEmpty(), why) : std::nullopt;
    if (!body) {
        Note(name, why);
        return std::nullopt;
    }
    const std::optional<QByteArray> compressed =
        m_key.isEmpty() ? Unsummed(*body, Identity(file)) : Open(m_key, *body, Identity(file));
    std::optional<QByteArray> payload = compressed ? Inflate(*compressed, why) : std::nullopt;
    if (!payload)
        Note(name, !why.isEmpty() ? why : compressed ? kDamaged : kUnverified);
    return payload;
}

void TSyncFolder::Remove(const TSyncFile& file)
{
    if (::unlink(QFile::encodeName(file.Path).constData()) != 0 && errno != ENOENT)
        RaiseError(QString("同步文件无法删除：%1（%2）").arg(Native(file.Path), qt_error_string(errno)));
}

void TSyncFolder::Note(const QString& name, const QString& reason)
{
    const QString note = name + "：" + reason;
    if (!m_skipped.contains(note))
        m_skipped.append(note);
}
