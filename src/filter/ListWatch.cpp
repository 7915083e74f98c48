#include "filter/ListWatch.h"

#include <QTreeWidget>

#include <utility>

ListWatch::ListWatch(const QTreeWidget *list, int column)
{
    const QAbstractItemModel *model = list->model();
    const auto changed = [this] {
        m_changed = true;
    };
    QObject::connect(model, &QAbstractItemModel::rowsInserted, &m_receiver, changed);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, &m_receiver, changed);
    QObject::connect(model, &QAbstractItemModel::rowsMoved, &m_receiver, changed);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, &m_receiver, changed);
    QObject::connect(model, &QAbstractItemModel::modelReset, &m_receiver, changed);
    QObject::connect(model, &QAbstractItemModel::columnsInserted, &m_receiver, changed);
    QObject::connect(model, &QAbstractItemModel::columnsRemoved, &m_receiver, changed);
    QObject::connect(model, &QAbstractItemModel::dataChanged, &m_receiver,
                     [this, column](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                         if (topLeft.column() <= column && column <= bottomRight.column())
                             m_changed = true;
                     });
}

bool ListWatch::takeChanged()
{
    return std::exchange(m_changed, false);
}
