// The drive box: the mounted volumes a user would pick a folder from (pseudo and system file
// systems left out; the root and the home volume always in), the root first, then by root path.
// Choosing a drive shows that drive's current folder in the linked folder list: the folder last
// shown there for the drive, else the process's current folder when it lies on the drive, else
// the drive's root.
// Threading: main thread only.
#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QHash>
#include <QPointer>
#include <QString>

namespace app {

class TDirectoryListBox;

class TDriveComboBox : public QComboBox {
  Q_OBJECT

 public:
  // The item role that holds each item's root path.
  static constexpr int kRootRole = Qt::UserRole;

  explicit TDriveComboBox(QWidget* parent = nullptr);

  // Whether a volume of `fileSystemType` mounted at `rootPath` belongs in the list (before the
  // root and home volumes are added whatever their type).
  static bool IsPickable(const QByteArray& fileSystemType, const QString& rootPath);

  // Re-reads the mounted volumes, keeping the selected drive when it is still there. Also done
  // each time the list drops down, so a stick plugged in meanwhile shows up.
  void Rebuild();

  int ItemIndex() const { return currentIndex(); }
  // Selects drive `index` and shows its current folder in the linked folder list. -1 clears the
  // selection; an index outside the list (say a stored index after a stick was unplugged)
  // selects the first drive. Throws EInOutError when the folder list cannot show the drive's
  // folder; the selection then goes back to the folder list's drive.
  void SetItemIndex(int index);

  // The root path of the selected drive; empty when none is selected.
  QString Drive() const;
  // The index of the volume that holds `path` (the longest root that contains it), or -1.
  int IndexOfPath(const QString& path) const;

  // The folder list that shows the chosen drive (not owned; nullptr unlinks). The link goes both
  // ways: this also sets the folder list's drive box.
  void SetDirList(TDirectoryListBox* dirList);
  TDirectoryListBox* DirList() const;

  // Called by the linked folder list when it shows `folder`: selects the folder's volume and
  // remembers the folder as that drive's current one. Only selects; shows nothing.
  void FollowDirectory(const QString& folder);

 protected:
  void showPopup() override;

 private:
  // The drive's current folder, as the class comment says.
  QString CurrentFolderOf(int index) const;
  // Points the folder list at the current folder of drive `index`. Throws EInOutError.
  void ShowDrive(int index);
  void Activated(int index);

  QHash<QString, QString> lastFolder_;   // root path → folder last shown on that drive
  QPointer<TDirectoryListBox> dirList_;  // not owned
};

}  // namespace app
