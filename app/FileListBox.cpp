#include "app/FileListBox.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <numeric>
#include <vector>

#include "app/FolderPaths.h"
#include "app/InOutError.h"
#include "app/NameRules.h"

namespace app {
namespace {

// The mask as QDir name filters. "*.*" means every file, as it did where masks came from, and
// not only names with a dot.
QStringList NameFilters(const QString& mask) {
  QStringList filters;
  for (const QString& part : mask.split(';', Qt::SkipEmptyParts)) {
    const QString filter = part.trimmed();
    if (filter.isEmpty()) continue;
    filters << (filter == QLatin1String("*.*") ? QStringLiteral("*") : filter);
  }
  return filters;
}

bool HasWildcard(const QString& name) {
  return name.contains('*') || name.contains('?');
}

// The names of `folder`'s entries that are regular files (or links to them) and not hidden, as
// the file system's bytes. Read with readdir because Qt leaves out names that are not valid in
// the locale's encoding.
QList<QByteArray> RegularFileNames(const QString& folder) {
  DIR* dir = ::opendir(QFile::encodeName(folder).constData());
  if (dir == nullptr) throw EInOutError::FromErrno(folder, errno);
  QList<QByteArray> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) {
      names.append(QByteArray(entry->d_name));
    }
  }
  ::closedir(dir);
  return names;
}

}  // namespace

TFileListBox::TFileListBox(const QString& mask, QObject* parent)
    : QObject(parent), mask_(mask), directory_(NormalFolder(QString())) {}

void TFileListBox::SetDirectory(const QString& folder) {
  ReadInto(NormalFolder(folder), mask_);
}

void TFileListBox::SetFileName(const QString& path) {
  if (path.isEmpty()) {
    Update();
    return;
  }
  if (path.endsWith('/') || QFileInfo(path).isDir()) {
    ReadInto(NormalFolder(path), mask_);
    return;
  }
  const qsizetype slash = path.lastIndexOf('/');
  const QString last = path.mid(slash + 1);
  QString folder = directory_;
  if (slash == 0) {
    folder = QStringLiteral("/");
  } else if (slash > 0) {
    folder = NormalFolder(path.left(slash));
  }
  ReadInto(folder, HasWildcard(last) ? last : mask_);
}

void TFileListBox::Update() {
  ReadInto(directory_, mask_);
}

void TFileListBox::ReadInto(const QString& folder, const QString& mask) {
  const QStringList filters = NameFilters(mask);
  QList<QByteArray> names;
  QStringList shown;
  for (QByteArray& name : RegularFileNames(folder)) {
    QString text = DisplayName(name);
    // QDir::match ignores letter case; no mask at all lists every file.
    if (!filters.isEmpty() && !QDir::match(filters, text)) continue;
    names.append(std::move(name));
    shown.append(std::move(text));
  }
  // List box order on the shown names; ties (two names shown alike) by their bytes.
  std::vector<qsizetype> order(static_cast<std::size_t>(names.size()));
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
    const int byText = QString::compare(shown[a], shown[b], Qt::CaseInsensitive);
    if (byText != 0) return byText < 0;
    return shown[a] != shown[b] ? shown[a] < shown[b] : names[a] < names[b];
  });
  directory_ = folder;
  mask_ = mask;
  items_.clear();
  names_.clear();
  for (const qsizetype i : order) {
    items_.append(shown[i]);
    names_.append(names[i]);
  }
  emit change();
}

}  // namespace app
