#include "media/LiveChannelManager.h"

#include <unistd.h>

#include <cstdlib>

#include <set>
#include <vector>

#include "core/DatabaseManager.h"
#include "core/Log.h"
#include "media/CameraUrl.h"
#include "media/LiveSource.h"
#include "media/RelayLink.h"
#include "media/StreamChannel.h"
#include "media/StreamOutput.h"
#include "media/TranscodeSession.h"

namespace {

// Returned for tasks without a running output: every field zero or empty.
const TaskStatus& DefaultStatus() {
  static const TaskStatus status{};
  return status;
}

// The output mode of a task kind.
int ModeOfKind(uint32_t kind) {
  switch (kind) {
    case TASK_FORWARD:
    case TASK_LIVE: return 0;
    case TASK_IXO_PULL: return 1;
    case TASK_RECORD: return 2;
    default: return -1;
  }
}

// Kind by which a channel looks an output up: live items are stream outputs
// like forward tasks.
uint32_t LookupKind(uint32_t kind) { return kind == TASK_LIVE ? TASK_FORWARD : kind; }

}  // namespace

bool PullTranscodeSettings(const IxoPullInfo& pull, SubStreamInfo& sub) {
  if (!pull.videoTransfer && !pull.audioTransfer) return false;
  sub.useVideo = pull.videoTransfer;
  sub.vFormat = pull.vFormat;
  sub.vColor = pull.vColor;
  sub.width = pull.width;
  sub.height = pull.height;
  sub.vBitRate = pull.vBitRate;
  sub.frameRate = pull.frameRate;
  sub.gop = pull.gop;
  sub.useAudio = pull.audioTransfer;
  sub.aFormat = pull.aFormat;
  sub.sampleRate = pull.sampleRate;
  sub.aBitRate = pull.aBitRate;
  // The row stores 2 for stereo; the record's choice is 0 mono, 1 stereo.
  sub.aChannel = pull.aChannel >= 2 ? 1 : 0;
  return true;
}

// Live items and forward tasks are both publishing outputs; their ids never
// meet (one id space), so each task is known by its id and output mode.
uint64_t CLiveChannelManager::OutputKey(uint32_t id, uint32_t kind) {
  return (static_cast<uint64_t>(ModeOfKind(kind) + 1) << 32) | id;
}

namespace {
CLiveChannelManager* theManager = nullptr;
}  // namespace

CLiveChannelManager* CLiveChannelManager::Instance() {
  // The database manager is made first: its destructor then runs after the
  // exit handler below, which ends the manager's threads.
  static CDatabaseManager* database = &CDatabaseManager::Instance();
  static CLiveChannelManager* manager = [] {
    (void)database;
    auto* m = new CLiveChannelManager();
    theManager = m;
    // A relay whose client went away asks for its pull to be stopped; the
    // request thread does it (the relay thread cannot join itself).
    SetRelayEndedHandler([m](int taskId) {
      m->PostRequest(new TaskRequest(static_cast<uint32_t>(taskId), TASK_IXO_PULL, 0));
    });
    m->statsStarted = pthread_create(&m->statsThread, nullptr, StatsThreadStart, m) == 0;
    m->scheduleStarted = pthread_create(&m->scheduleThread, nullptr, ScheduleThreadStart, m) == 0;
    m->requestStarted = pthread_create(&m->requestThread, nullptr, RequestThreadStart, m) == 0;
    // At exit the threads end and the tree is taken down before the static
    // objects they use (the database manager, the log) are destroyed.
    atexit([] { theManager->Shutdown(); });
    return m;
  }();
  return manager;
}

CLiveChannelManager::CLiveChannelManager() {
  // Recursive: the request thread holds it around a whole start, which
  // takes it again inside StartTask.
  pthread_mutexattr_t recursive;
  pthread_mutexattr_init(&recursive);
  pthread_mutexattr_settype(&recursive, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&changeMutex, &recursive);
  pthread_mutexattr_destroy(&recursive);
  pthread_mutex_init(&itemMutex, nullptr);
  pthread_mutex_init(&scheduleMutex, nullptr);
}

CLiveChannelManager::~CLiveChannelManager() {
  Shutdown();
  for (auto& kv : schedule) delete kv.second;
  schedule.clear();
  pthread_mutex_destroy(&scheduleMutex);
  pthread_mutex_destroy(&itemMutex);
  pthread_mutex_destroy(&changeMutex);
}

