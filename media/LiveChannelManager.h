#pragma once
// The one entry to the live media engine: starts and stops forward, record,
// live and Ixo pull tasks on request, owns the tree of inputs, channels and
// outputs they run on, runs the weekly recording schedule, ticks the
// per-second statistics and keeps the transcoding sessions.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/RowRecords.h"
#include "core/WakeEvent.h"
#include "media/TaskRequestQueue.h"
#include "media/TaskStatus.h"
#include "media/TranscodeSession.h"

class CLiveSource;
class StreamChannel;
class StreamOutput;
struct LocalTime;

// Task kinds of requests, StopTask and FindItem.
enum TaskKind : uint32_t {
  TASK_FORWARD = 1,  // forward_task row, published to its forward_url
  TASK_RECORD = 2,   // record_task row, recorded to files
  TASK_LIVE = 3,     // a live item published to its own live_url
  TASK_IXO_PULL = 4  // IXOPull row, relayed to the Ixo media server
};

// The transcoding settings a pull asks for, as the sub-stream record its
// channel is built from (the row counts audio channels, the record holds
// the stereo choice). False, and out untouched, when the pull asks for
// neither video nor audio transcoding: it then passes the stream through.
bool PullTranscodeSettings(const IxoPullInfo& pull, SubStreamInfo& out);

class CLiveChannelManager : public ITranscodeSessionOwner {
 public:
  // Built with its statistics, schedule and request threads on first use.
  static CLiveChannelManager* Instance();

  // Hands a request to the request thread (ownership passes). At most one
  // request per id is pending: the same request again is dropped, any other
  // replaces the pending one.
  void PostRequest(TaskRequest* request);
  void RemoveRequest(uint32_t id);

  // Builds the input, channel and output a task needs (reusing the input of
  // the url and the channel of the live id); a running output of the same
  // task is replaced. record: the task's row record (ForwardTaskInfo,
  // RecordTaskInfo, LiveStatusInfo or IxoPullInfo by kind); transcode: the
  // sub-stream settings for a channel of type 4. Always true: the input
  // opens later, and its outcome shows through FindItem.
  bool StartTask(uint32_t kind, LiveSourceType type, const std::string& url, uint32_t taskId, uint32_t liveId,
                 void* record, SubStreamInfo* transcode);
  // Stops the running output of that task id and kind wherever it runs, even
  // when its row is gone; an emptied channel and input are closed. The third
  // argument has no effect.
  void StopTask(uint32_t id, uint32_t kind, uint32_t third = 0);
  // The state of the output of that task; the default block (state 0) when
  // none runs, and always for kind 3.
  TaskStatus FindItem(uint32_t id, uint32_t kind);
  // Builds the output of a task on a channel (replacing one with the same
  // task id); false for a null channel or an unknown kind.
  bool AttachOutput(uint32_t taskId, uint32_t kind, StreamChannel* channel, void* record);

  // Transcoding sessions: one per accepted transfer connection. Past the
  // bound a connection is closed at once (and logged).
  void AddTranscodeSession(int socket);
  static constexpr int kMaxTranscodeSessions = 64;
  void SetMaxTranscodeSessions(int n) { maxSessions = n; }
  // Called by a session's own thread at its very end: the session is taken
  // off the list and deleted.
  void RemoveTranscodeSession(CTranscodeSession* session) override;

  // The recording schedule (record tasks whose recordType is 0).
  void AddSchedule(uint32_t id, RecordTaskInfo* record);
  void SetScheduleType(uint32_t id, const RecordTaskInfo* record);
  void RemoveSchedule(uint32_t id);
  // One pass of the schedule at the given local time; the schedule thread
  // runs it once a second with the recording clock.
  void RunSchedulePass(const LocalTime& now);

  // Camera URLs ("://HK") resolved through the camera vendor's service.
  static bool IsCameraUrl(const std::string& url);
  static bool ResolveCameraUrl(std::string& out, const std::string& url);

