#include "links/LinkStore.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/SqliteDb.h"
#include "data/UntPublic.h"
#include "groups/GroupTableStore.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <sqlite3.h>

namespace {
const char* const kResultNames[kLinkResultCount] = {"正常", "已跳转", "失效", "无法确定", "可能失效"};
// Bigger sources are refused before they are decoded: an icon never needs them.
constexpr int kMostIconSide = 1024;

sqlite3* Db()
{
    return DbAccess->Handle();
}

// Steps a statement once: true when it gave a row.
bool StepRow(sqlite3_stmt* statement)
{
    const int step = sqlite3_step(statement);
    if (step == SQLITE_ROW)
        return true;
    if (step != SQLITE_DONE)
        ThrowSqlError(Db());
    return false;
}

QList<TLinkTarget> TargetsWhere(const QString& condition)
{
    TGroupTable groups("IEType", "全部");
    groups.Load();
    TStmtHandle statement = PrepareNative(
        Db(), "select ID, IEUrl, TypeID from IE" + (condition.isEmpty() ? "" : " where " + condition) + " order by ID");
    QList<TLinkTarget> targets;
    while (StepRow(statement.get())) {
        const QString url = ColumnText(statement.get(), 1);
        if (CheckableUrl(url).isEmpty())
            continue;
        const int group = sqlite3_column_int(statement.get(), 2);
        targets.append(
            {sqlite3_column_int64(statement.get(), 0), url, groups.PathText(groups.Contains(group) ? group : 0)});
    }
    return targets;
}

QString IdList(const QList<qint64>& ids)
{
    QStringList texts;
    for (qint64 id : ids)
        texts << QString::number(id);
    return texts.join(u',');
}

// Where a bookmark of the branch may be filed: its groups, or anywhere for the root.
QString BranchCondition(int group)
{
    if (group == 0)
        return QString();
    TGroupTable groups("IEType", "全部");
    groups.Load();
    QList<qint64> branch;
    for (int self : groups.Branch(group))
        branch.append(self);
    return "TypeID in (" + IdList(branch) + ")";
}

bool IsRootPath(const QUrl& url)
{
    return (url.path().isEmpty() || url.path() == "/") && !url.hasQuery();
}

// The last two labels of a host name ("www.example.com" → "example.com"):
// a site's own hosts share them.
QString SiteOf(const QString& host)
{
    const QStringList labels = host.toLower().split(u'.', Qt::SkipEmptyParts);
    return labels.mid(std::max<qsizetype>(0, labels.size() - 2)).join(u'.');
}

// An attribute's value in one tag's text, quoted or not; empty when absent.
QString Attribute(const QString& tag, const QString& name)
{
    static QHash<QString, QRegularExpression> patterns;
    QRegularExpression& pattern = patterns[name];
    if (!pattern.isValid() || pattern.pattern().isEmpty())
        pattern = QRegularExpression(R"((?:^|\s))" + name + R"re(\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))re",
                                     QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(tag);
    if (!match.hasMatch())
        return QString();
    for (int i = 1; i <= 3; ++i)
        if (match.capturedStart(i) >= 0)
            return match.captured(i).trimmed();
    return QString();
}

// An image centred on a transparent square of that side.
QImage OnSquare(const QImage& image, int side)
{
    const QImage scaled = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage square(side, side, QImage::Format_ARGB32);
    square.fill(Qt::transparent);
    QPainter painter(&square);
    painter.drawImage((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled);
    return square;
}
} // namespace

QString LinkResultName(TLinkResult result)
{
    const int index = int(result);
    return index >= 0 && index < kLinkResultCount ? QString(kResultNames[index]) : QString();
}

QString TLinkOutcome::Text() const
{
    const QString name = LinkResultName(Result);
    if (Result == TLinkResult::Moved)
        return name + " → " + NewUrl;
    if (Code != 0 && (Result == TLinkResult::Broken || Result == TLinkResult::Unknown))
        return QString("%1（%2）").arg(name).arg(Code);
    return Reason.isEmpty() ? name : QString("%1（%2）").arg(name, Reason);
}

QUrl CheckableUrl(const QString& address)
{
    const QString text = TrimBlanks(address);
    const qsizetype colon = text.indexOf(u':');
    const qsizetype slash = text.indexOf(u'/');
    // "example.com/x" has no scheme; "mailto:a@b" and "C:\x" have one.
    const bool portNext = colon + 1 < text.size() && text[colon + 1].isDigit();
    const bool hasScheme = colon > 0 && (slash < 0 || colon < slash) && !portNext;
    const QUrl url = hasScheme || text.isEmpty() ? QUrl(text) : QUrl("http://" + text);
    if (!url.isValid() || url.host().isEmpty() || (url.scheme() != "http" && url.scheme() != "https"))
        return QUrl();
    return url;
}

QList<TLinkTarget> LinkTargetsOfGroup(int group)
{
    return TargetsWhere(BranchCondition(group));
}

int GroupOfPath(const QString& path)
{
    TGroupTable groups("IEType", "全部");
    groups.Load();
    QStringList names = QString(path).replace("->", "/").split(u'/', Qt::SkipEmptyParts);
    if (!names.isEmpty() && names.first().trimmed() == groups.RootCaption())
        names.removeFirst();
    int group = 0;
    for (const QString& name : names) {
        int found = -1;
        for (int child : groups.Children(group))
            if (groups.Name(child) == name.trimmed())
                found = child;
        if (found < 0)
            return -1;
        group = found;
    }
    return group;
}

QList<TLinkTarget> LinkTargetsOf(const QList<int>& ids)
{
    QList<qint64> wide(ids.begin(), ids.end());
    return ids.isEmpty() ? QList<TLinkTarget>() : TargetsWhere("ID in (" + IdList(wide) + ")");
}

void SaveLinkOutcomes(const QList<QPair<qint64, TLinkOutcome>>& outcomes)
{
    if (outcomes.isEmpty())
        return;
    DbAccess->Batch([&] {
        // A bookmark deleted while its address was checked gets no row.
        TStmtHandle statement =
            PrepareNative(Db(), "insert or replace into LinkCheck(IEID, Result, Code, CheckedAt, NewUrl) "
                                "select ?1, ?2, ?3, ?4, ?5 where exists (select 1 from IE where ID = ?1)");
        for (const auto& [id, outcome] : outcomes) {
            sqlite3_reset(statement.get());
            sqlite3_bind_int64(statement.get(), 1, id);
            sqlite3_bind_int(statement.get(), 2, int(outcome.Result));
            sqlite3_bind_int(statement.get(), 3, outcome.Code);
            const QDateTime at = outcome.CheckedAt.isValid() ? outcome.CheckedAt : TClock::Now();
            sqlite3_bind_int64(statement.get(), 4, at.toSecsSinceEpoch());
            BindText(statement.get(), 5, outcome.NewUrl);
            RunToEnd(Db(), statement.get());
        }
    });
}

std::optional<TLinkOutcome> LoadLinkOutcome(qint64 ieId)
{
    TStmtHandle statement = PrepareNative(Db(), "select Result, Code, CheckedAt, NewUrl from LinkCheck where IEID = ?");
    sqlite3_bind_int64(statement.get(), 1, ieId);
    if (!StepRow(statement.get()))
        return std::nullopt;
    TLinkOutcome outcome;
    outcome.Result = TLinkResult(sqlite3_column_int(statement.get(), 0));
    outcome.Code = sqlite3_column_int(statement.get(), 1);
    outcome.CheckedAt = QDateTime::fromSecsSinceEpoch(sqlite3_column_int64(statement.get(), 2));
    outcome.NewUrl = ColumnText(statement.get(), 3);
    return outcome;
}

// The result's name, then what it found, then the day: sorting the column
// gathers the results of a kind.
QString LinkStatusColumnSql()
{
    QString names = "case LC.Result";
    for (int i = 0; i < kLinkResultCount; ++i)
        names += QString(" when %1 then '%2'").arg(i).arg(kResultNames[i]);
    names += " else '' end";
    return "coalesce(" + names +
           " || case when LC.Result = 1 then ' → ' || LC.NewUrl"
           " when LC.Code <> 0 and LC.Result in (2, 3) then '（' || LC.Code || '）' else '' end"
           " || '  ' || strftime('%Y-%m-%d', LC.CheckedAt, 'unixepoch', 'localtime'), '')";
}

QString BrokenLinkConditionSql()
{
    return QString("LC.Result in (%1, %2)").arg(int(TLinkResult::Broken)).arg(int(TLinkResult::MaybeBroken));
}

QList<qint64> PermanentlyMoved(int group)
{
    const QString branch = BranchCondition(group);
    TStmtHandle statement =
        PrepareNative(Db(), "select IE.ID from IE join LinkCheck on LinkCheck.IEID = IE.ID where LinkCheck.Result = 1 "
                            "and LinkCheck.Code in (301, 308) and LinkCheck.NewUrl <> ''" +
                                (branch.isEmpty() ? "" : " and " + branch) + " order by IE.ID");
    QList<qint64> ids;
    while (StepRow(statement.get()))
        ids.append(sqlite3_column_int64(statement.get(), 0));
    return ids;
}

int ApplyNewUrls(const QList<qint64>& ieIds)
{
    int changed = 0;
    DbAccess->Batch([&] {
        const QString moved = "select NewUrl from LinkCheck where IEID = ?1 and Result = 1 and Code in (301, 308) "
                              "and NewUrl <> ''";
        TStmtHandle update =
            PrepareNative(Db(), "update IE set IEUrl = (" + moved + ") where ID = ?1 and exists (" + moved + ")");
        TStmtHandle settle =
            PrepareNative(Db(), "update LinkCheck set Result = 0, Code = 0, NewUrl = '' where IEID = ?1");
        for (qint64 id : ieIds) {
            for (sqlite3_stmt* statement : {update.get(), settle.get()}) {
                sqlite3_reset(statement);
                sqlite3_bind_int64(statement, 1, id);
            }
            RunToEnd(Db(), update.get());
            if (sqlite3_changes(Db()) == 0)
                continue;
            ++changed;
            RunToEnd(Db(), settle.get());
        }
    });
    return changed;
}

bool LooksGone(const QUrl& asked, const QUrl& final, const QString& title)
{
    if (final.adjusted(QUrl::StripTrailingSlash) != asked.adjusted(QUrl::StripTrailingSlash) && IsRootPath(final) &&
        !IsRootPath(asked))
        return true;
    static const QRegularExpression gone(R"((^|\D)404(\D|$)|not\s+found|页面不存在|页面未找到|找不到(该|此)?页面)",
                                         QRegularExpression::CaseInsensitiveOption);
    return gone.match(title).hasMatch();
}

QString PageTitle(const QByteArray& html)
{
    static const QRegularExpression title(R"(<title[^>]*>(.*?)</title)",
                                          QRegularExpression::CaseInsensitiveOption |
                                              QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = title.match(QString::fromUtf8(html));
    return match.hasMatch() ? match.captured(1).simplified() : QString();
}

QUrl IconLinkOf(const QByteArray& html, const QUrl& page)
{
    static const QRegularExpression link(R"(<link\b([^>]*)>)", QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromUtf8(html);
    for (auto it = link.globalMatch(text); it.hasNext();) {
        const QString tag = it.next().captured(1);
        const QStringList rel = Attribute(tag, "rel").toLower().split(u' ', Qt::SkipEmptyParts);
        const QString href = Attribute(tag, "href");
        if (!rel.contains("icon") || href.isEmpty())
            continue;
        const QUrl icon = page.resolved(QUrl(href));
        if ((icon.scheme() == "http" || icon.scheme() == "https") && SiteOf(icon.host()) == SiteOf(page.host()))
            return icon;
        return QUrl();
    }
    return QUrl();
}

QUrl DefaultIconUrl(const QUrl& page)
{
    QUrl icon = page.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
    icon.setPath("/favicon.ico");
    return icon;
}

QByteArray ShrinkIcon(const QByteArray& data)
{
    if (data.isEmpty() || data.size() > kMaxIconBytes)
        return {};
    QBuffer buffer;
    buffer.setData(data);
    QImageReader reader(&buffer);
    if (!reader.canRead())
        return {};
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kMostIconSide || size.height() > kMostIconSide))
        return {};
    const QImage image = reader.read();
    if (image.isNull() || image.width() > kMostIconSide || image.height() > kMostIconSide)
        return {};
    // Small already: kept as given, so that a browser's bookmark file gets
    // its icons back byte for byte.
    if (image.width() <= 32 && image.height() <= 32)
        return data;
    const int side = std::min(image.width(), image.height()) >= 32 ? 32 : 16;
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    OnSquare(image, side).save(&out, "PNG");
    return png;
}

bool PutSiteIcon(qint64 ieId, const QByteArray& data)
{
    const QByteArray png = ShrinkIcon(data);
    if (png.isEmpty())
        return false;
    DbAccess->Batch([&] {
        TStmtHandle statement = PrepareNative(Db(), "insert or replace into SiteIcon(IEID, Icon, FetchedAt) "
                                                    "select ?1, ?2, ?3 where exists (select 1 from IE where ID = ?1)");
        sqlite3_bind_int64(statement.get(), 1, ieId);
        BindBlob(statement.get(), 2, png);
        sqlite3_bind_int64(statement.get(), 3, TClock::Now().toSecsSinceEpoch());
        RunToEnd(Db(), statement.get());
    });
    return true;
}

QByteArray SiteIcon(qint64 ieId)
{
    TStmtHandle statement = PrepareNative(Db(), "select Icon from SiteIcon where IEID = ?");
    sqlite3_bind_int64(statement.get(), 1, ieId);
    return StepRow(statement.get()) ? ColumnBytes(statement.get(), 0) : QByteArray();
}

bool FetchIconsEnabled()
{
    TStmtHandle statement = PrepareNative(Db(), "select FetchIcons from SysSet limit 1");
    return !StepRow(statement.get()) || sqlite3_column_int(statement.get(), 0) != 0;
}

void SetFetchIcons(bool on)
{
    DbExecSQL(QString("update SysSet set FetchIcons=%1").arg(on ? 1 : 0));
}
