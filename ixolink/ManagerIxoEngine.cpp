#include "ixolink/ManagerIxoEngine.h"

#include <cstdint>

#include "core/DatabaseManager.h"
#include "media/LiveChannelManager.h"
#include "media/TaskStatus.h"

bool ManagerIxoEngine::InsertPull(const IxoPullInfo& row, int& newId) {
  return CDatabaseManager::Instance().InsertIxoPull(row, newId);
}

bool ManagerIxoEngine::DeletePull(int pullId) { return CDatabaseManager::Instance().DeleteIxoPull(pullId); }

void ManagerIxoEngine::DeleteAllPulls() { CDatabaseManager::Instance().DeleteAllIxoPull(); }

int ManagerIxoEngine::GetLiveType(int id) { return CDatabaseManager::Instance().GetLiveType(id); }

void ManagerIxoEngine::StartPull(int liveType, const std::string& url, int pullId, IxoPullInfo& row,
                                 SubStreamInfo& transcode) {
  CLiveChannelManager::Instance()->StartTask(TASK_IXO_PULL, liveType, url, static_cast<uint32_t>(pullId),
                                             static_cast<uint32_t>(pullId), &row, &transcode);
}

void ManagerIxoEngine::StopPull(int pullId) {
  CLiveChannelManager::Instance()->StopTask(static_cast<uint32_t>(pullId), TASK_IXO_PULL, 0);
}

IxoPullState ManagerIxoEngine::FindPull(int pullId) {
  TaskStatus s = CLiveChannelManager::Instance()->FindItem(static_cast<uint32_t>(pullId), TASK_IXO_PULL);
  IxoPullState out;
  out.state = s.state;
  out.message = s.message;
  return out;
}

void ManagerIxoEngine::AddTranscodeSession(int socket) { CLiveChannelManager::Instance()->AddTranscodeSession(socket); }

IxoEngine* DefaultIxoEngine() {
  static ManagerIxoEngine engine;
  return &engine;
}
