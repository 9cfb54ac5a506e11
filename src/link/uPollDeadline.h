// The time argument of poll() for a wait that must end at a deadline.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace fr {

// Milliseconds left until ADeadline, rounded up so that a wake-up never comes
// before it, never negative and never beyond poll()'s range.
inline int PollTimeoutMs(std::chrono::steady_clock::time_point ADeadline) {
    const auto Left =
        std::chrono::ceil<std::chrono::milliseconds>(ADeadline - std::chrono::steady_clock::now()).count();
    return int(std::clamp<int64_t>(Left, 0, 1 << 30));
}

}  // namespace fr
