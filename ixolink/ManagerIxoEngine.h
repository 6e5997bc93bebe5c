#pragma once
// The Ixo link's engine over the program's database manager and live-channel
// manager.
#include "ixolink/IxoEngine.h"

class ManagerIxoEngine : public IxoEngine {
 public:
  bool InsertPull(const IxoPullInfo& row, int& newId) override;
  bool DeletePull(int pullId) override;
  void DeleteAllPulls() override;
  int GetLiveType(int id) override;
  void StartPull(int liveType, const std::string& url, int pullId, IxoPullInfo& row, SubStreamInfo& transcode) override;
  void StopPull(int pullId) override;
  IxoPullState FindPull(int pullId) override;
  void AddTranscodeSession(int socket) override;
};
