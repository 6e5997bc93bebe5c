// Pass-through relaying of live 720p, 3 Mbit/s sources: N sources with M
// forward tasks each (a live source, one pass-through channel and M
// publishing outputs per source, as the manager builds them), against the
// peers an operator would use instead, in the same run and on the same
// private nginx-rtmp on 127.0.0.1:
//   - one "ffmpeg -i SRC -c copy -f flv URL" per forward (no -re: on a live
//     input it only paces from its probe buffer and adds that to the delay);
//   - nginx-rtmp's own push relay: an nginx whose application pushes each
//     published source to M streams of the sink server.
// For each: CPU % and resident memory per forward, the latency a relay adds
// (a frame's arrival at a sink reading the relayed stream against its
// arrival at a sink reading the source; median and 95th percentile), the
// threads, the voluntary context switches per second, the send calls per
// second (send, sendto, sendmsg, write and writev system calls, counted by
// "perf stat" on their tracepoints over the same window; /proc/<pid>/io
// syscw would miss send and sendmsg) and the ratios to
// Velvanet. Then an idle figure: a started source, channel and forward (and
// the peers' equivalents) whose input has gone silent, CPU over 10 s. The
// machine's load average is read at the start and the end of every peer's
// window; figures taken at a load above 2 on 8 cores (scaled by the core
// count) are marked, since they say little about the code.
//
//   bench_relay [--sources N] [--forwards M] [--seconds S] [--idle-seconds S] [--bitrate KBITS]
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>
#include <sys/syscall.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
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

// Voluntary context switches of every thread of a process (0: this one).
long VoluntarySwitches(pid_t pid) {
  std::string base = pid ? "/proc/" + std::to_string(pid) + "/task" : std::string("/proc/self/task");
  long total = 0;
  DIR* d = opendir(base.c_str());
  if (!d) return 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(base + "/" + e->d_name + "/status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += atol(line.c_str() + 24);
  }
  closedir(d);
  return total;
}


// The one-minute load average of the machine.
double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double one = -1;
  in >> one;
  return one;
}

// A load above 2 on 8 cores, scaled to this machine's cores.
double BusyLoad() {
  long cores = sysconf(_SC_NPROCESSORS_ONLN);
  return 2.0 * (cores > 0 ? cores : 8) / 8.0;
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

// Reads an RTMP stream and notes when each video frame arrives; keeps its
// own thread's CPU time and context switches, which the figures of this
// process leave out.
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
  size_t FramesSince(double t) {
    std::lock_guard<std::mutex> l(mutex);
    size_t n = 0;
    for (const Frame& f : frames) n += f.arrival >= t;
    return n;
  }
  double CpuSeconds() const { return cpu.load(); }
  long Switches() const { return switches.load(); }
  // Its thread, left out of this process's send count.
  pid_t Tid() const { return tid.load(); }

 private:
  static int Interrupt(void* self) { return static_cast<Sink*>(self)->stop.load() ? 1 : 0; }
  void Note() {
    rusage u;
    getrusage(RUSAGE_THREAD, &u);
    cpu = u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
    switches = u.ru_nvcsw;
  }
  void Run() {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    while (!stop) {
      AVFormatContext* fmt = avformat_alloc_context();
      fmt->interrupt_callback = {Interrupt, this};
      AVDictionary* o = nullptr;
      av_dict_set(&o, "fflags", "nobuffer", 0);
      av_dict_set(&o, "rtmp_live", "live", 0);
      if (avformat_open_input(&fmt, url.c_str(), nullptr, &o) < 0) {
        av_dict_free(&o);
        Note();
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
        Note();
      }
      av_packet_free(&p);
      avformat_close_input(&fmt);
    }
    Note();
  }
  std::string url;
  std::atomic<bool> stop{false};
  std::atomic<double> cpu{0};
  std::atomic<long> switches{0};
  std::atomic<pid_t> tid{0};
  std::mutex mutex;
  std::vector<Frame> frames;
  std::thread thread;
};

