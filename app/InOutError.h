// The platform's input/output error: a list was pointed at a folder that does not exist or cannot
// be read. The message is "<path>: <system text>", e.g. "/x/y: No such file or directory".
// Threading: any thread.
#pragma once

#include <QString>
#include <stdexcept>
#include <system_error>

namespace app {

class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;

  // The error for `path` from the errno value `error` (the system's text for it).
  static EInOutError FromErrno(const QString& path, int error) {
    return EInOutError(path.toStdString() + ": " + std::system_category().message(error));
  }
};

}  // namespace app
