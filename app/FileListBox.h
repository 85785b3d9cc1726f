// The invisible file list: the files of one folder that match a mask, in list box order. It is
// re-read only when told to (a new folder or file name, or Update); each successful re-read
// emits change(). A folder that is missing or unreadable raises EInOutError and leaves the list
// as it was. Names are kept as the file system's bytes, so a name that is not valid UTF-8 is
// listed too (shown with U+FFFD for its stray bytes) and can still be opened.
// Threading: main thread only.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace app {

class TFileListBox : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kDefaultMask = "*";

  // Starts on the process's current folder with no items; nothing is read until told to.
  explicit TFileListBox(const QString& mask = kDefaultMask, QObject* parent = nullptr);

  // The file mask: shell wildcards (* and ?), matched ignoring letter case; several masks may be
  // separated by ';'. Takes effect at the next re-read.
  QString Mask() const { return mask_; }
  void SetMask(const QString& mask) { mask_ = mask; }

  // The folder: absolute, without a trailing '/' (except the root "/").
  QString Directory() const { return directory_; }
  // Points the list at `folder` and re-reads it. Throws EInOutError.
  void SetDirectory(const QString& folder);

  // Points the list at a path and re-reads it: a path that names an existing folder or ends in
  // '/' sets just the folder; otherwise the part before the last '/' is the folder (the current
  // one when there is none), and a last part holding '*' or '?' becomes the mask, while a plain
  // file name keeps the mask. Throws EInOutError, changing nothing.
  void SetFileName(const QString& path);

  // Re-reads the folder now. Throws EInOutError.
  void Update();

  // The names as shown: decoded, U+FFFD for every byte that is not UTF-8.
  QStringList Items() const { return items_; }
  // The same names as the file system's bytes, in the same order, to open the files with.
  QList<QByteArray> Names() const { return names_; }

 signals:
  // A re-read has finished (the items may or may not differ).
  void change();

 private:
  // Lists `folder` with `mask` and, only when that succeeded, makes them the list's state.
  void ReadInto(const QString& folder, const QString& mask);

  QString mask_;
  QString directory_;
  QStringList items_;
  QList<QByteArray> names_;
};

}  // namespace app
