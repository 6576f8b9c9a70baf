#include "support/DamagedFile.h"

#include "data/MD.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>
#include <QTest>
#include <QtEndian>
#include <sqlite3.h>

QByteArray FileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1);
}

void DamageBookmarkPage(const QString& path)
{
    int root = 0;
    int pageSize = 0;
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "select rootpage, (select page_size from pragma_page_size) from sqlite_master "
                       "where name='IE'",
                       -1, &stmt, nullptr);
    if (sqlite3_step(stmt) == SQLITE_ROW) {
        root = sqlite3_column_int(stmt, 0);
        pageSize = sqlite3_column_int(stmt, 1);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(qint64(root - 1) * pageSize));
    const QByteArray header = file.read(12);
    QCOMPARE(header.at(0), char(0x05));                                  // an interior page: the table spans several
    const qint64 leaf = qFromBigEndian<quint32>(header.constData() + 8); // its right-most child
    QVERIFY(leaf > root && (leaf - 1) * pageSize < file.size());
    QVERIFY(file.seek((leaf - 1) * pageSize));
    file.write(QByteArray(8, char(0xFF)));
}

QByteArray ConnectDamaged()
{
    QStringList statements;
    for (int i = 0; i < 400; ++i)
        statements << QString("insert into IE(TypeID,IEUrl,IEName,ReMark) values (0,'https://example.com/%1',"
                              "'网页 %1','%2')")
                          .arg(i)
                          .arg(QString(60, 'x'));
    DbExecSQL(statements.join("@#@"));
    const QString path = DbAccess->DatabasePath();
    delete DbAccess;
    DbAccess = nullptr;
    DamageBookmarkPage(path);
    DbAccess = new TDbAccess;
    DbAccess->Connect();
    return FileHash(path);
}
