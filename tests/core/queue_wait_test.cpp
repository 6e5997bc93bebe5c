// Waiting on a packet queue or a wake event: a push or a notify ends the
// wait at once, and one stop ends every wait in progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "core/IoBuffer.h"
#include "core/PacketQueue.h"
#include "core/WakeEvent.h"
#include "tests/tools/TestUtil.h"

namespace {

using Clock = std::chrono::steady_clock;
// Far longer than any hand-off takes: a wait that lasts this long missed
// its wake-up.
constexpr int64_t kLongWaitMs = 30000;

IoBuffer* Packet(int64_t ts) {
  IoBuffer* p = new IoBuffer(16);
  p->SetTimestamp(ts);
  return p;
}

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace

TEST(QueueWait, PushToEmptyQueueEndsTheWaitAtOnce) {
  // Two threads hand one packet back and forth through two queues; every
  // hand-off must end the other side's wait, not its time-out.
  PacketQueue there, back;
  std::atomic<bool> running{true};
  const int rounds = 2000;
  std::atomic<int> timedOut{0};
  std::thread echo([&] {
    for (int i = 0; i < rounds; ++i) {
      IoBuffer* p = there.Pop();
      if (!p) {
        if (!there.WaitFor(kLongWaitMs, running)) ++timedOut;
        p = there.Pop();
      }
      if (!p) break;
      back.Push(p);
    }
  });
  auto start = Clock::now();
  int got = 0;
  for (int i = 0; i < rounds; ++i) {
    there.Push(Packet(i));
    if (!back.WaitFor(kLongWaitMs, running)) ++timedOut;
    std::unique_ptr<IoBuffer> p(back.Pop());
    if (!p) break;
    EXPECT_EQ(p->GetTimestamp(), i);
    ++got;
  }
  echo.join();
  EXPECT_EQ(got, rounds);
  EXPECT_EQ(timedOut.load(), 0);
  // Each of the 4000 hand-offs took far less than the wait's bound.
  EXPECT_LT(SecondsSince(start), kLongWaitMs / 1000.0 / 2);
}

TEST(QueueWait, WaitForPushIgnoresWhatIsAlreadyQueued) {
  PacketQueue q;
  std::atomic<bool> running{true};
  q.Push(Packet(1));
  uint64_t seen = q.PushCount();
  EXPECT_TRUE(q.WaitFor(0, running));        // a packet is there
  EXPECT_FALSE(q.WaitForPush(20, seen, running));  // but no new one came
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    q.Push(Packet(2));
  });
  auto start = Clock::now();
  EXPECT_TRUE(q.WaitForPush(kLongWaitMs, seen, running));
  EXPECT_LT(SecondsSince(start), kLongWaitMs / 1000.0 / 2);
  later.join();
  EXPECT_EQ(q.Size(), 2);
  // A push before the wait starts is not lost either.
  seen = q.PushCount();
  q.Push(Packet(3));
  EXPECT_TRUE(q.WaitForPush(kLongWaitMs, seen, running));
}

TEST(QueueWait, TimesOutWhenNothingComes) {
  PacketQueue q;
  WakeEvent e;
  std::atomic<bool> running{true};
  auto start = Clock::now();
  EXPECT_FALSE(q.WaitFor(30, running));
  EXPECT_FALSE(e.WaitFor(30, e.Count()));
  EXPECT_GE(SecondsSince(start), 0.055);
}

TEST(QueueWait, StopWakesEveryWaiterAtOnce) {
  // Threads wait on one queue, on one queue for a push and on one event;
  // the stop clears the running flag and wakes the queue and the event once.
  PacketQueue q;
  WakeEvent e;
  std::atomic<bool> running{true};
  const int perKind = 4;
  std::atomic<int> waiting{0}, ended{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < perKind; ++i) {
    threads.emplace_back([&] {
      ++waiting;
      while (running.load()) q.WaitFor(kLongWaitMs, running);
      ++ended;
    });
    threads.emplace_back([&] {
      ++waiting;
      uint64_t seen = q.PushCount();
      while (running.load()) q.WaitForPush(kLongWaitMs, seen, running);
      ++ended;
    });
    threads.emplace_back([&] {
      ++waiting;
      for (;;) {
        uint64_t seen = e.Count();
        if (!running.load()) break;
        e.WaitFor(kLongWaitMs, seen);
      }
      ++ended;
    });
  }
  ASSERT_TRUE(vvtest::WaitFor([&] { return waiting.load() == 3 * perKind; }, std::chrono::seconds(20)));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let them reach their waits
  EXPECT_EQ(ended.load(), 0);
  auto start = Clock::now();
  running = false;
  q.Wake();
  e.Notify();
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(ended.load(), 3 * perKind);
  EXPECT_LT(SecondsSince(start), kLongWaitMs / 1000.0 / 2);
}

TEST(QueueWait, WakeEndsWaitsInProgressOnly) {
  // Wake is no sticky flag: a later wait still waits for its packet.
  PacketQueue q;
  std::atomic<bool> running{true};
  std::atomic<bool> woke{false};
  std::thread t([&] {
    q.WaitFor(kLongWaitMs, running);
    woke = true;
  });
  ASSERT_TRUE(vvtest::WaitFor(
      [&] {
        q.Wake();
        return woke.load();
      },
      std::chrono::seconds(20)));
  t.join();
  EXPECT_FALSE(q.WaitFor(20, running));
  // A cleared running flag ends a wait before it starts.
  running = false;
  auto start = Clock::now();
  EXPECT_FALSE(q.WaitFor(kLongWaitMs, running));
  EXPECT_LT(SecondsSince(start), kLongWaitMs / 1000.0 / 2);
}
