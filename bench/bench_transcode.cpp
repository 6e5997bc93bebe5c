// Transcoding sessions against ffmpeg doing the same decode, scale and encode
// with the same x264 settings: 1080p to 720p and 720p to 360p. Prints frames
// per second and CPU seconds per session, how many parallel sessions keep
// real time, and the ratio to ffmpeg.
//
//   bench_transcode [seconds of input, default 6]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "core/Log.h"
#include "media/TranscodeSession.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Rec {
  uint32_t ts;
  uint8_t type;
  std::vector<uint8_t> body;
};

std::vector<Rec> ReadFlv(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::string d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<Rec> out;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(d.data());
  size_t n = d.size();
  if (n < 13) return out;
  size_t pos = ((size_t(p[5]) << 24) | (size_t(p[6]) << 16) | (size_t(p[7]) << 8) | p[8]) + 4;
  while (pos + 11 <= n) {
    uint8_t type = p[pos] & 0x1f;
    size_t size = (size_t(p[pos + 1]) << 16) | (size_t(p[pos + 2]) << 8) | p[pos + 3];
    uint32_t ts = (uint32_t(p[pos + 7]) << 24) | (uint32_t(p[pos + 4]) << 16) | (uint32_t(p[pos + 5]) << 8) | p[pos + 6];
    if (pos + 11 + size > n) break;
    if (type == 9 || type == 8)
      out.push_back(Rec{ts, uint8_t(type == 9 ? 1 : 0), std::vector<uint8_t>(p + pos + 11, p + pos + 11 + size)});
    pos += 11 + size + 4;
  }
  return out;
}

class NoOwner : public ITranscodeSessionOwner {
 public:
  void RemoveTranscodeSession(CTranscodeSession* s) override {
    delete s;
    ended++;
  }
  std::atomic<int> ended{0};
  std::atomic<int> started{0};
};

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}

// One session over loopback: returns the wall seconds until every answer was
// read and the number of video pictures that came back.
struct SessionResult {
  double seconds = 0;
  int pictures = 0;
};

