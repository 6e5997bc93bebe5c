#pragma once
// A private nginx with its RTMP module on a free 127.0.0.1 port, for tests
// that need a real RTMP server. Everything (config, pid, logs, recordings)
// lives in a scratch folder of its own; the server is stopped and the folder
// removed when the fixture goes away.
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/tools/TestUtil.h"

namespace vvtest {

class NginxRtmp {
 public:
  struct Options {
    // Lines added inside the "live" application block, e.g.
    // "deny publish all;" to refuse publishers.
    std::string applicationConfig;
    // Record every published stream into recordFolder() (one FLV file per
    // publish, named <stream>-<unix time>.flv).
    bool record = false;
    // The chunk size the server announces and sends with.
    int chunkSize = 4096;
  };

  NginxRtmp();
  explicit NginxRtmp(const Options& options);
  ~NginxRtmp();
  NginxRtmp(const NginxRtmp&) = delete;
  NginxRtmp& operator=(const NginxRtmp&) = delete;

  // Whether nginx and its RTMP module are installed.
  static bool Available();

  // Starts the server and waits until it accepts connections. The port is
  // chosen on the first start and kept by later ones.
  bool Start();
  // Stops the server at once (SIGTERM) and waits for it to end.
  void Stop();
  // Stop, then Start on the same port.
  bool Restart();
  bool IsRunning() const { return pid > 0; }

  int port() const { return port_; }
  const std::string& prefix() const { return dir.path(); }
  std::string recordFolder() const { return dir.path() + "/rec"; }
  // rtmp://127.0.0.1:<port>/<app>/<stream>
  std::string Url(const std::string& stream, const std::string& app = "live") const;
  // The recordings made so far, oldest first (record option).
  std::vector<std::string> Recordings() const;
  std::string ErrorLog() const;

 private:
  bool WriteConfig();
  bool StartOnce();
  bool OwnsPidFile() const;

  Options options;
  TempDir dir;
  int port_ = 0;
  pid_t pid = -1;
};

// Path of the nginx RTMP module, or "" when it is not installed.
std::string NginxRtmpModulePath();

}  // namespace vvtest
