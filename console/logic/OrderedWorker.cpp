#include "console/logic/OrderedWorker.h"

#include <utility>

COrderedWorker::COrderedWorker(Poster poster) : poster_(std::move(poster)) {
  thread_ = std::thread([this] { Loop(); });
}

COrderedWorker::~COrderedWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void COrderedWorker::Run(Task job, Task report) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.emplace_back(std::move(job), std::move(report));
  }
  wake_.notify_all();
}

void COrderedWorker::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

void COrderedWorker::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (jobs_.empty()) break;  // stopping, and nothing left to run
    std::pair<Task, Task> next = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    if (next.first) next.first();
    if (next.second && poster_) poster_(std::move(next.second));
    lock.lock();
    busy_ = false;
    if (jobs_.empty()) idle_.notify_all();
  }
  idle_.notify_all();
}
