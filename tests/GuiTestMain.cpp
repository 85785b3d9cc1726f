// main() of the GUI test executables: one QApplication for the whole run (on the offscreen
// platform at scale 1 unless the environment names another platform, as the real-window smoke
// test does), a private settings folder, then every GoogleTest test on the main thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) qputenv("QT_SCALE_FACTOR", "1");
  // Previews play on the null device, never on a sound card.
  if (!qEnvironmentVariableIsSet("QD_WAVE_DEVICE")) qputenv("QD_WAVE_DEVICE", "null");
  // Tests that touch the settings point XDG_CONFIG_HOME at their own folder; this one keeps the
  // rest away from the user's real settings.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
