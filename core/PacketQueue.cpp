#include "core/PacketQueue.h"

PacketQueue::PacketQueue() { pthread_mutex_init(&mutex, nullptr); }

PacketQueue::~PacketQueue() {
  Clear();
  pthread_mutex_destroy(&mutex);
}

void PacketQueue::Push(IoBuffer* packet) {
  if (packet == nullptr) return;
  pthread_mutex_lock(&mutex);
  list.push_back(packet);
  count.store(static_cast<int>(list.size()), std::memory_order_relaxed);
  pthread_mutex_unlock(&mutex);
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
