#include "ixolink/IxoLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "core/Log.h"
#include "ixolink/IxoNotice.h"
#include "ixolink/IxoSettings.h"
#include "ixolink/IxoSocket.h"
#include "ixolink/PortSearch.h"
#include "ixolink/SendCommandClient.h"
#include "ixolink/TranscodeParams.h"
#include "media/LiveChannelManager.h"

namespace {

// Reads a decimal number as atoi does (leading blanks, optional sign, the
// digits that follow, 0 when there are none), held to the int range.
int ParseId(const std::string& text) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(s, &end, 10);
  if (end == s) return 0;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

std::string PullReply(const char* status, int port, int id, const std::string& msg) {
  std::string escaped = JsonEscape(msg);
  std::vector<char> buf(escaped.size() + 128);
  snprintf(buf.data(), buf.size(), "{\"status\":\"%s\",\"port\":%d, \"pullStreamId\": %d, \"msg\": \"%s\"}", status,
           port, id, escaped.c_str());
  return buf.data();
}

}  // namespace

IxoLink::IxoLink(IxoEngine* e, IxoLinkOptions o) : engine(e), options(std::move(o)) {
  if (options.configPath.empty()) options.configPath = IxoConfigPath();
}

IxoLink::~IxoLink() { Stop(); }

IxoLink& IxoLink::Instance() {
  static IxoLink* link = new IxoLink(DefaultIxoEngine());
  return *link;
}

void StartIxoEngines() { IxoLink::Instance().Start(); }

void IxoLink::Start() {
  std::lock_guard<std::mutex> lock(mutex);
  if (started) return;
  started = true;
  pullRegister = std::thread([this] { PullEngineRegisterThread(); });
  transferRegister = std::thread([this] { TransferEngineRegisterThread(); });
}

void IxoLink::Stop() {
  stop = true;
  ixo::WakeSleepers();
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (SendCommandClient* c : clients)
      if (c) c->Interrupt();
    for (auto& h : handlers)
      if (h->fd >= 0) shutdown(h->fd, SHUT_RDWR);
  }
  if (pullRegister.joinable()) pullRegister.join();
  if (transferRegister.joinable()) transferRegister.join();
  // Registration threads are gone, so no new listener appears; listeners
  // notice the flag within one poll interval and start no more handlers.
  std::list<std::unique_ptr<Worker>> ls;
  {
    std::lock_guard<std::mutex> lock(mutex);
    ls.swap(listeners);
  }
  for (auto& l : ls)
    if (l->thread.joinable()) l->thread.join();
  std::list<std::unique_ptr<Worker>> hs;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& h : handlers)
      if (h->fd >= 0) shutdown(h->fd, SHUT_RDWR);
    hs.swap(handlers);
  }
  for (auto& h : hs)
    if (h->thread.joinable()) h->thread.join();
}

int IxoLink::RunningListeners() {
  std::lock_guard<std::mutex> lock(mutex);
  int n = 0;
  for (auto& l : listeners)
    if (!l->done) ++n;
  return n;
}

int IxoLink::RunningHandlers() {
  std::lock_guard<std::mutex> lock(mutex);
  int n = 0;
  for (auto& h : handlers)
    if (!h->done) ++n;
  return n;
}

// ---------------------------------------------------------------- registration

int IxoLink::PullEngineRegisterThread() { return RegisterLoop(Engine::Pull); }
int IxoLink::TransferEngineRegisterThread() { return RegisterLoop(Engine::Transfer); }

