// Paints one item of the folder list or the tree in the classic manner: the item's picture at its
// level's indent, then its text, with the selection colour behind the text only and a dotted
// focus rectangle around it. The picture (Qt::DecorationRole) is a QPixmap stretched to the
// delegate's picture size, or a QIcon fitted into it.
// Threading: main thread (it paints).
#pragma once

#include <QSize>
#include <QStyledItemDelegate>

namespace app {

class TClassicItemDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // An int item role: how many indent steps the item sits to the right (0 when absent).
  static constexpr int kLevelRole = Qt::UserRole + 1;
  static constexpr int kLeftMarginPx = 2;
  static constexpr int kPictureGapPx = 3;
  static constexpr int kTextPaddingPx = 2;

  explicit TClassicItemDelegate(QObject* parent = nullptr);

  void SetPictureSize(QSize sizePx) { pictureSizePx_ = sizePx; }
  QSize PictureSize() const { return pictureSizePx_; }
  void SetIndent(int stepPx) { indentPx_ = stepPx; }
  // A fixed row height; 0 takes the taller of the picture and the font.
  void SetRowHeight(int heightPx) { rowHeightPx_ = heightPx; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  int TextLeft(const QModelIndex& index) const;

  QSize pictureSizePx_{16, 16};
  int indentPx_ = 0;
  int rowHeightPx_ = 0;
};

}  // namespace app
