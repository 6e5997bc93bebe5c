#pragma once
// FIFO hand-off of IoBuffer packets between threads; owns what it holds.
// A consumer with nothing to take waits on the queue: a push, a Wake or its
// own running flag turning false ends the wait at once.
#include <atomic>
#include <cstdint>
#include <deque>
#include <pthread.h>

#include "core/IoBuffer.h"

class PacketQueue {
 public:
  PacketQueue();
  ~PacketQueue();
  PacketQueue(const PacketQueue&) = delete;
  PacketQueue& operator=(const PacketQueue&) = delete;

  void Push(IoBuffer* packet);
  IoBuffer* Pop();
  // The front packet stays owned by the queue; only its consumer may use it.
  IoBuffer* Front();
  // A snapshot for pacing and statistics; safe from any thread.
  int Size() const { return count.load(std::memory_order_relaxed); }
  void Clear();

  // Waits up to ms for the queue to hold a packet. Ends early when one is
  // pushed, when running reads false (whoever clears it calls Wake after),
  // or on Wake. True when a packet is queued.
  bool WaitFor(int64_t ms, const std::atomic<bool>& running);
  // Pushes so far; with WaitForPush a consumer that holds back a queued
  // packet waits for the next one.
  uint64_t PushCount() const { return pushes.load(std::memory_order_acquire); }
  // Waits up to ms for a push after the first seen pushes, ending early as
  // WaitFor does. True when there was such a push.
  bool WaitForPush(int64_t ms, uint64_t seen, const std::atomic<bool>& running);
  // Ends every wait in progress at once.
  void Wake();

 private:
  template <class Ready>
  bool Wait(int64_t ms, const std::atomic<bool>& running, Ready ready);

  std::deque<IoBuffer*> list;
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  std::atomic<int> count{0};
  std::atomic<uint64_t> pushes{0};
  uint64_t wakes = 0;  // under mutex
  int waiters = 0;     // under mutex
};
