#include "links/LinkChecker.h"

#include "data/Clock.h"
#include "data/UntPublic.h"

#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {
// What of a page is read: its title and icon link stand near the top.
constexpr qsizetype kPageBytes = 64 * 1024;
const QByteArray kUserAgent = "Mozilla/5.0 (X11; Linux x86_64) Jotterel/1";

// One site: a few of its addresses are asked at once, never more.
QString SiteKey(const QUrl& url)
{
    return url.scheme() + "://" + url.host().toLower() + ":" +
           QString::number(url.port(url.scheme() == "https" ? 443 : 80));
}

bool IsPermanent(int status)
{
    return status == 301 || status == 308;
}

TLinkOutcome Outcome(TLinkResult result, int code, const QString& reason = QString())
{
    TLinkOutcome outcome;
    outcome.Result = result;
    outcome.Code = code;
    outcome.Reason = reason;
    return outcome;
}

// An answer that is no page: gone for good (404, 410), or not to be told.
TLinkOutcome StatusOutcome(int status)
{
    return Outcome(status == 404 || status == 410 ? TLinkResult::Broken : TLinkResult::Unknown, status);
}

// Why a request got no answer, in the words of the 状态 column.
TLinkOutcome NoAnswer(QNetworkReply::NetworkError error, const QString& text)
{
    switch (error) {
    case QNetworkReply::HostNotFoundError:
        return Outcome(TLinkResult::Broken, 0, "找不到主机");
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return Outcome(TLinkResult::Unknown, 0, "超时");
    case QNetworkReply::ConnectionRefusedError:
        return Outcome(TLinkResult::Unknown, 0, "连接被拒绝");
    case QNetworkReply::SslHandshakeFailedError:
        return Outcome(TLinkResult::Unknown, 0, "加密连接失败");
    default:
        return Outcome(TLinkResult::Unknown, 0, text);
    }
}
} // namespace

struct TLinkChecker::TJob
{
    enum TStage { Check, Page, IconFetch };
    int Number = 0;
    TLinkTarget Target;
    QString Site;
    QUrl Asked;
    QUrl Current; // the step of the redirect chain on the way, then the page
    QUrl Icon;
    TStage Stage = Check;
    bool IconOnly = false;
    bool UseGet = false;
    bool Retried = false;
    bool Enough = false;                              // the body was cut off: what was read is all that is wanted
    bool Recorded = false;                            // its outcome is kept; only the icon is on its way
    bool TimeUp = false;                              // its deadline passed: the request on the way was stopped
    QDeadlineTimer Deadline{QDeadlineTimer::Forever}; // set at its first request
    int Hops = 0;
    int RedirectCode = 0;
    QSet<QUrl> Seen;
    QByteArray Body;
};

TLinkChecker::TLinkChecker(const TLinkCheckSettings& settings, QObject* parent)
    : QObject(parent), m_settings(settings), m_network(std::make_unique<QNetworkAccessManager>())
{
    m_network->setCookieJar(nullptr);
}

TLinkChecker::~TLinkChecker()
{
    if (m_running)
        Cancel();
}

void TLinkChecker::Start(const QList<TLinkTarget>& targets)
{
    m_running = true;
    for (const TLinkTarget& target : targets)
        if (Enqueue(target, false))
            ++m_total;
    emit Progress(m_done, m_total);
    Pump();
    EndIfIdle();
}

void TLinkChecker::FetchIcon(const TLinkTarget& target)
{
    m_running = true;
    Enqueue(target, true);
    Pump();
    EndIfIdle();
}

bool TLinkChecker::Enqueue(const TLinkTarget& target, bool iconOnly)
{
    const QUrl url = CheckableUrl(target.Url);
    if (url.isEmpty())
        return false;
    auto job = std::make_shared<TJob>();
    job->Number = m_nextJob++;
    job->Target = target;
    job->Asked = job->Current = url;
    job->Seen.insert(url);
    // An icon alone starts from the page, for the icon it names.
    job->Stage = iconOnly ? TJob::Page : TJob::Check;
    job->IconOnly = iconOnly;
    job->Site = SiteKey(url);
    m_jobs.insert(job->Number, job);
    m_waiting[job->Site].enqueue(job->Number);
    MakeReady(job->Site);
    return true;
}

void TLinkChecker::Cancel()
{
    if (!m_running)
        return;
    m_running = false;
    // Aborting a reply reports its end at once: the handlers see the check stopped.
    for (QNetworkReply* reply : QSet<QNetworkReply*>(m_replies))
        reply->abort();
    m_replies.clear();
    m_jobs.clear();
    m_waiting.clear();
    m_active.clear();
    m_slow.clear();
    m_ready.clear();
    m_inReady.clear();
    m_activeTotal = 0;
    Save();
    emit Finished(true);
}

void TLinkChecker::MakeReady(const QString& site)
{
    if (m_inReady.contains(site) || m_waiting.value(site).isEmpty() || m_active.value(site) >= m_settings.MostPerSite)
        return;
    m_ready.enqueue(site);
    m_inReady.insert(site);
}

