// The small folder pictures of the folder list and the directory edit's button, drawn once with
// QPainter in the classic manila look: an open folder for the current folder and its ancestors,
// a closed one for subfolders.
// Threading: main thread (they are pixmaps). Each call draws afresh: callers keep what they use,
// so no pixmap outlives the application.
#pragma once

#include <QIcon>

namespace app {

constexpr int kFolderIconPx = 16;

QIcon OpenFolderIcon();
QIcon ClosedFolderIcon();

}  // namespace app
