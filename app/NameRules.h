// The window's file-name rules: joining a folder and a name, and the WAV name of a source.
// Threading: none (pure functions).
#pragma once

#include <QString>

namespace app {

// `folder` and `name` with exactly one '/' between them (a folder text typed without its
// trailing '/' still names a file inside that folder; the root "/" is not doubled).
QString JoinPath(const QString& folder, const QString& name);

// The name a conversion writes for the source line `line`: the line without its last three
// characters, then "WAV" ("Song.mp3" → "Song.WAV"; the base name keeps its case and its dot).
QString WavName(const QString& line);

}  // namespace app
