#include "app/Outline.h"

#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include "app/ClassicItemDelegate.h"

namespace app {
namespace {

const QColor kLineColor(128, 128, 128);  // the classic button-shadow grey

}  // namespace

TOutline::TOutline(QWidget* parent)
    : QTreeWidget(parent), delegate_(new TClassicItemDelegate(this)) {
  setColumnCount(1);
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setUniformRowHeights(true);
  setIndentation(kIndentPx);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  delegate_->SetRowHeight(kItemHeightPx);
  delegate_->SetPictureSize(QSize(0, 0));
  setItemDelegate(delegate_);
  SetColor(color_);
}

void TOutline::SetLines(const QStringList& lines, const QList<QByteArray>& names) {
  clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(lines.size());
  for (qsizetype i = 0; i < lines.size(); ++i) {
    auto* item = new QTreeWidgetItem(QStringList{lines[i]});
    if (!leafPicture_.isNull()) item->setData(0, Qt::DecorationRole, leafPicture_);
    if (i < names.size()) item->setData(0, kNameRole, names[i]);
    items.append(item);
  }
  addTopLevelItems(items);
}

QStringList TOutline::Lines() const {
  QStringList lines;
  lines.reserve(topLevelItemCount());
  for (int i = 0; i < topLevelItemCount(); ++i) lines << topLevelItem(i)->text(0);
  return lines;
}

QString TOutline::SelectedLine() const {
  const QList<QTreeWidgetItem*> items = selectedItems();
  return items.isEmpty() ? QString() : items.first()->text(0);
}

QByteArray TOutline::SelectedName() const {
  const QList<QTreeWidgetItem*> items = selectedItems();
  if (items.isEmpty()) return {};
  const QVariant name = items.first()->data(0, kNameRole);
  return name.isValid() ? name.toByteArray() : QFile::encodeName(items.first()->text(0));
}

void TOutline::SetLeafPicture(const QPixmap& picture) {
  if (picture.isNull() || picture.height() <= 0) {
    leafPicture_ = QPixmap();
    delegate_->SetPictureSize(QSize(0, 0));
  } else {
    const int widthPx = (picture.width() * kItemHeightPx + picture.height() / 2) / picture.height();
    leafPicture_ =
        picture.scaled(widthPx, kItemHeightPx, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    delegate_->SetPictureSize(leafPicture_.size());
  }
  for (int i = 0; i < topLevelItemCount(); ++i) {
    topLevelItem(i)->setData(0, Qt::DecorationRole,
                             leafPicture_.isNull() ? QVariant() : QVariant(leafPicture_));
  }
  viewport()->update();
}

void TOutline::SetColor(meters::TColor color) {
  color_ = color;
  QPalette colors = palette();
  colors.setColor(QPalette::Base, meters::ToQColor(color));
  setPalette(colors);
}

void TOutline::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index) const {
  // Painted here rather than by QTreeView so the selection covers the text only, as it did.
  const int left = header()->sectionViewportPosition(0);
  drawBranches(painter, QRect(left, option.rect.top(), indentation(), option.rect.height()), index);
  QStyleOptionViewItem item = option;
  item.rect = QRect(left + indentation(), option.rect.top(),
                    header()->sectionSize(0) - indentation(), option.rect.height());
  item.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
  if (selectionModel()->isSelected(index)) item.state |= QStyle::State_Selected;
  if (index == currentIndex() && hasFocus()) item.state |= QStyle::State_HasFocus;
  delegate_->paint(painter, item, index);
}

void TOutline::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const {
  // The classic dotted lines: one vertical line joining the items from the first to the last, and
  // a short horizontal line to each item. The dots follow a checkerboard in content coordinates,
  // so they run on evenly from row to row and while scrolling.
  const int x = rect.left() + rect.width() / 2;
  const int y = rect.top() + rect.height() / 2;
  const int rows = model()->rowCount(index.parent());
  const int top = index.row() == 0 ? y : rect.top();
  const int bottom = index.row() == rows - 1 ? y : rect.bottom();
  const int phase = verticalOffset();
  QPolygon dots;
  for (int py = top; py <= bottom; ++py) {
    if (((x + py + phase) & 1) == 0) dots << QPoint(x, py);
  }
  for (int px = x + 1; px <= rect.right(); ++px) {
    if (((px + y + phase) & 1) == 0) dots << QPoint(px, y);
  }
  painter->save();
  painter->setPen(kLineColor);
  painter->drawPoints(dots);
  painter->restore();
}

void TOutline::mousePressEvent(QMouseEvent* event) {
  QTreeWidget::mousePressEvent(event);
  if (event->button() == Qt::LeftButton && itemAt(event->position().toPoint()) != nullptr) {
    emit click();
  }
}

void TOutline::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) emit dblClick();
}

void TOutline::keyPressEvent(QKeyEvent* event) {
  // Choosing an item with the keyboard counts as a click, as it did in the classic control:
  // moving to it with the arrows, or selecting with Space the item that the focus arrived on.
  const auto selected = [this] {
    const QList<QTreeWidgetItem*> items = selectedItems();
    return items.isEmpty() ? nullptr : items.first();
  };
  const QTreeWidgetItem* before = selected();
  QTreeWidget::keyPressEvent(event);
  if (selected() != nullptr && selected() != before) emit click();
}

}  // namespace app
