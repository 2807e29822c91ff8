#include "app/forms/background_work.h"

#include <chrono>
#include <exception>
#include <thread>

#include "platform/run_log.h"

namespace tarvex::app {

bool RunResponsive(const std::function<void(const std::atomic<bool>& cancel)>& work,
                   const std::function<void()>& keepResponsive, int pollMs, int maxChecks) {
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        try {
            work(cancel);
        } catch (const std::exception& e) {
            platform::WriteLog(std::string("RunResponsive|异常：") + e.what(), 0);
        }
        finished = true;
    });
    bool inTime = false;
    for (int check = 1; maxChecks <= 0 || check <= maxChecks; ++check) {
        if (finished) {
            inTime = true;
            break;
        }
        if (keepResponsive) keepResponsive();
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    inTime = inTime || finished;
    cancel = true;
    worker.join();
    return inTime;
}

}  // namespace tarvex::app
