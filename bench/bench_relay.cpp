// Pass-through relaying: N forward tasks of one live 720p, 3 Mbit/s source
// (a live source, one pass-through channel, N publishing outputs, as the
// manager builds them) against N "ffmpeg -re -i SRC -c copy -f flv" relays of
// the same source, in the same run, to a private nginx-rtmp on 127.0.0.1.
// Prints CPU and resident memory per stream, the latency a relay adds (a
// frame's arrival at a sink reading the relayed stream against its arrival
// at a sink reading the source), the thread counts, and the ratio
// Velvanet/ffmpeg of each figure.
//
//   bench_relay [streams, default 4] [measured seconds, default 10]
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "core/Log.h"
#include "media/LiveSource.h"
#include "media/StreamChannel.h"
#include "media/StreamOutput.h"
// The shared test fixtures, built into this program (the benchmark links
// no test library).
#include "tests/tools/NginxRtmp.cpp"
#include "tests/tools/TestUtil.cpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double NowMs() {
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

double ProcessCpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

// Resident kilobytes and thread count of a process (0: this one).
void ProcStatus(pid_t pid, long& rssKb, int& threads) {
  std::ifstream in(pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
  std::string line;
  rssKb = 0;
  threads = 0;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) rssKb = atol(line.c_str() + 6);
    if (line.rfind("Threads:", 0) == 0) threads = atoi(line.c_str() + 8);
  }
}

double ChildCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = s.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(s.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i)
    if (i == 14 || i == 15) ticks += atof(field.c_str());
  return ticks / sysconf(_SC_CLK_TCK);
}

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

void Kill(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int st;
  for (int i = 0; i < 300 && waitpid(pid, &st, WNOHANG) == 0; ++i) usleep(10000);
  if (waitpid(pid, &st, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
  }
}

// Reads an RTMP stream and notes when each video frame arrives.
class Sink {
 public:
  explicit Sink(std::string u) : url(std::move(u)) { thread = std::thread([this] { Run(); }); }
  ~Sink() {
    stop = true;
    thread.join();
  }
  struct Frame {
    int size;
    double arrival;
  };
  std::vector<Frame> Frames() {
    std::lock_guard<std::mutex> l(mutex);
    return frames;
  }
  double CpuSeconds() const { return cpu.load(); }

 private:
  static int Interrupt(void* self) { return static_cast<Sink*>(self)->stop.load() ? 1 : 0; }
  void Run() {
    while (!stop) {
      AVFormatContext* fmt = avformat_alloc_context();
      fmt->interrupt_callback = {Interrupt, this};
      AVDictionary* o = nullptr;
      av_dict_set(&o, "fflags", "nobuffer", 0);
      av_dict_set(&o, "rtmp_live", "live", 0);
      if (avformat_open_input(&fmt, url.c_str(), nullptr, &o) < 0) {
        av_dict_free(&o);
        usleep(100000);
        continue;
      }
      av_dict_free(&o);
      AVPacket* p = av_packet_alloc();
      while (!stop && av_read_frame(fmt, p) >= 0) {
        double t = NowMs();
        AVStream* st = fmt->streams[p->stream_index];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && p->size > 0) {
          std::lock_guard<std::mutex> l(mutex);
          frames.push_back(Frame{p->size, t});
        }
        av_packet_unref(p);
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        cpu = ts.tv_sec + ts.tv_nsec / 1e9;
      }
      av_packet_free(&p);
      avformat_close_input(&fmt);
    }
  }
  std::string url;
  std::atomic<bool> stop{false};
  std::atomic<double> cpu{0};
  std::mutex mutex;
  std::vector<Frame> frames;
  std::thread thread;
};

double sinkCpuSeconds(const Sink& a, const Sink& b) { return a.CpuSeconds() + b.CpuSeconds(); }

