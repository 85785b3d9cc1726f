// Typed entry points of run-time loaded modules, resolved from a system library.
#include "platform/Library.h"

#include <gtest/gtest.h>

#include <cmath>

namespace platform {
namespace {

constexpr const char* kMathLibrary = "libm.so.6";

// Whether an entry point of type F, or a pointer of type P, can be resolved at all.
template <typename F>
constexpr bool kSymbolCompiles = requires {
  Symbol<F>(nullptr, "");
};
template <typename P>
constexpr bool kResolveCompiles = requires(SymbolLoader load, P entry) {
  load.Resolve(entry, "");
};
static_assert(kSymbolCompiles<double(double)>);
static_assert(!kSymbolCompiles<int>);
static_assert(!kSymbolCompiles<double (*)(double)>);
static_assert(kResolveCompiles<decltype(&::cos)>);
static_assert(!kResolveCompiles<int*>);
static_assert(!kResolveCompiles<void*>);

TEST(LibraryTest, SymbolsResolveTypedOrNotAtAll) {
  ModuleHandle math = LoadModule(kMathLibrary);
  ASSERT_NE(math, nullptr);
  struct Row {
    const char* name;
    ModuleHandle module;
    const char* symbol;
    bool found;
  };
  for (const Row& row :
       {Row{"present", math, "cos", true}, Row{"missing name", math, "qd_no_such_function", false},
        Row{"empty name", math, "", false}, Row{"no module", nullptr, "cos", false}}) {
    EXPECT_EQ(Symbol<double(double)>(row.module, row.symbol) != nullptr, row.found) << row.name;
  }
  // What comes back is the function itself, callable through its declared type.
  EXPECT_EQ(Symbol<double(double)>(math, "sqrt")(2.25), 1.5);
  EXPECT_EQ(Symbol<decltype(::hypot)>(math, "hypot")(3.0, 4.0), 5.0);
  FreeModule(math);
}

TEST(LibraryTest, AMissingModuleLoadsNothing) {
  EXPECT_EQ(LoadModule(""), nullptr);
  EXPECT_EQ(LoadModule("libqd-no-such-module.so"), nullptr);
  EXPECT_EQ(LoadModule("/no/such/folder/libm.so.6"), nullptr);
}

TEST(LibraryTest, TheLoaderRemembersAnyMissingEntryPoint) {
  ModuleHandle math = LoadModule(kMathLibrary);
  ASSERT_NE(math, nullptr);
  struct Entries {
    decltype(&::cos) cos = nullptr;
    decltype(&::floor) missing = nullptr;
    decltype(&::floor) floor = nullptr;
  };
  struct Row {
    const char* name;
    bool withMissing;
    bool complete;
  };
  for (const Row& row : {Row{"all there", false, true}, Row{"one missing", true, false}}) {
    SymbolLoader load(math);
    Entries e;
    EXPECT_TRUE(load.Complete()) << row.name;  // nothing asked yet
    load.Resolve(e.cos, "cos");
    if (row.withMissing) load.Resolve(e.missing, "qd_no_such_function");
    load.Resolve(e.floor, "floor");  // found after a miss: still incomplete
    EXPECT_EQ(load.Complete(), row.complete) << row.name;
    ASSERT_NE(e.cos, nullptr);
    ASSERT_NE(e.floor, nullptr);
    EXPECT_EQ(e.missing, nullptr);
    EXPECT_EQ(e.cos(0.0), 1.0);
    EXPECT_EQ(e.floor(2.5), 2.0);
  }
  SymbolLoader nothing(nullptr);
  decltype(&::cos) entry = &::cos;
  nothing.Resolve(entry, "cos");
  EXPECT_EQ(entry, nullptr);
  EXPECT_FALSE(nothing.Complete());
  FreeModule(math);
}

}  // namespace
}  // namespace platform
