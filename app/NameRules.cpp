#include "app/NameRules.h"

#include <QFile>

namespace app {
namespace {

// Whether `bytes` are valid UTF-8: Qt's decoder replaces whatever is not, so only valid input
// comes back unchanged.
bool IsUtf8(const QByteArray& bytes) {
  return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// The length in bytes of the last character of name[0, end): a whole UTF-8 sequence, or one byte.
qsizetype LastCharacterLength(const QByteArray& name, qsizetype end) {
  constexpr qsizetype kLongestSequence = 4;
  if (static_cast<unsigned char>(name[end - 1]) < 0x80) return 1;
  for (qsizetype length = 2; length <= kLongestSequence && length <= end; ++length) {
    const auto lead = static_cast<unsigned char>(name[end - length]);
    if ((lead & 0xC0) == 0x80) continue;  // a continuation byte: the sequence starts further back
    return lead >= 0xC0 && IsUtf8(name.mid(end - length, length)) ? length : 1;
  }
  return 1;
}

}  // namespace

QString DisplayName(const QByteArray& name) {
  return QString::fromUtf8(name);
}

QString DisplayName(const std::string& name) {
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

std::string JoinFileName(const QString& folder, const QByteArray& name) {
  std::string path = QFile::encodeName(folder).toStdString();
  if (!path.empty() && path.back() != '/') path += '/';
  return path + name.toStdString();
}

QByteArray WavFileName(const QByteArray& name) {
  constexpr int kExtensionCharacters = 3;
  qsizetype end = name.size();
  for (int i = 0; i < kExtensionCharacters && end > 0; ++i) end -= LastCharacterLength(name, end);
  return name.left(end) + QByteArrayLiteral("WAV");
}

}  // namespace app
