#pragma once
// The settings sheet's two pages as plain values: the Ixo server's address,
// port and key, and the start-up options, read from and written to
// conf/system.ini; and the page's connection test.
#include <string>

class CIniFileEx;

namespace setup {

struct IxoServer {
  std::string host;  // IXO_SETUP HOST
  int port = 0;      // IXO_SETUP PORT
  std::string key;   // IXO_SETUP KEY
};

IxoServer ReadIxoServer(const CIniFileEx& ini);
// Creates the settings file's folder when it is missing; false when any
// value could not be written.
bool WriteIxoServer(CIniFileEx& ini, const IxoServer& s);

// START_OPTION AUTO_FORWARD, read as a boolean (default false), written as 0 or 1.
bool ReadAutoForward(const CIniFileEx& ini);
bool WriteAutoForward(CIniFileEx& ini, bool on);

// The port field's text as a number: digits only, at most nine of them;
// false for anything else (an empty field too).
bool ParsePortField(const std::string& text, int& port);

// Texts of the connection test.
extern const char* const kFillInParameters;  // "请先填写正确的参数!"
extern const char* const kSocketFailed;      // "创建socket失败!"
extern const char* const kConnected;         // "连接成功"
extern const char* const kNotConnected;      // "连接失败"
// The message when the settings file cannot be written.
extern const char* const kWriteFailed;

// Connects to host:port over TCP and reports the outcome as the page shows
// it. The host must be a dotted IPv4 address and the port 1 to 65535; the
// attempt gives up after timeoutMs. Blocks the calling thread.
std::string TestConnection(const std::string& host, int port, int timeoutMs);

}  // namespace setup
