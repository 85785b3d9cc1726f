#include "app/QtDesktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QUrl>
#include <utility>

#include "app/MessageText.h"
#include "platform/MainThread.h"

namespace app {
namespace {

QWidget* ActiveOwner() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

void ShowBox(QMessageBox::Icon icon, const QString& title, const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, ActiveOwner());
  box.exec();
}

}  // namespace

QtDesktop::QtDesktop(QString title)
    : title_(std::move(title)),
      previousServices_(platform::SetDesktopServices(this)),
      previousReporter_(platform::SetErrorReporter(this)) {}

QtDesktop::~QtDesktop() {
  platform::SetDesktopServices(previousServices_);
  platform::SetErrorReporter(previousReporter_);
  while (busyDepth_-- > 0) QApplication::restoreOverrideCursor();
}

void QtDesktop::ShowMessage(const std::string& text) {
  ShowBox(QMessageBox::NoIcon, title_, TranslateMessage(QString::fromStdString(text)));
}

void QtDesktop::SetBusyCursor(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busyDepth_;
  } else if (busyDepth_ > 0) {
    QApplication::restoreOverrideCursor();
    --busyDepth_;
  }
}

bool QtDesktop::OpenDocument(const std::string& address) {
  const QString text = QString::fromStdString(address);
  const QUrl url = QFileInfo::exists(text) ? QUrl::fromLocalFile(text) : QUrl(text);
  return QDesktopServices::openUrl(url);
}

void QtDesktop::ShowError(const std::string& text) {
  const QString message = QString::fromStdString(text);
  if (platform::IsMainThread()) {
    ShowBox(QMessageBox::Critical, title_, TranslateMessage(message));
  } else {
    QMetaObject::invokeMethod(
        qApp,
        [title = title_, message] {
          ShowBox(QMessageBox::Critical, title, TranslateMessage(message));
        },
        Qt::QueuedConnection);
  }
}

}  // namespace app