// Sites take turns, so that one site with many addresses does not hold the
// others back.
void TLinkChecker::Pump()
{
    while (m_running && m_activeTotal < m_settings.MostAtOnce && !m_ready.isEmpty()) {
        const QString site = m_ready.dequeue();
        m_inReady.remove(site);
        QQueue<int>& queue = m_waiting[site];
        if (queue.isEmpty() || m_active.value(site) >= m_settings.MostPerSite)
            continue;
        const std::shared_ptr<TJob> job = m_jobs.value(queue.dequeue());
        if (queue.isEmpty())
            m_waiting.remove(site);
        ++m_active[site];
        ++m_activeTotal;
        MakeReady(site);
        if (job)
            Send(*job);
    }
}

void TLinkChecker::Send(TJob& job)
{
    if (!m_running)
        return;
    const QUrl url = job.Stage == TJob::IconFetch ? job.Icon : job.Current;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, kUserAgent);
    request.setTransferTimeout(m_settings.TimeoutMs);
    // The check follows redirects itself, to tell permanent ones and loops;
    // an icon may move within its site only.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, job.Stage == TJob::IconFetch
                                                                       ? QNetworkRequest::SameOriginRedirectPolicy
                                                                       : QNetworkRequest::ManualRedirectPolicy);
    const bool head = job.Stage == TJob::Check && !job.UseGet;
    QNetworkReply* reply = head ? m_network->head(request) : m_network->get(request);
    m_replies.insert(reply);
    if (job.Deadline.isForever())
        job.Deadline.setRemainingTime(m_settings.AddressDeadlineMs);
    QTimer::singleShot(std::max<qint64>(job.Deadline.remainingTime(), 0), reply, [this, reply, number = job.Number] {
        if (const std::shared_ptr<TJob> job = m_jobs.value(number); job && m_replies.contains(reply)) {
            job->TimeUp = true;
            reply->abort();
        }
    });
    job.Body.clear();
    job.Enough = false;
    const qsizetype most = job.Stage == TJob::IconFetch ? kMaxIconBytes + 1 : kPageBytes;
    const int number = job.Number;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, number, most] {
        const std::shared_ptr<TJob> job = m_jobs.value(number);
        if (!job || job->Enough)
            return;
        job->Body += reply->read(most - job->Body.size());
        if (job->Body.size() >= most) {
            job->Enough = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, number] {
        reply->deleteLater();
        if (!m_replies.remove(reply) || !m_running)
            return;
        if (const std::shared_ptr<TJob> job = m_jobs.value(number))
            Answered(*job, reply);
    });
}

void TLinkChecker::Answered(TJob& job, QNetworkReply* reply)
{
    if (job.TimeUp) {
        OutOfTime(job);
        return;
    }
    if (!job.Enough && reply->error() == QNetworkReply::NoError)
        job.Body += reply->read(kPageBytes);
    switch (job.Stage) {
    case TJob::Check:
        CheckAnswered(job, reply);
        break;
    case TJob::Page:
        PageAnswered(job, reply);
        break;
    case TJob::IconFetch:
        IconAnswered(job, reply);
        break;
    }
}

void TLinkChecker::CheckAnswered(TJob& job, QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0) {
        const QNetworkReply::NetworkError error = reply->error();
        const TLinkOutcome outcome = NoAnswer(error, reply->errorString());
        if (error == QNetworkReply::HostNotFoundError)
            Decide(job, outcome);
        else
            TryAgainOr(job, error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError,
                       outcome);
        return;
    }
    const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (status >= 300 && status < 400 && location.isValid()) {
        const QUrl next = job.Current.resolved(location);
        if (++job.Hops > m_settings.MostRedirects || job.Seen.contains(next) ||
            CheckableUrl(next.toString()).isEmpty()) {
            Decide(job, Outcome(TLinkResult::Unknown, status, "重定向循环"));
            return;
        }
        // The chain is permanent only while every step is.
        if (job.RedirectCode == 0 || (IsPermanent(job.RedirectCode) && !IsPermanent(status)))
            job.RedirectCode = status;
        job.Seen.insert(next);
        job.Current = next;
        Send(job);
        return;
    }
    if (status >= 200 && status < 300) {
        const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
        job.Stage = TJob::Page;
        if (!job.UseGet && (type.isEmpty() || type.contains("html", Qt::CaseInsensitive)))
            Send(job); // the page itself says whether it is gone
        else
            PageAnswered(job, reply);
        return;
    }
    TryAgainOr(job, status >= 500, StatusOutcome(status));
}

void TLinkChecker::TryAgainOr(TJob& job, bool transient, const TLinkOutcome& outcome)
{
    if (!job.UseGet) {
        job.UseGet = true; // a server may refuse HEAD, or answer it wrongly
        Send(job);
    } else if (transient && !job.Retried) {
        job.Retried = true;
        Send(job);
    } else {
        Decide(job, outcome);
    }
}

