#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// What the last check of a bookmark's address found. The numbers are stored
// (LinkCheck.Result): a later kind gets a new number.
enum class TLinkResult {
    Ok = 0,          // 正常
    Moved = 1,       // 已跳转: the address answers from another one
    Broken = 2,      // 失效: 404, 410, or a host name that does not exist
    Unknown = 3,     // 无法确定: timeout, 5xx, refused, TLS error, a loop
    MaybeBroken = 4, // 可能失效: answers, but with a page that says it is gone
};
inline constexpr int kLinkResultCount = 5;

// "正常", "已跳转", "失效", "无法确定", "可能失效".
QString LinkResultName(TLinkResult result);

struct TLinkOutcome
{
    TLinkResult Result = TLinkResult::Ok;
    // The HTTP status that decided (for Moved: 301 or 308 when every step
    // was permanent, else the first temporary one); 0 without an answer.
    int Code = 0;
    QString NewUrl; // for Moved: where the address ended
    QString Reason; // for a check without an answer: what happened, for people
    QDateTime CheckedAt;

    // A redirect every step of which was permanent: the new address may
    // replace the stored one.
    bool Permanent() const { return Result == TLinkResult::Moved && (Code == 301 || Code == 308); }
    // "失效（404）", "已跳转 → https://…", "无法确定（超时）".
    QString Text() const;
};

// One bookmark to check: its address and where it is filed, for people.
struct TLinkTarget
{
    qint64 Id = 0;
    QString Url;
    QString GroupPath;
};

// The address to fetch: http and https only (a host without a scheme is an
// http address, as the desktop opens it); an empty address for anything else.
QUrl CheckableUrl(const QString& address);

// The bookmarks of a group's branch (0: every bookmark) whose addresses can
// be checked, in the order of their identifiers; the group path names the
// bookmark's own group ("全部->工作").
QList<TLinkTarget> LinkTargetsOfGroup(int group);
// The group a path names: "工作/会议" or "全部->工作->会议" (the root's
// caption may lead; "" or "全部" is the root); -1 when there is none.
int GroupOfPath(const QString& path);
// The same for chosen bookmarks.
QList<TLinkTarget> LinkTargetsOf(const QList<int>& ids);

// Keeps the outcomes of checks, one row per bookmark, in one transaction.
// Per computer: not a change that the sync carries.
void SaveLinkOutcomes(const QList<QPair<qint64, TLinkOutcome>>& outcomes);
std::optional<TLinkOutcome> LoadLinkOutcome(qint64 ieId);

// The grid's 状态 column: an SQL expression over LinkCheck joined as "LC",
// empty text for a bookmark never checked.
QString LinkStatusColumnSql();
// The condition of 只看失效的: 失效 or 可能失效.
QString BrokenLinkConditionSql();

// 更新为新网址: the bookmarks' addresses replaced by where their permanent
// redirects ended, in one transaction; their check then reads 正常. Returns
// how many changed. Only bookmarks whose last check was such a redirect
// change.
int ApplyNewUrls(const QList<qint64>& ieIds);
// Every bookmark of the branch (0: all) whose last check was a permanent redirect.
QList<qint64> PermanentlyMoved(int group);

// A page that answers 200 but says it is gone: after a redirect it ended at
// its site's root although a deeper address was asked, or its title says
// "404", "Not Found", "页面不存在".
bool LooksGone(const QUrl& asked, const QUrl& final, const QString& title);
// The text of the page's <title>, with blanks folded; empty without one.
QString PageTitle(const QByteArray& html);
// The site's own icon named by the page (<link rel="icon" href=…>), resolved
// against the page; an empty address when there is none or it lies on
// another site (the icon comes from the site only, never a third party).
QUrl IconLinkOf(const QByteArray& html, const QUrl& page);
// The icon every site may have: /favicon.ico at the page's own origin.
QUrl DefaultIconUrl(const QUrl& page);

// Icons larger than this are refused unread.
inline constexpr qsizetype kMaxIconBytes = 64 * 1024;
// The icon as it is kept: an image Qt can read, at most kMaxIconBytes, at
// most 1024 pixels a side; one of at most 32 pixels a side as it is, a
// larger one scaled to a 32x32 PNG (16x16 when its shorter side is under
// 32); empty when refused.
QByteArray ShrinkIcon(const QByteArray& data);
// Stores a site's icon for a bookmark, in place of the one before; false
// (and nothing stored) when ShrinkIcon refuses it. The one way icons come in,
// from a check, an added bookmark or a browser's bookmark file.
bool PutSiteIcon(qint64 ieId, const QByteArray& data);
// The stored PNG; empty when there is none.
QByteArray SiteIcon(qint64 ieId);

// 软件设置's option: whether icons are fetched at all (SysSet.FetchIcons).
// Off, no request reaches the network except by 检查网址.
bool FetchIconsEnabled();
void SetFetchIcons(bool on);
