#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <thread>

#include "tests/platform/CapturingReporter.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kKey = "Software\\Quelbarin\\Pelvaronix";

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qd-registry-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    config_.emplace("XDG_CONFIG_HOME", (home_ / "config").c_str());
  }
  void TearDown() override {
    config_.reset();
    fs::permissions(home_, fs::perms::owner_all, fs::perm_options::add);
    if (fs::exists(Folder())) fs::permissions(Folder(), fs::perms::owner_all);
    fs::remove_all(home_);
  }

  fs::path Folder() const { return home_ / "config" / "quelbarin"; }
  fs::path File() const { return Folder() / "registry.reg"; }
  void WriteFile(const std::string& text) const {
    fs::create_directories(Folder());
    std::ofstream(File(), std::ios::binary) << text;
  }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Folder())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path home_;
  std::optional<ScopedEnv> config_;
};

TEST_F(RegistryTest, FirstOpenCreatesTheKeyWithoutValues) {
  TRegistry registry;
  EXPECT_FALSE(registry.OpenKey(kKey, false));
  EXPECT_FALSE(fs::exists(File()));
  ASSERT_TRUE(registry.OpenKey(kKey, true));
  EXPECT_TRUE(registry.GetValueNames().empty());
  EXPECT_EQ(ReadText(File()),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Quelbarin]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Quelbarin\\Pelvaronix]\n\n");
  EXPECT_EQ(fs::status(Folder()).permissions() & fs::perms::all, fs::perms::owner_all);

  TRegistry other;
  EXPECT_TRUE(other.OpenKey("SOFTWARE\\quelbarin\\PELVARONIX", false));
  EXPECT_EQ(other.CurrentPath(), "SOFTWARE\\quelbarin\\PELVARONIX");
  EXPECT_FALSE(other.OpenKey("Software\\Outro", false));
  EXPECT_FALSE(other.OpenKey("Software\\\\Quelbarin", true));  // empty part
  // Relative to the open key unless it starts at the root.
  ASSERT_TRUE(other.OpenKey("\\Software", false));
  ASSERT_TRUE(other.OpenKey("Quelbarin", false));
  EXPECT_EQ(other.CurrentPath(), "Software\\Quelbarin");
}

TEST_F(RegistryTest, EveryTypeRoundTripsThroughTheFile) {
  const std::vector<std::string> texts = {"",
                                          "C:\\MUSICA\\",
                                          "/home/ana/Música/\"Ao vivo\" 1999",
                                          "\\\\",
                                          "linha\nduas\r\n\tfim",
                                          "ação; [seção] = \"x\"",
                                          std::string(300, 'z')};
  const std::vector<std::int32_t> integers = {0, 1, -1, std::numeric_limits<std::int32_t>::min(),
                                              std::numeric_limits<std::int32_t>::max()};
  std::vector<std::uint8_t> longBinary(100);
  for (std::size_t i = 0; i < longBinary.size(); ++i) longBinary[i] = std::uint8_t(i * 7);
  {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey(kKey, true));
    for (std::size_t i = 0; i < texts.size(); ++i) {
      registry.WriteString("S" + std::to_string(i), texts[i]);
      registry.WriteExpandString("E" + std::to_string(i), texts[i]);
    }
    for (std::size_t i = 0; i < integers.size(); ++i) {
      registry.WriteInteger("I" + std::to_string(i), integers[i]);
    }
    registry.WriteBool("Normalizar", true);
    registry.WriteBinaryData("Empty", {});
    registry.WriteBinaryData("Long", longBinary);
    registry.WriteString("Zero", std::string("abc\0def", 7));
    registry.WriteString("Aspas \"e\" \\", "nome");
  }
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kKey, false));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(registry.ReadString("S" + std::to_string(i)), texts[i]) << i;
    EXPECT_EQ(registry.ReadString("E" + std::to_string(i)), texts[i]) << i;
    EXPECT_EQ(registry.GetDataType("S" + std::to_string(i)), rdString);
    EXPECT_EQ(registry.GetDataType("E" + std::to_string(i)), rdExpandString);
  }
  for (std::size_t i = 0; i < integers.size(); ++i) {
    EXPECT_EQ(registry.ReadInteger("I" + std::to_string(i)), integers[i]);
  }
  EXPECT_EQ(registry.GetDataType("I0"), rdInteger);
  EXPECT_TRUE(registry.ReadBool("Normalizar"));
  EXPECT_EQ(registry.ReadInteger("Normalizar"), 1);
  EXPECT_TRUE(registry.ReadBinaryData("Empty").empty());
  EXPECT_EQ(registry.ReadBinaryData("Long"), longBinary);
  EXPECT_EQ(registry.GetDataType("Long"), rdBinary);
  EXPECT_EQ(registry.ReadString("Zero"), "abc");  // up to the first zero character
  EXPECT_EQ(registry.ReadString("aspas \"E\" \\"), "nome");

  const std::string text = ReadText(File());
  EXPECT_NE(text.find("\n\"S1\"=\"C:\\\\MUSICA\\\\\"\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"S2\"=\"/home/ana/Música/\\\"Ao vivo\\\" 1999\"\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"I2\"=dword:ffffffff\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"S4\"=hex(1):6c,69,6e,68,61,0a,"), std::string::npos);
  EXPECT_NE(text.find("\n\"E0\"=hex(2):\n"), std::string::npos);
  // Hex lists wrap at regedit's 80 columns.
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    const std::string line = text.substr(start, end - start);
    if (line.find("=hex") != std::string::npos || line.rfind("  ", 0) == 0) {
      EXPECT_LE(line.size(), 80u) << line;
    }
  }
  EXPECT_NE(text.find(",\\\n  "), std::string::npos);
}

