#pragma once
// FIFO hand-off of IoBuffer packets between threads; owns what it holds.
#include <atomic>
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

 private:
  std::deque<IoBuffer*> list;
  pthread_mutex_t mutex;
  std::atomic<int> count{0};
};
