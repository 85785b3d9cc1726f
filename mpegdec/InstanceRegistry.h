// The live instances of the process, so that every entry point can refuse a null, released or
// made-up handle instead of following it.
// Threading: any thread; the registry's lock is held only for its own list.
#ifndef QUELBARIN_MPEGDEC_INSTANCEREGISTRY_H
#define QUELBARIN_MPEGDEC_INSTANCEREGISTRY_H

#include "mpegdec/MpegInstance.h"

namespace mpegdec {

class InstanceRegistry {
 public:
  static void add(const mpeg_instance* instance);
  // False when `instance` was not listed.
  static bool remove(const mpeg_instance* instance);
  // The instance behind `handle`, or null when it is not a live instance.
  static mpeg_instance* find(MPEG_HANDLE handle);
};

}  // namespace mpegdec

#endif  // QUELBARIN_MPEGDEC_INSTANCEREGISTRY_H
