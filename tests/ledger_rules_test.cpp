// The rules by which the probes of a live sweep share the kernel's neighbour
// table: how many may start, when a probe counts the table again, how long
// they waited, and the one line that says so.
#include <linux/neighbour.h>

#include <string>

#include <gtest/gtest.h>

#include "live/room/ledger_rules.h"

namespace {

constexpr int64_t kMs = 1'000'000;

TEST(NeighbourRoom, ProbesMayStartWithinTheLimitLessWhatIsKeptFree) {
    const struct {
        int limit, in_use, in_flight, may_start;
    } cases[] = {
        {1024, 0, 0, 896},       // an eighth kept free
        {1024, 600, 0, 296},
        {1024, 600, 200, 96},
        {1024, 896, 0, 0},       // at what the others need
        {1024, 1024, 0, 0},      // full
        {1024, 2000, 50, 0},     // over (the limit was lowered): never below 0
        {16384, 1000, 255, 13081},
        {8, 0, 0, 7},            // a tiny table keeps one entry free
        {1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProbesMayStart({c.limit, c.in_use, c.in_flight}), c.may_start)
            << c.limit << " " << c.in_use << " " << c.in_flight;
    }
}

TEST(NeighbourRoom, OnlyUnresolvedEntriesAreTheSweepsToRemove) {
    const struct {
        unsigned state;
        bool unanswered;
    } cases[] = {
        {NUD_INCOMPLETE, true}, {NUD_FAILED, true},      {NUD_REACHABLE, false},
        {NUD_STALE, false},     {NUD_DELAY, false},      {NUD_PROBE, false},
        {NUD_PERMANENT, false}, {NUD_NOARP, false},      {NUD_NONE, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsUnansweredEntry(c.state), c.unanswered) << "state 0x" << std::hex << c.state;
    }
}

RoomLedger Counted(int64_t at, int budget) {
    RoomLedger ledger{};
    ledger.CountedAtNs = at;
    ledger.Budget = budget;
    return ledger;
}

TEST(NeighbourRoom, AProbeTakesFromAFreshCountElseCountsAgainOrWaits) {
    const int64_t t = 1000 * kMs;
    const struct {
        const char* name;
        RoomLedger ledger;
        int64_t now;
        RoomStep step;
    } cases[] = {
        {"never counted", Counted(0, 0), t, ROOM_COUNT_TABLE},
        {"fresh count with room", Counted(t, 5), t + 49 * kMs, ROOM_TAKE},
        {"old count with room", Counted(t, 5), t + 50 * kMs, ROOM_COUNT_TABLE},
        {"full on a recent count", Counted(t, 0), t + 9 * kMs, ROOM_WAIT},
        {"full on a count old enough to repeat", Counted(t, 0), t + 10 * kMs, ROOM_COUNT_TABLE},
    };
    for (const auto& c : cases) EXPECT_EQ(NextRoomStep(c.ledger, c.now), c.step) << c.name;
}

TEST(NeighbourRoom, ACountGivesTheBudgetBesideTheProbesStillInFlight) {
    RoomLedger ledger{};
    TakeRoom(&ledger);
    TakeRoom(&ledger);
    EXPECT_EQ(ledger.InFlight, 2);
    RecordTableCount(&ledger, 1024, 890, 7 * kMs);
    EXPECT_EQ(ledger.Budget, 4);  // 1024 - 128 - 890 - 2
    EntryMade(&ledger);
    TakeRoom(&ledger);
    EXPECT_EQ(ledger.Budget, 3);
    EXPECT_EQ(ledger.InFlight, 2);
    EntryMade(&ledger);
    EntryMade(&ledger);
    EntryMade(&ledger);  // one too many: a probe let through at its deadline
    EXPECT_EQ(ledger.InFlight, 0);
}

TEST(NeighbourRoom, CrowdedBelowHalfOfWhatTheProbesMayUse) {
    const struct {
        int limit, budget;
        bool crowded;
    } cases[] = {
        {1024, 896, false}, {1024, 448, false}, {1024, 447, true}, {1024, 0, true},
        {16384, 13000, false}, {16384, 7167, true},
    };
    for (const auto& c : cases) {
        RoomLedger ledger{};
        RecordTableCount(&ledger, c.limit, c.limit - EntriesKeptFree(c.limit) - c.budget, 1);
        EXPECT_EQ(IsCrowded(ledger), c.crowded) << c.limit << " " << c.budget;
    }
}

TEST(NeighbourRoom, WaitsThatOverlapCountOnce) {
    RoomLedger ledger{};
    StartWaiting(&ledger, 100 * kMs);
    StartWaiting(&ledger, 150 * kMs);
    StopWaiting(&ledger, 200 * kMs);
    StopWaiting(&ledger, 300 * kMs);  // 100 to 300: 200 ms
    StopWaiting(&ledger, 350 * kMs);  // none waiting: nothing
    StartWaiting(&ledger, 400 * kMs);
    StopWaiting(&ledger, 450 * kMs);
    EXPECT_EQ(ledger.WaitedNs, 250 * kMs);
    EXPECT_EQ(ledger.Waiting, 0);
}

constexpr RoomOwner kFirst{101, 0, 5000};
constexpr RoomOwner kSecond{102, 0, 5001};
constexpr RoomOwner kThird{103, 0, 5002};

TEST(NeighbourRoom, TheSweepsClockRunsFromTheFirstJoinToTheLastLeaveAcrossGaps) {
    RoomLedger ledger{};
    JoinRoom(&ledger, kFirst, 1000 * kMs);
    JoinRoom(&ledger, kSecond, 1200 * kMs);
    RecordTableCount(&ledger, 1024, 0, 1300 * kMs);
    StartWaiting(&ledger, 2000 * kMs);
    StopWaiting(&ledger, 5000 * kMs);
    EXPECT_FALSE(LeaveRoom(&ledger, kFirst, 6000 * kMs));
    EXPECT_TRUE(LeaveRoom(&ledger, kSecond, 7000 * kMs));
    JoinRoom(&ledger, kThird, 7100 * kMs);  // the next probe of the same sweep
    StartWaiting(&ledger, 7200 * kMs);
    StopWaiting(&ledger, 10500 * kMs);
    EXPECT_TRUE(LeaveRoom(&ledger, kThird, 15000 * kMs));
    EXPECT_EQ(ledger.Members, 0);
    EXPECT_EQ(SlowedSweepLine(ledger),
              "the kernel's neighbour table was full: probes waited for room during 6.3 s of "
              "this sweep's 14.0 s; raising net.ipv4.neigh.default.gc_thresh3 (now 1024) lets "
              "them start at once");
}

TEST(NeighbourRoom, AShortWaitIsNotWorthALine) {
    RoomLedger ledger{};
    JoinRoom(&ledger, kFirst, 0);
    StartWaiting(&ledger, 10 * kMs);
    StopWaiting(&ledger, 99 * kMs);
    LeaveRoom(&ledger, kFirst, 5000 * kMs);
    EXPECT_EQ(SlowedSweepLine(ledger), "");
    EXPECT_EQ(SayOnce(&ledger), "");
}

// A member that leaves, or is gone without leaving, gives back the probes it
// let through that never sent and stops its probes' waits; the others keep
// theirs.
TEST(NeighbourRoom, ALeavingOrGoneMemberGivesBackItsShareAlone) {
    for (const bool gone : {false, true}) {
        SCOPED_TRACE(gone ? "gone" : "leaving");
        RoomLedger ledger{};
        RoomShare* first = JoinRoom(&ledger, kFirst, 0);
        TakeRoom(&ledger, first);
        TakeRoom(&ledger, first);
        StartWaiting(&ledger, first, 100 * kMs);
        RoomShare* second = JoinRoom(&ledger, kSecond, 0);
        TakeRoom(&ledger, second);
        StartWaiting(&ledger, second, 300 * kMs);
        ASSERT_EQ(ledger.InFlight, 3);
        ASSERT_EQ(ledger.Waiting, 2);
        if (gone) {
            EXPECT_EQ(ReturnSharesOfTheGone(&ledger, [](const RoomOwner& owner) {
                return owner.Process != kFirst.Process;
            }, kOwnerCheckIntervalNs), 1);
        } else {
            EXPECT_FALSE(LeaveRoom(&ledger, kFirst, kOwnerCheckIntervalNs));
        }
        EXPECT_EQ(ledger.Members, 1);
        EXPECT_EQ(ShareOf(&ledger, kFirst), nullptr);
        ASSERT_NE(ShareOf(&ledger, kSecond), nullptr);
        EXPECT_EQ(ShareOf(&ledger, kSecond)->InFlight, 1);
        EXPECT_EQ(ledger.InFlight, 1);
        EXPECT_EQ(ledger.Waiting, 1);
        EXPECT_EQ(ledger.WaitedNs, 0);  // the second still waits: the wait goes on
    }
}

TEST(NeighbourRoom, MembersAreCheckedForTheGoneAtMostEveryInterval) {
    RoomLedger ledger{};
    JoinRoom(&ledger, kFirst, 0);
    int asked = 0;
    const auto none_alive = [&](const RoomOwner&) {
        ++asked;
        return false;
    };
    const int64_t first = 10 * kOwnerCheckIntervalNs;
    EXPECT_EQ(ReturnSharesOfTheGone(&ledger, none_alive, first), 1);
    JoinRoom(&ledger, kSecond, first);
    EXPECT_EQ(ReturnSharesOfTheGone(&ledger, none_alive, first + kOwnerCheckIntervalNs - 1), 0);
    EXPECT_EQ(ReturnSharesOfTheGone(&ledger, none_alive, first + kOwnerCheckIntervalNs), 1);
    EXPECT_EQ(asked, 2);
}

TEST(NeighbourRoom, AnOwnerIsTheProcessWithItsStartAndJoinsOnce) {
    RoomLedger ledger{};
    const RoomOwner same_id_later{kFirst.Process, 0, kFirst.Started + 1};
    RoomShare* first = JoinRoom(&ledger, kFirst, 0);
    EXPECT_EQ(JoinRoom(&ledger, kFirst, 0), first);
    EXPECT_NE(JoinRoom(&ledger, same_id_later, 0), first);
    EXPECT_EQ(ledger.Members, 2);
    for (int k = 2; k < kMaxRoomMembers; ++k) {
        ASSERT_NE(JoinRoom(&ledger, {1000 + k, 0, 1}, 0), nullptr);
    }
    EXPECT_EQ(JoinRoom(&ledger, kThird, 0), nullptr);  // no place left
}

}  // namespace
