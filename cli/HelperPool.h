// The threads of a batch that have no file left to start help the files still running: a
// conversion cuts its work into parts (segments of one file), offers all but its first here and
// runs the first itself; a thread without a file runs an offered part. A part that nobody has
// taken when its owner gets to it is run by the owner, so an owner never waits for help that is
// not coming, only for parts already running elsewhere.
// Threading: any thread; the pool's state is under its own lock, a part's under its own.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace cli {

class HelperPool {
 public:
  // `threads`: the batch's threads in all.
  explicit HelperPool(unsigned threads) : threads_(threads) {}

  // A batch thread starts or ends converting a file.
  void FileStarted();
  void FileEnded();

  // How many parts a file's work is worth cutting into now: its own thread plus its share of the
  // threads that have no file.
  unsigned PartsPerFile() const;

  // Runs `parts`: offers all but the first, runs the first on the calling thread, then each
  // offered part that no helper took, and waits for those that one did.
  void Run(std::vector<std::function<void()>>& parts);

  // Runs offered parts until Close; for the batch's threads that have no file left.
  void Serve();
  // Ends Serve on every thread once the offered parts are done.
  void Close();

 private:
  class Part;

  const unsigned threads_;
  mutable std::mutex mutex_;
  std::condition_variable offered_;
  std::deque<std::shared_ptr<Part>> queue_;  // under mutex_
  unsigned filesRunning_ = 0;                // under mutex_
  bool closed_ = false;                      // under mutex_
};

// Runs `parts` through `pool`, or one after another on the calling thread without one.
void RunParts(HelperPool* pool, std::vector<std::function<void()>>& parts);

}  // namespace cli
