#pragma once

#include "search/Search.h"

#include <QAbstractItemModel>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

namespace Ui {
class TSearchResults;
}
class QFrame;
class TGroupTable;
class QLineEdit;
class QTabWidget;
class QTimer;
class QTreeView;
class QWidget;

// The results of one search as a two-level list: a row per kind that found
// something (记事本, 网址管理, 定时提醒, with its count), under it a row per
// result: the group path (a reminder's time) and the snippet, its matches
// marked.
class TSearchResultsModel : public QAbstractItemModel
{
public:
    // A result row's marked ranges (a list of QPoint: start, length) in its
    // display text, in order, and how many characters of that text the lead
    // (path or time) takes.
    enum { MarksRole = Qt::UserRole + 1, LeadRole };

    using QAbstractItemModel::QAbstractItemModel;
    void SetResults(TSearchResults results);
    const TSearchResults& Results() const { return m_results; }
    // The result of a row, null for a kind's row.
    const TSearchResult* ResultAt(const QModelIndex& index) const;
    // The first result row, invalid when there is none.
    QModelIndex FirstResult() const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct TKindRows
    {
        TSearchKind Kind;
        int First; // in m_results.Items
        int Count;
    };
    TSearchResults m_results;
    std::vector<TKindRows> m_kinds;
};

// The main window's search across everything: the field "搜索全部" in the
// corner of the page tabs (Ctrl+Shift+F from anywhere in the window), and
// below it, while the field or the list has the focus, the results of what
// was typed, searched after a short pause. Enter or a double-click goes to
// a result; Esc in the field clears it and closes the results.
class TSearchPanel : public QObject
{
public:
    // The pause after a key before the search runs.
    static constexpr int kPauseMs = 250;

    TSearchPanel(QWidget* window, QTabWidget* tabs);
    ~TSearchPanel() override;

    // Goes to a result (with the words of its query); false when its item is
    // gone, which the panel then says.
    std::function<bool(const TSearchResult& result, const QStringList& words)> OnOpen;

    // The groups a tree shows (notes or bookmarks), asked for at each
    // search; without them, the search reads the groups itself.
    std::function<const TGroupTable*(TSearchKind kind)> GroupsOf;

    TSearchResultsModel* Model() const { return m_model; }
    QLineEdit* Field() const { return m_field; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Focus();
    void Run();
    void OpenCurrent();
    void Open(const QModelIndex& index);
    void Clear();
    void ShowResults(bool shown);
    void Place();
    QFrame* Frame();
    bool ResultsShown() const;

    QWidget* m_window;
    QTabWidget* m_tabs;
    QLineEdit* m_field;
    QFrame* m_frame = nullptr; // made with the field's first text (Frame)
    std::unique_ptr<Ui::TSearchResults> ui;
    QTimer* m_pause;
    TSearchResultsModel* m_model;
    QString m_query; // the text the results are of
};
