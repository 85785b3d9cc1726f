#include "cli/SegmentedDecode.h"

#include "cli/LibraryMessages.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <vector>

namespace cli {

std::size_t PassWorkers(const DecodePass& pass) {
  const std::size_t count = std::max<std::size_t>(1, pass.segments.size());
  return std::clamp<std::size_t>(pass.threads, 1, count);
}

DecodeStatus DecodeSegments(DecodePass& pass, const std::atomic<bool>* cancel,
                            const SegmentDecoder& segment) {
  const std::size_t count = std::max<std::size_t>(1, pass.segments.size());
  const std::size_t workers = PassWorkers(pass);
  std::mutex mutex;
  std::exception_ptr error;                       // the first a worker raised; under mutex
  DecodeStatus status = DecodeStatus::kComplete;  // the first other than kComplete; under mutex
  std::atomic<bool> stop{false};
  const auto settle = [&](DecodeStatus s, std::exception_ptr e) {
    std::lock_guard lock(mutex);
    if (e && !error) error = e;
    if (s != DecodeStatus::kComplete && status == DecodeStatus::kComplete) status = s;
    stop = true;
  };
  std::vector<std::function<void()>> parts;
  for (std::size_t w = 0; w < workers; ++w) {
    parts.emplace_back([&, w] {
      // The library's messages go back with the pass instead of onto stderr.
      LibraryMessageCapture capture;
      const auto keepMessages = [&] {
        std::lock_guard lock(mutex);
        pass.messages.insert(pass.messages.end(), capture.Messages().begin(),
                             capture.Messages().end());
      };
      try {
        for (std::size_t i = w * count / workers; i < (w + 1) * count / workers && !stop; ++i) {
          const DecodeStatus s = segment(w, i, stop);
          if (s != DecodeStatus::kComplete) {
            settle(s, nullptr);
            break;
          }
        }
      } catch (...) {
        settle(DecodeStatus::kStopped, std::current_exception());
      }
      keepMessages();
    });
  }
  RunParts(pass.pool, parts);
  if (error) std::rethrow_exception(error);
  if (cancel != nullptr && cancel->load()) return DecodeStatus::kStopped;
  return status;
}

}  // namespace cli
