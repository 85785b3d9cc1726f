// The window's file-name rules: joining a folder and a name, the WAV name of a source, and the
// text shown for a name. Names are the file system's bytes, which need not be valid UTF-8
// (archives copied from old systems carry Latin-1 names such as "caf\xe9.mp3"): the lists keep
// them to open the files, and the window shows them with U+FFFD for every byte that is not UTF-8.
// Threading: none (pure functions).
#pragma once

#include <QByteArray>
#include <QString>
#include <string>

namespace app {

// `name` as text to show: decoded as UTF-8, each byte that is not UTF-8 shown as U+FFFD.
QString DisplayName(const QByteArray& name);
QString DisplayName(const std::string& name);

// The bytes of `folder` (the system's spelling of it) and the raw `name`, with exactly one '/'
// between them unless the folder is empty.
std::string JoinFileName(const QString& folder, const QByteArray& name);

// The name a conversion writes for the raw source name `name`: the name without its last three
// characters (a character is a whole UTF-8 sequence or one byte that is not UTF-8), then "WAV".
// The other bytes stay as they were: "caf\xe9.mp3" gives "caf\xe9.WAV".
QByteArray WavFileName(const QByteArray& name);

}  // namespace app
