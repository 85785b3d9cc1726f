// The tree: one top-level item per line, each showing the tree's leaf picture (stretched to the
// 13-pixel item height) and its text, with classic dotted lines drawn from the root, a dotted
// focus rectangle on the focused item and a vertical scroll bar that is always there.
// click() fires when an item is clicked or chosen with the keyboard, dblClick() on a double-click.
// Threading: main thread only.
#pragma once

#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

#include "meters/Colors.h"

namespace app {

class TClassicItemDelegate;

class TOutline : public QTreeWidget {
  Q_OBJECT

 public:
  static constexpr int kItemHeightPx = 13;
  static constexpr int kIndentPx = 12;

  explicit TOutline(QWidget* parent = nullptr);

  // The item role that holds the file name bytes behind a line.
  static constexpr int kNameRole = Qt::UserRole;

  // Clears the tree and adds one top-level item per line, all at once; nothing is selected.
  // `names`, when given, holds the file name bytes behind each line (a line shows them decoded).
  void SetLines(const QStringList& lines, const QList<QByteArray>& names = {});
  void Clear() { clear(); }
  QStringList Lines() const;
  // The text of the selected item; empty when none is selected.
  QString SelectedLine() const;
  // The file name bytes of the selected item (its line in the system's encoding when the tree
  // was given no names); empty when none is selected.
  QByteArray SelectedName() const;

  // The picture every item shows, stretched to the item height.
  void SetLeafPicture(const QPixmap& picture);
  // The background colour (white 16777215, or the cream of the highlighted tree).
  void SetColor(meters::TColor color);
  meters::TColor Color() const { return color_; }

 signals:
  void click();
  void dblClick();

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TClassicItemDelegate* delegate_;  // owned by Qt (child)
  QPixmap leafPicture_;             // already stretched to the item height
  meters::TColor color_ = meters::clWhite;
};

}  // namespace app
