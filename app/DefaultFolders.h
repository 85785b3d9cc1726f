// Where the source and destination folders start when no setting names them: the program's own
// folder, as before, unless the user cannot write there (an installed program), then the user's
// music folder, else the home folder. Paths use '/' and always end with one.
// Threading: any thread.
#pragma once

#include <string>

namespace app {

// DefaultFolderFor(the running executable's folder).
std::string DefaultFolder();

// `programFolder` when the user may write into it; otherwise the music folder
// (QStandardPaths::MusicLocation: XDG_MUSIC_DIR of user-dirs.dirs, else ~/Music) when it exists;
// otherwise the home folder.
std::string DefaultFolderFor(const std::string& programFolder);

}  // namespace app
