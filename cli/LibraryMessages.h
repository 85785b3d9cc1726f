// The texts that the audio library shows to the user on its own (a decoder module that cannot
// be loaded, for one). The converter reports them as the reason for the file it was working
// on, instead of letting them appear on stderr without a file name.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Routes the library's messages here; once per process. Messages raised on a thread without a
// capture go to stderr as "quelbarin-convert: <text>".
void InstallLibraryMessageReporter();

// Collects the messages raised on the constructing thread while it lives.
class LibraryMessageCapture {
 public:
  LibraryMessageCapture();
  ~LibraryMessageCapture();
  LibraryMessageCapture(const LibraryMessageCapture&) = delete;
  LibraryMessageCapture& operator=(const LibraryMessageCapture&) = delete;

  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  std::vector<std::string>* previous_;
  std::vector<std::string> messages_;
};

}  // namespace cli
