// ICMP echo to one address, as ping sends it: the kernel's ICMP datagram
// socket where net.ipv4.ping_group_range lets this process have one, else a
// raw socket. What a reply must hold is read in icmp_answers.h.
#pragma once

#include <cstdint>
#include <string>

#include "live/kernel/socket.h"
#include "machine/machine.h"

// Whether this process can open an ICMP socket, as ping opens it; false with
// the reason and its remedy.
bool CanOpenEchoSocket(std::string* error);

// Why a request to address could not go: the address, what failed and the
// system's words, and what a refusal means where the words alone mislead.
std::string SendFailure(uint32_t address, int error_number);

class EchoSocket {
public:
    // False with the reason, which names the remedy, when neither kind opens.
    bool Open(std::string* error);
    // Sends echo request number sequence; *sent is when it left. While the
    // kernel has no room for the address's neighbour entry it tries again
    // (see SendWhileTableFull).
    bool Send(uint32_t address, uint16_t sequence, Clock::time_point* sent, std::string* error);
    // Whether the last Send that failed found no route to its address, which
    // the tool reports in its report as the real one does.
    bool FoundNoRoute() const { return no_route_; }
    // Waits up to deadline for the reply to that request.
    bool AwaitReply(uint32_t address, uint16_t sequence, Clock::time_point sent,
                    Clock::time_point deadline, EchoOutcome* result, std::string* error);

private:
    bool Receive(uint32_t address, uint16_t sequence, bool* matched, int* ttl, std::string* error);

    Socket socket_;
    bool raw_ = false;
    uint16_t identifier_ = 0;  // a datagram socket's is the one the kernel gave it
    std::string payload_;      // 32 bytes, a random part first, so replies can be told apart
    bool no_route_ = false;
};
