#include "app/ClassicItemDelegate.h"

#include <QIcon>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <algorithm>

namespace app {

TClassicItemDelegate::TClassicItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

int TClassicItemDelegate::TextLeft(const QModelIndex& index) const {
  const int level = index.data(kLevelRole).toInt();
  int left = kLeftMarginPx + level * indentPx_;
  if (!index.data(Qt::DecorationRole).isNull()) left += pictureSizePx_.width() + kPictureGapPx;
  return left;
}

void TClassicItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  painter->save();
  painter->setClipRect(option.rect, Qt::IntersectClip);
  const QRect row = option.rect;
  const QVariant picture = index.data(Qt::DecorationRole);
  if (!picture.isNull()) {
    const int level = index.data(kLevelRole).toInt();
    const QRect target(row.left() + kLeftMarginPx + level * indentPx_,
                       row.top() + (row.height() - pictureSizePx_.height()) / 2,
                       pictureSizePx_.width(), pictureSizePx_.height());
    if (picture.typeId() == QMetaType::QPixmap) {
      painter->drawPixmap(target, picture.value<QPixmap>());
    } else {
      picture.value<QIcon>().paint(painter, target);
    }
  }

  const QString text = index.data(Qt::DisplayRole).toString();
  const QFontMetrics metrics(option.font);
  const QRect textRect(row.left() + TextLeft(index), row.top(),
                       metrics.horizontalAdvance(text) + 2 * kTextPaddingPx, row.height());
  const bool enabled = option.state & QStyle::State_Enabled;
  const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
  const bool selected = option.state & QStyle::State_Selected;
  if (selected) painter->fillRect(textRect, option.palette.color(group, QPalette::Highlight));
  painter->setFont(option.font);
  painter->setPen(
      option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
  painter->drawText(textRect.adjusted(kTextPaddingPx, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                    text);

  if (option.state & QStyle::State_HasFocus) {
    // The classic focus rectangle: every other pixel, in the text's colour.
    QPen pen(painter->pen().color(), 1);
    pen.setCosmetic(true);
    pen.setDashPattern({1.0, 1.0});
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->drawRect(textRect.adjusted(0, 0, -1, -1));
  }
  painter->restore();
}

QSize TClassicItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
  const QFontMetrics metrics(option.font);
  const int width = TextLeft(index) +
                    metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString()) +
                    2 * kTextPaddingPx;
  const int height =
      rowHeightPx_ > 0 ? rowHeightPx_ : std::max(pictureSizePx_.height(), metrics.height());
  return {width, height};
}

}  // namespace app
