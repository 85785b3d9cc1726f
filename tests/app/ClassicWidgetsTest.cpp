// The classic widgets on real folders: file list masks and order, the input/output error that
// leaves a list as it was, path parsing, the folder list's layout and double-click, the drive
// box's volumes and links, the tree's selection and signals, the directory edit's chooser.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/DirectoryEdit.h"
#include "app/DirectoryListBox.h"
#include "app/DriveComboBox.h"
#include "app/FileListBox.h"
#include "app/InOutError.h"
#include "app/Outline.h"

namespace app {
namespace {

void Touch(const QString& path) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

// What a window receives for a double-click: press, release, double-click, release
// (QTest::mouseDClick alone sends only the double-click event).
void DoubleClick(QWidget* widget, QPoint pos) {
  QTest::mouseClick(widget, Qt::LeftButton, {}, pos);
  QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

// Song.mp3, b.MP3, c.txt, A.WAV, a folder x.mp3/, .hidden.mp3, a link to Song.mp3 and a link to
// nothing; folders sub/ and Zeta/ with a file each, and a hidden folder .cache/.
class ClassicWidgetFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    root_ = QDir(temp_.path()).canonicalPath();
    for (const char* name : {"Song.mp3", "b.MP3", "c.txt", "A.WAV", ".hidden.mp3"}) {
      Touch(Path(name));
    }
    QDir dir(root_);
    for (const char* name : {"x.mp3", "sub", "Zeta", ".cache"}) ASSERT_TRUE(dir.mkdir(name));
    Touch(Path("sub/inner.mp3"));
    Touch(Path("Zeta/z.wav"));
    ASSERT_TRUE(QFile::link(Path("Song.mp3"), Path("link.mp3")));
    ASSERT_TRUE(QFile::link(Path("nowhere.mp3"), Path("dead.mp3")));
  }

  QString Path(const QString& name) const { return root_ + '/' + name; }