void CLiveChannelManager::Shutdown() {
  if (stopFlag.exchange(true)) return;
  stopWake.Notify();
  requestWake.Notify();
  SetRelayEndedHandler(nullptr);
  if (statsStarted) pthread_join(statsThread, nullptr);
  if (scheduleStarted) pthread_join(scheduleThread, nullptr);
  if (requestStarted) pthread_join(requestThread, nullptr);
  statsStarted = scheduleStarted = requestStarted = false;
  pthread_mutex_lock(&changeMutex);
  pthread_mutex_lock(&itemMutex);
  std::map<std::string, CLiveSource*> left;
  left.swap(sources);
  outputs.clear();
  pthread_mutex_unlock(&itemMutex);
  for (auto& kv : left) DisposeSource(kv.second);
  pthread_mutex_unlock(&changeMutex);
  // Sessions end on their own threads and take themselves off the list.
  pthread_mutex_lock(&itemMutex);
  for (auto& kv : sessions) kv.first->Stop();
  pthread_mutex_unlock(&itemMutex);
  const int64_t sessionsDeadline = wake::MonotonicMs() + 5000;
  for (;;) {
    uint64_t seen = sessionWake.Count();
    int64_t left = sessionsDeadline - wake::MonotonicMs();
    if (SessionCount() == 0 || left <= 0) break;
    sessionWake.WaitFor(left, seen);
  }
}

void CLiveChannelManager::SleepWhileRunning(int ms) {
  const int64_t end = wake::MonotonicMs() + ms;
  for (;;) {
    uint64_t seen = stopWake.Count();
    int64_t left = end - wake::MonotonicMs();
    if (stopFlag || left <= 0) return;
    stopWake.WaitFor(left, seen);
  }
}

// ---------------------------------------------------------------- requests

void CLiveChannelManager::PostRequest(TaskRequest* request) {
  pending.Post(request);
  requestWake.Notify();
}

void CLiveChannelManager::RemoveRequest(uint32_t id) { pending.Remove(id); }

void* CLiveChannelManager::RequestThreadStart(void* self) {
  static_cast<CLiveChannelManager*>(self)->RequestThread();
  return nullptr;
}

void CLiveChannelManager::RequestThread() {
  while (!stopFlag) {
    uint64_t seen = requestWake.Count();
    // Copies: PostRequest may replace or drop any pending request meanwhile.
    std::vector<TaskRequestQueue::Pending> pass = pending.Snapshot();
    bool handledAny = false;
    for (const TaskRequestQueue::Pending& p : pass) {
      if (stopFlag) break;
      bool handled;
      if (!p.request.start) {
        StopTask(p.request.id, p.request.kind, 0);
        handled = true;
      } else {
        // A start withdrawn meanwhile (RemoveRequest, then StopTask) is not
        // run: under the change lock no StopTask falls between this check
        // and the start, so the stop that follows a withdrawal always wins.
        pthread_mutex_lock(&changeMutex);
        handled = pending.IsCurrent(p.request.id, p.serial) ? HandleStart(p.request) : true;
        pthread_mutex_unlock(&changeMutex);
      }
      if (handled) {
        // Only this request: one posted while it was handled stays pending.
        pending.Done(p.request.id, p.serial);
        handledAny = true;
      }
    }
    // Nothing to do, or only starts whose rows cannot be read yet.
    if (!handledAny && !stopFlag) requestWake.WaitFor(1000, seen);
  }
}

