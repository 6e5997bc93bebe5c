#include "ixolink/IxoNotice.h"

#include <mutex>

#include "core/Log.h"

namespace {
std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
IxoNoticeHook& Hook() {
  static IxoNoticeHook h;
  return h;
}
}  // namespace

void SetIxoNoticeHook(IxoNoticeHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  Hook() = std::move(hook);
}

void IxoNotice(const std::string& text) {
  IxoNoticeHook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = Hook();
  }
  if (hook)
    hook(text);
  else
    LogError("%s", text.c_str());
}