// Median of (arrival at the relay's sink - arrival of the same frame at the
// source's sink). Frames are told apart by size (the relay keeps frame
// bytes; key frames may gain parameter sets, so they are left out by
// matching only sizes seen at the source shortly before).
double AddedLatencyMs(const std::vector<Sink::Frame>& source, const std::vector<Sink::Frame>& relay) {
  std::multimap<int, double> bySize;
  for (const Sink::Frame& f : source) bySize.emplace(f.size, f.arrival);
  std::vector<double> d;
  for (const Sink::Frame& f : relay) {
    auto range = bySize.equal_range(f.size);
    double best = -1;
    for (auto it = range.first; it != range.second; ++it)
      if (it->second <= f.arrival && f.arrival - it->second < 5000) best = std::max(best, it->second);
    if (best >= 0) d.push_back(f.arrival - best);
  }
  if (d.size() < 10) return -1;
  std::sort(d.begin(), d.end());
  return d[d.size() / 2];
}

struct Figures {
  double cpuPercentPerStream = 0;
  double rssMiBPerStream = 0;
  double latencyMs = 0;
  int threads = 0;
  double threadsPerStream = 0;
};

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }

}  // namespace

int main(int argc, char** argv) {
  int streams = argc > 1 ? std::max(1, atoi(argv[1])) : 4;
  int seconds = argc > 2 ? std::max(2, atoi(argv[2])) : 10;
  av_log_set_level(AV_LOG_QUIET);
  SetLogLevel(LOG_WARN);
  signal(SIGPIPE, SIG_IGN);
  if (!vvtest::NginxRtmp::Available()) {
    fprintf(stderr, "bench_relay: nginx with its RTMP module is not installed\n");
    return 1;
  }
  vvtest::TempDir dir("vvbench");
  std::string file = dir.file("src.flv");
  printf("making a 720p 3 Mbit/s source ...\n");
  fflush(stdout);
  std::string make =
      "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1280x720:rate=25 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100 -t 12 -c:v libx264 -preset veryfast -b:v 3M -maxrate 3M "
      "-bufsize 3M -g 50 -pix_fmt yuv420p -c:a aac -b:a 128k " +
      vvtest::ShellQuote(file);
  if (vvtest::Run(make, true).status != 0) {
    fprintf(stderr, "bench_relay: ffmpeg could not make the source\n");
    return 1;
  }
  vvtest::NginxRtmp server;
  if (!server.Start()) {
    fprintf(stderr, "bench_relay: nginx did not start\n%s", server.ErrorLog().c_str());
    return 1;
  }
  std::string src = server.Url("src");
  pid_t generator = Spawn({"ffmpeg", "-nostdin", "-v", "error", "-re", "-stream_loop", "-1", "-i", file, "-c",
                           "copy", "-f", "flv", src});
  std::this_thread::sleep_for(std::chrono::seconds(2));
  avformat_network_init();
  Sink sourceSink(src);
  const int warmupMs = 4000;

  // ------------------------------------------------------------- Velvanet
  Figures vv;
  {
    long rss0;
    int threads0;
    ProcStatus(0, rss0, threads0);
    CLiveSource* source = new CLiveSource(1);
    source->SetUrl(src);
    StreamChannel* channel = new StreamChannel(1, nullptr);
    channel->SetOwner(source);
    std::vector<StreamOutput*> outputs;
    for (int i = 0; i < streams; ++i) {
      StreamOutput* out = new StreamOutput(100 + i, server.Url("vv" + std::to_string(i)), StreamOutput::kPublish,
                                           nullptr, nullptr);
      channel->AddOutput(100 + i, StreamChannel::kStreamOutput, out);
    }
    source->AddOutput(channel, 1);
    source->Start();
    std::unique_ptr<Sink> sink(new Sink(server.Url("vv0")));
    std::this_thread::sleep_for(std::chrono::milliseconds(warmupMs));
    double sinkCpu0 = sinkCpuSeconds(sourceSink, *sink);
    double cpu0 = ProcessCpuSeconds();
    double t0 = NowMs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double wall = (NowMs() - t0) / 1000.0;
    double cpu = ProcessCpuSeconds() - cpu0 - (sinkCpuSeconds(sourceSink, *sink) - sinkCpu0);
    long rss;
    int threads;
    ProcStatus(0, rss, threads);
    vv.cpuPercentPerStream = 100.0 * cpu / wall / streams;
    vv.rssMiBPerStream = (rss - rss0) / 1024.0 / streams;
    vv.threads = threads - threads0 - 1;  // minus the relay's sink
    vv.threadsPerStream = static_cast<double>(vv.threads) / streams;
    vv.latencyMs = AddedLatencyMs(sourceSink.Frames(), sink->Frames());
    sink.reset();
    for (int i = 0; i < streams; ++i) source->RemoveOutput(1, 100 + i, 1);
    source->Stop();
    delete source;
  }

  // ------------------------------------------------------------- ffmpeg
  Figures ff;
  {
    std::vector<pid_t> relays;
    for (int i = 0; i < streams; ++i)
      relays.push_back(Spawn({"ffmpeg", "-nostdin", "-v", "error", "-re", "-i", src, "-c", "copy", "-f", "flv",
                              server.Url("ff" + std::to_string(i))}));
    std::unique_ptr<Sink> sink(new Sink(server.Url("ff0")));
    std::this_thread::sleep_for(std::chrono::milliseconds(warmupMs));
    std::vector<double> cpu0;
    for (pid_t p : relays) cpu0.push_back(ChildCpuSeconds(p));
    double t0 = NowMs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double wall = (NowMs() - t0) / 1000.0;
    double cpu = 0;
    long rssTotal = 0;
    int threadsTotal = 0;
    for (size_t i = 0; i < relays.size(); ++i) {
      cpu += ChildCpuSeconds(relays[i]) - cpu0[i];
      long rss;
      int threads;
      ProcStatus(relays[i], rss, threads);
      rssTotal += rss;
      threadsTotal += threads;
    }
    ff.cpuPercentPerStream = 100.0 * cpu / wall / streams;
    ff.rssMiBPerStream = rssTotal / 1024.0 / streams;
    ff.threads = threadsTotal;
    ff.threadsPerStream = static_cast<double>(threadsTotal) / streams;
    ff.latencyMs = AddedLatencyMs(sourceSink.Frames(), sink->Frames());
    sink.reset();
    for (pid_t p : relays) Kill(p);
  }
  Kill(generator);

  printf("\n%d pass-through relays of one 720p 3 Mbit/s stream, %d s measured\n", streams, seconds);
  printf("%-30s %12s %12s %10s\n", "figure", "Velvanet", "ffmpeg", "ratio");
  printf("%-30s %12.2f %12.2f %10.2f\n", "CPU % per stream", vv.cpuPercentPerStream, ff.cpuPercentPerStream,
         Ratio(vv.cpuPercentPerStream, ff.cpuPercentPerStream));
  printf("%-30s %12.2f %12.2f %10.2f\n", "resident MiB per stream", vv.rssMiBPerStream, ff.rssMiBPerStream,
         Ratio(vv.rssMiBPerStream, ff.rssMiBPerStream));
  printf("%-30s %12.1f %12.1f %10.2f\n", "added latency ms (median)", vv.latencyMs, ff.latencyMs,
         Ratio(vv.latencyMs, ff.latencyMs));
  printf("%-30s %12d %12d %10.2f\n", "threads", vv.threads, ff.threads, Ratio(vv.threads, ff.threads));
  printf("%-30s %12.2f %12.2f %10.2f\n", "threads per stream", vv.threadsPerStream, ff.threadsPerStream,
         Ratio(vv.threadsPerStream, ff.threadsPerStream));
  printf("Velvanet's figures include its one source and channel, shared by the %d forwards;\n"
         "each ffmpeg relay runs as: ffmpeg -re -i SRC -c copy -f flv URL (-re paces from what it\n"
         "buffered while probing the live input, which shows in its latency).\n",
         streams);
  if (vv.latencyMs < 0 || ff.latencyMs < 0) printf("(latency -1: too few frames matched)\n");
  return 0;
}
