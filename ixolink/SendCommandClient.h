#pragma once
// Client side of the Ixo command channel: one TCP connection on which a
// request (command frame, optional key frame, data frame) is answered by one
// reply frame.
#include <atomic>
#include <mutex>
#include <string>

class IoBuffer;

class SendCommandClient {
 public:
  // Reads the key from the settings file of the program folder.
  SendCommandClient(const std::string& host, int port);
  // Reads the key from the given settings file.
  SendCommandClient(const std::string& host, int port, const std::string& configPath);
  virtual ~SendCommandClient();
  SendCommandClient(const SendCommandClient&) = delete;
  SendCommandClient& operator=(const SendCommandClient&) = delete;

  // True when the TCP connection to host:port is open.
  bool Connect();
  void Close();
  // The reply, nul bytes included; "" on any failure (send error, read error
  // or time-out, connection closed, reply of length 0 or above the cap).
  std::string SendCommand(const char* command, const char* data);
  // Writes the whole buffer to the connection.
  bool SendAll(IoBuffer& buffer);

  // How long a connect, a send or a wait for reply bytes may take.
  void SetTimeoutMs(int ms) { timeoutMs = ms; }
  int GetTimeoutMs() const { return timeoutMs; }
  // Wakes a call blocked on the connection from another thread; every later
  // call fails at once. Used when the program shuts the link down.
  void Interrupt();

  const std::string& GetHost() const { return host; }
  int GetPort() const { return port; }
  const std::string& GetKey() const { return key; }

 private:
  std::string host;
  int port;
  int connection = -1;
  std::string key;
  int timeoutMs = 30000;
  std::mutex connectionMutex;  // guards connection against Interrupt
  std::atomic<bool> interrupted{false};
};