// The delays (arrival at the relay's sink - arrival of the same frame at the
// source's sink), sorted. Frames are told apart by size; of the source's
// frames of that size, the latest one before the relayed arrival counts.
std::vector<double> AddedLatencies(const std::vector<Sink::Frame>& source, const std::vector<Sink::Frame>& relay,
                                   double from) {
  std::multimap<int, double> bySize;
  for (const Sink::Frame& f : source) bySize.emplace(f.size, f.arrival);
  std::vector<double> d;
  for (const Sink::Frame& f : relay) {
    if (f.arrival < from) continue;
    auto range = bySize.equal_range(f.size);
    double best = -1;
    for (auto it = range.first; it != range.second; ++it)
      if (it->second <= f.arrival && f.arrival - it->second < 5000) best = std::max(best, it->second);
    if (best >= 0) d.push_back(f.arrival - best);
  }
  std::sort(d.begin(), d.end());
  return d;
}

double Percentile(const std::vector<double>& sorted, double q) {
  if (sorted.size() < 10) return -1;
  size_t i = static_cast<size_t>(q * (sorted.size() - 1) + 0.5);
  return sorted[std::min(i, sorted.size() - 1)];
}

struct Figures {
  double cpuPercentPerForward = 0;
  double rssMiBPerForward = 0;
  double latencyMedianMs = -1;
  double latencyP95Ms = -1;
  int threads = 0;
  double switchesPerSecond = 0;
  double writeCallsPerSecond = 0;
  double loadStart = -1, loadEnd = -1;  // over the measured window
  int connected = 0;       // outputs (or relays) delivering at the end
  double framesRatio = 0;  // frames at the measured relay's sink / at the source's
  double idleCpuPercent = -1;
};

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }

// CPU, switches, memory and threads of a set of processes.
struct ProcessSet {
  std::vector<pid_t> pids;
  double Cpu() const {
    double c = 0;
    for (pid_t p : pids) c += ChildCpuSeconds(p);
    return c;
  }
  long Switches() const {
    long n = 0;
    for (pid_t p : pids) n += VoluntarySwitches(p);
    return n;
  }
  void Status(long& rssKb, int& threads) const {
    rssKb = 0;
    threads = 0;
    for (pid_t p : pids) {
      long r;
      int t;
      ProcStatus(p, r, t);
      rssKb += r;
      threads += t;
    }
  }
  bool AllAlive() const {
    for (pid_t p : pids)
      if (kill(p, 0) != 0) return false;
    return true;
  }
};

// Counts the send system calls of processes ("-p") or threads ("-t") over
// a window with "perf stat" on the syscall tracepoints; -1 when perf is
// missing or not allowed.
class SendCounter {
 public:
  SendCounter(const char* flag, const std::vector<pid_t>& ids, int seconds, const std::string& outFile)
      : out(outFile) {
    std::string list;
    for (pid_t id : ids) list += (list.empty() ? "" : ",") + std::to_string(id);
    if (list.empty()) return;
    pid = Spawn({"perf", "stat", "-x", ",", "-o", out, "-e",
                 "syscalls:sys_enter_sendto,syscalls:sys_enter_sendmsg,syscalls:sys_enter_sendmmsg,"
                 "syscalls:sys_enter_write,syscalls:sys_enter_writev",
                 flag, list, "--", "sleep", std::to_string(seconds)});
  }
  // Waits for the window to end; the calls counted, or -1.
  long Finish() {
    if (pid <= 0) return -1;
    int st = 0;
    waitpid(pid, &st, 0);
    pid = -1;
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) return -1;
    std::ifstream in(out);
    std::string line;
    long total = 0;
    int events = 0;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#' || !isdigit(static_cast<unsigned char>(line[0]))) continue;
      total += atol(line.c_str());
      ++events;
    }
    return events > 0 ? total : -1;
  }

 private:
  std::string out;
  pid_t pid = -1;
};

// The threads of this process but those given.
std::vector<pid_t> OwnThreadsExcept(const std::vector<pid_t>& leave) {
  std::vector<pid_t> tids;
  DIR* d = opendir("/proc/self/task");
  if (!d) return tids;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    pid_t t = static_cast<pid_t>(atol(e->d_name));
    if (std::find(leave.begin(), leave.end(), t) == leave.end()) tids.push_back(t);
  }
  closedir(d);
  return tids;
}

