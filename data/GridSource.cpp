#include "data/GridSource.h"

#include "data/DataSet.h"

TGridSource::TGridSource(QObject* parent) : QAbstractTableModel(parent) {}

void TGridSource::SetDataSet(TDataSet* dataSet)
{
    if (m_set == dataSet)
        return;
    beginResetModel();
    if (m_set)
        disconnect(m_set, nullptr, this, nullptr);
    m_set = dataSet;
    m_titles.clear();
    m_rows = m_set && m_set->Active() ? m_set->FetchedCount() : 0;
    if (m_set) {
        connect(m_set, &TDataSet::Opened, this, [this] { Rebuild(true); });
        connect(m_set, &TDataSet::RowsChanged, this, [this] { Rebuild(false); });
        connect(m_set, &TDataSet::RowsFetched, this, &TGridSource::RowsFetched);
        connect(m_set, &TDataSet::FetchFailed, this,
                [this](const QString& message) { emit FetchFailed(message, m_set->CommandText()); });
    }
    endResetModel();
}

void TGridSource::Rebuild(bool newFields)
{
    beginResetModel();
    if (newFields)
        m_titles.clear();
    m_rows = m_set->Active() ? m_set->FetchedCount() : 0;
    endResetModel();
}

void TGridSource::RowsFetched(int first, int last)
{
    if (first != m_rows) {
        Rebuild(false);
        return;
    }
    beginInsertRows(QModelIndex(), first, last);
    m_rows = last + 1;
    endInsertRows();
}

int TGridSource::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_set || !m_set->Active() ? 0 : m_rows;
}

bool TGridSource::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && m_set && m_set->Active() && m_set->CanFetchMore();
}

void TGridSource::fetchMore(const QModelIndex& parent)
{
    // A few screens of rows: scrolling down stays smooth while the rest
    // arrives in idle time.
    if (canFetchMore(parent))
        m_set->FetchUnasked(256);
}

int TGridSource::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_set || !m_set->Active() ? 0 : m_set->FieldCount();
}

QVariant TGridSource::data(const QModelIndex& index, int role) const
{
    if (!m_set || !index.isValid())
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return ExtraRoles ? ExtraRoles(index.row(), index.column(), role) : QVariant();
    return TDataSet::Text(m_set->ValueAt(index.row(), index.column()));
}

QVariant TGridSource::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || !m_set)
        return QAbstractTableModel::headerData(section, orientation, role);
    return m_titles.value(section, m_set->FieldName(section));
}

bool TGridSource::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || role != Qt::EditRole || section < 0 || section >= columnCount())
        return false;
    m_titles[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}
