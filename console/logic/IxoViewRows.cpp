#include "console/logic/IxoViewRows.h"

#include <cstdio>

namespace ixoview {

namespace {
std::string Format(const char* format, int a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, a);
  return buf;
}
}  // namespace

const std::vector<Column>& PullColumns() {
  static const std::vector<Column> columns = {{"序号", 50}, {"拉流URL", 250}, {"码率(B/S)", 100}, {"状态", 100}};
  return columns;
}

const std::vector<Column>& TransferColumns() {
  static const std::vector<Column> columns = {
      {"序号", 50}, {"传输码率(B/S)", 150}, {"分辨率", 150}, {"帧率", 150}, {"转换码率", 150}};
  return columns;
}

std::vector<Row> PullRows(const std::vector<CLiveChannelManager::RelayRow>& relays,
                          const std::function<TaskStatus(uint32_t outputId)>& find) {
  std::vector<Row> rows;
  rows.reserve(relays.size());
  for (const auto& r : relays) {
    TaskStatus status = find(r.outputId);
    bool running = status.state == kTaskRunning;
    rows.push_back({Format("%d", (r.channelPos + 1) * (r.outputPos + 1)), r.url,
                    running ? Format("%dKB/S", status.rate) : std::string("0KB/S"),
                    running ? std::string("正在拉流") : std::string("拉流失败")});
  }
  return rows;
}

std::vector<Row> TransferRows(const std::vector<CLiveChannelManager::SessionRow>& sessions) {
  std::vector<Row> rows;
  rows.reserve(sessions.size());
  int n = 0;
  for (const auto& s : sessions) {
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", s.width, s.height);
    rows.push_back({Format("%d", ++n), Format("%dK", s.rate), size, Format("%d", s.frameRate),
                    Format("%d", s.bitRate)});
  }
  return rows;
}

std::vector<Row> PullRowsOf(CLiveChannelManager& manager) {
  std::vector<CLiveChannelManager::RelayRow> relays = manager.SnapshotRelays();
  return PullRows(relays, [&manager](uint32_t id) { return manager.FindItem(id, TASK_IXO_PULL); });
}

std::vector<Row> TransferRowsOf(CLiveChannelManager& manager) { return TransferRows(manager.SnapshotSessions()); }

}  // namespace ixoview
