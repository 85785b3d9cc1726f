// The main window's settings, one bad value at a time: each is reported, costs only itself, and
// closing writes back what the window shows without a fallback over values read well.
#include <QCheckBox>
#include <functional>

#include "app/DefaultFolders.h"
#include "app/DirectoryEdit.h"
#include "app/DirectoryListBox.h"
#include "tests/app/MainFormFixture.h"

namespace app {
namespace {

using test::MainFormTest;

std::string Stored(const char* name) {
  return VariantToString(LerRegistro(kSettingsKey, name, kKindString, std::string("<none>")));
}

TEST_F(MainFormTest, OneBadSettingIsReportedAndCostsOnlyItself) {
  const std::string gone = dir_.filePath("Unplugged/Musica").toStdString();
  struct Row {
    const char* name;
    std::function<void()> store;  // the bad value
    const char* reported;         // a part of the message shown
    bool origemApplies;
  };
  const Row rows[] = {
      {"Drive",  // a text where a number belongs
       [] { GravarRegistro(kSettingsKey, "Drive", std::string("C:"), kKindString); }, "Drive",
       true},
      {"DriveBinary", [] { GravarRegistro(kSettingsKey, "Drive", TCurrency{42}, kKindCurrency); },
       "Drive", true},
      {"OrigemNumber",
       [] { GravarRegistro(kSettingsKey, "Origem", std::int32_t{7}, kKindInteger); }, "Origem",
       false},
      {"OrigemGone", [&] { GravarRegistro(kSettingsKey, "Origem", gone, kKindString); },
       "No such file or directory", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config-") + row.name).toLocal8Bit());
    StoreFolders();
    GravarRegistro(kSettingsKey, "Normalizar", true, kKindBoolean);
    row.store();
    const std::size_t errorsBefore = desktop_.Errors().size();
    {
      auto form = OpenWindow();
      ASSERT_EQ(desktop_.Errors().size(), errorsBefore + 1);
      EXPECT_NE(desktop_.Errors().back().find(row.reported), std::string::npos)
          << desktop_.Errors().back();
      EXPECT_TRUE(form->isVisible());
      // The values after the bad one are read all the same.
      EXPECT_EQ(Find<TDirectoryEdit>(*form, "DirectoryEdit1")->Text(), destination_);
      EXPECT_TRUE(Find<QCheckBox>(*form, "CheckBox1")->isChecked());
      auto* folders = Find<TDirectoryListBox>(*form, "DirectoryListBox1");
      EXPECT_EQ(folders->Directory() == source_, row.origemApplies);
      if (!row.origemApplies) {
        EXPECT_EQ(folders->Directory() + "/", QString::fromStdString(DefaultFolder()));
      }
      EXPECT_TRUE(form->close());
    }
    EXPECT_EQ(Stored("Destino"), destination_.toStdString());
    EXPECT_TRUE(VariantToBool(LerRegistro(kSettingsKey, "Normalizar", kKindBoolean, false)));
    // A value of the wrong kind is replaced by what the window showed; a folder that is only
    // missing now stays stored for when its drive is back.
    EXPECT_NO_THROW(VariantToInteger(LerRegistro(kSettingsKey, "Drive", kKindInteger, 0)));
    EXPECT_EQ(Stored("Origem"), row.origemApplies ? source_.toStdString()
                                : row.name == std::string("OrigemGone")
                                    ? gone
                                    : DefaultFolder().substr(0, DefaultFolder().size() - 1));
  }

  // Once the user picks a folder, closing stores that one instead of the missing one.
  auto form = OpenWindow();
  Find<TDirectoryListBox>(*form, "DirectoryListBox1")->SetDirectory(source_);
  EXPECT_TRUE(form->close());
  EXPECT_EQ(Stored("Origem"), source_.toStdString());
}

}  // namespace
}  // namespace app