bool CLiveChannelManager::HandleStart(const TaskRequest& r) {
  CDatabaseManager& db = CDatabaseManager::Instance();
  SubStreamInfo sub;
  switch (r.kind) {
    case TASK_FORWARD: {
      ForwardTaskInfo task;
      if (!db.GetForwardTaskWithSource(task, r.id)) return false;
      LiveSourceType type = db.GetLiveType(task.live_id);
      if (type == LIVE_TYPE_SUBSTREAM && !db.GetSubStream(sub, task.live_id)) return false;
      return StartTask(TASK_FORWARD, type, task.url, r.id, task.live_id, &task,
                       type == LIVE_TYPE_SUBSTREAM ? &sub : nullptr);
    }
    case TASK_RECORD: {
      RecordTaskInfo task;
      if (!db.GetRecordTaskWithSource(task, r.id)) return false;
      LiveSourceType type = db.GetLiveType(task.live_id);
      if (type == LIVE_TYPE_SUBSTREAM && !db.GetSubStream(sub, task.live_id)) return false;
      return StartTask(TASK_RECORD, type, task.url, r.id, task.live_id, &task,
                       type == LIVE_TYPE_SUBSTREAM ? &sub : nullptr);
    }
    case TASK_LIVE: {
      LiveSourceType type = db.GetLiveType(r.id);
      LiveStatusInfo live;
      live.id = static_cast<int>(r.id);
      live.type = type;
      bool read = false;
      if (type == LIVE_TYPE_DEVICE) {
        DeviceSourceInfo d;
        if ((read = db.GetDeviceSource(d, r.id))) {
          live.url = d.url;
          live.live_url = d.live_url;
        }
      } else if (type == LIVE_TYPE_NET || type == LIVE_TYPE_FILE) {
        UrlSourceInfo u;
        if ((read = type == LIVE_TYPE_NET ? db.GetNetSource(u, r.id) : db.GetFileSource(u, r.id))) {
          live.url = u.url;
          live.live_url = u.live_url;
        }
      } else if (type == LIVE_TYPE_SUBSTREAM) {
        if ((read = db.GetSubStream(sub, r.id))) {
          live.url = sub.url;
          live.live_url = sub.live_url;
        }
      }
      // Without its row there is nothing to open or publish to: the request
      // stays pending like any other start whose row cannot be read.
      if (!read) return false;
      return StartTask(TASK_LIVE, type, live.url, r.id, r.id, &live, type == LIVE_TYPE_SUBSTREAM ? &sub : nullptr);
    }
    case TASK_IXO_PULL: {
      IxoPullInfo pull;
      if (!db.GetIxoPull(pull, r.id)) return false;
      LiveSourceType type = db.GetLiveType(r.id);
      // The pull's own settings build its channel, whatever the live type.
      bool transcode = PullTranscodeSettings(pull, sub);
      return StartTask(TASK_IXO_PULL, type, pull.url, r.id, r.id, &pull, transcode ? &sub : nullptr);
    }
    default: return false;
  }
}

// ---------------------------------------------------------------- the tree

bool CLiveChannelManager::FindOutputLocked(uint32_t id, uint32_t kind, Location* where) {
  auto it = outputs.find(OutputKey(id, kind));
  if (it == outputs.end() || it->second.removing) return false;
  *where = it->second;
  return true;
}

bool CLiveChannelManager::DetachOutput(uint32_t id, uint32_t kind) {
  // Marked under the item mutex: FindItem no longer answers for it.
  pthread_mutex_lock(&itemMutex);
  auto it = outputs.find(OutputKey(id, kind));
  bool found = it != outputs.end() && !it->second.removing;
  Location where;
  if (found) {
    it->second.removing = true;
    where = it->second;
  }
  pthread_mutex_unlock(&itemMutex);
  if (!found) return false;
  // Deleting the output joins its threads, which can take seconds (a
  // connect time-out, an MP4 trailer): no manager lock is held meanwhile,
  // and the channel's own mutex only while the output leaves its map, so
  // the siblings' packets, status and statistics go on.
  // The channel stays: callers hold the change mutex, so nothing else adds
  // or removes outputs, channels or inputs.
  where.channel->RemoveOutput(static_cast<int>(id), static_cast<int>(LookupKind(kind)));
  pthread_mutex_lock(&itemMutex);
  outputs.erase(OutputKey(id, kind));
  pthread_mutex_unlock(&itemMutex);
  return true;
}

CLiveSource* CLiveChannelManager::DropEmptyLocked(const std::string& url, uint32_t liveId) {
  auto it = sources.find(url);
  if (it == sources.end()) return nullptr;
  CLiveSource* source = it->second;
  StreamChannel* channel = source->GetOutput(static_cast<int>(liveId));
  // The source deletes a channel left without outputs (its threads poll in
  // milliseconds, so this is quick).
  if (channel && !channel->HasOutputs()) source->RemoveOutput(static_cast<int>(liveId), 0, TASK_FORWARD);
  if (source->GetOutputCount() > 0) return nullptr;
  sources.erase(it);
  return source;
}

void CLiveChannelManager::DisposeSource(CLiveSource* source) {
  if (!source) return;
  source->Stop();
  // CLiveSource is the most derived type here (nothing derives from it), so
  // its own destructor runs; the compiler cannot know that without "final".
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
  delete source;
#pragma GCC diagnostic pop
}

bool CLiveChannelManager::AttachOutput(uint32_t taskId, uint32_t kind, StreamChannel* channel, void* record) {
  return BuildOutput(taskId, kind, channel, record) != nullptr;
}

