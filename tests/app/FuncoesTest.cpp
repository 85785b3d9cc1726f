#include "app/Funcoes.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <limits>

#include "platform/Registry.h"

namespace app {
namespace {

constexpr const char* kKey = "Pelvaronix";
constexpr const char* kFullKey = "Software\\Quelbarin\\Pelvaronix";

// Points XDG_CONFIG_HOME at a fresh folder for one test, then restores it.
class FuncoesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(config_.isValid());
    old_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
  }
  void TearDown() override { qputenv("XDG_CONFIG_HOME", old_); }

  // An accessor on the program's key, as another instance would see it.
  platform::TRegistry OpenProgramKey() {
    platform::TRegistry registry;
    EXPECT_TRUE(registry.OpenKey(kFullKey, false));
    return registry;
  }

  QTemporaryDir config_;
  QByteArray old_;
};

TEST_F(FuncoesTest, FirstRunGivesTheDefaultsAndLeavesAnEmptyKey) {
  EXPECT_EQ(LerRegistro(kKey, "Drive", kKindInteger, 0), TVariant(0));
  EXPECT_EQ(LerRegistro(kKey, "Origem", kKindString, std::string("/opt/q/")),
            TVariant(std::string("/opt/q/")));
  EXPECT_EQ(LerRegistro(kKey, "Normalizar", kKindBoolean, false), TVariant(false));
  EXPECT_TRUE(OpenProgramKey().GetValueNames().empty());
}