  // Value copies of what the console's Ixo lists show, taken under the
  // item mutex; nothing in them points into the engine.
  struct RelayRow {
    std::string url;        // the input's key in the source map
    int channelPos = 0;     // the channel's place among the input's channels, from 0
    int outputPos = 0;      // the output's place among the channel's relay outputs, from 0
    uint32_t outputId = 0;  // the relay output's task id (the Ixo pull id)
  };
  // Every relay output, by input (source map order), channel (live id
  // order) and output (task id order).
  std::vector<RelayRow> SnapshotRelays();
  struct SessionRow {
    int rate = 0;       // transfer rate, kbit/s over the last three seconds
    int width = 0;      // what the session's header asked for
    int height = 0;
    int frameRate = 0;
    int bitRate = 0;
  };
  // Every running transcoding session, in the session set's order.
  std::vector<SessionRow> SnapshotSessions();

  // Counts for diagnostics and tests.
  int SourceCount();
  int SessionCount();
  bool HasPendingRequests() const { return !pending.Empty(); }

  ~CLiveChannelManager() override;
  CLiveChannelManager(const CLiveChannelManager&) = delete;
  CLiveChannelManager& operator=(const CLiveChannelManager&) = delete;

 private:
  CLiveChannelManager();

  // Where a task's output runs. The manager builds and removes every
  // output, so it keeps this index beside the tree (under the item mutex).
  struct Location {
    std::string url;
    CLiveSource* source = nullptr;
    StreamChannel* channel = nullptr;
    uint32_t liveId = 0;
    StreamOutput* output = nullptr;
    bool removing = false;  // being deleted outside the item mutex
    TaskStatus last;        // the last state FindItem read
  };
  static uint64_t OutputKey(uint32_t id, uint32_t kind);
  StreamOutput* BuildOutput(uint32_t taskId, uint32_t kind, StreamChannel* channel, void* record);

  static void* StatsThreadStart(void* self);
  static void* ScheduleThreadStart(void* self);
  static void* RequestThreadStart(void* self);
  void StatsThread();
  void ScheduleThread();
  void RequestThread();
  bool HandleStart(const TaskRequest& request);
  void SleepWhileRunning(int ms);
  // Ends the three threads and takes the whole tree down (once).
  void Shutdown();

  // Under the item mutex: where the output of a task runs.
  bool FindOutputLocked(uint32_t id, uint32_t kind, Location* where);
  // With the change mutex held: marks the task's output as going under the
  // item mutex, then deletes it (joining its threads) without it.
  bool DetachOutput(uint32_t id, uint32_t kind);
  // Under the item mutex: the channel of liveId on the input of url goes if
  // it has no outputs left, and the input too if it has no channels left;
  // a removed input is returned, to be stopped and deleted outside the locks.
  CLiveSource* DropEmptyLocked(const std::string& url, uint32_t liveId);
  static void DisposeSource(CLiveSource* source);

  // Order of locks: change mutex, item mutex, a source's, a channel's.
  pthread_mutex_t changeMutex;  // serialises StartTask and StopTask
  std::map<std::string, CLiveSource*> sources;
  std::map<uint64_t, Location> outputs;
  pthread_mutex_t itemMutex;
  std::map<CTranscodeSession*, int> sessions;
  std::atomic<int> maxSessions{kMaxTranscodeSessions};
  std::map<uint32_t, RecordTaskInfo*> schedule;
  pthread_mutex_t scheduleMutex;
  std::atomic<bool> stopFlag{false};
  // Cuts the timed sleeps short at the stop; wakes the request thread on a
  // posted request and the stop on the last session's end.
  WakeEvent stopWake;
  WakeEvent requestWake;
  WakeEvent sessionWake;
  TaskRequestQueue pending;
  pthread_t statsThread{};
  pthread_t scheduleThread{};
  pthread_t requestThread{};
  bool statsStarted = false;
  bool scheduleStarted = false;
  bool requestStarted = false;
};