StreamOutput* CLiveChannelManager::BuildOutput(uint32_t taskId, uint32_t kind, StreamChannel* channel, void* record) {
  if (!channel) return nullptr;
  StreamOutput* output = nullptr;
  int type = StreamChannel::kStreamOutput;
  switch (kind) {
    case TASK_FORWARD: {
      auto* task = static_cast<ForwardTaskInfo*>(record);
      if (!task) return nullptr;
      output = new StreamOutput(static_cast<int>(taskId), task->forward_url, StreamOutput::kPublish,
                                task->buffer_enabled ? task : nullptr, nullptr);
      // A row the forward dialog would not have written (another tool edited
      // the database) is not run: the task shows as failed, with the reason.
      std::string problem = StreamOutput::ForwardDelayProblem(*task);
      if (!problem.empty()) {
        LogError("forward task %u: not started, delay settings refused (buffer_time %d, buffer_type %d, "
                 "slice_seconds %d): %s",
                 taskId, task->buffer_time, task->buffer_type, task->slice_seconds, problem.c_str());
        output->RefuseStart(problem);
      }
      break;
    }
    case TASK_RECORD: {
      auto* task = static_cast<RecordTaskInfo*>(record);
      if (!task) return nullptr;
      output = new StreamOutput(static_cast<int>(taskId), "", StreamOutput::kRecord, nullptr, task);
      type = StreamChannel::kRecordOutput;
      break;
    }
    case TASK_LIVE: {
      auto* live = static_cast<LiveStatusInfo*>(record);
      if (!live) return nullptr;
      output = new StreamOutput(static_cast<int>(taskId), live->live_url, StreamOutput::kPublish, nullptr, nullptr);
      break;
    }
    case TASK_IXO_PULL: {
      auto* pull = static_cast<IxoPullInfo*>(record);
      if (!pull) return nullptr;
      output = new StreamOutput(static_cast<int>(taskId), "", StreamOutput::kRelay, nullptr, nullptr);
      output->SetPort(pull->listenPort);
      break;
    }
    default: return nullptr;
  }
  if (type == StreamChannel::kRecordOutput) {
    channel->SetHasRecordOutputs(true);
  } else {
    channel->SetHasStreamOutputs(true);
  }
  // An output of the same task id still in the channel goes first.
  if (channel->HasOutput(static_cast<int>(taskId), static_cast<int>(LookupKind(kind))))
    channel->RemoveOutput(static_cast<int>(taskId), static_cast<int>(LookupKind(kind)));
  // A relay listens before StartTask returns, so the port the pull's reply
  // names takes a client at once, even while the input is still opening.
  if (kind == TASK_IXO_PULL) output->OpenRelayListener();
  channel->AddOutput(static_cast<int>(taskId), type, output);
  return output;
}

