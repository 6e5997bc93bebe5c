#include "core/PacketQueue.h"

#include "core/WakeEvent.h"

PacketQueue::PacketQueue() {
  pthread_mutex_init(&mutex, nullptr);
  wake::InitMonotonicCond(&cond);
}

PacketQueue::~PacketQueue() {
  Clear();
  pthread_cond_destroy(&cond);
  pthread_mutex_destroy(&mutex);
}

void PacketQueue::Push(IoBuffer* packet) {
  if (packet == nullptr) return;
  pthread_mutex_lock(&mutex);
  list.push_back(packet);
  count.store(static_cast<int>(list.size()), std::memory_order_relaxed);
  pushes.fetch_add(1, std::memory_order_release);
  const bool anyWaiter = waiters > 0;
  pthread_mutex_unlock(&mutex);
  // Woken after the lock is released, so the consumer does not wake only
  // to wait again for the mutex the producer still holds. The packet was
  // queued under the lock, so a consumer that is about to wait sees it.
  if (anyWaiter) pthread_cond_broadcast(&cond);
}

IoBuffer* PacketQueue::Pop() {
  pthread_mutex_lock(&mutex);
  IoBuffer* p = nullptr;
  if (!list.empty()) {
    p = list.front();
    list.pop_front();
    count.store(static_cast<int>(list.size()), std::memory_order_relaxed);
  }
  pthread_mutex_unlock(&mutex);
  return p;
}

IoBuffer* PacketQueue::Front() {
  pthread_mutex_lock(&mutex);
  IoBuffer* p = list.empty() ? nullptr : list.front();
  pthread_mutex_unlock(&mutex);
  return p;
}

void PacketQueue::Clear() {
  pthread_mutex_lock(&mutex);
  while (!list.empty()) {
    IoBuffer* p = list.front();
    list.pop_front();
    delete p;
  }
  count.store(0, std::memory_order_relaxed);
  pthread_mutex_unlock(&mutex);
}

template <class Ready>
bool PacketQueue::Wait(int64_t ms, const std::atomic<bool>& running, Ready ready) {
  timespec deadline = wake::DeadlineAfter(ms);
  pthread_mutex_lock(&mutex);
  const uint64_t wakesAtStart = wakes;
  ++waiters;
  while (!ready() && running.load() && wakes == wakesAtStart) {
    if (pthread_cond_timedwait(&cond, &mutex, &deadline) != 0) break;  // timed out
  }
  --waiters;
  bool r = ready();
  pthread_mutex_unlock(&mutex);
  return r;
}

bool PacketQueue::WaitFor(int64_t ms, const std::atomic<bool>& running) {
  return Wait(ms, running, [this] { return !list.empty(); });
}

bool PacketQueue::WaitForPush(int64_t ms, uint64_t seen, const std::atomic<bool>& running) {
  return Wait(ms, running, [this, seen] { return pushes.load(std::memory_order_relaxed) != seen; });
}

void PacketQueue::Wake() {
  pthread_mutex_lock(&mutex);
  ++wakes;
  pthread_cond_broadcast(&cond);
  pthread_mutex_unlock(&mutex);
}
