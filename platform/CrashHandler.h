#pragma once
// The program's crash handler: a fatal signal (SEGV, BUS, FPE, ILL, ABRT)
// or std::terminate writes a text report into the dump folder, named by the
// time and the process id, and the signal is then raised again so the
// process ends as it would have without the handler (core file, exit status).
//
// The report holds the signal, its code and fault address, the thread, a
// backtrace and /proc/self/maps. Only async-signal-safe calls are made on
// the way; the handler runs on an alternate signal stack, so a stack
// overflow is reported too.
#include <string>

// Installs the handler (once per process; later calls only change the
// folder). The folder is made when missing; when it cannot be, the handler
// is installed anyway and a report that cannot be written is dropped.
void InstallCrashHandler(const std::string& dumpFolder);

// The report file name a crash at this moment would get (without folder):
// "YYYYMMDD-HHMMSS-<pid>.txt", local time as of the handler's installation.
std::string CrashReportName(long long unixSeconds, int pid);

// An alternate signal stack for the calling thread while the object lives.
// A thread without one cannot report a stack overflow.
class ThreadSignalStack {
 public:
  ThreadSignalStack();
  ~ThreadSignalStack();
  ThreadSignalStack(const ThreadSignalStack&) = delete;
  ThreadSignalStack& operator=(const ThreadSignalStack&) = delete;

 private:
  void* stack_ = nullptr;
  unsigned long size_ = 0;
  bool installed_ = false;
};