bool CLiveChannelManager::StartTask(uint32_t kind, LiveSourceType type, const std::string& url, uint32_t taskId,
                                    uint32_t liveId, void* record, SubStreamInfo* transcode) {
  if (ModeOfKind(kind) < 0) return true;
  pthread_mutex_lock(&changeMutex);
  // A running output of the same task is replaced: it goes first, and its
  // threads are joined outside the item mutex. Its channel and input stay
  // when the new output joins them; otherwise they close if left empty.
  Location old;
  pthread_mutex_lock(&itemMutex);
  bool hadOld = FindOutputLocked(taskId, kind, &old);
  pthread_mutex_unlock(&itemMutex);
  if (hadOld) DetachOutput(taskId, kind);
  CLiveSource* dropped = nullptr;
  // A sub-stream's channel transcodes with its settings, and so does a
  // pull's when it asks for video or audio settings of its own.
  const bool transcodes = transcode && (type == LIVE_TYPE_SUBSTREAM ||
                                        (kind == TASK_IXO_PULL && (transcode->useVideo || transcode->useAudio)));

  pthread_mutex_lock(&itemMutex);
  auto attach = [&](CLiveSource* source, StreamChannel* channel) {
    StreamOutput* output = BuildOutput(taskId, kind, channel, record);
    if (!output) return;
    Location& where = outputs[OutputKey(taskId, kind)];
    where = Location();
    where.url = url;
    where.source = source;
    where.channel = channel;
    where.liveId = liveId;
    where.output = output;
    // Stands in when the channel cannot answer for the output: a task never
    // read before then must not look stopped (the schedule would start it
    // again).
    where.last.state = kTaskIdle;
    if (kind == TASK_RECORD) where.last.fileSize = -1;
  };
  auto it = sources.find(url);
  if (it != sources.end()) {
    StreamChannel* channel = it->second->GetOutput(static_cast<int>(liveId));
    if (channel) {
      attach(it->second, channel);
    } else {
      channel = new StreamChannel(static_cast<int>(liveId), transcodes ? transcode : nullptr);
      channel->SetOwner(it->second);
      attach(it->second, channel);
      it->second->AddOutput(channel, static_cast<int>(liveId));
    }
  } else {
    auto* source = new CLiveSource(static_cast<int>(liveId));
    DeviceSourceInfo device;
    bool isDevice = type == LIVE_TYPE_DEVICE;
    if (isDevice) {
      CDatabaseManager::Instance().GetDeviceSource(device, static_cast<int>(liveId));
      source->SetDevice(device);
    } else {
      source->SetUrl(url);
    }
    source->Start();
    StreamChannel* channel;
    if (transcodes) {
      channel = new StreamChannel(static_cast<int>(liveId), transcode);
    } else if (isDevice) {
      // A capture device is always encoded, with the device's own settings.
      SubStreamInfo settings;
      settings.useVideo = device.use_video != 0;
      settings.vFormat = "H264";
      settings.vColor = "YUVJ420P";
      settings.width = device.width;
      settings.height = device.height;
      settings.vBitRate = device.bps;
      settings.frameRate = device.frameRate;
      settings.gop = device.gop;
      settings.useAudio = device.use_audio != 0;
      settings.aFormat = "AAC";
      settings.sampleRate = device.sampleRate;
      settings.aBitRate = device.audio_br;
      settings.aChannel = device.audio_stereo;
      channel = new StreamChannel(static_cast<int>(liveId), &settings);
    } else {
      channel = new StreamChannel(static_cast<int>(liveId), nullptr);
    }
    channel->SetOwner(source);
    attach(source, channel);
    source->AddOutput(channel, static_cast<int>(liveId));
    sources[url] = source;
  }
  // The replaced output's old place, when it was elsewhere, may now be empty.
  if (hadOld && (old.url != url || old.liveId != liveId)) dropped = DropEmptyLocked(old.url, old.liveId);
  pthread_mutex_unlock(&itemMutex);
  pthread_mutex_unlock(&changeMutex);
  DisposeSource(dropped);
  return true;
}

void CLiveChannelManager::StopTask(uint32_t id, uint32_t kind, uint32_t /*third*/) {
  if (ModeOfKind(kind) < 0) return;
  pthread_mutex_lock(&changeMutex);
  Location where;
  pthread_mutex_lock(&itemMutex);
  bool found = FindOutputLocked(id, kind, &where);
  pthread_mutex_unlock(&itemMutex);
  CLiveSource* dropped = nullptr;
  if (found && DetachOutput(id, kind)) {
    pthread_mutex_lock(&itemMutex);
    dropped = DropEmptyLocked(where.url, where.liveId);
    pthread_mutex_unlock(&itemMutex);
  }
  pthread_mutex_unlock(&changeMutex);
  // An input may take seconds to give up a blocked read.
  DisposeSource(dropped);
}

TaskStatus CLiveChannelManager::FindItem(uint32_t id, uint32_t kind) {
  if (kind != TASK_FORWARD && kind != TASK_RECORD && kind != TASK_IXO_PULL) return DefaultStatus();
  TaskStatus result = DefaultStatus();
  pthread_mutex_lock(&itemMutex);
  auto it = outputs.find(OutputKey(id, kind));
  if (it != outputs.end() && !it->second.removing) {
    Location& where = it->second;
    if (where.channel->GetOutputStatus(static_cast<int>(id), static_cast<int>(kind), result)) {
      where.last = result;
    } else {
      result = where.last;
    }
    // An input that cannot open for a reason the operator has to know
    // (a camera address that cannot be resolved) says so instead of the
    // output's own text; the state stays what the output reports.
    if (where.source && result.state != kTaskRunning) {
      std::string problem = where.source->GetOpenProblem();
      if (!problem.empty()) result.message = problem;
    }
  }
  pthread_mutex_unlock(&itemMutex);
  return result;
}

int CLiveChannelManager::SourceCount() {
  pthread_mutex_lock(&itemMutex);
  int n = static_cast<int>(sources.size());
  pthread_mutex_unlock(&itemMutex);
  return n;
}

// ---------------------------------------------------------------- snapshots

