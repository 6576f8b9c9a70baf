#pragma once

#include "links/LinkStore.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QSet>
#include <QUrl>
#include <array>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

struct TLinkCheckSettings
{
    int TimeoutMs = 15000;  // without a byte for that long, a request has timed out
    int MostAtOnce = 128;   // requests on the way at once
    int MostPerSite = 4;    // of them to one site (scheme, host and port)
    int MostRedirects = 10; // steps of a redirect chain
    bool FetchIcons = true; // the sites' icons with the check
    int SaveEvery = 200;    // outcomes kept in one transaction
    // All an address may take from its first request on: HEAD, GET, the
    // redirects, the retry and the site's icon together. Past it the address
    // is 无法确定 (a page that drips a byte now and then never times out by
    // TimeoutMs), and once MostSlowPerSite addresses of one site have run
    // out of time, that site's addresses still waiting are 无法确定 unasked:
    // a slow site holds up only its own addresses, and not for long.
    int AddressDeadlineMs = 60000;
    int MostSlowPerSite = 3;
};

// Checks addresses on the event loop of the thread it lives in, many at
// once, a few per site: HEAD first, GET where HEAD fails or is refused,
// redirects followed step by step, one retry for a timeout or a 5xx. A page
// that answers is read (its first 64 KB) for a title that says it is gone
// and for its icon's address. The outcomes are kept in small transactions
// while the check runs; the icons as they come, when asked for.
class TLinkChecker : public QObject
{
    Q_OBJECT
public:
    explicit TLinkChecker(const TLinkCheckSettings& settings, QObject* parent = nullptr);
    ~TLinkChecker() override;

    // Checks the targets (addresses that are not http or https are passed
    // by). Finished follows, also for none.
    void Start(const QList<TLinkTarget>& targets);
    // Stops every request; what was found so far stays kept.
    void Cancel();
    // Only the site's icon of one bookmark, as when it is added.
    void FetchIcon(const TLinkTarget& target);

    int Total() const { return m_total; }
    int Done() const { return m_done; }
    int Count(TLinkResult result) const { return m_counts[size_t(result)]; }
    bool Running() const { return m_running; }
    // "检查了 12 个网址：正常 8 个，已跳转 1 个，…" for what was decided so far.
    QString Summary() const;

signals:
    void Checked(const TLinkTarget& target, const TLinkOutcome& outcome);
    void Progress(int done, int total);
    void IconStored(qint64 ieId);
    void Finished(bool cancelled);

private:
    struct TJob;
    // Puts an address in its site's queue; false for one that is not checked.
    bool Enqueue(const TLinkTarget& target, bool iconOnly);
    void Pump();
    void MakeReady(const QString& site);
    void Send(TJob& job);
    void Answered(TJob& job, QNetworkReply* reply);
    void CheckAnswered(TJob& job, QNetworkReply* reply);
    void PageAnswered(TJob& job, QNetworkReply* reply);
    void IconAnswered(TJob& job, QNetworkReply* reply);
    // A failed request: tries GET, or once more, or gives the outcome.
    void TryAgainOr(TJob& job, bool transient, const TLinkOutcome& outcome);
    // Counts and keeps an outcome; Decide also ends the job.
    void Record(TJob& job, const TLinkOutcome& outcome);
    void Decide(TJob& job, const TLinkOutcome& outcome);
    void FetchIconOf(TJob& job, const QUrl& icon);
    void EndJob(TJob& job);
    // An address out of its time: decided (or only ended, when its outcome
    // is kept already), and its site's waiting ones too once it is slow.
    void OutOfTime(TJob& job);
    void Save();
    void EndIfIdle();

    TLinkCheckSettings m_settings;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QHash<int, std::shared_ptr<TJob>> m_jobs; // by job number, while it runs or waits
    QHash<QString, QQueue<int>> m_waiting;    // per site
    QHash<QString, int> m_active;             // requests per site
    QHash<QString, int> m_slow;               // addresses per site that ran out of time
    QQueue<QString> m_ready;                  // sites that may start one more
    QSet<QString> m_inReady;
    QSet<QNetworkReply*> m_replies;
    QList<QPair<qint64, TLinkOutcome>> m_unsaved;
    std::array<int, kLinkResultCount> m_counts{};
    int m_nextJob = 0;
    bool m_running = false;
    int m_activeTotal = 0;
    int m_total = 0;
    int m_done = 0;
};
