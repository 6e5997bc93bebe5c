#pragma once
// A stand-in for the Ixo media server on 127.0.0.1: it takes "Register" and
// "Ping" requests on its command port (command frame, key frame when a key
// is expected, data frame), answers register ids and pings, records every
// request, and misbehaves on demand. It also offers the client side of the
// server's own calls to an engine's command port.
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vvtest {

struct IxoRequest {
  int connection = 0;  // 1 for the first accepted connection of this double, and so on
  int generation = 0;  // how many times the double was started before (0 first)
  std::string command;
  std::string key;   // the middle frame, when a key is expected
  std::string data;
  std::chrono::steady_clock::time_point at;
};

enum class IxoMisbehaviour {
  None,
  EmptyReply,     // a reply frame of length 0
  HugeLength,     // a header announcing 0xFFFFFFF0 bytes, then nothing
  CloseMidFrame,  // a header of 100 bytes, 10 of them, then the connection closes
  Silence,        // no answer at all; the connection stays open
  Close,          // the connection closes without an answer
};

class IxoServerDouble {
 public:
  // expectedKey: when not empty every request must carry three frames.
  explicit IxoServerDouble(std::string expectedKey = "");
  ~IxoServerDouble();
  IxoServerDouble(const IxoServerDouble&) = delete;
  IxoServerDouble& operator=(const IxoServerDouble&) = delete;

  // Listens on 127.0.0.1:port (0 picks a port). False when the bind failed.
  bool Start(int port = 0);
  // Closes the listener and every connection; connections are refused until
  // the next Start.
  void Stop();
  int port() const { return port_; }

  // The next register id handed out (ids count up from it).
  void SetNextId(int id);
  // Answers "Register" with this text instead of an id (empty: ids again).
  void SetRegisterReply(const std::string& text);
  // The next `times` requests of `command` get this treatment (times < 0:
  // all). With dataHas, only requests whose data frame contains that text
  // count, so each of two engines can be given its own failure.
  void Misbehave(const std::string& command, IxoMisbehaviour how, int times = -1, const std::string& dataHas = "");

  std::vector<IxoRequest> Requests();
  std::vector<IxoRequest> RequestsOf(const std::string& command);
  int Count(const std::string& command);
  bool WaitForCount(const std::string& command, int count, std::chrono::milliseconds timeout);
  // A request with a frame layout that did not fit (garbled, too long).
  int BadRequests();
  int Accepted();

  // The server's side of an engine's command port: connects to
  // 127.0.0.1:port, sends the command and data frames and reads one reply.
  // replied is false when the connection closed (or timed out) instead.
  static std::string Command(int port, const std::string& command, const std::string& data, bool* replied = nullptr,
                             int timeoutMs = 15000);

 private:
  void AcceptLoop();
  void Serve(int fd, int connection);
  bool Answer(int fd, const IxoRequest& req);

  std::string key_;
  std::atomic<bool> running_{false};
  int port_ = 0;
  int listenFd_ = -1;
  int generation_ = -1;
  std::thread acceptThread_;
  std::mutex mutex_;
  std::vector<std::thread> servers_;
  std::vector<int> fds_;
  std::vector<IxoRequest> requests_;
  struct Rule {
    std::string command;
    std::string dataHas;
    IxoMisbehaviour how;
    int times;
  };
  std::vector<Rule> misbehave_;
  int nextId_ = 1;
  std::string registerReply_;
  int accepted_ = 0;
  int bad_ = 0;
};

}  // namespace vvtest