// The page as it answered: its title and where it ended decide; its icon link
// comes along.
void TLinkChecker::PageAnswered(TJob& job, QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QUrl icon = status >= 200 && status < 300 ? IconLinkOf(job.Body, job.Current) : QUrl();
    if (job.IconOnly) {
        if (status == 0)
            EndJob(job);
        else
            FetchIconOf(job, icon);
        return;
    }
    // HEAD said the page is there; a GET that fails now says no more.
    TLinkOutcome outcome = status >= 400 ? StatusOutcome(status) : Outcome(TLinkResult::Ok, 200);
    if (outcome.Result == TLinkResult::Ok && LooksGone(job.Asked, job.Current, PageTitle(job.Body))) {
        outcome.Result = TLinkResult::MaybeBroken;
    } else if (outcome.Result == TLinkResult::Ok && job.Current != job.Asked) {
        outcome.Result = TLinkResult::Moved;
        outcome.Code = job.RedirectCode;
        outcome.NewUrl = job.Current.toString();
    }
    Record(job, outcome);
    const bool answered = outcome.Result == TLinkResult::Ok || outcome.Result == TLinkResult::Moved;
    if (answered && m_settings.FetchIcons)
        FetchIconOf(job, icon);
    else
        EndJob(job);
}

void TLinkChecker::Record(TJob& job, const TLinkOutcome& decided)
{
    TLinkOutcome outcome = decided;
    outcome.CheckedAt = TClock::Now();
    ++m_counts[size_t(outcome.Result)];
    ++m_done;
    job.Recorded = true;
    m_unsaved.append({job.Target.Id, outcome});
    if (m_unsaved.size() >= m_settings.SaveEvery)
        Save();
    emit Checked(job.Target, outcome);
    emit Progress(m_done, m_total);
}

void TLinkChecker::Decide(TJob& job, const TLinkOutcome& outcome)
{
    Record(job, outcome);
    EndJob(job);
}

// The icon the page names, else the site's /favicon.ico.
void TLinkChecker::FetchIconOf(TJob& job, const QUrl& icon)
{
    job.Stage = TJob::IconFetch;
    job.Icon = icon.isValid() && !icon.isEmpty() ? icon : DefaultIconUrl(job.Current);
    Send(job);
}

void TLinkChecker::IconAnswered(TJob& job, QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    bool stored = false;
    if (status == 200 && !job.Body.isEmpty()) {
        try {
            stored = PutSiteIcon(job.Target.Id, job.Body);
        } catch (const std::exception& e) {
            WriteLog(QString("网站图标没有保存：%1").arg(QString::fromUtf8(e.what())));
        }
    }
    if (stored) {
        emit IconStored(job.Target.Id);
    } else if (status != 0 && status != 200 && job.Icon != DefaultIconUrl(job.Current)) {
        FetchIconOf(job, QUrl()); // the page named one that is not there; one that is no icon stays refused
        return;
    }
    EndJob(job);
}

void TLinkChecker::OutOfTime(TJob& job)
{
    // A site this slow for so many addresses: the rest of them are not asked.
    if (++m_slow[job.Site] >= m_settings.MostSlowPerSite)
        for (const int number : m_waiting.take(job.Site))
            if (const std::shared_ptr<TJob> waiting = m_jobs.take(number))
                Record(*waiting, Outcome(TLinkResult::Unknown, 0, "同一网站的网址太慢，没有再查"));
    if (job.Recorded)
        EndJob(job);
    else
        Decide(job,
               Outcome(TLinkResult::Unknown, 0, QString("%1 秒内没有查完").arg(m_settings.AddressDeadlineMs / 1000)));
}

void TLinkChecker::EndJob(TJob& job)
{
    const std::shared_ptr<TJob> keep = m_jobs.take(job.Number);
    if (!keep)
        return;
    if (--m_active[keep->Site] <= 0)
        m_active.remove(keep->Site);
    --m_activeTotal;
    MakeReady(keep->Site);
    Pump();
    EndIfIdle();
}

void TLinkChecker::Save()
{
    if (m_unsaved.isEmpty())
        return;
    const QList<QPair<qint64, TLinkOutcome>> outcomes = std::exchange(m_unsaved, {});
    try {
        SaveLinkOutcomes(outcomes);
    } catch (const std::exception& e) {
        WriteLog(QString("检查网址的结果没有保存：%1").arg(QString::fromUtf8(e.what())));
    }
}

void TLinkChecker::EndIfIdle()
{
    if (!m_running || !m_jobs.isEmpty())
        return;
    m_running = false;
    Save();
    emit Finished(false);
}

QString TLinkChecker::Summary() const
{
    QStringList counts;
    for (int i = 0; i < kLinkResultCount; ++i)
        counts << QString("%1 %2 个").arg(LinkResultName(TLinkResult(i))).arg(m_counts[size_t(i)]);
    return QString("检查了 %1 个网址：%2。").arg(m_done).arg(counts.join("，"));
}