TEST_F(RegistryTest, WrongTypesAndMissingValuesRaise) {
  WriteFile(
      "[HKEY_CURRENT_USER\\Software\\Quelbarin\\Pelvaronix]\n"
      "\"Drive\"=\"C:\"\n"
      "\"Normalizar\"=dword:00000002\n"
      "\"Lista\"=hex(7):61,00,00\n");
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kKey, false));
  const auto message = [&](auto read) -> std::string {
    try {
      read();
    } catch (const ERegistryException& e) {
      return e.what();
    }
    return "no exception";
  };
  EXPECT_EQ(message([&] { registry.ReadInteger("Drive"); }), "Invalid data type for 'Drive'");
  EXPECT_EQ(message([&] { registry.ReadBool("Drive"); }), "Invalid data type for 'Drive'");
  EXPECT_EQ(message([&] { registry.ReadBinaryData("Drive"); }), "Invalid data type for 'Drive'");
  EXPECT_EQ(message([&] { registry.ReadString("Normalizar"); }),
            "Invalid data type for 'Normalizar'");
  EXPECT_EQ(message([&] { registry.ReadString("Lista"); }), "Invalid data type for 'Lista'");
  EXPECT_EQ(message([&] { registry.ReadString("Origem"); }), "Failed to get data for 'Origem'");
  EXPECT_EQ(registry.GetDataType("Lista"), rdUnknown);
  EXPECT_TRUE(registry.ReadBool("Normalizar"));

  // The foreign value survives a rewrite; names keep their first spelling.
  registry.WriteInteger("DRIVE", 3);
  EXPECT_EQ(registry.ReadInteger("drive"), 3);
  EXPECT_TRUE(registry.DeleteValue("normalizar"));
  EXPECT_FALSE(registry.DeleteValue("normalizar"));
  EXPECT_EQ(registry.GetValueNames(), (std::vector<std::string>{"Drive", "Lista"}));
  EXPECT_NE(ReadText(File()).find("\"Lista\"=hex(7):61,00,00\n"), std::string::npos);

  TRegistry closed;
  EXPECT_EQ(message([&] { closed.WriteInteger("Drive", 1); }), "Failed to set data for 'Drive'");
  ASSERT_TRUE(closed.OpenKey(kKey, false));
  EXPECT_EQ(message([&] { closed.WriteInteger("a\nb", 1); }), "Failed to set data for 'a\nb'");
}

