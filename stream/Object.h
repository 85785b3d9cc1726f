// Root of the class tree: every object that can be the Sender of an event.
#pragma once

namespace stream {

class TObject {
 public:
  virtual ~TObject() = default;
};

}  // namespace stream
