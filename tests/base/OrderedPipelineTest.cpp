// The ordered pipeline's promises: items written in order on the owner's thread, made one at a
// time by each thread, never more in flight than its slots; an error from any stage on any
// thread thrown in its turn with nothing left in flight; a stop seen by every thread.

#include "base/OrderedPipeline.h"

#include "base/Interrupt.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace orolith {
namespace {

constexpr std::size_t Never = ~std::size_t{0};
using Owner = OrderedPipeline::Owner;

// A run of items through a pipeline, recording what each stage saw; item i in a slot is i.
struct Recorder {
  Recorder(unsigned threads, Owner role, std::size_t slots)
      : indexes(OrderedPipeline::MakingThreads(threads, role)),
        items(slots),
        pipeline(
            threads, role, slots, [this](unsigned thread, std::size_t slot) { Make(thread, slot); },
            [this](std::size_t slot) { Write(slot); }) {}

  void Make(unsigned thread, std::size_t slot) {
    if (thread >= indexes || busy[thread].exchange(true)) ++overlapped;
    if (thread == 0) ++ownerMade;
    // Workers hold their item until the owner has made one, as one that helps does meanwhile.
    while (awaitOwner && ownerMade == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        timedOut = true;
        break;
      }
      std::this_thread::yield();
    }
    ++makes;
    if (items[slot] > slowAfter) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    volatile double work = 0;
    for (std::size_t i = 0; i < items[slot] * 7919 % 5000; ++i) work = work + 1;
    if (items[slot] == stopAt) ::raise(SIGINT);
    if (InterruptSignal() != 0) ++madeAfterStop;
    busy[thread % busy.size()] = false;
    if (items[slot] == failMakeAt) throw std::runtime_error("make");
  }
  void Write(std::size_t slot) {
    if (std::this_thread::get_id() != owner) ++offOwner;
    if (items[slot] == failWriteAt) throw std::runtime_error("write");
    written.push_back(items[slot]);
    --inFlight;
  }
  void Run(std::size_t count) {
    pipeline.Run(count, [this](std::size_t index, std::size_t slot) {
      if (index == failFillAt) throw std::runtime_error("fill");
      items[slot] = index;
      mostInFlight = std::max(mostInFlight, ++inFlight);
    });
  }

  unsigned indexes;
  std::vector<std::size_t> items;
  std::vector<std::size_t> written;
  std::array<std::atomic<bool>, 8> busy{};
  std::atomic<int> overlapped{0};  // a thread index beyond the threads, or making two at once
  std::atomic<int> ownerMade{0};
  std::atomic<int> madeAfterStop{0};
  std::atomic<int> makes{0};
  bool awaitOwner = false;
  std::atomic<bool> timedOut{false};
  const std::chrono::steady_clock::time_point deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::size_t inFlight = 0;
  std::size_t mostInFlight = 0;
  int offOwner = 0;
  std::thread::id owner = std::this_thread::get_id();
  std::size_t failFillAt = Never, failMakeAt = Never, failWriteAt = Never, stopAt = Never;
  std::size_t slowAfter = Never;  // items made slowly, so that some still wait as a run fails
  OrderedPipeline pipeline;
};

std::vector<std::size_t> Upto(std::size_t n) {
  std::vector<std::size_t> indexes(n);
  for (std::size_t i = 0; i < n; ++i) indexes[i] = i;
  return indexes;
}

TEST(OrderedPipeline, WritesInOrderOnTheOwnersThreadMadeOnEveryThreadWithinItsSlots) {
  struct Case {
    unsigned threads;
    Owner role;
    std::size_t slots;
    int ownerMakes;  // at least
  };
  const Case cases[] = {{1, Owner::Helps, 1, 307}, {1, Owner::Feeds, 4, 307},
                        {2, Owner::Helps, 5, 1},   {2, Owner::Feeds, 1, 0},
                        {3, Owner::Helps, 7, 1},   {4, Owner::Feeds, 9, 0}};
  for (const Case& c : cases) {
    const bool helps = c.role == Owner::Helps;
    SCOPED_TRACE(testing::Message() << c.threads << " threads, " << c.slots << " slots, owner "
                                    << (helps ? "helps" : "feeds"));
    Recorder r(c.threads, c.role, c.slots);
    r.awaitOwner = helps && c.threads > 1;
    r.Run(300);
    r.Run(7);  // the next tile's
    std::vector<std::size_t> expected = Upto(300);
    for (const std::size_t i : Upto(7)) expected.push_back(i);
    EXPECT_EQ(r.written, expected);
    EXPECT_EQ(r.offOwner, 0);
    EXPECT_EQ(r.overlapped, 0);
    EXPECT_LE(r.mostInFlight, c.slots);
    EXPECT_GE(r.ownerMade, c.ownerMakes);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.indexes, c.threads == 1 ? 1 : helps ? c.threads : c.threads + 1);
  }
}

