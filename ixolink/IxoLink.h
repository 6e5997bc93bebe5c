#pragma once
// The link to the Ixo media server: two registration threads (pull engine
// and transfer engine) that register with the server and keep pinging it,
// the listener each successful registration starts on its command port, and
// the handler of the pull engine's "StartPull" and "StopPull" commands.
#include <atomic>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ixolink/IxoEngine.h"

class SendCommandClient;

struct IxoLinkOptions {
  std::string configPath;     // settings file; empty: conf/system.ini of the program
  std::string listenAddress;  // listeners bind here; empty: all local IPv4 addresses
  int pullFirstPort = 1000;      // pull engine's command port search
  int transferFirstPort = 2000;  // transfer engine's command port search
  int relayFirstPort = 1000;     // a pull's relay port search
  int retryMs = 3000;            // wait before connecting or registering again
  int pingMs = 10000;            // between two pings
  int commandTimeoutMs = 30000;  // connect, send or reply wait on the command channel
  int handlerTimeoutMs = 10000;  // a pull-command connection's whole request, and its send time-out
  int transferTimeoutMs = 5000;  // receive and send time-out of a transcoding connection
  int pollMs = 1000;             // StartPull asks for the relay's state this often
  int pollLimitMs = 10000;       // and gives up after this long
  int acceptBackoffMs = 200;     // pause after a failed accept
  int maxHandlers = 64;          // pull-command connections served at once
};

class IxoLink {
 public:
  explicit IxoLink(IxoEngine* engine, IxoLinkOptions options = IxoLinkOptions());
  ~IxoLink();
  IxoLink(const IxoLink&) = delete;
  IxoLink& operator=(const IxoLink&) = delete;

  // The program's link, over the real engine. Never destroyed: its threads
  // run for the life of the process.
  static IxoLink& Instance();

  // Starts both registration threads (once).
  void Start();
  // Ends every thread of the link (registrations, listeners, handlers) and
  // waits for them. Pulls already started stay with the engine.
  void Stop();

  // Thread routines; each gives 0 when it ends.
  int PullEngineRegisterThread();
  int TransferEngineRegisterThread();
  int PullEngineCommandServer(int port);
  int TransferEngineCommandServer(int port);
  // Serves one command connection and closes it.
  void HandlePullCommand(int socket);

  // The reply texts of the two commands for a data frame.
  std::string StartPull(const std::string& data);
  std::string StopPull(const std::string& data);

  // Number of listener threads started and still running.
  int RunningListeners();
  int RunningHandlers();
  // Accepts that failed since the link was built (all listeners).
  int AcceptFailures() const { return acceptFailures; }

 private:
  enum class Engine { Pull, Transfer };
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
    int fd = -1;  // the handler's connection, closed by the handler itself
    Engine engine = Engine::Pull;  // listeners: whose command port
    int port = 0;                  // listeners: the port served
  };

  int RegisterLoop(Engine engine);
  bool StartListener(Engine engine, int port, int listenFd);
  // Serves a listening socket (or binds port itself when listenFd < 0).
  int Listen(Engine engine, int port, int listenFd);
  // Called with the mutex held: the port of the engine's listener that
  // still runs, 0 when there is none.
  int RunningListenerPort(Engine engine);
  void StartHandler(int fd);
  void RunHandler(Worker* worker);
  void ReapWorkers(std::list<std::unique_ptr<Worker>>& list);
  void SweepEndedPulls();

  IxoEngine* engine;
  IxoLinkOptions options;
  std::atomic<bool> stop{false};
  std::atomic<int> acceptFailures{0};
  bool started = false;
  std::thread pullRegister;
  std::thread transferRegister;

  std::mutex mutex;  // guards clients, listeners, handlers, pulls
  SendCommandClient* clients[2] = {nullptr, nullptr};
  std::list<std::unique_ptr<Worker>> listeners;
  std::list<std::unique_ptr<Worker>> handlers;
  std::map<int, int> pulls;  // settled pulls: id -> relay port
  std::once_flag pullRowsCleared;
};

// The console's call at start-up: starts the two registrations.
void StartIxoEngines();
