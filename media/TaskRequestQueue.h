#pragma once
// Pending start and stop requests of the live-channel manager: at most one
// per id, handed to the request thread as copies so a request replaced or
// removed meanwhile is never touched, and removed after handling only when
// nothing newer arrived for its id.
#include <pthread.h>

#include <cstdint>
#include <map>
#include <vector>

struct TaskRequest {
  TaskRequest() = default;
  TaskRequest(uint32_t id_, uint32_t kind_, uint8_t start_) : id(id_), kind(kind_), start(start_) {}
  uint32_t id = 0;
  uint32_t kind = 0;   // 1 forward task, 2 record task, 3 live item, 4 Ixo pull
  uint8_t start = 0;   // 1 start, 0 stop
};

class TaskRequestQueue {
 public:
  struct Pending {
    TaskRequest request;
    uint64_t serial = 0;  // tells a request from a later one for the same id
  };

  TaskRequestQueue();
  ~TaskRequestQueue();
  TaskRequestQueue(const TaskRequestQueue&) = delete;
  TaskRequestQueue& operator=(const TaskRequestQueue&) = delete;

  // Takes ownership. No request pending for the id: stored. One with the same
  // kind and start flag: the new one is dropped. Otherwise the new one
  // replaces the pending one. Null is ignored.
  void Post(TaskRequest* request);
  // Drops the pending request of the id, if any.
  void Remove(uint32_t id);
  // Drops the pending request of the id only if it is still the one handed out.
  void Done(uint32_t id, uint64_t serial);
  // True while the request handed out with this serial is still pending.
  bool IsCurrent(uint32_t id, uint64_t serial) const;
  // Copies of all pending requests, in id order.
  std::vector<Pending> Snapshot() const;
  bool Empty() const;

 private:
  struct Entry {
    TaskRequest* request;
    uint64_t serial;
  };
  mutable pthread_mutex_t mutex;
  std::map<uint32_t, Entry> pending;
  uint64_t nextSerial = 1;
};