pid_t NginxPid(const vvtest::NginxRtmp& server) {
  std::ifstream in(server.prefix() + "/nginx.pid");
  long pid = 0;
  in >> pid;
  return static_cast<pid_t>(pid);
}

std::vector<pid_t> StartGenerators(const std::string& file, const std::vector<std::string>& urls) {
  std::vector<pid_t> g;
  for (const std::string& u : urls)
    g.push_back(Spawn({"ffmpeg", "-nostdin", "-v", "error", "-re", "-stream_loop", "-1", "-i", file, "-c", "copy",
                       "-f", "flv", u}));
  return g;
}

// Frames of the source's sink and of the relay's sink over the window, and
// the latencies of the relayed frames.
void Measure(Sink& sourceSink, Sink& relaySink, double t0, Figures& f) {
  std::vector<double> d = AddedLatencies(sourceSink.Frames(), relaySink.Frames(), t0);
  f.latencyMedianMs = Percentile(d, 0.5);
  f.latencyP95Ms = Percentile(d, 0.95);
  size_t atSource = sourceSink.FramesSince(t0);
  f.framesRatio = atSource ? static_cast<double>(relaySink.FramesSince(t0)) / atSource : 0;
}

struct Options {
  int sources = 1;
  int forwards = 4;
  int seconds = 10;
  int idleSeconds = 10;
  int bitrateKbits = 3000;  // of each source's video
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](int& out) {
      if (i + 1 >= argc) return false;
      out = std::max(1, atoi(argv[++i]));
      return true;
    };
    bool ok = (a == "--sources" && value(o.sources)) || (a == "--forwards" && value(o.forwards)) ||
              (a == "--seconds" && value(o.seconds)) || (a == "--idle-seconds" && value(o.idleSeconds)) ||
              (a == "--bitrate" && value(o.bitrateKbits));
    if (!ok) return false;
  }
  return true;
}