int IxoLink::RegisterLoop(Engine which) {
  const bool pull = which == Engine::Pull;
  IxoSettings settings = LoadIxoSettings(options.configPath);
  if (settings.host.empty() || settings.port == 0) {
    IxoNotice("请设置IXO的信息后，再重启程序");
    return 0;
  }
  SendCommandClient client(settings.host, settings.port, options.configPath);
  client.SetTimeoutMs(options.commandTimeoutMs);
  {
    std::lock_guard<std::mutex> lock(mutex);
    clients[pull ? 0 : 1] = &client;
    if (stop) client.Interrupt();
  }
  const int firstPort = pull ? options.pullFirstPort : options.transferFirstPort;
  while (!stop) {
    if (!client.Connect()) {
      LogInfo("Can't connect IXO server %s:%d, try again", settings.host.c_str(), settings.port);
      ixo::SleepUnlessStopped(options.retryMs, stop);
      continue;
    }
    // One listener per engine: while the listener of an earlier round still
    // runs, its port is announced again. Only when there is none is a new
    // port found; the search keeps the socket it bound, so the port
    // announced below is certainly ours when the server comes to use it.
    int port = 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      port = RunningListenerPort(which);
    }
    int listenFd = -1;
    if (port == 0) listenFd = ReserveListeningSocket(firstPort, options.listenAddress, &port);
    if (port == 0) {
      // Nothing to announce: registering port 0 would send the server to a
      // port nobody serves.
      LogInfo(pull ? "No free port for the rtsp pull engine from %d" : "No free port for the transfer engine from %d",
              firstPort);
      client.Close();
      ixo::SleepUnlessStopped(options.retryMs, stop);
      continue;
    }
    LogInfo(pull ? "Start rtsp pull engine listen port at %d" : "Start transfer engine listen port at %d", port);
    char data[96];
    snprintf(data, sizeof(data),
             pull ? "{\"protocol\":\"PullStream\",\"commandPort\":%d}" : "{\"protocol\":\"transfer\",\"commandPort\":%d}",
             port);
    std::string reply = client.SendCommand("Register", data);
    if (reply.empty()) {
      if (listenFd >= 0) {
        close(listenFd);
        ReleasePort(port);
      }
      client.Close();
      LogInfo("Send Register error");
      ixo::SleepUnlessStopped(options.retryMs, stop);
      continue;
    }
    int id = ParseId(reply);
    LogInfo(pull ? "register  rtsp pull engine successfully. the register id is %d"
                 : "register  transfer engine successfully. the register id is %d",
            id);
    if (listenFd >= 0) StartListener(which, port, listenFd);
    char idText[16];
    snprintf(idText, sizeof(idText), "%d", id);
    while (!stop) {
      if (client.SendCommand("Ping", idText).empty()) {
        client.Close();
        LogInfo("Send Ping error");
        ixo::SleepUnlessStopped(options.retryMs, stop);
        break;
      }
      ixo::SleepUnlessStopped(options.pingMs, stop);
    }
  }
  client.Close();
  std::lock_guard<std::mutex> lock(mutex);
  clients[pull ? 0 : 1] = nullptr;
  return 0;
}

// Takes over listenFd and the port's reservation in every outcome.
bool IxoLink::StartListener(Engine which, int port, int listenFd) {
  std::lock_guard<std::mutex> lock(mutex);
  if (stop) {
    close(listenFd);
    ReleasePort(port);
    return false;
  }
  ReapWorkers(listeners);
  auto w = std::make_unique<Worker>();
  Worker* raw = w.get();
  raw->engine = which;
  raw->port = port;
  try {
    raw->thread = std::thread([this, which, port, listenFd, raw] {
      Listen(which, port, listenFd);
      raw->done = true;
    });
  } catch (const std::system_error&) {
    LogError("Can't start the listener of port %d", port);
    close(listenFd);
    ReleasePort(port);
    return false;
  }
  listeners.push_back(std::move(w));
  return true;
}

int IxoLink::RunningListenerPort(Engine which) {
  for (auto& l : listeners)
    if (l->engine == which && !l->done) return l->port;
  return 0;
}

// Joins finished workers; called with the mutex held. A worker sets done as
// its very last step, so the join returns at once.
void IxoLink::ReapWorkers(std::list<std::unique_ptr<Worker>>& list) {
  for (auto it = list.begin(); it != list.end();) {
    if ((*it)->done) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it = list.erase(it);
    } else {
      ++it;
    }
  }
}

