// Helpers shared by the folder list and the file lists: the one spelling of a folder path, the
// readability check that raises the input/output error, and the list box order of names.
// Threading: any thread.
#pragma once

#include <QString>
#include <QStringList>

namespace app {

// `path` as an absolute, clean folder path without a trailing '/' (the root stays "/"). A
// relative path is taken from the process's current folder; an empty one is that folder.
QString NormalFolder(const QString& path);

// Throws EInOutError ("<folder>: <system text>") unless `folder` is a folder this process can
// open for listing.
void RequireReadableFolder(const QString& folder);

// Sorts names as a list box does: ignoring letter case, ties broken by the exact name so the
// order never depends on the listing's order.
void SortIgnoringCase(QStringList& names);

}  // namespace app
