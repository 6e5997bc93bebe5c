// The entry point pthread_create takes, for a thread that runs one member
// function of the object it is handed.
#pragma once

#include "platform/CrashHandler.h"

template <class T, void (T::*Loop)()>
void* ThreadEntry(void* self) {
  // An alternate signal stack, so that a crash on this thread (a stack
  // overflow too) is still reported.
  ThreadSignalStack signalStack;
  (static_cast<T*>(self)->*Loop)();
  return nullptr;
}