// ---------------------------------------------------------------- listeners

int IxoLink::PullEngineCommandServer(int port) { return Listen(Engine::Pull, port, -1); }
int IxoLink::TransferEngineCommandServer(int port) { return Listen(Engine::Transfer, port, -1); }

int IxoLink::Listen(Engine which, int port, int fd) {
  if (fd < 0) {
    bool bindFailed = false;
    fd = ixo::OpenListener(options.listenAddress, port, 64, &bindFailed);
    if (fd < 0) {
      IxoNotice(bindFailed ? "error when bind port" : "error when starting to listen");
      ReleasePort(port);
      return 0;
    }
  }
  if (which == Engine::Pull && engine) {
    // Once per process: rows left by an earlier run of the program. Later
    // registrations must not drop the rows of pulls that are still running.
    std::call_once(pullRowsCleared, [this] { engine->DeleteAllPulls(); });
  }
  while (!stop) {
    pollfd p{fd, POLLIN, 0};
    int n = poll(&p, 1, 200);
    if (which == Engine::Pull) {
      std::lock_guard<std::mutex> lock(mutex);
      ReapWorkers(handlers);
    }
    if (n <= 0) continue;
    int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
      ++acceptFailures;
      LogWarn("accept error %d on port %d, retrying", errno, port);
      // A full descriptor table would otherwise fail every accept at once.
      ixo::SleepUnlessStopped(options.acceptBackoffMs, stop);
      continue;
    }
    if (which == Engine::Pull) {
      // The request as a whole has its deadline (HandlePullCommand); the
      // receive time-out only backs it up.
      ixo::SetSocketTimeouts(c, options.handlerTimeoutMs, options.handlerTimeoutMs);
      StartHandler(c);
    } else {
      ixo::SetSocketTimeouts(c, options.transferTimeoutMs, options.transferTimeoutMs);
      if (engine)
        engine->AddTranscodeSession(c);
      else
        close(c);
    }
  }
  close(fd);
  ReleasePort(port);
  return 0;
}

void IxoLink::StartHandler(int fd) {
  std::lock_guard<std::mutex> lock(mutex);
  if (stop) {
    close(fd);
    return;
  }
  // Each handler holds a thread and its request's buffers: past the bound
  // a connection is closed at once instead of served.
  int running = 0;
  for (auto& h : handlers)
    if (!h->done) ++running;
  if (running >= options.maxHandlers) {
    close(fd);
    LogWarn("pull command connection closed: %d commands are being served already", running);
    return;
  }
  auto w = std::make_unique<Worker>();
  Worker* raw = w.get();
  raw->fd = fd;
  try {
    raw->thread = std::thread([this, raw] { RunHandler(raw); });
  } catch (const std::system_error&) {
    LogError("Can't start a pull command handler");
    close(fd);
    return;
  }
  handlers.push_back(std::move(w));
}

void IxoLink::RunHandler(Worker* w) {
  HandlePullCommand(w->fd);
  std::lock_guard<std::mutex> lock(mutex);
  w->fd = -1;  // closed by HandlePullCommand
  w->done = true;
}

// ---------------------------------------------------------------- commands

void IxoLink::HandlePullCommand(int socket) {
  // Lock the close against Stop's shutdown of the same descriptor.
  struct Closer {
    IxoLink* link;
    int fd;
    ~Closer() {
      std::lock_guard<std::mutex> lock(link->mutex);
      close(fd);
      for (auto& h : link->handlers)
        if (h->fd == fd) h->fd = -1;
    }
  } closer{this, socket};
  // The whole request (command and data frames) within one time-out, so a
  // peer that trickles a byte now and then cannot hold the handler.
  const ixo::Deadline deadline = ixo::DeadlineIn(options.handlerTimeoutMs);
  std::string frame;
  if (ixo::ReadFrame(socket, frame, ixo::kMaxFrameBytes, deadline) != ixo::FrameResult::Ok) return;
  std::string command = ixo::FrameText(frame);
  if (command.empty()) return;
  if (ixo::ReadFrame(socket, frame, ixo::kMaxFrameBytes, deadline) != ixo::FrameResult::Ok) return;
  std::string data = ixo::FrameText(frame);
  frame = std::string();
  if (data.empty()) return;
  LogInfo("receive command is %s and data is %s", LogSafeText(command).c_str(), LogSafeText(data).c_str());
  std::string reply;
  if (command == "StartPull") {
    reply = StartPull(data);
    LogInfo("send response:%s", LogSafeText(reply).c_str());
  } else if (command == "StopPull") {
    reply = StopPull(data);
  } else {
    return;
  }
  ixo::WriteFrame(socket, reply);
}

