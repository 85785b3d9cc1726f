// The application exception handler: the one place where an exception that escaped a message
// handler or a worker thread is shown; the program then goes on.
// Threading: any thread. The reporter is called on the thread that handles the exception.
#pragma once

#include <exception>
#include <string>

namespace platform {

// Shows error texts to the user. The GUI installs one that opens a message box (and hands the
// work to the main thread itself); headless programs keep the default, which prints to stderr.
class ErrorReporter {
 public:
  virtual ~ErrorReporter() = default;
  virtual void ShowError(const std::string& text) = 0;
};

// Installs `reporter` (not owned; nullptr restores stderr) and returns the previous one.
ErrorReporter* SetErrorReporter(ErrorReporter* reporter);

// The message of an exception: what() for std::exception, a fixed text otherwise.
std::string ExceptionMessage(const std::exception_ptr& error);

// Shows the message of `error` through the reporter. Never throws.
void HandleException(const std::exception_ptr& error) noexcept;

// Shows an error message box with `text` (error icon, OK button) through the reporter, or prints
// it to stderr when headless. Never throws.
void ShowErrorMessage(const std::string& text) noexcept;

}  // namespace platform
