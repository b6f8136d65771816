#include "live/kernel/resolver.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned long kDefaultNameTimeoutMs = 1000;

}  // namespace

std::string NameOfReverseLookup(int status, const char* name) { return status == 0 ? name : ""; }

std::string LookUpName(uint32_t address) {
    sockaddr_in socket_address{};
    socket_address.sin_family = AF_INET;
    socket_address.sin_addr.s_addr = htonl(address);
    char name[NI_MAXHOST] = "";
    int status = getnameinfo(reinterpret_cast<const sockaddr*>(&socket_address),
                             sizeof socket_address, name, sizeof name, nullptr, 0, NI_NAMEREQD);
    return NameOfReverseLookup(status, name);
}

bool LookUpAddress(const std::string& name, uint32_t* address, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo* found = nullptr;
    int status = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (status != 0) {
        *error = "cannot find host " + name + ": " +
                 (status == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(status));
        return false;
    }
    *address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

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