TEST_F(FuncoesTest, EveryKindRoundTripsWithItsConversion) {
  struct Row {
    const char* name;
    std::uint8_t kind;
    TVariant written;
    TVariant read;
  };
  const std::int32_t minInt = std::numeric_limits<std::int32_t>::min();
  const std::int64_t maxCurrency = std::numeric_limits<std::int64_t>::max();
  const Row rows[] = {
      {"Origem", kKindString, std::string("C:\\MUSICA"), std::string("C:\\MUSICA")},
      {"Aspas", kKindString, std::string("/a \"b\"\\\nção"), std::string("/a \"b\"\\\nção")},
      {"Texto de número", kKindString, std::int32_t{-42}, std::string("-42")},
      {"Texto de lógico", kKindString, true, std::string("True")},
      {"Texto de moeda", kKindString, TCurrency{-15000}, std::string("-1.5")},
      {"Texto de data", kKindString, TDateTime{45063.75}, std::string("2023-05-17 18:00:00")},
      {"Normalizar", kKindBoolean, true, true},
      {"Desligado", kKindBoolean, std::string("false"), false},
      {"Lógico de número", kKindBoolean, std::int32_t{7}, true},
      {"Drive", kKindInteger, minInt, minInt},
      {"Inteiro de texto", kKindInteger, std::string(" 17 "), std::int32_t{17}},
      {"Inteiro de moeda", kKindInteger, TCurrency{25000}, std::int32_t{2}},  // halves to even
      {"Moeda", kKindCurrency, TCurrency{maxCurrency}, TCurrency{maxCurrency}},
      {"Moeda de texto", kKindCurrency, std::string("-1.23455"), TCurrency{-12346}},
      {"Data", kKindDate, TDateTime{45063.520833333336}, TDateTime{45063.520833333336}},
      {"Data de texto", kKindDate, std::string("1899-12-29 06:00"), TDateTime{-1.25}},
      {"Hora", kKindTime, std::string("12:00"), TDateTime{0.5}},
  };
  for (const Row& row : rows) GravarRegistro(kKey, row.name, row.written, row.kind);
  for (const Row& row : rows) {
    EXPECT_EQ(LerRegistro(kKey, row.name, row.kind, std::monostate()), row.read) << row.name;
  }
  platform::TRegistry registry = OpenProgramKey();
  EXPECT_EQ(registry.GetDataType("Drive"), platform::rdInteger);
  EXPECT_EQ(registry.ReadInteger("Normalizar"), 1);
  EXPECT_EQ(registry.ReadBinaryData("Moeda de texto"),
            (std::vector<std::uint8_t>{0xC6, 0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(FuncoesTest, StoredTypesDecideWhatReads) {
  {
    platform::TRegistry registry;
    ASSERT_TRUE(registry.OpenKey(kFullKey, true));
    registry.WriteString("Drive", "C:");
    registry.WriteExpandString("Destino", std::string("/saida/\0lixo", 12));
    registry.WriteBinaryData("Curta", {1, 2, 3, 4});
    registry.WriteInteger("Normalizar", -1);
  }
  try {
    LerRegistro(kKey, "Drive", kKindInteger, 0);
    ADD_FAILURE() << "a string read as an integer";
  } catch (const platform::ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Drive'");
  }
  EXPECT_THROW(LerRegistro(kKey, "Drive", kKindBoolean, false), platform::ERegistryException);
  EXPECT_THROW(LerRegistro(kKey, "Curta", kKindCurrency, 0), platform::ERegistryException);
  EXPECT_THROW(LerRegistro(kKey, "Curta", kKindDate, 0), platform::ERegistryException);
  EXPECT_EQ(LerRegistro(kKey, "Destino", kKindString, 0), TVariant(std::string("/saida/")));
  for (std::int32_t stored : {-1, 2, 256, std::numeric_limits<std::int32_t>::min()}) {
    GravarRegistro(kKey, "Normalizar", stored, kKindInteger);
    EXPECT_EQ(LerRegistro(kKey, "Normalizar", kKindBoolean, false), TVariant(true)) << stored;
  }
}

TEST_F(FuncoesTest, KindsAboveFiveNeitherReadNorWrite) {
  GravarRegistro(kKey, "Drive", 3, kKindInteger);
  EXPECT_EQ(LerRegistro(kKey, "Drive", 6, std::string("padrão")), TVariant(std::string("padrão")));
  GravarRegistro(kKey, "Drive", 9, 200);
  GravarRegistro(kKey, "Novo", 9, 6);
  EXPECT_EQ(LerRegistro(kKey, "Drive", kKindInteger, 0), TVariant(3));
  EXPECT_EQ(OpenProgramKey().GetValueNames(), std::vector<std::string>{"Drive"});
  // The key is still created by such a call.
  EXPECT_EQ(LerRegistro("Outro", "X", 7, false), TVariant(false));
  platform::TRegistry registry;
  EXPECT_TRUE(registry.OpenKey("Software\\Quelbarin\\Outro", false));
}

TEST_F(FuncoesTest, UnconvertibleValuesRaiseAndWriteNothing) {
  const std::pair<TVariant, std::uint8_t> rows[] = {
      {std::string("abc"), kKindInteger},
      {std::string("3000000000"), kKindInteger},
      {std::string("talvez"), kKindBoolean},
      {std::string("1,5"), kKindCurrency},
      {std::string("99999999999999999999"), kKindCurrency},
      {std::string("2023-02-30"), kKindDate},
      {std::string("25:00"), kKindTime},
      {TDateTime{1e300}, kKindCurrency},
      {TDateTime{std::numeric_limits<double>::quiet_NaN()}, kKindString},
      {TCurrency{std::numeric_limits<std::int64_t>::min()}, kKindInteger},
  };
  for (const auto& [value, kind] : rows) {
    EXPECT_THROW(GravarRegistro(kKey, "Valor", value, kind), EVariantError) << int(kind);
  }
  EXPECT_TRUE(OpenProgramKey().GetValueNames().empty());
  EXPECT_EQ(VariantToString(TCurrency{std::numeric_limits<std::int64_t>::min()}),
            "-922337203685477.5808");
  EXPECT_EQ(VariantToString(TDateTime{0.25}), "06:00:00");
  EXPECT_EQ(VariantToString(TDateTime{0.0}), "1899-12-30");
  EXPECT_EQ(VariantToCurrency(std::string("0.00005")), TCurrency{0});  // half to even
  EXPECT_EQ(VariantToCurrency(std::string("0.00015")), TCurrency{2});
}

}  // namespace
}  // namespace app