  QTemporaryDir temp_;
  QString root_;
};

TEST_F(ClassicWidgetFolder, FileListListsMatchingFilesIgnoringCaseInListBoxOrder) {
  struct Row {
    const char* mask;
    QStringList items;
  };
  const Row rows[] = {
      {"*.MP3", {"b.MP3", "link.mp3", "Song.mp3"}},
      {"*.wav", {"A.WAV"}},
      {"s?ng.*", {"Song.mp3"}},
      {"*.txt;*.Wav", {"A.WAV", "c.txt"}},
      {"*.*", {"A.WAV", "b.MP3", "c.txt", "link.mp3", "Song.mp3"}},
  };
  for (const Row& row : rows) {
    TFileListBox list(row.mask);
    QSignalSpy changes(&list, &TFileListBox::change);
    list.SetDirectory(root_);
    EXPECT_EQ(list.Items(), row.items) << row.mask;
    EXPECT_EQ(changes.count(), 1) << row.mask;
  }
}

TEST_F(ClassicWidgetFolder, FileListBreaksCaseTiesByExactName) {
  Touch(Path("song.mp3"));
  TFileListBox list("*.mp3");
  list.SetDirectory(root_);
  EXPECT_EQ(list.Items(), (QStringList{"b.MP3", "link.mp3", "Song.mp3", "song.mp3"}));
}

TEST_F(ClassicWidgetFolder, FileListReadsOnlyWhenTold) {
  TFileListBox list("*.mp3");
  list.SetDirectory(root_);
  Touch(Path("new.mp3"));
  EXPECT_FALSE(list.Items().contains("new.mp3"));
  list.Update();
  EXPECT_TRUE(list.Items().contains("new.mp3"));
}

TEST_F(ClassicWidgetFolder, FileListKeepsTheBytesOfANameThatIsNotUtf8) {
  // Latin-1 "é", as names copied from old systems have it; made with the bytes themselves.
  const QByteArray latin1 = "caf\xe9.mp3";
  const QByteArray path = QFile::encodeName(root_) + '/' + latin1;
  const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ::close(fd);
  // Qt's clean-up of the folder skips names that are not UTF-8.
  const struct Removed {
    QByteArray path;
    ~Removed() { ::unlink(path.constData()); }
  } removed{path};
  TFileListBox list("*.mp3");
  list.SetDirectory(root_);
  const QString shown = QString::fromUtf8("caf\xef\xbf\xbd.mp3");
  EXPECT_EQ(list.Items(), (QStringList{"b.MP3", shown, "link.mp3", "Song.mp3"}));
  EXPECT_EQ(list.Names(), (QList<QByteArray>{"b.MP3", latin1, "link.mp3", "Song.mp3"}));

  TOutline tree;
  tree.SetLines(list.Items(), list.Names());
  tree.topLevelItem(1)->setSelected(true);
  EXPECT_EQ(tree.SelectedLine(), shown);
  EXPECT_EQ(tree.SelectedName(), latin1);
}

TEST_F(ClassicWidgetFolder, MissingFolderRaisesAndLeavesListAndTreeAsTheyWere) {
  TFileListBox list("*.wav");
  TOutline tree;
  QObject::connect(&list, &TFileListBox::change, &tree, [&] { tree.SetLines(list.Items()); });
  list.SetDirectory(root_);
  ASSERT_EQ(tree.Lines(), QStringList{"A.WAV"});
  QSignalSpy changes(&list, &TFileListBox::change);

  const QString missing = Path("gone/deeper");
  try {
    list.SetFileName(missing + "/*.mp3");
    FAIL() << "no error for a missing folder";
  } catch (const EInOutError& error) {
    EXPECT_EQ(std::string(error.what()), missing.toStdString() + ": No such file or directory");
  }
  EXPECT_THROW(list.SetDirectory(Path("c.txt")), EInOutError);  // a file is not a folder

  EXPECT_EQ(changes.count(), 0);
  EXPECT_EQ(list.Directory(), root_);
  EXPECT_EQ(list.Mask(), "*.wav");
  EXPECT_EQ(list.Items(), QStringList{"A.WAV"});
  EXPECT_EQ(tree.Lines(), QStringList{"A.WAV"});
}

TEST_F(ClassicWidgetFolder, SetFileNameTakesFolderAndMaskOrFileName) {
  struct Row {
    QString path;
    QString folder;
    QString mask;
    QStringList items;
  };
  const Row rows[] = {
      {root_ + "/", root_, "*.wav", {"A.WAV"}},          // a folder ending in '/'
      {Path("Zeta"), Path("Zeta"), "*.wav", {"z.wav"}},  // an existing folder, no '/'
      {Path("*.MP3"), root_, "*.MP3", {"b.MP3", "link.mp3", "Song.mp3"}},  // a mask
      {Path("sub/inner.mp3"), Path("sub"), "*.wav", {}},  // a file name keeps the mask
      {Path("Zeta/"), Path("Zeta"), "*.wav", {"z.wav"}},
  };
  for (const Row& row : rows) {
    TFileListBox list("*.wav");
    list.SetFileName(row.path);
    EXPECT_EQ(list.Directory(), row.folder) << row.path.toStdString();
    EXPECT_EQ(list.Mask(), row.mask) << row.path.toStdString();
    EXPECT_EQ(list.Items(), row.items) << row.path.toStdString();
  }
}

// The texts and indent levels of a folder list's items.
QList<std::pair<QString, int>> Layout(const TDirectoryListBox& list) {
  QList<std::pair<QString, int>> items;
  for (int i = 0; i < list.count(); ++i) {
    items.append({list.item(i)->text(), list.item(i)->data(Qt::UserRole + 1).toInt()});
  }
  return items;
}

TEST_F(ClassicWidgetFolder, FolderListShowsAncestorsThenSubfoldersAndLeadsTheFileList) {
  TDirectoryListBox list;
  TFileListBox files("*.MP3");
  list.SetFileList(&files);
  list.SetDirectory(root_ + "/");
  EXPECT_EQ(list.Directory(), root_);

  QList<std::pair<QString, int>> expected{{"/", 0}};
  int level = 0;
  for (const QString& part : root_.split('/', Qt::SkipEmptyParts)) expected.append({part, ++level});
  for (const char* sub : {"sub", "x.mp3", "Zeta"}) expected.append({sub, level + 1});
  EXPECT_EQ(Layout(list), expected);
  ASSERT_NE(list.currentItem(), nullptr);
  EXPECT_EQ(list.currentItem()->data(TDirectoryListBox::kPathRole).toString(), root_);
  EXPECT_TRUE(list.currentItem()->isSelected());
  EXPECT_EQ(files.Directory(), root_);
  EXPECT_EQ(files.Items(), (QStringList{"b.MP3", "link.mp3", "Song.mp3"}));

  const auto before = Layout(list);
  EXPECT_THROW(list.SetDirectory(Path("gone")), EInOutError);
  EXPECT_EQ(list.Directory(), root_);
  EXPECT_EQ(Layout(list), before);
  EXPECT_EQ(files.Directory(), root_);

  list.SetDirectory("/");
  EXPECT_EQ(list.Directory(), "/");
  EXPECT_EQ(list.item(0)->text(), "/");
  EXPECT_EQ(list.item(1)->data(TDirectoryListBox::kPathRole).toString().count('/'), 1);
}

TEST_F(ClassicWidgetFolder, DoubleClickOpensTheFolderBeforeMouseDown) {
  TDirectoryListBox list;
  TFileListBox files("*.MP3");
  list.SetFileList(&files);
  list.resize(240, 400);
  list.SetDirectory(root_);
  list.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));

  QStringList seenFolders;
  QList<QStringList> seenFiles;
  QObject::connect(&list, &TDirectoryListBox::mouseDown, [&] {
    seenFolders << list.Directory();
    seenFiles << files.Items();
  });
  const QList<QListWidgetItem*> found = list.findItems("sub", Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1);
  list.scrollToItem(found[0]);
  DoubleClick(list.viewport(), list.visualItemRect(found[0]).center());

  ASSERT_EQ(seenFolders.size(), 2);
  EXPECT_EQ(seenFolders.front(), root_);  // the first press only selects
  EXPECT_EQ(seenFolders.back(), Path("sub"));
  EXPECT_EQ(seenFiles.back(), QStringList{"inner.mp3"});
  EXPECT_EQ(list.Directory(), Path("sub"));

  // Enter opens the current item as well, and then tells of it as a press does, once.
  const int mouseDowns = seenFolders.size();
  list.setCurrentItem(list.findItems(QDir(root_).dirName(), Qt::MatchExactly).value(0));
  QTest::keyClick(&list, Qt::Key_Return);
  EXPECT_EQ(list.Directory(), root_);
  ASSERT_EQ(seenFolders.size(), mouseDowns + 1);
  EXPECT_EQ(seenFolders.back(), root_);
}

