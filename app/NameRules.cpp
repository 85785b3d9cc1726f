#include "app/NameRules.h"

namespace app {

QString JoinPath(const QString& folder, const QString& name) {
  if (folder.isEmpty() || folder.endsWith('/')) return folder + name;
  return folder + '/' + name;
}

QString WavName(const QString& line) {
  return line.left(qMax(0, line.size() - 3)) + QStringLiteral("WAV");
}

}  // namespace app
