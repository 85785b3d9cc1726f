// The folder list in the classic look: the current folder's ancestors from the root down, each
// one step further in, the current folder selected, then its subfolders one step further still.
// A double-click (or Enter) opens a folder. Its linked file list follows the folder and its
// linked drive box selects the folder's volume.
// Threading: main thread only.
#pragma once

#include <QIcon>
#include <QListWidget>
#include <QPointer>
#include <QString>

#include "meters/Colors.h"

namespace app {

class TClassicItemDelegate;
class TDriveComboBox;
class TFileListBox;

class TDirectoryListBox : public QListWidget {
  Q_OBJECT

 public:
  // The item role that holds each item's full folder path.
  static constexpr int kPathRole = Qt::UserRole;
  static constexpr int kIndentPx = 10;

  // Shows the process's current folder (the root when that cannot be read).
  explicit TDirectoryListBox(QWidget* parent = nullptr);

  // The folder shown: absolute, without a trailing '/' (except the root "/").
  QString Directory() const { return directory_; }
  // Shows `folder` (relative paths start at the process's current folder), then makes the linked
  // file list and drive box follow it. Throws EInOutError for a folder that is missing or cannot
  // be read, changing nothing.
  void SetDirectory(const QString& folder);

  // The file list that follows this list's folder (not owned; nullptr unlinks). It is pointed at
  // the current folder at once, which may throw EInOutError.
  void SetFileList(TFileListBox* fileList);
  TFileListBox* FileList() const;

  // The drive box that shows this list's volume (not owned; nullptr unlinks). The link goes both
  // ways: this also sets the drive box's folder list.
  void SetDriveCombo(TDriveComboBox* driveCombo);
  TDriveComboBox* DriveCombo() const;

  void SetColor(meters::TColor color);

 signals:
  // A mouse button was pressed in the list, after the list has handled it: for the second press
  // of a double-click the folder has already been opened.
  void mouseDown();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Opens the folder of `item`; a failure goes to the application's exception handler.
  void OpenItem(const QListWidgetItem* item);
  void Fill(const QStringList& subfolders);

  QString directory_;
  QIcon openIcon_;
  QIcon closedIcon_;
  TClassicItemDelegate* delegate_;       // owned by Qt (child)
  QPointer<TFileListBox> fileList_;      // not owned
  QPointer<TDriveComboBox> driveCombo_;  // not owned
};

}  // namespace app
