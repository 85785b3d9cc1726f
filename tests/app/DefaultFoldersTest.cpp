#include "app/DefaultFolders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/Library.h"

namespace app {
namespace {

// A private home with its own XDG_CONFIG_HOME for one test.
class DefaultFoldersTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    oldHome_ = qgetenv("HOME");
    oldConfig_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home_.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home_.path() + "/.config").toLocal8Bit());
  }
  void TearDown() override {
    qputenv("HOME", oldHome_);
    qputenv("XDG_CONFIG_HOME", oldConfig_);
  }

  std::string Home() const { return home_.path().toStdString(); }

  QTemporaryDir home_;
  QByteArray oldHome_;
  QByteArray oldConfig_;
};

TEST_F(DefaultFoldersTest, WritableProgramFolderIsUsed) {
  EXPECT_EQ(DefaultFolderFor(Home()), Home() + "/");
  EXPECT_EQ(DefaultFolderFor(Home() + "/"), Home() + "/");
  // The build tree is writable by whoever built it (no music folder in this home).
  const std::string program = platform::ExecutableFolder();
  EXPECT_EQ(DefaultFolder(), ::access(program.c_str(), W_OK) == 0 ? program + "/" : Home() + "/");
}

TEST_F(DefaultFoldersTest, InstalledProgramFallsBackToMusicThenHome) {
  const std::string missing = Home() + "/no/such/bin";
  EXPECT_EQ(DefaultFolderFor(missing), Home() + "/");
  EXPECT_EQ(DefaultFolderFor(""), Home() + "/");

  ASSERT_TRUE(QDir(home_.path()).mkpath("Music"));
  EXPECT_EQ(DefaultFolderFor(missing), Home() + "/Music/");

  // The user's own name for it, from user-dirs.dirs; it is used only once it exists.
  ASSERT_TRUE(QDir(home_.path()).mkpath(".config"));
  QFile dirs(home_.path() + "/.config/user-dirs.dirs");
  ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
  dirs.write("XDG_MUSIC_DIR=\"$HOME/Músicas\"\n");
  dirs.close();
  EXPECT_EQ(DefaultFolderFor(missing), Home() + "/");
  ASSERT_TRUE(QDir(home_.path()).mkpath("Músicas"));
  EXPECT_EQ(DefaultFolderFor(missing), Home() + "/Músicas/");
}

TEST_F(DefaultFoldersTest, ReadOnlyProgramFolderIsNotUsed) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write into read-only folders";
  const QString readOnly = home_.path() + "/bin";
  ASSERT_TRUE(QDir().mkpath(readOnly));
  QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner);
  EXPECT_EQ(DefaultFolderFor(readOnly.toStdString()), Home() + "/");
  QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace
}  // namespace app
