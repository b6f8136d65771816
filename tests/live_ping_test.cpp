// Live ping's own name and its refused sends: one of the machine's own
// addresses is named by the host name, before any look-up; a request the
// kernel refuses names the address and why, on one line of standard error.
#include <arpa/inet.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "live/kernel/echo_socket.h"
#include "test_support.h"

namespace {

uint32_t Address(const char* text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text, &address), 1) << text;
    return ntohl(address.s_addr);
}

TEST(LiveEcho, ARefusedSendNamesTheAddressAndABroadcastAsSuch) {
    const std::pair<int, std::string> cases[] = {
        {EACCES, "198.18.7.255: cannot send an echo request: Permission denied "
                 "(a broadcast address)"},
        {EPERM, std::string("198.18.7.255: cannot send an echo request: ") +
                    std::strerror(EPERM)},  // a firewall's refusal: the system's words alone
    };
    for (const auto& [error_number, line] : cases) {
        EXPECT_EQ(SendFailure(Address("198.18.7.255"), error_number), line);
    }
}

// In network and host-name namespaces of the test's own, with a segment on a
// pair of virtual interfaces that both stay inside it: nothing leaves.
TEST(LivePing, OwnAddressGetsTheHostNameAndABroadcastOneErrorLine) {
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces of its own need root";
    if (std::system("command -v ip > /dev/null") != 0) GTEST_SKIP() << "needs ip (iproute2)";
    TempDir dir;
    const std::string wincmd =
        std::string("env QARVIK_NETWORK=live QARVIK_WINVER=xp '") + WINCMD_PATH + "' /c ";
    WriteFileBytes(dir.File("run.sh"),
                   "hostname own-host && ip link set lo up &&\n"
                   "ip link add q0 type veth peer name q1 && ip addr add 198.18.7.1/24 dev q0 &&\n"
                   "ip link set q0 up && ip link set q1 up &&\n" +
                       wincmd + "'ping -a -n 1 -w 300 198.18.7.1' > own &&\n" + wincmd +
                       "'ping -n 3 -w 100 198.18.7.255' > broadcast 2> err\n");
    const int status =
        std::system(("cd '" + dir.Path() + "' && unshare -n -u sh run.sh > /dev/null").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);  // the broadcast address got no reply
    EXPECT_NE(ReadFileBytes(dir.File("own")).find("Pinging own-host [198.18.7.1] with 32 bytes"),
              std::string::npos)
        << ReadFileBytes(dir.File("own"));
    EXPECT_EQ(ReadFileBytes(dir.File("err")),
              "wincmd: ping: 198.18.7.255: cannot send an echo request: Permission denied "
              "(a broadcast address)\n");
}

}  // namespace
