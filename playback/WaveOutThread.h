// The worker of cmThread: it runs the completion handler for each completion that the device's
// notification thread forwards to it, and drops the forwarded ones when a reset asks, answering
// only between two handlers. Owned and joined by its output; one worker per open.
// Threading: created, ended and joined on the main thread; Execute runs on the worker; input_ is
// set by the notification thread and by a reset on the main thread.
#pragma once

#include "platform/Event.h"
#include "stream/DSPThread.h"

namespace playback {

class TMMWaveOut;

class TMMWaveOutThread : public stream::TMMDSPThread {
 public:
  explicit TMMWaveOutThread(TMMWaveOut* waveOut);

 protected:
  void Execute() override;

 private:
  friend class TMMWaveOut;
  TMMWaveOut* waveOut_;                                      // not owned
  platform::Event quit_{platform::Event::Reset::Manual};     // leave the loop (Close)
  platform::Event input_{platform::Event::Reset::Auto};      // completions or a flush wait
  platform::Event ready_{platform::Event::Reset::Manual};    // the loop has begun
  platform::Event flushed_{platform::Event::Reset::Manual};  // the flush asked for is done
  platform::Event done_{platform::Event::Reset::Manual};     // Execute has returned
};

}  // namespace playback
