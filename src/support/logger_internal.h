// The logger's lock, for code that must prove it never waits on it.
#pragma once

#include <mutex>

namespace kestrova {

std::mutex& loggerMutex();

}  // namespace kestrova
