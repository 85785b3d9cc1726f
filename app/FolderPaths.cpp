#include "app/FolderPaths.h"

#include <dirent.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>

#include "app/InOutError.h"

namespace app {

QString NormalFolder(const QString& path) {
  // QDir::cleanPath keeps the root as "/" and drops any trailing separator elsewhere.
  return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

void RequireReadableFolder(const QString& folder) {
  DIR* handle = ::opendir(QFile::encodeName(folder).constData());
  if (handle == nullptr) throw EInOutError::FromErrno(folder, errno);
  ::closedir(handle);
}

void SortIgnoringCase(QStringList& names) {
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    const int order = QString::compare(a, b, Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a < b;
  });
}

}  // namespace app
