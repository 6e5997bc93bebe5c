#pragma once
// One worker thread that runs the console's engine calls that may block
// (stopping a task joins its threads and finishes its file; the live-list
// query waits on the network) in the order they were handed in, away from
// the window thread. When a job has a report, the report is handed to the
// poster after the job, and the poster delivers it on the window thread.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class COrderedWorker {
 public:
  using Task = std::function<void()>;
  // Delivers a report to the window thread (a queued call in the program).
  using Poster = std::function<void(Task)>;

  explicit COrderedWorker(Poster poster);
  // Runs the jobs still queued, then ends the thread. Reports of those jobs
  // still go to the poster.
  ~COrderedWorker();
  COrderedWorker(const COrderedWorker&) = delete;
  COrderedWorker& operator=(const COrderedWorker&) = delete;

  // Queues job; after it ran, report (when given) goes to the poster.
  void Run(Task job, Task report = {});
  // Blocks until every job queued so far has run.
  void WaitIdle();

 private:
  void Loop();

  Poster poster_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::pair<Task, Task>> jobs_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;
};

// A guard that reports capture to find out whether the object that queued
// them still exists when they are delivered (both live on the window thread).
class CAliveToken {
 public:
  CAliveToken() : alive_(std::make_shared<bool>(true)) {}
  std::weak_ptr<bool> Watch() const { return alive_; }

 private:
  std::shared_ptr<bool> alive_;
};
