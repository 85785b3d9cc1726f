#include "app/FileListBox.h"

#include <QDir>
#include <QFileInfo>

#include "app/FolderPaths.h"

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
  RequireReadableFolder(folder);
  // QDir::Files without QDir::System: regular files and links to them, no broken links, no
  // devices; without QDir::Hidden: no dot files; without QDir::CaseSensitive: filters ignore case.
  const QDir dir(folder, QString(), QDir::NoSort, QDir::Files | QDir::NoDotAndDotDot);
  QStringList names = dir.entryList(NameFilters(mask), QDir::Files | QDir::NoDotAndDotDot);
  SortIgnoringCase(names);
  directory_ = folder;
  mask_ = mask;
  items_ = std::move(names);
  emit change();
}

}  // namespace app
