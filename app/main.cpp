// quelbarin: the converter window. Creates the main window and then the about window, and runs
// the message loop until the main window closes.
#include <memory>

#include "app/AboutForm.h"
#include "app/Application.h"
#include "app/MainForm.h"

int main(int argc, char** argv) {
  app::TApplication application(argc, argv);
  auto form1 = std::make_unique<app::TForm1>();
  auto formAbout = std::make_unique<app::Tform_about>();
  form1->SetAboutForm(formAbout.get());
  form1->show();
  return application.exec();
}
