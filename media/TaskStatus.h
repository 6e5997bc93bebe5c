#pragma once
// The state block of one task output, as the console and the Ixo pull
// handler see it.
#include <cstdint>
#include <list>
#include <string>

struct TaskStatus {
  // Current bit rate in kbit/s (1024 bits), the output's three-second average.
  int rate = 0;
  // 0 not running (the block given for a task without output), 1 idle,
  // 2 running, 3 failed, 4 waiting for the stream or buffering.
  int state = 0;
  // Last error text, "" when none.
  std::string message;
  // Buffered milliseconds: newest pushed timestamp minus that of the oldest
  // packet still queued; 0 when the queue is empty.
  int delay = 0;
  // Size in bytes of the record file; -1 when there is no such file.
  int64_t fileSize = 0;
  // Delay slice files waiting to be played, oldest first.
  std::list<std::string> sliceList;
};

enum TaskState {
  kTaskNotRunning = 0,
  kTaskIdle = 1,
  kTaskRunning = 2,
  kTaskFailed = 3,
  kTaskWaiting = 4,
};
