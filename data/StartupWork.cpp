#include "data/StartupWork.h"

#include <mutex>

std::shared_future<void> ChainStartupWork(std::shared_future<void> next)
{
    static std::mutex guard;
    static std::shared_future<void> last;
    const std::lock_guard<std::mutex> lock(guard);
    return std::exchange(last, std::move(next));
}