std::string Name(const char* prefix, int source, int forward = -1) {
  std::string n = std::string(prefix) + std::to_string(source);
  if (forward >= 0) n += "_" + std::to_string(forward);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!ParseOptions(argc, argv, opt)) {
    fprintf(stderr,
            "usage: bench_relay [--sources N] [--forwards M] [--seconds S] [--idle-seconds S] [--bitrate KBITS]\n");
    return 2;
  }
  const int sources = opt.sources, forwards = opt.forwards, total = sources * forwards;
  av_log_set_level(AV_LOG_QUIET);
  SetLogLevel(LOG_WARN);
  signal(SIGPIPE, SIG_IGN);
  if (!vvtest::NginxRtmp::Available()) {
    fprintf(stderr, "bench_relay: nginx with its RTMP module is not installed\n");
    return 1;
  }
  vvtest::TempDir dir("vvbench");
  std::string file = dir.file("src.flv");
  const double loadAtStart = LoadAverage();
  const std::string rate = std::to_string(opt.bitrateKbits) + "k";
  printf("making a 720p %d kbit/s source ... (load average %.2f)\n", opt.bitrateKbits, loadAtStart);
  fflush(stdout);
  std::string make =
      "ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1280x720:rate=25 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100 -t 12 -c:v libx264 -preset veryfast -b:v " + rate + " -maxrate " +
      rate + " -bufsize " + rate + " -g 50 -pix_fmt yuv420p -c:a aac -b:a 128k " + vvtest::ShellQuote(file);
  if (vvtest::Run(make, true).status != 0) {
    fprintf(stderr, "bench_relay: ffmpeg could not make the source\n");
    return 1;
  }
  vvtest::NginxRtmp server;
  if (!server.Start()) {
    fprintf(stderr, "bench_relay: nginx did not start\n%s", server.ErrorLog().c_str());
    return 1;
  }
  // The push relay: its own nginx, whose application pushes each source to
  // the sink server M times (and the idle stream once).
  std::string pushes;
  for (int s = 0; s < sources; ++s)
    for (int k = 0; k < forwards; ++k)
      pushes += "push rtmp://127.0.0.1:" + std::to_string(server.port()) + "/live name=" + Name("src", s) +
                " playPath=" + Name("ng", s, k) + ";\n      ";
  pushes += "push rtmp://127.0.0.1:" + std::to_string(server.port()) + "/live name=idle playPath=ngidle;";
  vvtest::NginxRtmp::Options relayOptions;
  relayOptions.applicationConfig = pushes;
  vvtest::NginxRtmp relayServer(relayOptions);
  if (!relayServer.Start()) {
    fprintf(stderr, "bench_relay: the relay nginx did not start\n%s", relayServer.ErrorLog().c_str());
    return 1;
  }
  avformat_network_init();

  std::vector<std::string> srcUrls;
  for (int s = 0; s < sources; ++s) srcUrls.push_back(server.Url(Name("src", s)));
  std::vector<pid_t> generators = StartGenerators(file, srcUrls);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::unique_ptr<Sink> sourceSinkOwner(new Sink(srcUrls[0]));
  Sink& sourceSink = *sourceSinkOwner;
  // Each peer is measured once its measured relay delivers (up to 60 s for
  // slow starts: ffmpeg probes its live input first), plus a settling time.
  const int warmupMs = 3000;
  auto warmUp = [&](Sink& relaySink, const std::function<bool()>& ready) {
    vvtest::WaitFor([&] { return relaySink.FramesSince(0) > 0 && ready(); }, std::chrono::seconds(60),
                    std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(warmupMs));
  };
  printf("%d sources x %d forwards, %d s measured per peer\n", sources, forwards, opt.seconds);
  fflush(stdout);

  // ------------------------------------------------------------- Velvanet
  Figures vv;
  {
    long rss0;
    int threads0;
    ProcStatus(0, rss0, threads0);
    std::vector<CLiveSource*> liveSources;
    std::vector<StreamOutput*> outputs;
    for (int s = 0; s < sources; ++s) {
      CLiveSource* source = new CLiveSource(1 + s);
      source->SetUrl(srcUrls[s]);
      StreamChannel* channel = new StreamChannel(1 + s, nullptr);
      channel->SetOwner(source);
      for (int k = 0; k < forwards; ++k) {
        int task = 1000 + s * forwards + k;
        StreamOutput* out = new StreamOutput(task, server.Url(Name("vv", s, k)), StreamOutput::kPublish, nullptr,
                                             nullptr);
        outputs.push_back(out);
        channel->AddOutput(task, StreamChannel::kStreamOutput, out);
      }
      source->AddOutput(channel, 1);
      source->Start();
      liveSources.push_back(source);
    }
    std::unique_ptr<Sink> sink(new Sink(server.Url(Name("vv", 0, 0))));
    warmUp(*sink, [&] {
      for (StreamOutput* o : outputs)
        if (!o->IsConnected()) return false;
      return true;
    });
    double sinkCpu0 = sourceSink.CpuSeconds() + sink->CpuSeconds();
    long sinkSw0 = sourceSink.Switches() + sink->Switches();
    SendCounter sends("-t", OwnThreadsExcept({sourceSink.Tid(), sink->Tid(), static_cast<pid_t>(syscall(SYS_gettid))}),
                      opt.seconds, dir.file("vv.perf"));
    double cpu0 = ProcessCpuSeconds();
    long sw0 = VoluntarySwitches(0);
    vv.loadStart = LoadAverage();
    double t0 = NowMs();
    std::this_thread::sleep_for(std::chrono::seconds(opt.seconds));
    double wall = (NowMs() - t0) / 1000.0;
    vv.loadEnd = LoadAverage();
    double cpu = ProcessCpuSeconds() - cpu0 - (sourceSink.CpuSeconds() + sink->CpuSeconds() - sinkCpu0);
    long sw = VoluntarySwitches(0) - sw0 - (sourceSink.Switches() + sink->Switches() - sinkSw0);
    long sent = sends.Finish();
    vv.writeCallsPerSecond = sent < 0 ? -1 : sent / wall;
    long rss;
    int threads;
    ProcStatus(0, rss, threads);
    for (StreamOutput* o : outputs) vv.connected += o->IsConnected() ? 1 : 0;
    vv.cpuPercentPerForward = 100.0 * cpu / wall / total;
    vv.rssMiBPerForward = (rss - rss0) / 1024.0 / total;
    vv.threads = threads - threads0 - 1;  // minus the relay's sink
    vv.switchesPerSecond = sw / wall;
    Measure(sourceSink, *sink, t0, vv);
    sink.reset();
    for (int s = 0; s < sources; ++s) {
      for (int k = 0; k < forwards; ++k) liveSources[s]->RemoveOutput(1, 1000 + s * forwards + k, 1);
      liveSources[s]->Stop();
      delete liveSources[s];
    }
  }

  // ------------------------------------------------------------- ffmpeg
  Figures ff;
  {
    ProcessSet relays;
    for (int s = 0; s < sources; ++s)
      for (int k = 0; k < forwards; ++k)
        relays.pids.push_back(
            Spawn({"ffmpeg", "-nostdin", "-v", "error", "-i", srcUrls[s], "-c", "copy", "-f", "flv",
                   server.Url(Name("ff", s, k))}));
    std::unique_ptr<Sink> sink(new Sink(server.Url(Name("ff", 0, 0))));
    warmUp(*sink, [] { return true; });
    double cpu0 = relays.Cpu();
    long sw0 = relays.Switches();
    SendCounter sends("-p", relays.pids, opt.seconds, dir.file("ff.perf"));
    ff.loadStart = LoadAverage();
    double t0 = NowMs();
    std::this_thread::sleep_for(std::chrono::seconds(opt.seconds));
    double wall = (NowMs() - t0) / 1000.0;
    ff.loadEnd = LoadAverage();
    double cpu = relays.Cpu() - cpu0;
    long sw = relays.Switches() - sw0;
    long sent = sends.Finish();
    ff.writeCallsPerSecond = sent < 0 ? -1 : sent / wall;
    long rss;
    relays.Status(rss, ff.threads);
    for (pid_t p : relays.pids) ff.connected += kill(p, 0) == 0 ? 1 : 0;
    ff.cpuPercentPerForward = 100.0 * cpu / wall / total;
    ff.rssMiBPerForward = rss / 1024.0 / total;
    ff.switchesPerSecond = sw / wall;
    Measure(sourceSink, *sink, t0, ff);
    sink.reset();
    for (pid_t p : relays.pids) Kill(p);
  }
  for (pid_t g : generators) Kill(g);

  // ------------------------------------------------------------- nginx push
  Figures ng;
  {
    ProcessSet relay;
    relay.pids.push_back(NginxPid(relayServer));
    long rss0;
    int threads0;
    relay.Status(rss0, threads0);
    std::vector<std::string> urls;
    for (int s = 0; s < sources; ++s) urls.push_back(relayServer.Url(Name("src", s)));
    std::vector<pid_t> pushGenerators = StartGenerators(file, urls);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::unique_ptr<Sink> atSource(new Sink(urls[0]));
    std::unique_ptr<Sink> sink(new Sink(server.Url(Name("ng", 0, 0))));
    warmUp(*sink, [] { return true; });
    double cpu0 = relay.Cpu();
    long sw0 = relay.Switches();
    SendCounter sends("-p", relay.pids, opt.seconds, dir.file("ng.perf"));
    ng.loadStart = LoadAverage();
    double t0 = NowMs();
    std::this_thread::sleep_for(std::chrono::seconds(opt.seconds));
    double wall = (NowMs() - t0) / 1000.0;
    ng.loadEnd = LoadAverage();
    double cpu = relay.Cpu() - cpu0;
    long sw = relay.Switches() - sw0;
    long sent = sends.Finish();
    ng.writeCallsPerSecond = sent < 0 ? -1 : sent / wall;
    long rss;
    relay.Status(rss, ng.threads);
    ng.connected = relay.AllAlive() ? total : 0;
    ng.cpuPercentPerForward = 100.0 * cpu / wall / total;
    ng.rssMiBPerForward = (rss - rss0) / 1024.0 / total;
    ng.switchesPerSecond = sw / wall;
    Measure(*atSource, *sink, t0, ng);
    sink.reset();
    atSource.reset();
    for (pid_t g : pushGenerators) Kill(g);
  }

  // ------------------------------------------------------------- idle
  // One source (stream "idle") publishes for a while, so every relay opens
  // it and connects its forward; then its publisher is stopped (SIGSTOP):
  // the connection stays, nothing more comes.
  sourceSinkOwner.reset();  // its source is gone; it would only retry
  double idleLoadStart = -1, idleLoadEnd = -1;
  {
    pid_t toServer = StartGenerators(file, {server.Url("idle")})[0];
    pid_t toRelay = StartGenerators(file, {relayServer.Url("idle")})[0];
    std::this_thread::sleep_for(std::chrono::seconds(2));
    CLiveSource* source = new CLiveSource(900);
    source->SetUrl(server.Url("idle"));
    StreamChannel* channel = new StreamChannel(900, nullptr);
    channel->SetOwner(source);
    StreamOutput* out = new StreamOutput(9000, server.Url("vvidle"), StreamOutput::kPublish, nullptr, nullptr);
    channel->AddOutput(9000, StreamChannel::kStreamOutput, out);
    source->AddOutput(channel, 1);
    source->Start();
    ProcessSet ffIdle;
    ffIdle.pids.push_back(
        Spawn({"ffmpeg", "-nostdin", "-v", "error", "-i", server.Url("idle"), "-c", "copy", "-f", "flv",
               server.Url("ffidle")}));
    ProcessSet ngIdle;
    ngIdle.pids.push_back(NginxPid(relayServer));
    vvtest::WaitFor([&] { return out->IsConnected(); }, std::chrono::seconds(20), std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    kill(toServer, SIGSTOP);
    kill(toRelay, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    double vv0 = ProcessCpuSeconds(), ff0 = ffIdle.Cpu(), ng0 = ngIdle.Cpu();
    idleLoadStart = LoadAverage();
    double t0 = NowMs();
    std::this_thread::sleep_for(std::chrono::seconds(opt.idleSeconds));
    double wall = (NowMs() - t0) / 1000.0;
    idleLoadEnd = LoadAverage();
    vv.idleCpuPercent = 100.0 * (ProcessCpuSeconds() - vv0) / wall;
    ff.idleCpuPercent = 100.0 * (ffIdle.Cpu() - ff0) / wall;
    ng.idleCpuPercent = 100.0 * (ngIdle.Cpu() - ng0) / wall;
    source->RemoveOutput(1, 9000, 1);
    source->Stop();
    delete source;
    for (pid_t p : ffIdle.pids) Kill(p);
    kill(toServer, SIGCONT);
    kill(toRelay, SIGCONT);
    Kill(toServer);
    Kill(toRelay);
  }

  const double loadAtEnd = LoadAverage();
  printf("\n%d sources x %d forwards (%d pass-through relays of 720p %d kbit/s), %d s measured each\n", sources,
         forwards, total, opt.bitrateKbits, opt.seconds);
  const double busy = BusyLoad();
  auto loaded = [busy](const Figures& f) { return f.loadStart > busy || f.loadEnd > busy; };
  printf("load average (1 min): %.2f at the start, %.2f at the end, on %ld cores%s\n", loadAtStart, loadAtEnd,
         sysconf(_SC_NPROCESSORS_ONLN),
         loadAtStart > busy || loadAtEnd > busy ? " -- above 2 per 8 cores: the figures are unreliable" : "");
  printf("%-34s %10s %10s %10s %10s %10s\n", "figure", "Velvanet", "ffmpeg", "nginx-push", "vv/ffmpeg",
         "vv/nginx");
  // Timed figures of a peer measured while the machine was busy carry a '*'.
  auto row = [&](const char* name, double a, double b, double c, const char* format, bool timed = false) {
    char fa[32], fb[32], fc[32];
    snprintf(fa, sizeof fa, format, a);
    snprintf(fb, sizeof fb, format, b);
    snprintf(fc, sizeof fc, format, c);
    if (timed) {
      if (loaded(vv)) strncat(fa, "*", sizeof fa - strlen(fa) - 1);
      if (loaded(ff)) strncat(fb, "*", sizeof fb - strlen(fb) - 1);
      if (loaded(ng)) strncat(fc, "*", sizeof fc - strlen(fc) - 1);
    }
    printf("%-34s %10s %10s %10s %10.2f %10.2f\n", name, fa, fb, fc, Ratio(a, b), Ratio(a, c));
  };
  auto loadRow = [&](const char* name, double Figures::*field) {
    printf("%-34s %10.2f %10.2f %10.2f\n", name, vv.*field, ff.*field, ng.*field);
  };
  loadRow("load average, window start", &Figures::loadStart);
  loadRow("load average, window end", &Figures::loadEnd);
  row("CPU % per forward", vv.cpuPercentPerForward, ff.cpuPercentPerForward, ng.cpuPercentPerForward, "%.2f", true);
  row("resident MiB per forward", vv.rssMiBPerForward, ff.rssMiBPerForward, ng.rssMiBPerForward, "%.2f");
  row("added latency ms, median", vv.latencyMedianMs, ff.latencyMedianMs, ng.latencyMedianMs, "%.1f", true);
  row("added latency ms, 95th percentile", vv.latencyP95Ms, ff.latencyP95Ms, ng.latencyP95Ms, "%.1f", true);
  row("threads", vv.threads, ff.threads, ng.threads, "%.0f");
  row("threads per forward", static_cast<double>(vv.threads) / total, static_cast<double>(ff.threads) / total,
      static_cast<double>(ng.threads) / total, "%.2f");
  row("voluntary context switches / s", vv.switchesPerSecond, ff.switchesPerSecond, ng.switchesPerSecond, "%.0f");
  row("voluntary switches / s per forward", vv.switchesPerSecond / total, ff.switchesPerSecond / total,
      ng.switchesPerSecond / total, "%.1f", true);
  auto perForward = [total](double v) { return v < 0 ? -1 : v / total; };
  row("send calls / s per forward", perForward(vv.writeCallsPerSecond), perForward(ff.writeCallsPerSecond),
      perForward(ng.writeCallsPerSecond), "%.1f");
  row("forwards connected at the end", vv.connected, ff.connected, ng.connected, "%.0f");
  row("frames relayed / frames at source", vv.framesRatio, ff.framesRatio, ng.framesRatio, "%.3f");
  row("idle: CPU % (one silent forward)", vv.idleCpuPercent, ff.idleCpuPercent, ng.idleCpuPercent, "%.3f");
  printf("%-34s %10.2f to %.2f%s\n", "load average, idle window", idleLoadStart, idleLoadEnd,
         idleLoadStart > busy || idleLoadEnd > busy ? " (above 2 per 8 cores: unreliable)" : "");
  printf("\nVelvanet: one live source and one pass-through channel per source, shared by its forwards; memory\n"
         "is what the process grew by. ffmpeg: one \"ffmpeg -i SRC -c copy -f flv URL\" per forward, its whole\n"
         "memory. nginx-push: one nginx (one worker) pushing each source %d times; memory is what it grew by.\n"
         "Latency is measured on the first forward of the first source; the idle figure is over %d s, after\n"
         "the input of a started source, channel and forward (or relay) went silent. nginx-push's idle\n"
         "figure is that whole process with its one silent push. Send calls: send, sendto, sendmsg, write and\n"
         "writev calls counted by perf over the window (-1: perf unavailable); Velvanet's leave out the sinks\n"
         "of this program, nginx-push's include its sends to the sink that measures its latency. '*': that\n"
         "peer was measured at a load average above %.1f (2 on 8 cores), so its timed figures are unreliable.\n",
         forwards, opt.idleSeconds, busy);
  if (vv.latencyMedianMs < 0 || ff.latencyMedianMs < 0 || ng.latencyMedianMs < 0)
    printf("(latency -1: too few frames matched)\n");
  return 0;
}
