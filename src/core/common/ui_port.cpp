#include "common/ui_port.h"

#include <chrono>
#include <thread>

namespace tesmo {

void waitSeconds(UiPort &port, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        port.processEvents();
    }
}

} // namespace tesmo
