#include "tests/tools/NginxRtmp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace vvtest {

namespace {

bool FileExists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

}  // namespace

std::string NginxRtmpModulePath() {
  const char* candidates[] = {"/usr/lib/nginx/modules/ngx_rtmp_module.so",
                              "/usr/share/nginx/modules/ngx_rtmp_module.so"};
  for (const char* c : candidates)
    if (FileExists(c)) return c;
  // Debian's modules-available snippet names the module's path.
  std::ifstream in("/usr/share/nginx/modules-available/mod-rtmp.conf");
  std::string word;
  while (in >> word) {
    if (word.find("ngx_rtmp_module.so") != std::string::npos) {
      word.erase(std::remove(word.begin(), word.end(), ';'), word.end());
      if (!word.empty() && word[0] != '/') word = "/usr/share/nginx/" + word;
      if (FileExists(word)) return word;
    }
  }
  return "";
}

bool NginxRtmp::Available() { return FileExists("/usr/sbin/nginx") && !NginxRtmpModulePath().empty(); }

NginxRtmp::NginxRtmp() : NginxRtmp(Options()) {}

NginxRtmp::NginxRtmp(const Options& o) : options(o), dir("vvnginx") {}

NginxRtmp::~NginxRtmp() { Stop(); }

std::string NginxRtmp::Url(const std::string& stream, const std::string& app) const {
  return "rtmp://127.0.0.1:" + std::to_string(port_) + "/" + app + "/" + stream;
}

bool NginxRtmp::WriteConfig() {
  std::filesystem::create_directories(dir.path() + "/logs");
  std::filesystem::create_directories(recordFolder());
  std::ofstream f(dir.path() + "/nginx.conf");
  f << "load_module " << NginxRtmpModulePath() << ";\n"
    << "daemon off;\n"
    << "master_process off;\n"
    << "worker_processes 1;\n"
    << "pid " << dir.path() << "/nginx.pid;\n"
    << "error_log " << dir.path() << "/logs/error.log info;\n"
    << "events { worker_connections 256; }\n"
    << "rtmp {\n"
    << "  server {\n"
    << "    listen 127.0.0.1:" << port_ << ";\n"
    << "    chunk_size " << options.chunkSize << ";\n"
    << "    application live {\n"
    << "      live on;\n";
  if (options.record) {
    f << "      record all;\n"
      << "      record_path " << recordFolder() << ";\n"
      << "      record_unique on;\n";
  }
  f << "      " << options.applicationConfig << "\n"
    << "    }\n"
    << "  }\n"
    << "}\n";
  return static_cast<bool>(f);
}

bool NginxRtmp::OwnsPidFile() const {
  std::ifstream in(dir.path() + "/nginx.pid");
  long written = 0;
  return (in >> written) && written == static_cast<long>(pid);
}

bool NginxRtmp::StartOnce() {
  if (!WriteConfig()) return false;
  std::string conf = dir.path() + "/nginx.conf";
  std::string errlog = dir.path() + "/logs/error.log";
  std::string out = dir.path() + "/logs/stdout.log";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const char* argv[] = {"/usr/sbin/nginx", "-p", dir.path().c_str(), "-c", conf.c_str(), "-e", errlog.c_str(),
                        nullptr};
  pid_t child = -1;
  int rc = posix_spawn(&child, argv[0], &fa, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return false;
  pid = child;
  bool exited = false;
  bool up = WaitFor(
      [&] {
        int st;
        if (waitpid(pid, &st, WNOHANG) == pid) {
          exited = true;
          return true;
        }
        // Our nginx writes its pid file only once it holds its listening
        // socket: a connection alone may reach another server that took
        // the port first (nginx then keeps retrying the bind for a while).
        return OwnsPidFile() && CanConnectLoopback(port_);
      },
      std::chrono::seconds(10), std::chrono::milliseconds(20));
  if (exited) {
    pid = -1;
    return false;
  }
  if (!up) {
    Stop();
    return false;
  }
  return true;
}

bool NginxRtmp::Start() {
  if (pid > 0) return true;
  if (!Available() || dir.path().empty()) return false;
  if (port_ != 0) return StartOnce();
  // First start: another process may take a free port before nginx binds it.
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = FreePort();
    if (StartOnce()) return true;
  }
  return false;
}

void NginxRtmp::Stop() {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int st;
  bool gone = WaitFor([&] { return waitpid(pid, &st, WNOHANG) == pid; }, std::chrono::seconds(5),
                      std::chrono::milliseconds(10));
  if (!gone) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
  }
  pid = -1;
}

bool NginxRtmp::Restart() {
  Stop();
  // Same port, so clients reconnect to it; it may take a moment to free.
  for (int i = 0; i < 50; ++i) {
    if (StartOnce()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::vector<std::string> NginxRtmp::Recordings() const {
  std::vector<std::pair<std::filesystem::file_time_type, std::string>> files;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(recordFolder(), ec))
    if (e.is_regular_file()) files.emplace_back(e.last_write_time(), e.path().string());
  std::sort(files.begin(), files.end());
  std::vector<std::string> out;
  for (auto& f : files) out.push_back(f.second);
  return out;
}

std::string NginxRtmp::ErrorLog() const { return ReadFileText(dir.path() + "/logs/error.log"); }

}  // namespace vvtest
