// The neighbour room as the live machine owns it: the rooms of one run share
// one ledger in the run's work folder, each share with its owner, a share
// whose owner is gone given back, the run's line said once, a ledger that
// cannot be reached stopping the probe; outside a run nothing is written.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "live/room/room_ledger_file.h"
#include "live/room/neighbour_room.h"
#include "test_support.h"

namespace {

constexpr int64_t kMs = 1'000'000;
constexpr RoomOwner kA{201, 0, 7000};
constexpr RoomOwner kB{202, 0, 7001};
constexpr RoomOwner kC{203, 0, 7002};

// The machine as the rooms of a test see it: a clock the test moves, a table
// of the size it sets, and the processes it says are gone.
struct FakeMachine {
    int64_t Now = 1000 * kMs;
    int Limit = 1024;
    int InUse = 0;
    std::set<int32_t> Gone;
};

RoomSystem SystemOf(FakeMachine* machine) {
    return {[machine]() { return machine->Now; },
            [machine](int, int* limit, int* in_use) {
                *limit = machine->Limit;
                *in_use = machine->InUse;
                return true;
            },
            [machine](const RoomOwner& owner) { return machine->Gone.count(owner.Process) == 0; },
            false};
}

class TableRoomTest : public ::testing::Test {
protected:
    std::unique_ptr<NeighbourRoom> Room(const RoomOwner& owner, const std::string& folder) {
        return std::make_unique<NeighbourRoom>(folder, owner, SystemOf(&machine_),
                                               std::make_shared<InterfaceList>());
    }
    std::unique_ptr<NeighbourRoom> Room(const RoomOwner& owner) { return Room(owner, Folder()); }
    std::string Folder() const { return run_.Path() + "/"; }

    // The ledger as the run's file holds it now.
    RoomLedger Ledger() const {
        auto ledger = std::make_unique<RoomLedger>();
        const int file = open(LedgerPathInFolder(Folder()).c_str(), O_RDONLY);
        EXPECT_GE(file, 0);
        ReadLedger(file, ledger.get());
        close(file);
        return *ledger;
    }

    static Clock::time_point Later() { return Clock::now() + std::chrono::seconds(5); }

