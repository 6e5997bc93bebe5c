#pragma once
// An engine stand-in that keeps pulls and rows in memory, so the command
// protocol and the listeners can be checked without media.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ixolink/IxoEngine.h"

class FakeIxoEngine : public IxoEngine {
 public:
  struct Started {
    int type;
    std::string url;
    int id;
    IxoPullInfo row;
    SubStreamInfo transcode;
  };
  struct Session {
    int fd;
    int receiveTimeoutMs;
    int sendTimeoutMs;
  };

  ~FakeIxoEngine() override {
    for (auto& s : sessions) close(s.fd);
  }

  // What FindPull reports for a started pull; the first findsBeforeState
  // polls answer state 0 (the output not there yet); a negative count never
  // shows it.
  void SetPullState(int state, const std::string& message, int findsBefore = 0) {
    std::lock_guard<std::mutex> lock(mutex);
    pullState = state;
    pullMessage = message;
    findsBeforeState = findsBefore;
  }
  void SetInsertFails(bool fails) {
    std::lock_guard<std::mutex> lock(mutex);
    insertFails = fails;
  }
  void SetLiveType(int type) {
    std::lock_guard<std::mutex> lock(mutex);
    liveType = type;
  }

  bool InsertPull(const IxoPullInfo& row, int& newId) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (insertFails) return false;
    newId = nextId++;
    rows[newId] = row;
    return true;
  }
  bool DeletePull(int id) override {
    std::lock_guard<std::mutex> lock(mutex);
    rows.erase(id);
    return true;
  }
  void DeleteAllPulls() override {
    std::lock_guard<std::mutex> lock(mutex);
    rows.clear();
    ++deleteAllCalls;
  }
  int GetLiveType(int) override {
    std::lock_guard<std::mutex> lock(mutex);
    return liveType;
  }
  void StartPull(int type, const std::string& url, int id, IxoPullInfo& row, SubStreamInfo& transcode) override {
    std::lock_guard<std::mutex> lock(mutex);
    started.push_back({type, url, id, row, transcode});
    running[id] = 0;
  }
  void StopPull(int id) override {
    std::lock_guard<std::mutex> lock(mutex);
    stopped.push_back(id);
    running.erase(id);
  }
  IxoPullState FindPull(int id) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++finds;
    IxoPullState s;
    auto it = running.find(id);
    if (it == running.end()) return s;
    if (findsBeforeState < 0 || it->second++ < findsBeforeState) return s;
    s.state = pullState;
    s.message = pullState == 3 ? pullMessage : "";
    return s;
  }
  void AddTranscodeSession(int fd) override {
    timeval r{}, w{};
    socklen_t len = sizeof(r);
    getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &r, &len);
    len = sizeof(w);
    getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &w, &len);
    // Echo one greeting so the test can tell that the socket reached us.
    send(fd, "hello", 5, MSG_NOSIGNAL);
    std::lock_guard<std::mutex> lock(mutex);
    sessions.push_back({fd, int(r.tv_sec * 1000 + r.tv_usec / 1000), int(w.tv_sec * 1000 + w.tv_usec / 1000)});
  }

  // Inspection (copies under the lock).
  std::vector<Started> Starts() {
    std::lock_guard<std::mutex> lock(mutex);
    return started;
  }
  std::vector<int> Stops() {
    std::lock_guard<std::mutex> lock(mutex);
    return stopped;
  }
  size_t RowCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return rows.size();
  }
  bool HasRow(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    return rows.count(id) != 0;
  }
  int DeleteAllCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    return deleteAllCalls;
  }
  std::vector<Session> Sessions() {
    std::lock_guard<std::mutex> lock(mutex);
    return sessions;
  }
  // Makes an already started pull disappear, as a relay that lost its
  // client does.
  void DropPull(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    running.erase(id);
  }
  void AddRow(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    rows[id] = IxoPullInfo();
  }

 private:
  std::mutex mutex;
  int pullState = 3;
  std::string pullMessage = "send IXO stream error because haven't stream";
  int findsBeforeState = 0;
  bool insertFails = false;
  int liveType = 0;
  int nextId = 1;
  std::map<int, IxoPullInfo> rows;
  std::map<int, int> running;  // id -> finds so far
  std::vector<Started> started;
  std::vector<int> stopped;
  std::vector<Session> sessions;
  int deleteAllCalls = 0;
  int finds = 0;
};
