// The entry point pthread_create takes, for a thread that runs one member
// function of the object it is handed.
#pragma once

template <class T, void (T::*Loop)()>
void* ThreadEntry(void* self) {
  (static_cast<T*>(self)->*Loop)();
  return nullptr;
}
