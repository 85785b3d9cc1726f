// The main window's accessible names and keyboard path: every control tells a screen reader what
// it is, in the window's language, and Tab walks them in the order of the work: the source
// (drive, folder, file), the destination folder, the option, "Converter", the preview, the
// destination files, the banner (the about window) and "Sair".
#include <QToolButton>
#include <algorithm>
#include <cstddef>

#include "app/DirectoryEdit.h"
#include "app/DirectoryListBox.h"
#include "app/DriveComboBox.h"
#include "app/MainForm.h"
#include "app/Outline.h"
#include "meters/Gauge.h"
#include "meters/Level.h"

namespace app {

void TForm1::SetUpAccess() {
  QWidget* folderEdit = DirectoryEdit1->findChild<QWidget*>(QStringLiteral("edit"));
  auto* folderButton = DirectoryEdit1->findChild<QToolButton*>(QStringLiteral("button"));
  const std::pair<QWidget*, QString> names[] = {
      {DriveComboBox1, tr("Unidade de origem")},
      {DirectoryListBox1, tr("Pasta de origem")},
      {Outline1, tr("Arquivos MP3 de origem")},
      {DirectoryEdit1, tr("Salvar em")},
      {folderEdit, tr("Salvar em")},
      {folderButton, tr("Escolher a pasta de destino")},
      {CheckBox1, tr("Converter Normalizando")},
      {Button1, tr("Converter")},
      {BitBtn1, tr("Ouvir")},
      {BitBtn2, tr("Parar")},
      {Outline2, tr("Arquivos WAV de destino")},
      {Image1, tr("Sobre o Quelbarin Decoder")},
      {BitBtn3, tr("Sair")},
      {Gauge, tr("Situação da conversão")},
      {MMLevel1, tr("Nível do canal esquerdo")},
      {MMLevel2, tr("Nível do canal direito")},
      {Label4, tr("Aguarde...")},
  };
  for (const auto& [widget, name] : names) {
    if (widget != nullptr) widget->setAccessibleName(name);
  }
  Label3->setBuddy(folderEdit);

  // The buttons take the focus from Tab as well as from a click; Space presses them. The folder
  // button and the banner join the chain so that the keyboard reaches what they open.
  for (QWidget* button : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(BitBtn1),
                          static_cast<QWidget*>(BitBtn2), static_cast<QWidget*>(BitBtn3)}) {
    button->setFocusPolicy(Qt::StrongFocus);
  }
  if (folderButton != nullptr) folderButton->setFocusPolicy(Qt::TabFocus);
  Image1->setFocusPolicy(Qt::TabFocus);
  // A focused banner shows a dotted frame, as a focused button does.
  Image1->setStyleSheet(QStringLiteral("QLabel#Image1:focus { border: 1px dotted black; }"));

  tabOrder_ = {DriveComboBox1, DirectoryListBox1, Outline1, folderEdit, folderButton, CheckBox1,
               Button1,        BitBtn1,           BitBtn2,  Outline2,   Image1,       BitBtn3};
  std::erase(tabOrder_, nullptr);
}

// Tab and Shift+Tab walk tabOrder_ (the chain Qt would build follows the order of creation),
// skipping what is disabled or hidden.
bool TForm1::focusNextPrevChild(bool next) {
  const auto at = std::find(tabOrder_.begin(), tabOrder_.end(), focusWidget());
  if (at == tabOrder_.end()) return QWidget::focusNextPrevChild(next);
  const auto count = static_cast<std::ptrdiff_t>(tabOrder_.size());
  const std::ptrdiff_t index = at - tabOrder_.begin();
  for (std::ptrdiff_t step = 1; step < count; ++step) {
    QWidget* candidate = tabOrder_[(index + (next ? step : count - step)) % count];
    if (candidate->isEnabled() && candidate->isVisible() &&
        (candidate->focusPolicy() & Qt::TabFocus) != 0) {
      candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      return true;
    }
  }
  return false;
}

}  // namespace app