// Pulls that their relay ended on its own (its client went away) are gone
// from the engine; their relay ports go back to the search.
void IxoLink::SweepEndedPulls() {
  std::map<int, int> settled;
  {
    std::lock_guard<std::mutex> lock(mutex);
    settled = pulls;
  }
  for (auto& [id, port] : settled) {
    if (engine->FindPull(id).state != 0) continue;
    std::lock_guard<std::mutex> lock(mutex);
    if (pulls.erase(id)) ReleasePortsOf(id);
  }
}

std::string IxoLink::StartPull(const std::string& data) {
  TranscodeParams params;
  params.FromJson(data);
  if (!engine) return PullReply("error", 0, 0, "engine not available");
  // A pull without a url could never carry a stream: refusing it keeps a
  // row and a relay port from being held for nothing.
  if (params.url.empty()) return PullReply("error", 0, 0, "url is empty");
  SweepEndedPulls();
  int port = ReserveFreePort(options.relayFirstPort, -1);
  if (port == 0) return PullReply("error", 0, 0, "no free port");

  IxoPullInfo row;
  row.url = params.url;
  row.listenPort = port;
  row.videoTransfer = false;
  row.audioTransfer = false;
  if (params.WantsVideo()) {
    row.vFormat = "H264";
    row.vColor = "YUVJ420P";
    row.gop = 25;
    row.width = params.width;
    row.height = params.height;
    row.frameRate = params.frameRate;
    row.vBitRate = params.VbitRate;
    row.videoTransfer = true;
  }
  if (params.WantsAudio()) {
    row.aFormat = "AAC";
    row.aChannel = 2;
    row.aBitRate = params.AbitRate;
    row.sampleRate = std::to_string(params.SamplingRate);
    row.audioTransfer = true;
  }
  int id = 0;
  if (!engine->InsertPull(row, id) || id <= 0) {
    ReleasePort(port);
    return PullReply("error", 0, 0, "save pull error");
  }
  row.id = id;
  SetPortOwner(port, id);

  int type = engine->GetLiveType(id);
  // The settings asked for build the pull's channel: the relay then carries
  // the size, rate and audio the server asked for.
  SubStreamInfo transcode;
  PullTranscodeSettings(row, transcode);
  engine->StartPull(type, row.url, id, row, transcode);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.pollLimitMs);
  IxoPullState st = engine->FindPull(id);
  while (st.state == 0 && !stop && std::chrono::steady_clock::now() < deadline) {
    ixo::SleepUnlessStopped(options.pollMs, stop);
    st = engine->FindPull(id);
  }
  if (st.state == 0) {
    // The relay never showed up (or is gone already): undo the pull so its
    // row and port do not outlive it.
    engine->StopPull(id);
    engine->DeletePull(id);
    ReleasePortsOf(id);
    return PullReply("error", 0, 0, "pull stream timeout");
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    pulls[id] = port;
  }
  std::string msg = st.state == 3 ? st.message : "";
  return PullReply(msg.empty() ? "ok" : "error", port, id, msg);
}

std::string IxoLink::StopPull(const std::string& data) {
  int id = ParseId(data);
  if (engine) {
    engine->StopPull(id);
    engine->DeletePull(id);
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    pulls.erase(id);
  }
  ReleasePortsOf(id);
  return "ok";
}