TEST(RegistryTextTest, HandWrittenTextsAreReadLeniently) {
  const RegistryParseResult parsed = ParseRegistryText(
      "\xEF\xBB\xBFREGEDIT4\r\n"
      "; a comment\r\n"
      "\r\n"
      "[HKCU\\Software\\X]  \r\n"
      "  \"Path\"=\"C:\\MUSICA\\\\\"  \r\n"
      "\"D\"=DWORD:1f\r\n"
      "\"B\"=hex:01,02,\\\r\n"
      "    03\r\n"
      "@=hex(2):41\r\n"
      "[hkey_current_user\\software\\x]\n"
      "\"d\"=dword:00000002");
  ASSERT_TRUE(parsed.hive) << parsed.error.line << ": " << parsed.error.reason;
  ASSERT_EQ(parsed.hive->keys.size(), 1u);
  const RegistryKey& key = parsed.hive->keys[0];
  ASSERT_EQ(key.values.size(), 4u);
  EXPECT_EQ(std::string(key.values[0].data.begin(), key.values[0].data.end()), "C:\\MUSICA\\");
  EXPECT_EQ(key.values[1].data, (std::vector<std::uint8_t>{2, 0, 0, 0}));  // the last one wins
  EXPECT_EQ(key.values[2].data, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(key.values[3].name, "");
  EXPECT_EQ(key.values[3].type, REG_EXPAND_SZ);
}

TEST(RegistryTextTest, DamagedTextsNameTheirLine) {
  struct Row {
    const char* defect;
    const char* text;
    int line;
  };
  const Row rows[] = {
      {"value before any key", "\"A\"=dword:0\n", 1},
      {"other root", "[HKEY_LOCAL_MACHINE\\Software]\n", 1},
      {"unclosed key", "\n[HKEY_CURRENT_USER\\Software\n", 2},
      {"empty key part", "[HKEY_CURRENT_USER\\a\\\\b]\n", 1},
      {"unclosed name", "[HKCU\\a]\n\"A=dword:0\n", 2},
      {"no equals", "[HKCU\\a]\n\"A\" dword:0\n", 2},
      {"unclosed string", "[HKCU\\a]\n\"A\"=\"abc\n", 2},
      {"text after string", "[HKCU\\a]\n\"A\"=\"abc\" x\n", 2},
      {"long dword", "[HKCU\\a]\n\"A\"=dword:123456789\n", 2},
      {"bad dword", "[HKCU\\a]\n\"A\"=dword:12g\n", 2},
      {"short hex(4)", "[HKCU\\a]\n\"A\"=hex(4):01,02\n", 2},
      {"bad hex byte", "[HKCU\\a]\n\"A\"=hex:01,123\n", 2},
      {"hex ends with comma", "[HKCU\\a]\n\"A\"=hex:01,\n", 2},
      {"continuation at end", "[HKCU\\a]\n\"A\"=hex:01,\\\n", 2},
      {"unknown type", "[HKCU\\a]\n\"A\"=qword:1\n", 2},
      {"late header", "[HKCU\\a]\nREGEDIT4\n", 2},
      {"stray text", "[HKCU\\a]\n\"A\"=dword:0\nA=1\n", 3},
      {"truncated line", "[HKCU\\a]\n\"A\"=\"C:\\\\MUS", 2},
  };
  for (const Row& row : rows) {
    const RegistryParseResult parsed = ParseRegistryText(row.text);
    EXPECT_FALSE(parsed.hive) << row.defect;
    EXPECT_EQ(parsed.error.line, row.line) << row.defect;
  }
}

TEST_F(RegistryTest, DamagedFileIsReportedOnceReadAsEmptyAndKept) {
  const std::string damaged = "[HKEY_CURRENT_USER\\Software\\Quelbarin\\Pelvaronix]\n\"Drive\"=";
  WriteFile(damaged);
  test::CapturingReporter reporter;
  TRegistry first;
  EXPECT_FALSE(first.OpenKey(kKey, false));
  TRegistry second;
  ASSERT_TRUE(second.OpenKey(kKey, true));  // rewrites the file, keeping a copy first
  EXPECT_FALSE(second.ValueExists("Drive"));
  ASSERT_EQ(reporter.Texts().size(), 1u);
  EXPECT_NE(reporter.Texts()[0].find(File().string()), std::string::npos);
  EXPECT_NE(reporter.Texts()[0].find("line 2"), std::string::npos);
  EXPECT_EQ(ReadText(File().string() + ".damaged"), damaged);

  // Damaged again later: the earlier copy stays, the new one goes beside it.
  WriteFile("garbage");
  second.WriteInteger("Drive", 1);
  EXPECT_EQ(ReadText(File().string() + ".damaged"), damaged);
  EXPECT_EQ(ReadText(File().string() + ".damaged.2"), "garbage");
  EXPECT_EQ(reporter.Texts().size(), 1u);
  TRegistry third;
  ASSERT_TRUE(third.OpenKey(kKey, false));
  EXPECT_EQ(third.GetValueNames(), std::vector<std::string>{"Drive"});
}

TEST_F(RegistryTest, FailedWritesLeaveTheOldFileAndNoTemporaryFile) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kKey, true));
  registry.WriteString("Origem", "/musica");
  std::ofstream(Folder() / "registry.reg.tmp.Ab12Cd") << "left by a writer that died";
  registry.WriteString("Destino", "/saida");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"registry.reg"});
  const std::string before = ReadText(File());

  // A file system that refuses the new bytes (file size limit; applies to root as well).
  rlimit oldLimit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit limit = oldLimit;
  limit.rlim_cur = before.size() + 10;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::string error;
  try {
    registry.WriteString("Origem", std::string(4096, 'x'));
  } catch (const ERegistryException& e) {
    error = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(error, "Failed to set data for 'Origem'");
  EXPECT_EQ(ReadText(File()), before);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"registry.reg"});
}

