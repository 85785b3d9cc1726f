#include "app/DirectoryEdit.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QResizeEvent>
#include <QToolButton>

#include "app/FolderIcons.h"

namespace app {

TDirectoryEdit::TDirectoryEdit(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), button_(new QToolButton(this)) {
  edit_->setObjectName(QStringLiteral("edit"));
  button_->setObjectName(QStringLiteral("button"));
  button_->setIcon(ClosedFolderIcon());
  button_->setIconSize(QSize(kFolderIconPx, kFolderIconPx));
  button_->setFocusPolicy(Qt::NoFocus);
  button_->setCursor(Qt::ArrowCursor);
  setFocusProxy(edit_);

  edit_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  layout->addWidget(edit_, 1);
  layout->addWidget(button_);
  const int side = edit_->sizeHint().height();
  button_->setFixedSize(side, side);

  connect(button_, &QToolButton::clicked, this, &TDirectoryEdit::ChooseFolder);
}

QString TDirectoryEdit::Text() const {
  return edit_->text();
}

void TDirectoryEdit::SetText(const QString& text) {
  edit_->setText(text);
}

void TDirectoryEdit::SetColor(meters::TColor color) {
  QPalette colors = edit_->palette();
  colors.setColor(QPalette::Base, meters::ToQColor(color));
  edit_->setPalette(colors);
}

void TDirectoryEdit::resizeEvent(QResizeEvent* event) {
  // The button stays square and as tall as the edit.
  button_->setFixedSize(event->size().height(), event->size().height());
  QWidget::resizeEvent(event);
}

void TDirectoryEdit::ChooseFolder() {
  const QString start = Text();
  const QString chosen = chooser_
                             ? chooser_(this, start)
                             : QFileDialog::getExistingDirectory(this, tr(kDialogCaption), start);
  const bool confirmed = !chosen.isEmpty();
  QString name = confirmed ? chosen : start;
  bool action = true;
  if (OnAfterDialog) OnAfterDialog(name, action);
  if (confirmed && action) SetText(name);
}

}  // namespace app
