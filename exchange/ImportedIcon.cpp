#include "exchange/ImportedIcon.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UException.h"

#include <QImage>
#include <sqlite3.h>

bool PutImportedSiteIcon(qint64 ieId, const QByteArray& image)
{
    if (image.isEmpty() || image.size() > MaxImportedIconBytes || QImage::fromData(image).isNull())
        return false;
    const QString sql = "INSERT OR REPLACE INTO SiteIcon(IEID, Icon, FetchedAt) VALUES (?1, ?2, ?3)";
    try {
        sqlite3* db = DbAccess->Handle();
        TStmtHandle stmt = PrepareNative(db, sql);
        sqlite3_bind_int64(stmt.get(), 1, ieId);
        sqlite3_bind_blob(stmt.get(), 2, image.constData(), int(image.size()), SQLITE_STATIC);
        sqlite3_bind_int64(stmt.get(), 3, TClock::Now().toSecsSinceEpoch());
        RunToEnd(db, stmt.get());
    } catch (const TSqlError& e) {
        throw EDBException(e.Message, "数据库操作失败！", sql);
    }
    return true;
}
