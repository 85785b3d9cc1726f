#include "app/DriveComboBox.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QStorageInfo>
#include <QStyle>
#include <exception>

#include "app/DirectoryListBox.h"
#include "app/FolderPaths.h"
#include "platform/ExceptionHandler.h"

namespace app {
namespace {

const QString kRoot = QStringLiteral("/");

// Kernel and system file systems that hold nothing a user would convert.
const QSet<QByteArray>& PseudoFileSystems() {
  static const QSet<QByteArray> kTypes = {
      "autofs",      "binfmt_misc",    "bpf",      "configfs",  "debugfs", "devpts",
      "devtmpfs",    "efivarfs",       "fusectl",  "hugetlbfs", "mqueue",  "nfsd",
      "nsfs",        "overlay",        "proc",     "pstore",    "ramfs",   "rpc_pipefs",
      "securityfs",  "selinuxfs",      "squashfs", "sysfs",     "tmpfs",   "tracefs",
      "fuse.portal", "fuse.gvfsd-fuse"};
  return kTypes;
}

bool IsUnder(const QString& path, const QString& folder) {
  return path == folder || path.startsWith(folder + '/');
}

QIcon DriveIcon(const QStyle* style, const QByteArray& type) {
  if (type == "iso9660" || type == "udf") return style->standardIcon(QStyle::SP_DriveCDIcon);
  if (type.startsWith("nfs") || type == "cifs" || type == "smb3" || type == "fuse.sshfs") {
    return style->standardIcon(QStyle::SP_DriveNetIcon);
  }
  return style->standardIcon(QStyle::SP_DriveHDIcon);
}

}  // namespace

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  Rebuild();
  // activated() comes only from the user; the folder list's own changes select drives through
  // FollowDirectory with setCurrentIndex, which does not come back here.
  connect(this, &QComboBox::activated, this, &TDriveComboBox::Activated);
}

bool TDriveComboBox::IsPickable(const QByteArray& fileSystemType, const QString& rootPath) {
  if (rootPath == kRoot) return true;
  if (PseudoFileSystems().contains(fileSystemType) || fileSystemType.startsWith("cgroup")) {
    return false;
  }
  for (const char* system : {"/proc", "/sys", "/dev"}) {
    if (IsUnder(rootPath, QLatin1String(system))) return false;
  }
  // /run holds the system's run-time state; removable media may be mounted under /run/media.
  return !IsUnder(rootPath, QStringLiteral("/run")) ||
         IsUnder(rootPath, QStringLiteral("/run/media"));
}

void TDriveComboBox::Rebuild() {
  // Later mounts on the same root hide earlier ones, so the last one of each root wins.
  QMap<QString, QStorageInfo> volumes;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady() &&
        IsPickable(volume.fileSystemType(), volume.rootPath())) {
      volumes.insert(volume.rootPath(), volume);
    }
  }
  for (const QStorageInfo& volume : {QStorageInfo::root(), QStorageInfo(QDir::homePath())}) {
    if (volume.isValid()) volumes.insert(volume.rootPath(), volume);
  }

  const QString selected = Drive();
  const QSignalBlocker blocker(this);
  clear();
  // QMap orders by root path, and "/" sorts before every other absolute path.
  for (const QStorageInfo& volume : volumes) {
    QString text = volume.rootPath();
    if (!volume.name().isEmpty()) text += QStringLiteral("  [%1]").arg(volume.name());
    addItem(DriveIcon(style(), volume.fileSystemType()), text, volume.rootPath());
  }
  const int index = findData(selected, kRootRole);
  if (!selected.isEmpty() && index >= 0) {
    setCurrentIndex(index);
  } else if (dirList_) {
    FollowDirectory(dirList_->Directory());
  }
}

void TDriveComboBox::SetItemIndex(int index) {
  if (count() == 0) return;
  if (index == -1) {
    setCurrentIndex(-1);
    return;
  }
  if (index < 0 || index >= count()) index = 0;
  setCurrentIndex(index);
  ShowDrive(index);
}

QString TDriveComboBox::Drive() const {
  return currentIndex() < 0 ? QString() : itemData(currentIndex(), kRootRole).toString();
}

int TDriveComboBox::IndexOfPath(const QString& path) const {
  // A link may lead onto another volume, so ask with the real path when there is one.
  QString target = NormalFolder(path);
  const QString canonical = QFileInfo(target).canonicalFilePath();
  if (!canonical.isEmpty()) target = canonical;
  int best = -1;
  qsizetype bestLength = -1;
  for (int i = 0; i < count(); ++i) {
    const QString root = itemData(i, kRootRole).toString();
    if ((root == kRoot || IsUnder(target, root)) && root.size() > bestLength) {
      best = i;
      bestLength = root.size();
    }
  }
  return best;
}

void TDriveComboBox::SetDirList(TDirectoryListBox* dirList) {
  if (dirList_ == dirList) return;
  TDirectoryListBox* old = dirList_;
  dirList_ = dirList;
  if (old && old->DriveCombo() == this) old->SetDriveCombo(nullptr);
  if (dirList_) dirList_->SetDriveCombo(this);
}

TDirectoryListBox* TDriveComboBox::DirList() const {
  return dirList_;
}

void TDriveComboBox::FollowDirectory(const QString& folder) {
  const int index = IndexOfPath(folder);
  if (index < 0) return;
  lastFolder_.insert(itemData(index, kRootRole).toString(), folder);
  if (index != currentIndex()) setCurrentIndex(index);
}

void TDriveComboBox::showPopup() {
  Rebuild();
  QComboBox::showPopup();
}

QString TDriveComboBox::CurrentFolderOf(int index) const {
  const QString root = itemData(index, kRootRole).toString();
  const QString last = lastFolder_.value(root);
  if (!last.isEmpty() && QFileInfo(last).isDir() && IndexOfPath(last) == index) return last;
  const QString current = QDir::currentPath();
  if (IndexOfPath(current) == index) return current;
  return root;
}

void TDriveComboBox::ShowDrive(int index) {
  if (!dirList_) return;
  try {
    dirList_->SetDirectory(CurrentFolderOf(index));
  } catch (...) {
    FollowDirectory(dirList_->Directory());
    throw;
  }
}

void TDriveComboBox::Activated(int index) {
  try {
    ShowDrive(index);
  } catch (...) {
    platform::HandleException(std::current_exception());
  }
}

}  // namespace app
