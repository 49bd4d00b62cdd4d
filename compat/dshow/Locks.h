#pragma once

#include <mutex>

// The platform's critical section is re-entrant; so is this one.
using CCritSec = std::recursive_mutex;
using CAutoLock = std::lock_guard<CCritSec>;
