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
