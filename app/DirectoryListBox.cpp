#include "app/DirectoryListBox.h"

#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <exception>

#include "app/ClassicItemDelegate.h"
#include "app/DriveComboBox.h"
#include "app/FileListBox.h"
#include "app/FolderIcons.h"
#include "app/FolderPaths.h"
#include "app/InOutError.h"
#include "platform/ExceptionHandler.h"

namespace app {

TDirectoryListBox::TDirectoryListBox(QWidget* parent)
    : QListWidget(parent),
      openIcon_(OpenFolderIcon()),
      closedIcon_(ClosedFolderIcon()),
      delegate_(new TClassicItemDelegate(this)) {
  delegate_->SetIndent(kIndentPx);
  delegate_->SetPictureSize(QSize(kFolderIconPx, kFolderIconPx));
  setItemDelegate(delegate_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  try {
    SetDirectory(QDir::currentPath());
  } catch (const EInOutError&) {
    SetDirectory(QStringLiteral("/"));
  }
}

void TDirectoryListBox::SetDirectory(const QString& folder) {
  const QString target = NormalFolder(folder);
  RequireReadableFolder(target);
  // QDir::Dirs includes links to folders; without QDir::Hidden the dot folders stay out.
  QStringList subfolders = QDir(target).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  SortIgnoringCase(subfolders);

  directory_ = target;
  Fill(subfolders);
  if (driveCombo_) driveCombo_->FollowDirectory(directory_);
  if (fileList_) fileList_->SetDirectory(directory_);
}

void TDirectoryListBox::Fill(const QStringList& subfolders) {
  clear();
  auto add = [this](const QString& text, const QString& path, int level, const QIcon& icon) {
    auto* item = new QListWidgetItem(text, this);
    item->setData(kPathRole, path);
    item->setData(TClassicItemDelegate::kLevelRole, level);
    item->setData(Qt::DecorationRole, icon);
    return item;
  };

  QListWidgetItem* current = add(QStringLiteral("/"), QStringLiteral("/"), 0, openIcon_);
  QString path;
  int level = 0;
  for (const QString& part : directory_.split('/', Qt::SkipEmptyParts)) {
    path += '/' + part;
    current = add(part, path, ++level, openIcon_);
  }
  const QString prefix = directory_ == QLatin1String("/") ? QString() : directory_;
  for (const QString& name : subfolders) add(name, prefix + '/' + name, level + 1, closedIcon_);

  setCurrentItem(current);
  scrollToItem(current);
}

void TDirectoryListBox::SetFileList(TFileListBox* fileList) {
  fileList_ = fileList;
  if (fileList_) fileList_->SetDirectory(directory_);
}

TFileListBox* TDirectoryListBox::FileList() const {
  return fileList_;
}

TDriveComboBox* TDirectoryListBox::DriveCombo() const {
  return driveCombo_;
}

void TDirectoryListBox::SetDriveCombo(TDriveComboBox* driveCombo) {
  if (driveCombo_ == driveCombo) return;
  TDriveComboBox* old = driveCombo_;
  driveCombo_ = driveCombo;
  if (old && old->DirList() == this) old->SetDirList(nullptr);
  if (driveCombo_) {
    driveCombo_->SetDirList(this);
    driveCombo_->FollowDirectory(directory_);
  }
}

void TDirectoryListBox::SetColor(meters::TColor color) {
  QPalette colors = palette();
  colors.setColor(QPalette::Base, meters::ToQColor(color));
  setPalette(colors);
}

void TDirectoryListBox::OpenItem(const QListWidgetItem* item) {
  if (item == nullptr) return;
  try {
    SetDirectory(item->data(kPathRole).toString());
  } catch (...) {
    platform::HandleException(std::current_exception());
  }
}

void TDirectoryListBox::mousePressEvent(QMouseEvent* event) {
  QListWidget::mousePressEvent(event);
  emit mouseDown();
}

void TDirectoryListBox::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double-click: a left double-click on a folder opens it; anything else
  // is an ordinary press. Either way mouseDown() follows, so its handler sees the new folder.
  QListWidgetItem* item = itemAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && item != nullptr) {
    OpenItem(item);
  } else {
    QListWidget::mousePressEvent(event);
  }
  emit mouseDown();
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter opens the folder as a double-click does, and the window hears of it as of a press,
    // so that a keyboard user's folder shows its files too.
    OpenItem(currentItem());
    event->accept();
    emit mouseDown();
    return;
  }
  QListWidget::keyPressEvent(event);
}

}  // namespace app