QStringList Roots(const TDriveComboBox& drives) {
  QStringList roots;
  for (int i = 0; i < drives.count(); ++i) {
    roots << drives.itemData(i, TDriveComboBox::kRootRole).toString();
  }
  return roots;
}

TEST(DriveComboBox, ListsUserVolumesRootFirst) {
  TDriveComboBox drives;
  const QStringList roots = Roots(drives);
  ASSERT_FALSE(roots.isEmpty());
  EXPECT_EQ(roots.front(), "/");
  EXPECT_TRUE(roots.contains(QStorageInfo(QDir::homePath()).rootPath()));
  for (const QString& root : roots) {
    EXPECT_FALSE(root == "/proc" || root.startsWith("/proc/") || root == "/sys" ||
                 root.startsWith("/sys/") || root == "/dev" || root.startsWith("/dev/"))
        << root.toStdString();
  }
  for (auto [type, root, pickable] :
       {std::tuple{"proc", "/proc", false}, std::tuple{"sysfs", "/sys", false},
        std::tuple{"cgroup2", "/sys/fs/cgroup", false}, std::tuple{"tmpfs", "/tmp", false},
        std::tuple{"squashfs", "/snap/core/1", false}, std::tuple{"overlay", "/", true},
        std::tuple{"overlay", "/var/lib/docker/x", false}, std::tuple{"ext4", "/home", true},
        std::tuple{"vfat", "/run/media/ana/MUSICA", true}, std::tuple{"ext4", "/run/x", false}}) {
    EXPECT_EQ(TDriveComboBox::IsPickable(type, root), pickable) << type << " " << root;
  }
}

TEST_F(ClassicWidgetFolder, DriveBoxFollowsTheFolderListAndShowsTheDrivesLastFolder) {
  TDriveComboBox drives;
  TDirectoryListBox list;
  drives.SetDirList(&list);
  EXPECT_EQ(list.DriveCombo(), &drives);

  list.SetDirectory(Path("sub"));
  const int index = drives.IndexOfPath(Path("sub"));
  ASSERT_GE(index, 0);
  EXPECT_EQ(drives.ItemIndex(), index);
  const QString drive = drives.Drive();
  EXPECT_TRUE(drive == "/" || root_.startsWith(drive + '/')) << drive.toStdString();
  EXPECT_EQ(drives.IndexOfPath("/"), 0);

  // Choosing the drive again shows the folder last shown on it, not its root.
  list.SetDirectory(Path("Zeta"));
  drives.SetItemIndex(index);
  EXPECT_EQ(list.Directory(), Path("Zeta"));

  // A stored index that no longer exists selects the first drive.
  drives.SetItemIndex(drives.count() + 3);
  EXPECT_EQ(drives.ItemIndex(), 0);
  EXPECT_EQ(drives.IndexOfPath(list.Directory()), 0);
  drives.SetItemIndex(-1);
  EXPECT_EQ(drives.Drive(), QString());

  drives.SetDirList(nullptr);
  EXPECT_EQ(list.DriveCombo(), nullptr);
}

