#include "platform/wall_clock.h"

#include <chrono>

namespace qm {

int64_t WallClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace qm
