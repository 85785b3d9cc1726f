#include "platform/ExceptionHandler.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/platform/CapturingReporter.h"

namespace platform {
namespace {

std::exception_ptr Error(const char* text) {
  return std::make_exception_ptr(std::runtime_error(text));
}

TEST(ExceptionHandlerTest, ExceptionMessageTexts) {
  EXPECT_EQ(ExceptionMessage(Error("disk full")), "disk full");
  EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(42)), "Unknown exception");
  EXPECT_EQ(ExceptionMessage(nullptr), "");
}

TEST(ExceptionHandlerTest, ReportersNestAndNullRestoresStderr) {
  {
    test::CapturingReporter outer;
    {
      test::CapturingReporter inner;
      HandleException(Error("first"));
      EXPECT_EQ(inner.Texts(), std::vector<std::string>{"first"});
    }
    HandleException(std::make_exception_ptr(7));
    HandleException(nullptr);  // nothing to show
    EXPECT_EQ(outer.Texts(), std::vector<std::string>{"Unknown exception"});
  }
  ErrorReporter* before = SetErrorReporter(nullptr);
  testing::internal::CaptureStderr();
  HandleException(Error("cannot open file"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "cannot open file\n");
  SetErrorReporter(before);
}

TEST(ExceptionHandlerTest, ReporterFailuresAreSwallowed) {
  struct Throwing : ErrorReporter {
    void ShowError(const std::string&) override { throw std::runtime_error("reporter broke"); }
  } throwing;
  ErrorReporter* before = SetErrorReporter(&throwing);
  HandleException(Error("x"));  // noexcept: escaping would terminate the test run
  SetErrorReporter(before);
}

}  // namespace
}  // namespace platform