TEST(OrderedPipeline, AnErrorFromAnyStageIsThrownInItsTurnAndTheNextRunStartsAfresh) {
  struct Case {
    const char* what;
    std::size_t fill, make, write;
  };
  const Case cases[] = {
      {"fill", 37, Never, Never}, {"make", Never, 37, Never}, {"write", Never, Never, 37}};
  for (const Case& c : cases) {
    for (const auto& [threads, role] :
         {std::pair{1U, Owner::Feeds}, std::pair{2U, Owner::Helps}, std::pair{4U, Owner::Feeds}}) {
      SCOPED_TRACE(testing::Message() << c.what << ", " << threads << " threads");
      Recorder r(threads, role, 2 * threads + 1);
      r.failFillAt = c.fill;
      r.failMakeAt = c.make;
      r.failWriteAt = c.write;
      r.slowAfter = 37;
      try {
        r.Run(300);
        ADD_FAILURE() << "no exception";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), c.what);
      }
      // Fill runs ahead of the writes; make and write fail in the item's turn.
      if (c.fill != Never) {
        EXPECT_EQ(r.written, Upto(r.written.size()));
        EXPECT_LE(r.written.size(), c.fill);
      } else {
        EXPECT_EQ(r.written, Upto(37));
      }
      // An item of the failed run still in flight would show up here.
      r.failFillAt = r.failMakeAt = r.failWriteAt = r.slowAfter = Never;
      r.written.clear();
      r.makes = 0;
      r.Run(10);
      EXPECT_EQ(r.written, Upto(10));
      EXPECT_EQ(r.makes, 10);
      EXPECT_EQ(r.overlapped, 0);
    }
  }
}

// Forgets the stop asked for when the test ends, whatever happens in it.
struct StopAsked {
  StopAsked() { InstallInterruptHandlers(); }
  StopAsked(const StopAsked&) = delete;
  StopAsked& operator=(const StopAsked&) = delete;
  ~StopAsked() { ClearInterrupt(); }
};

TEST(OrderedPipeline, AStopEndsTheRunWithInterruptedAndNoItemIsStartedAfterIt) {
  // Asked before the run (Never) or while item 50 is made.
  for (const std::size_t stopAt : {Never, std::size_t{50}}) {
    for (const auto& [threads, role] :
         {std::pair{1U, Owner::Feeds}, std::pair{3U, Owner::Helps}, std::pair{3U, Owner::Feeds}}) {
      SCOPED_TRACE(testing::Message() << "stop at " << stopAt << ", " << threads << " threads");
      const StopAsked stop;
      if (stopAt == Never) ::raise(SIGINT);
      Recorder r(threads, role, 2 * threads + 1);
      r.stopAt = stopAt;
      EXPECT_THROW(r.Run(300), Interrupted);
      EXPECT_EQ(r.written, Upto(r.written.size()));
      // Only the items being made as the stop came are finished.
      EXPECT_LE(r.madeAfterStop, static_cast<int>(r.indexes));
      if (stopAt == Never) {
        EXPECT_TRUE(r.written.empty());
        EXPECT_EQ(r.madeAfterStop, 0);
      } else {
        EXPECT_LE(r.written.size(), stopAt + r.indexes);
      }
    }
  }
}

TEST(OrderedPipeline, WorkThreadsAreTheOnesAskedForOrOneAProcessorThisProcessMayUseUpToFour) {
  EXPECT_EQ(WorkThreads(7), 7U);
  const unsigned automatic = WorkThreads();
  EXPECT_GE(automatic, 1U);
  EXPECT_LE(automatic, 4U);
  cpu_set_t saved;
  ASSERT_EQ(::sched_getaffinity(0, sizeof saved, &saved), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &saved)) continue;
    CPU_SET(cpu, &one);
    break;
  }
  ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(WorkThreads(), 1U);
  ASSERT_EQ(::sched_setaffinity(0, sizeof saved, &saved), 0);
}

}  // namespace
}  // namespace orolith
