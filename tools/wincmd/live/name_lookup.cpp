#include "live/name_lookup.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned long kDefaultNameTimeoutMs = 1000;

}  // namespace

unsigned long NameTimeoutMs(bool timeout_given, unsigned long timeout_ms) {
    return timeout_given ? timeout_ms : kDefaultNameTimeoutMs;
}

// Shared by the look-up's thread and the waiter; the last of them frees it.
struct PendingName::Answer {
    std::mutex Lock;
    std::condition_variable Ended;
    bool Done = false;
    std::string Name;
};

PendingName PendingName::Start(std::function<std::string()> look_up) {
    PendingName pending;
    pending.answer_ = std::make_shared<Answer>();
    auto run = [answer = pending.answer_, look_up]() {
        std::string name = look_up();
        std::lock_guard<std::mutex> hold(answer->Lock);
        answer->Name = std::move(name);
        answer->Done = true;
        answer->Ended.notify_all();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();  // no thread to be had: the look-up holds the probe, as it used to
    }
    return pending;
}

std::string PendingName::AwaitUntil(Clock::time_point deadline) const {
    std::unique_lock<std::mutex> hold(answer_->Lock);
    if (!answer_->Ended.wait_until(hold, deadline, [this]() { return answer_->Done; })) return "";
    return answer_->Name;
}
