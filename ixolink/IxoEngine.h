#pragma once
// What the Ixo link needs from the database and the live media engine. The
// link talks to the engine only through this interface, so the command
// protocol can be driven against a stand-in as well as the real manager.
#include <string>

#include "core/RowRecords.h"

// The state of a pull's relay output as the manager reports it: 0 no such
// output, 1 idle, 2 running, 3 failed, 4 waiting; message is the failure text.
struct IxoPullState {
  int state = 0;
  std::string message;
};

class IxoEngine {
 public:
  virtual ~IxoEngine() = default;

  // IXOPull rows.
  virtual bool InsertPull(const IxoPullInfo& row, int& newId) = 0;
  virtual bool DeletePull(int pullId) = 0;
  virtual void DeleteAllPulls() = 0;
  // The live item type the database manager holds for an id (0 if none).
  virtual int GetLiveType(int id) = 0;

  // Kind-4 tasks of the live-channel manager.
  virtual void StartPull(int liveType, const std::string& url, int pullId, IxoPullInfo& row,
                         SubStreamInfo& transcode) = 0;
  virtual void StopPull(int pullId) = 0;
  virtual IxoPullState FindPull(int pullId) = 0;

  // Hands an accepted transfer connection over; the engine owns it after.
  virtual void AddTranscodeSession(int socket) = 0;
};

// The program's engine over CDatabaseManager and CLiveChannelManager.
IxoEngine* DefaultIxoEngine();