TEST_F(RegistryTest, ReadOnlyFolderKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kKey, true));
  registry.WriteString("Origem", "/musica");
  const std::string before = ReadText(File());
  fs::permissions(Folder(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_THROW(registry.WriteBool("Normalizar", true), ERegistryException);
  TRegistry another;
  EXPECT_TRUE(another.OpenKey(kKey, true));  // exists: nothing to write
  EXPECT_FALSE(another.OpenKey("Software\\Novo", true));
  EXPECT_EQ(ReadText(File()), before);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"registry.reg"});
}

TEST_F(RegistryTest, InstancesSeeEachOthersWritesAndLoseNone) {
  TRegistry first;
  TRegistry second;
  ASSERT_TRUE(first.OpenKey(kKey, true));
  ASSERT_TRUE(second.OpenKey(kKey, true));
  second.WriteString("Origem", "/a");
  EXPECT_FALSE(first.ValueExists("Origem"));  // seen at the next OpenKey
  first.WriteString("Destino", "/b");         // re-reads before it writes
  ASSERT_TRUE(first.OpenKey("\\" + std::string(kKey), false));
  EXPECT_EQ(first.ReadString("Origem"), "/a");

  constexpr int kThreads = 4;
  constexpr int kWritesEach = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      TRegistry registry;
      ASSERT_TRUE(registry.OpenKey(kKey, true));
      for (int i = 0; i < kWritesEach; ++i) {
        EXPECT_NO_THROW(
            registry.WriteInteger("T" + std::to_string(t) + "-" + std::to_string(i), i));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kKey, false));
  EXPECT_EQ(registry.GetValueNames().size(), 2u + kThreads * kWritesEach);
}

TEST_F(RegistryTest, ConfigFolderFollowsXdgRules) {
  const ScopedEnv home("HOME", home_.c_str());
  EXPECT_EQ(RegistryFile::DefaultPath(), File().string());
  for (const char* config : {static_cast<const char*>(nullptr), "", "relative/config"}) {
    const ScopedEnv xdg("XDG_CONFIG_HOME", config);
    EXPECT_EQ(RegistryFile::DefaultPath(), (home_ / ".config/quelbarin/registry.reg").string());
  }
}

}  // namespace
}  // namespace platform
