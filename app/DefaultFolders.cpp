#include "app/DefaultFolders.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/Library.h"

namespace app {
namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::string DefaultFolder() {
  return DefaultFolderFor(platform::ExecutableFolder());
}

std::string DefaultFolderFor(const std::string& programFolder) {
  if (!programFolder.empty() && QFileInfo(QString::fromStdString(programFolder)).isDir() &&
      ::access(programFolder.c_str(), W_OK) == 0) {
    return WithSlash(programFolder);
  }
  const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
  if (!music.isEmpty() && QFileInfo(music).isDir()) return WithSlash(music.toStdString());
  return WithSlash(QDir::homePath().toStdString());
}

}  // namespace app
