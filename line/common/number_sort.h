#pragma once

#include <QSortFilterProxyModel>
#include <QTableWidgetItem>

// Table cells compared as an operator reads them: a cell that begins with a number
// ("17", "9600 Bd", "12,5 V", "0x1F") by that number, the rest as text in the locale's
// order. Empty cells go last.
bool CellLess(const QVariant& left, const QVariant& right);

// Sorts any table model's rows by CellLess on the display text of the sorted column.
class NumberSortProxy : public QSortFilterProxyModel {
  Q_OBJECT
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

// A QTableWidget cell that sorts by CellLess.
class NumberSortItem : public QTableWidgetItem {
 public:
  using QTableWidgetItem::QTableWidgetItem;
  bool operator<(const QTableWidgetItem& other) const override;
};
