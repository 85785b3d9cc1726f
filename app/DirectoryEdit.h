// The directory edit: a line edit with a small folder button at its right that opens the folder
// chooser. After the chooser closes, OnAfterDialog receives the chosen folder (or the edit's text
// when the chooser was cancelled) and may change it or turn the choice down; a confirmed choice
// then shows in the edit. The text keeps its letter case: on a case-sensitive file system an
// upper-cased path would name another folder.
// Threading: main thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

#include "meters/Colors.h"

class QLineEdit;
class QToolButton;

namespace app {

class TDirectoryEdit : public QWidget {
  Q_OBJECT

 public:
  // Opens a folder chooser over `parent` starting at `start`; an empty result means cancelled.
  using FolderChooser = std::function<QString(QWidget* parent, const QString& start)>;
  // Called after the chooser closed: `name` may be changed; `action` = false keeps the edit as
  // it is.
  using AfterDialogEvent = std::function<void(QString& name, bool& action)>;

  static constexpr const char* kDialogCaption =
      QT_TRANSLATE_NOOP("app::TDirectoryEdit", "Selecionar pasta");

  explicit TDirectoryEdit(QWidget* parent = nullptr);

  QString Text() const;
  void SetText(const QString& text);
  // The edit's background colour (the button keeps the window's).
  void SetColor(meters::TColor color);

  // Replaces the system's folder chooser (QFileDialog::getExistingDirectory); an empty function
  // restores it.
  void SetFolderChooser(FolderChooser chooser) { chooser_ = std::move(chooser); }

  // Runs what the button does: the chooser, OnAfterDialog, then the edit.
  void ChooseFolder();

  AfterDialogEvent OnAfterDialog;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLineEdit* edit_;      // owned by Qt (child)
  QToolButton* button_;  // owned by Qt (child)
  FolderChooser chooser_;
};

}  // namespace app
