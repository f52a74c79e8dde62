//===- run_ordered.h - Ordered work on the calling thread, for both halves ---===//
#pragma once

#include "platform/platform.h"

namespace qd::platform {

// RunOrdered without other threads: each item produced, then consumed.
void RunOrderedHere(std::size_t count, const std::function<void(std::size_t)>& produce,
                    const std::function<bool(std::size_t)>& consume);

}  // namespace qd::platform
