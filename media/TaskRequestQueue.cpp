#include "media/TaskRequestQueue.h"

TaskRequestQueue::TaskRequestQueue() { pthread_mutex_init(&mutex, nullptr); }

TaskRequestQueue::~TaskRequestQueue() {
  for (auto& kv : pending) delete kv.second.request;
  pthread_mutex_destroy(&mutex);
}

void TaskRequestQueue::Post(TaskRequest* request) {
  if (!request) return;
  TaskRequest* dropped = nullptr;
  pthread_mutex_lock(&mutex);
  auto it = pending.find(request->id);
  if (it == pending.end()) {
    pending[request->id] = Entry{request, nextSerial++};
  } else if (it->second.request->kind == request->kind && it->second.request->start == request->start) {
    dropped = request;
  } else {
    dropped = it->second.request;
    it->second = Entry{request, nextSerial++};
  }
  pthread_mutex_unlock(&mutex);
  delete dropped;
}

void TaskRequestQueue::Remove(uint32_t id) {
  TaskRequest* dropped = nullptr;
  pthread_mutex_lock(&mutex);
  auto it = pending.find(id);
  if (it != pending.end()) {
    dropped = it->second.request;
    pending.erase(it);
  }
  pthread_mutex_unlock(&mutex);
  delete dropped;
}

void TaskRequestQueue::Done(uint32_t id, uint64_t serial) {
  TaskRequest* dropped = nullptr;
  pthread_mutex_lock(&mutex);
  auto it = pending.find(id);
  if (it != pending.end() && it->second.serial == serial) {
    dropped = it->second.request;
    pending.erase(it);
  }
  pthread_mutex_unlock(&mutex);
  delete dropped;
}

bool TaskRequestQueue::IsCurrent(uint32_t id, uint64_t serial) const {
  pthread_mutex_lock(&mutex);
  auto it = pending.find(id);
  bool current = it != pending.end() && it->second.serial == serial;
  pthread_mutex_unlock(&mutex);
  return current;
}

std::vector<TaskRequestQueue::Pending> TaskRequestQueue::Snapshot() const {
  std::vector<Pending> out;
  pthread_mutex_lock(&mutex);
  out.reserve(pending.size());
  for (const auto& kv : pending) out.push_back(Pending{*kv.second.request, kv.second.serial});
  pthread_mutex_unlock(&mutex);
  return out;
}

bool TaskRequestQueue::Empty() const {
  pthread_mutex_lock(&mutex);
  bool empty = pending.empty();
  pthread_mutex_unlock(&mutex);
  return empty;
}
