// Which thread is the program's main thread: the one that ran static initialisation,
// which is the thread that enters main().
#pragma once

#include <thread>

namespace platform {

std::thread::id MainThreadId();
bool IsMainThread();

}  // namespace platform
