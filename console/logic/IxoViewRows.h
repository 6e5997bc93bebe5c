#pragma once
// The rows of the Ixo pull list (relay outputs the Ixo media server pulls)
// and of the Ixo transfer list (its transcoding sessions), built from value
// snapshots of the live-channel manager.
#include <functional>
#include <string>
#include <vector>

#include "media/LiveChannelManager.h"
#include "media/TaskStatus.h"

namespace ixoview {

using Row = std::vector<std::string>;

struct Column {
  const char* title;
  int width;
};
// "序号" 50, "拉流URL" 250, "码率(B/S)" 100, "状态" 100.
const std::vector<Column>& PullColumns();
// "序号" 50, "传输码率(B/S)" 150, "分辨率" 150, "帧率" 150, "转换码率" 150.
const std::vector<Column>& TransferColumns();

// One row per relay output: (channel place + 1) x (output place + 1), the
// input's url, and from the output's state: running gives "%dKB/S" and
// "正在拉流", anything else "0KB/S" and "拉流失败".
std::vector<Row> PullRows(const std::vector<CLiveChannelManager::RelayRow>& relays,
                          const std::function<TaskStatus(uint32_t outputId)>& find);
// One row per session: its number from 1, "%dK" transfer rate, "%dx%d",
// frame rate, target bit rate.
std::vector<Row> TransferRows(const std::vector<CLiveChannelManager::SessionRow>& sessions);

// The rows of the running engine: the snapshot is taken under the manager's
// lock, the output states are asked afterwards (FindItem takes its own).
std::vector<Row> PullRowsOf(CLiveChannelManager& manager);
std::vector<Row> TransferRowsOf(CLiveChannelManager& manager);

}  // namespace ixoview
