#include "core/common/ui_port.h"

#include <chrono>
#include <thread>

namespace tesmo {

std::string withFilterExtension(const std::string &path, const std::string &filter) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (path.size() == nameStart || path.find('.', nameStart) != std::string::npos)
        return path;
    const size_t star = filter.find("*.");
    if (star == std::string::npos)
        return path;
    const size_t end = filter.find_first_of(" ;)", star);
    const std::string ext =
        filter.substr(star + 1, end == std::string::npos ? end : end - star - 1);
    return ext.size() > 1 && ext.find('*') == std::string::npos ? path + ext : path;
}

void waitSeconds(UiPort &port, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        port.processEvents();
    }
}

} // namespace tesmo