    FakeMachine machine_;
    TempDir run_;
    std::string error_;
    std::string line_;
};

TEST_F(TableRoomTest, TheRoomsOfARunJoinAndLeaveOneLedgerInItsFolder) {
    auto a = Room(kA);
    auto b = Room(kB);
    ASSERT_TRUE(a->Join(Later(), &error_)) << error_;
    ASSERT_TRUE(b->Join(Later(), &error_)) << error_;
    EXPECT_EQ(FolderEntries(run_.Path()), std::vector<std::string>{"neighbour_room"});
    EXPECT_EQ(Ledger().Members, 2);
    bool room = false;
    ASSERT_TRUE(a->Try(0xC6120005, Later(), &room, &error_)) << error_;
    EXPECT_TRUE(room);
    EXPECT_EQ(Ledger().InFlight, 1);
    ASSERT_TRUE(a->Leave(&line_, &error_)) << error_;
    EXPECT_EQ(Ledger().Members, 1);
    EXPECT_EQ(Ledger().InFlight, 0);  // its probe never sent: given back
    ASSERT_TRUE(b->Leave(&line_, &error_)) << error_;
    EXPECT_EQ(Ledger().Members, 0);
    EXPECT_EQ(line_, "");
}

TEST_F(TableRoomTest, TheShareOfAMemberGoneWithoutLeavingIsGivenBack) {
    auto a = Room(kA);
    auto b = Room(kB);
    bool room = false;
    ASSERT_TRUE(a->Join(Later(), &error_));
    machine_.InUse = 1024 - 128 - 1;  // room for one probe
    ASSERT_TRUE(a->Try(0xC6120005, Later(), &room, &error_));
    ASSERT_TRUE(room);
    ASSERT_TRUE(a->Try(0xC6120006, Later(), &room, &error_));
    ASSERT_FALSE(room);  // a waits
    machine_.Gone.insert(kA.Process);  // and dies, holding its probe in flight
    machine_.Now += kOwnerCheckIntervalNs;
    ASSERT_TRUE(b->Join(Later(), &error_)) << error_;
    const RoomLedger ledger = Ledger();
    EXPECT_EQ(ledger.Members, 1);
    EXPECT_EQ(ledger.InFlight, 0);
    EXPECT_EQ(ledger.Waiting, 0);
    ASSERT_TRUE(b->Try(0xC6120007, Later(), &room, &error_));
    EXPECT_TRUE(room);  // the room it held is b's now
}

TEST_F(TableRoomTest, TheLastToLeaveSaysTheRunsLineOnce) {
    auto a = Room(kA);
    auto b = Room(kB);
    ASSERT_TRUE(a->Join(Later(), &error_));
    machine_.Now += 500 * kMs;
    ASSERT_TRUE(b->Join(Later(), &error_));
    machine_.InUse = 1024;  // full
    bool room = false;
    ASSERT_TRUE(b->Try(0xC6120005, Later(), &room, &error_));
    ASSERT_FALSE(room);
    machine_.Now += 1500 * kMs;
    machine_.InUse = 0;
    ASSERT_TRUE(b->Try(0xC6120005, Later(), &room, &error_));
    ASSERT_TRUE(room);
    machine_.Now += 1000 * kMs;
    ASSERT_TRUE(b->Leave(&line_, &error_));
    EXPECT_EQ(line_, "");  // a is still in
    ASSERT_TRUE(a->Leave(&line_, &error_));
    EXPECT_EQ(line_,
              "the kernel's neighbour table was full: probes waited for room during 1.5 s of "
              "this sweep's 3.0 s; raising net.ipv4.neigh.default.gc_thresh3 (now 1024) lets "
              "them start at once");
    auto c = Room(kC);  // a later stage of the same run
    ASSERT_TRUE(c->Join(Later(), &error_));
    ASSERT_TRUE(c->Leave(&line_, &error_));
    EXPECT_EQ(line_, "");
}

TEST_F(TableRoomTest, ALedgerThatCannotBeReachedByTheDeadlineStopsTheProbe) {
    auto a = Room(kA);
    const int holder = open(LedgerPathInFolder(Folder()).c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    EXPECT_FALSE(a->Join(Clock::now(), &error_));
    EXPECT_EQ(error_, "the neighbour room's ledger " + LedgerPathInFolder(Folder()) +
                          " stayed locked past the probe's deadline");
    flock(holder, LOCK_UN);
    close(holder);
    EXPECT_TRUE(a->Join(Later(), &error_)) << error_;

    auto lost = Room(kB, run_.File("gone/"));
    EXPECT_FALSE(lost->Join(Later(), &error_));
    EXPECT_EQ(error_.rfind("cannot open the neighbour room's ledger " + run_.File("gone/neighbour_room"), 0),
              0u)
        << error_;
}

TEST_F(TableRoomTest, OutsideARunARoomCountsAloneAndSaysItsOwnLine) {
    auto a = Room(kA, "");
    ASSERT_TRUE(a->Join(Later(), &error_));
    machine_.InUse = 1024;
    bool room = false;
    ASSERT_TRUE(a->Try(0xC6120005, Later(), &room, &error_));
    ASSERT_FALSE(room);
    machine_.Now += 200 * kMs;
    machine_.InUse = 0;
    ASSERT_TRUE(a->Try(0xC6120005, Later(), &room, &error_));
    ASSERT_TRUE(room);
    ASSERT_TRUE(a->Leave(&line_, &error_));
    EXPECT_NE(line_.find("waited for room during 0.2 s"), std::string::npos) << line_;
    EXPECT_EQ(FolderEntries(run_.Path()), std::vector<std::string>{});
}

// A live ping run by hand, its report redirected into a folder: nothing but
// the report is made there, nor in the working folder; within a run, the
// ledger and the probe's record (for arp) are made in the run's folder alone.
TEST(LiveTool, RunByHandItWritesNothingButItsReport) {
    for (const bool in_run : {false, true}) {
        SCOPED_TRACE(in_run ? "in a run" : "by hand");
        TempDir reports;
        TempDir run;
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, reports.Path().c_str(), IN_CREATE), 0);
        ASSERT_GE(inotify_add_watch(watch, ".", IN_CREATE), 0);
        std::vector<std::string> environment = {"QARVIK_NETWORK=live", "QARVIK_WINVER=xp"};
        if (in_run) environment.push_back("QARVIK_WORK_FOLDER=" + run.Path() + "/");
        std::string errors;
        const int status = RunWincmd("ping -n 1 -w 500 127.0.0.1 > " + reports.File("report.txt"),
                                     environment, nullptr, &errors);
        if (status != 0) GTEST_SKIP() << "no ICMP socket here: " << errors;
        alignas(inotify_event) char events[4096];
        std::vector<std::string> made;
        for (ssize_t length; (length = read(watch, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                made.push_back(event->len > 0 ? event->name : "");
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        close(watch);
        EXPECT_EQ(made, std::vector<std::string>{"report.txt"});
        // Beside the ledger, the run's resident interpreter keeps its lock and
        // socket there.
        std::vector<std::string> left = FolderEntries(run.Path());
        left.erase(std::remove_if(left.begin(), left.end(),
                                  [](const std::string& name) { return name.rfind("wincmd.", 0) == 0; }),
                   left.end());
        const std::vector<std::string> in_folder = {"neighbour_room", "probe_7f000001"};
        EXPECT_EQ(left, in_run ? in_folder : std::vector<std::string>{});
    }
}

}  // namespace
