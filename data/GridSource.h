#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <functional>

class TDataSet;

// Binds a grid to a dataset: one row per record read so far (a view reaching
// the end asks for more), one column per field, the field names as titles. A title may be replaced (the sort marks); a
// newly opened statement brings plain titles again.
class TGridSource : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TGridSource(QObject* parent = nullptr);

    void SetDataSet(TDataSet* dataSet);
    TDataSet* DataSet() const { return m_set; }

    int rowCount(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    // What a cell shows besides its text (a site's icon beside a bookmark's
    // title): asked for every other role; null when not set.
    std::function<QVariant(int row, int column, int role)> ExtraRoles;

signals:
    // Reading further records in idle time failed (the statement's text,
    // SQLite's message); the records read stay.
    void FetchFailed(const QString& message, const QString& sql);

private:
    void Rebuild(bool newFields);
    void RowsFetched(int first, int last);

    TDataSet* m_set = nullptr;
    // The rows the views were told about; the dataset may have read more
    // just before it announces them.
    int m_rows = 0;
    QHash<int, QString> m_titles;
};