SessionResult RunSession(NoOwner& owner, const std::vector<uint8_t>& stream) {
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  socklen_t len = sizeof(a);
  getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  listen(lfd, 1);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  int served = accept(lfd, nullptr, nullptr);
  close(lfd);
  auto* s = new CTranscodeSession(&owner);
  s->SetSocket(served);
  SessionResult r;
  auto start = Clock::now();
  owner.started++;
  s->Start();
  std::thread reader([&] {
    std::vector<uint8_t> buf(1 << 16);
    uint8_t head[9];
    for (;;) {
      size_t got = 0;
      while (got < 9) {
        ssize_t k = recv(fd, head + got, 9 - got, 0);
        if (k <= 0) return;
        got += size_t(k);
      }
      uint32_t n = (uint32_t(head[5]) << 24) | (uint32_t(head[6]) << 16) | (uint32_t(head[7]) << 8) | head[8];
      if (buf.size() < n) buf.resize(n);
      got = 0;
      while (got < n) {
        ssize_t k = recv(fd, buf.data() + got, n - got, 0);
        if (k <= 0) return;
        got += size_t(k);
      }
      if (head[4] == 1 && n > 1 && buf[1] == 1) r.pictures++;
    }
  });
  size_t off = 0;
  while (off < stream.size()) {
    ssize_t k = send(fd, stream.data() + off, stream.size() - off, MSG_NOSIGNAL);
    if (k <= 0) break;
    off += size_t(k);
  }
  shutdown(fd, SHUT_WR);
  reader.join();
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(fd);
  return r;
}

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Scenario {
  const char* name;
  int inW, inH, outW, outH, bitRate;
};

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? atof(argv[1]) : 6;
  if (seconds <= 0) seconds = 6;
  SetLogLevel(0);
  av_log_set_level(AV_LOG_QUIET);
  char dirTemplate[] = "/tmp/vv_bench_transcode_XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  std::string dir = dirTemplate;
  const int fps = 25;
  const Scenario scenarios[] = {{"1080p->720p", 1920, 1080, 1280, 720, 2000000},
                                {"720p->360p", 1280, 720, 640, 360, 800000}};
  printf("%-12s %8s %10s %10s %12s %10s %10s %8s\n", "session", "frames", "fps", "cpu_s", "realtime_n", "ffmpeg_fps",
         "ffmpeg_cpu", "ratio");
  for (const Scenario& sc : scenarios) {
    std::string src = dir + "/in_" + std::to_string(sc.inH) + ".flv";
    char cmd[1024];
    snprintf(cmd, sizeof(cmd),
             "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=%dx%d:rate=%d -t %g -c:v libx264 -preset veryfast "
             "-g 50 -pix_fmt yuv420p -b:v 6M %s",
             sc.inW, sc.inH, fps, seconds, src.c_str());
    if (system(cmd) != 0) {
      fprintf(stderr, "could not make %s\n", src.c_str());
      return 1;
    }
    std::vector<Rec> recs = ReadFlv(src);
    std::vector<uint8_t> stream;
    char json[160];
    snprintf(json, sizeof(json), "{\"width\":%d,\"height\":%d,\"frameRate\":%d,\"bitRate\":%d}", sc.outW, sc.outH, fps,
             sc.bitRate);
    Put32(stream, uint32_t(strlen(json)));
    stream.insert(stream.end(), json, json + strlen(json));
    int inPictures = 0;
    for (const Rec& r : recs) {
      Put32(stream, r.ts);
      stream.push_back(r.type);
      Put32(stream, uint32_t(r.body.size()));
      stream.insert(stream.end(), r.body.begin(), r.body.end());
      if (r.type == 1 && r.body.size() > 1 && r.body[1] == 1) inPictures++;
    }

    // One session alone.
    NoOwner owner;
    double cpu0 = CpuSeconds(RUSAGE_SELF);
    SessionResult one = RunSession(owner, stream);
    double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    double ourFps = one.pictures / one.seconds;

    // Parallel sessions until one of them falls behind real time.
    int realtime = 0;
    for (int n = 2; n <= 32; n *= 2) {
      std::vector<SessionResult> results(n);
      std::vector<std::thread> ts;
      for (int i = 0; i < n; ++i) ts.emplace_back([&, i] { results[i] = RunSession(owner, stream); });
      for (auto& t : ts) t.join();
      bool keep = true;
      for (const SessionResult& r : results) keep = keep && r.pictures > 0 && r.pictures / r.seconds >= fps;
      if (!keep) break;
      realtime = n;
    }
    if (realtime == 0 && ourFps >= fps) realtime = 1;

    // ffmpeg: the same single-threaded decode, bilinear scale and encode.
    snprintf(cmd, sizeof(cmd),
             "ffmpeg -nostdin -v error -threads 1 -i %s -an -vf scale=%d:%d:flags=bilinear -pix_fmt yuvj420p "
             "-c:v libx264 -preset superfast -tune zerolatency -b:v %d -g 50 -me_range 16 -qdiff 4 -f null -",
             src.c_str(), sc.outW, sc.outH, sc.bitRate);
    double c0 = CpuSeconds(RUSAGE_CHILDREN);
    auto t0 = Clock::now();
    int rc = system(cmd);
    double ffWall = std::chrono::duration<double>(Clock::now() - t0).count();
    double ffCpu = CpuSeconds(RUSAGE_CHILDREN) - c0;
    double ffFps = rc == 0 ? inPictures / ffWall : 0;
    printf("%-12s %8d %10.1f %10.2f %12d %10.1f %10.2f %8.2f\n", sc.name, one.pictures, ourFps, cpu, realtime, ffFps,
           ffCpu, ffFps > 0 ? ourFps / ffFps : 0.0);
    fflush(stdout);
    // Every session has removed itself before its owner goes.
    while (owner.ended.load() < owner.started.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::string rm = "rm -rf " + dir;
  if (system(rm.c_str()) != 0) return 1;
  printf("ratio = session fps / ffmpeg fps (ffmpeg timing includes its start-up)\n");
  return 0;
}
