#pragma once

#include "data/UException.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The largest number a computer's file may carry: its name holds ten digits.
inline constexpr qint64 kMaxSyncSeq = 9999999999LL;

// What a file of the folder may be, read or unpacked: whatever is larger is
// skipped and named, before it costs more than this.
inline constexpr qint64 kMaxSyncFileBytes = 256LL << 20;    // a file as it lies in the folder
inline constexpr qint64 kMaxSyncPayloadBytes = 512LL << 20; // a file unpacked
inline constexpr qint64 kMaxSyncInflation = 100;            // and at most this many times its packed size
inline constexpr qint64 kMaxSyncHeaderBytes = 64 << 10;     // the folder's header

// The folder's header is not the one this computer's key was made for:
// another computer changed the passphrase, or began the folder anew.
class ESyncKeyChanged : public EError
{
public:
    using EError::EError;
};

// One file of the shared folder written by one computer: a batch of its
// changes ("jotterel-<computer>-<seq>.jsync") or its whole state up to that
// batch ("jotterel-<computer>-<seq>.state.jsync"), after which its older
// files go.
struct TSyncFile
{
    QString Computer; // 16 lower-case hex digits
    qint64 Seq = 0;
    bool State = false;
    QString Path;
};

// The folder that a sync tool (Syncthing, a cloud client, a share) carries
// between computers. Each computer writes only files of its own, whole, by
// a temporary name and a rename, readable by their owner alone. With a
// passphrase every file is compressed, then encrypted and authenticated
// (XChaCha20-Poly1305 with a key from Argon2id over the passphrase and the
// folder's salt); without, compressed and checksummed. The folder's header
// file "jotterel-sync.json" holds the format, the salt and a check that the
// key opens.
class TSyncFolder
{
public:
    // The key for the folder and passphrase (empty for a folder without
    // passphrase). A folder without a header gets one. Raises, with the
    // user's message, when the passphrase does not open the folder, when a
    // passphrase is given for a plain folder or none for an encrypted one,
    // and when the header is of a newer format.
    static QByteArray Join(const QString& dir, const QString& passphrase);
    // A new header with the new passphrase (empty: plain files), and its key.
    static QByteArray Rekey(const QString& dir, const QString& passphrase);

    TSyncFolder(const QString& dir, const QByteArray& key);

    // Whether a written file waits until it is on the disk (the default). A
    // test of what computers end with, not of a power cut, writes thousands.
    static void SetFlushToDisk(bool flush);

    // Raises when the folder's header is no longer the one the key was made
    // for: two computers that began to sync the folder before the tool had
    // carried the first one's header each wrote one, and the tool kept the
    // other's. Files written with this key could not be read elsewhere; the
    // user joins again with the passphrase. The same when another computer
    // changed the passphrase. A header not there (yet) is no reason. Raises
    // ESyncKeyChanged.
    void CheckHeader() const;

    // Writes a file of this computer.
    void Write(const QString& computer, qint64 seq, bool state, const QByteArray& payload);
    // The files of every computer, this one's too; what is no file of ours
    // (a sync tool's conflict copy or temporary file, a foreign file, a name
    // whose number does not fit) is left out with a note in Skipped().
    QList<TSyncFile> Files();
    // A file's payload; nothing, with a note in Skipped(), when it cannot be
    // read whole (half delivered, changed, another key, a newer format), is
    // no regular file (a link, a pipe, a device) or is larger than the caps.
    std::optional<QByteArray> Read(const TSyncFile& file);
    void Remove(const TSyncFile& file);
    // "文件名：原因" for each file left out since the folder was opened.
    QStringList Skipped() const { return m_skipped; }
    // Adds "文件名：原因" once, however often the file is met.
    void Note(const QString& name, const QString& reason);

private:
    QString m_dir;
    QByteArray m_key;
    QStringList m_skipped;
};
