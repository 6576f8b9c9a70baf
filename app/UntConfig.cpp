#include "app/UntConfig.h"

#include "data/MD.h"
#include "data/UntPublic.h"

void TConfig::LoadConfig()
{
    bPass = false;
    PassWord.clear();
    LastSQL = "select * from SysSet";
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    TDataSet& set = *query;
    if (set.IsEmpty())
        return;
    set.First();
    bPass = set.AsBoolean("bPass");
    PassWord = set.AsString("PassWord");
}

void TConfig::SaveConfig()
{
    LastSQL = FormatSQL("update SysSet set bPass='%s',[PassWord]='%s' ", {bPass ? "-1" : "0", SqlText(PassWord)});
    DbExecSQL(LastSQL);
}

QString TConfig::LoadWindowState()
{
    LastSQL = "select WindowState from SysSet";
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    if (query->IsEmpty())
        return QString();
    query->First();
    return query->AsString(0);
}

void TConfig::SaveWindowState(const QString& state)
{
    LastSQL = FormatSQL("update SysSet set WindowState='%s' ", {SqlText(state)});
    DbExecSQL(LastSQL);
}

QDateTime TPasswordTries::NextTryAt(const QDateTime& now) const
{
    if (Count < FreeTries || !Last.isValid() || Last > now)
        return {};
    return Last.addMSecs(WaitMsecs);
}

// The moment is kept in milliseconds since 1970 (UTC): a change of the time
// zone between two starts moves nothing.
TPasswordTries TConfig::LoadPasswordTries()
{
    LastSQL = "select WrongPassCount, WrongPassAt from SysSet";
    const std::unique_ptr<TDataSet> query = DbAccess->Query(LastSQL);
    TPasswordTries tries;
    if (query->IsEmpty())
        return tries;
    query->First();
    tries.Count = query->AsInteger(0);
    if (!query->Value(1).isNull())
        tries.Last = QDateTime::fromMSecsSinceEpoch(query->Value(1).toLongLong());
    return tries;
}

void TConfig::SavePasswordTries(const TPasswordTries& tries)
{
    const QString last = tries.Last.isValid() ? QString::number(tries.Last.toMSecsSinceEpoch()) : "NULL";
    LastSQL = FormatSQL("update SysSet set WrongPassCount=%s,WrongPassAt=%s", {QString::number(tries.Count), last});
    DbExecSQL(LastSQL);
}