TEST(Outline, SelectedLineAndSignalsFromMouseAndKeyboard) {
  TOutline tree;
  tree.resize(200, 120);
  tree.SetLines({"a.mp3", "b.mp3", "c.mp3"});
  tree.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
  EXPECT_EQ(tree.Lines(), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
  EXPECT_EQ(tree.SelectedLine(), QString());

  QSignalSpy clicks(&tree, &TOutline::click);
  QSignalSpy doubleClicks(&tree, &TOutline::dblClick);
  const QRect second = tree.visualItemRect(tree.topLevelItem(1));
  EXPECT_EQ(second.height(), TOutline::kItemHeightPx);
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(tree.SelectedLine(), "b.mp3");

  tree.setFocus();
  QTest::keyClick(&tree, Qt::Key_Down);
  EXPECT_EQ(clicks.count(), 2);
  EXPECT_EQ(tree.SelectedLine(), "c.mp3");

  DoubleClick(tree.viewport(), second.center());
  EXPECT_EQ(doubleClicks.count(), 1);
  EXPECT_EQ(tree.SelectedLine(), "b.mp3");

  // Below the last item: no click, and the selection stays.
  const int clicksBefore = clicks.count();
  QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, QPoint(100, 100));
  EXPECT_EQ(clicks.count(), clicksBefore);

  tree.SetLines({"x.wav"});
  EXPECT_EQ(tree.SelectedLine(), QString());
  tree.Clear();
  EXPECT_TRUE(tree.Lines().isEmpty());
}

TEST(Outline, PaintsColourPictureAndSelection) {
  TOutline tree;
  tree.resize(200, 80);
  QPixmap leaf(16, 16);
  leaf.fill(Qt::green);
  tree.SetLeafPicture(leaf);
  tree.SetLines({"a.mp3", "b.mp3"});
  tree.SetColor(meters::clCream);
  tree.topLevelItem(0)->setSelected(true);
  const QImage image = tree.grab().toImage();

  const QRect first = tree.visualItemRect(tree.topLevelItem(0)).translated(tree.viewport()->pos());
  const QRect second = tree.visualItemRect(tree.topLevelItem(1)).translated(tree.viewport()->pos());
  // The leaf picture, stretched to 13 by 13, just after the branch lines.
  EXPECT_EQ(image.pixelColor(second.left() + 2 + 6, second.center().y()), QColor(Qt::green));
  // Cream behind the text of an unselected row, far to its right.
  EXPECT_EQ(image.pixelColor(second.right() - 10, second.center().y()),
            meters::ToQColor(meters::clCream));
  // The selection colour behind the first text, not behind its picture.
  const QColor highlight = tree.palette().color(QPalette::Active, QPalette::Highlight);
  EXPECT_EQ(image.pixelColor(first.left() + 2 + 13 + 4, first.top() + 1), highlight);
  EXPECT_EQ(image.pixelColor(first.left() + 2 + 6, first.center().y()), QColor(Qt::green));
}

TEST(DirectoryEdit, ChooserResultGoesThroughOnAfterDialog) {
  TDirectoryEdit edit;
  auto* line = edit.findChild<QLineEdit*>("edit");
  auto* button = edit.findChild<QToolButton*>("button");
  ASSERT_NE(line, nullptr);
  ASSERT_NE(button, nullptr);
  edit.resize(250, 23);
  edit.SetText("/Home/Ana/Música/");
  EXPECT_EQ(edit.Text(), "/Home/Ana/Música/");  // the real letter case stays

  QString chooserResult = "/tmp/x";
  QString startSeen;
  edit.SetFolderChooser([&](QWidget*, const QString& start) {
    startSeen = start;
    return chooserResult;
  });
  QStringList namesSeen;
  bool turnDown = false;
  edit.OnAfterDialog = [&](QString& name, bool& action) {
    namesSeen << name;
    EXPECT_TRUE(action);
    if (!name.endsWith('/')) name += '/';
    if (turnDown) action = false;
  };

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(startSeen, "/Home/Ana/Música/");
  EXPECT_EQ(namesSeen, QStringList{"/tmp/x"});
  EXPECT_EQ(line->text(), "/tmp/x/");

  chooserResult.clear();  // cancelled: the handler sees the edit's text, the edit keeps it
  line->setText("/tmp/Typed");
  edit.ChooseFolder();
  EXPECT_EQ(namesSeen.back(), "/tmp/Typed");
  EXPECT_EQ(edit.Text(), "/tmp/Typed");

  chooserResult = "/srv/Other";  // confirmed but turned down by the handler
  turnDown = true;
  edit.ChooseFolder();
  EXPECT_EQ(namesSeen.back(), "/srv/Other");
  EXPECT_EQ(edit.Text(), "/tmp/Typed");
}

}  // namespace
}  // namespace app
