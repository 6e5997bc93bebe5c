#pragma once
// Messages for the operator raised on the link's own threads (missing
// settings, a listener that cannot start). The console installs a hook that
// shows them on its own thread; until one is installed they go to the log.
#include <functional>
#include <string>

using IxoNoticeHook = std::function<void(const std::string& text)>;

// Installs the hook (an empty one restores logging). The hook is called on
// the thread that raised the notice and must not block for long.
void SetIxoNoticeHook(IxoNoticeHook hook);

void IxoNotice(const std::string& text);