std::vector<CLiveChannelManager::RelayRow> CLiveChannelManager::SnapshotRelays() {
  std::vector<RelayRow> rows;
  const uint64_t relayMode = static_cast<uint64_t>(ModeOfKind(TASK_IXO_PULL) + 1);
  pthread_mutex_lock(&itemMutex);
  // The index knows every output with its input and channel: a source's
  // channels are the live ids that carry outputs (an empty channel does not
  // stay), ordered like the source's channel map; relay outputs come in
  // task id order, like the channel's output map.
  std::map<std::string, std::map<uint32_t, std::vector<uint32_t>>> tree;
  for (const auto& kv : outputs) {
    std::vector<uint32_t>& relays = tree[kv.second.url][kv.second.liveId];
    if ((kv.first >> 32) == relayMode && !kv.second.removing)
      relays.push_back(static_cast<uint32_t>(kv.first & 0xFFFFFFFFu));
  }
  for (const auto& source : sources) {
    auto channels = tree.find(source.first);
    if (channels == tree.end()) continue;
    int c = 0;
    for (const auto& channel : channels->second) {
      int o = 0;
      for (uint32_t id : channel.second) {
        RelayRow row;
        row.url = source.first;
        row.channelPos = c;
        row.outputPos = o++;
        row.outputId = id;
        rows.push_back(std::move(row));
      }
      ++c;
    }
  }
  pthread_mutex_unlock(&itemMutex);
  return rows;
}

std::vector<CLiveChannelManager::SessionRow> CLiveChannelManager::SnapshotSessions() {
  std::vector<SessionRow> rows;
  // A session deletes itself through RemoveTranscodeSession, which waits
  // for this mutex: every session read here is alive.
  pthread_mutex_lock(&itemMutex);
  for (const auto& kv : sessions) {
    SessionRow row;
    row.rate = kv.first->GetAvg3();
    row.width = kv.first->GetWidth();
    row.height = kv.first->GetHeight();
    row.frameRate = kv.first->GetFrameRate();
    row.bitRate = kv.first->GetBitRate();
    rows.push_back(row);
  }
  pthread_mutex_unlock(&itemMutex);
  return rows;
}

// ---------------------------------------------------------------- statistics

void* CLiveChannelManager::StatsThreadStart(void* self) {
  static_cast<CLiveChannelManager*>(self)->StatsThread();
  return nullptr;
}

void CLiveChannelManager::StatsThread() {
  while (!stopFlag) {
    pthread_mutex_lock(&itemMutex);
    std::set<StreamChannel*> channels;
    for (auto& kv : outputs) channels.insert(kv.second.channel);
    for (StreamChannel* channel : channels) channel->ForEachOutput();
    for (auto& kv : sessions) kv.first->UpdateBitrate();
    pthread_mutex_unlock(&itemMutex);
    SleepWhileRunning(1000);
  }
}

// ---------------------------------------------------------------- sessions

void CLiveChannelManager::AddTranscodeSession(int socket) {
  pthread_mutex_lock(&itemMutex);
  int running = static_cast<int>(sessions.size());
  bool full = running >= maxSessions.load();
  pthread_mutex_unlock(&itemMutex);
  if (full) {
    // Each session holds a thread, codecs and its buffers: past the bound
    // the connection is refused rather than served.
    close(socket);
    LogWarn("transcoding connection closed: %d sessions are running already", running);
    return;
  }
  auto* session = new CTranscodeSession(this);
  session->SetSocket(socket);
  pthread_mutex_lock(&itemMutex);
  sessions[session] = 0;
  pthread_mutex_unlock(&itemMutex);
  if (!session->Start()) {
    pthread_mutex_lock(&itemMutex);
    sessions.erase(session);
    pthread_mutex_unlock(&itemMutex);
    delete session;  // closes the socket
  }
}

void CLiveChannelManager::RemoveTranscodeSession(CTranscodeSession* session) {
  pthread_mutex_lock(&itemMutex);
  bool known = sessions.erase(session) > 0;
  // Under the lock: once the stop sees no session left, the manager may go.
  sessionWake.Notify();
  pthread_mutex_unlock(&itemMutex);
  if (known) delete session;
}

int CLiveChannelManager::SessionCount() {
  pthread_mutex_lock(&itemMutex);
  int n = static_cast<int>(sessions.size());
  pthread_mutex_unlock(&itemMutex);
  return n;
}

// ---------------------------------------------------------------- cameras

bool CLiveChannelManager::IsCameraUrl(const std::string& url) { return ::IsCameraUrl(url); }

bool CLiveChannelManager::ResolveCameraUrl(std::string& out, const std::string& url) {
  return ::ResolveCameraUrl(out, url);
}
