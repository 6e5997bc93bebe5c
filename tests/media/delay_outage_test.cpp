// Delayed forwards through a source outage, measured to the frame: a
// numbered source is published to nginx-rtmp, a live source pulls it into a
// channel with a file-delayed and a memory-delayed forward, and the frame
// numbers decoded at the source and at each forward's sink give the delay
// of every frame. The publisher is killed for 15 s and then publishes again
// at the same URL.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Paths.h"
#include "core/RowRecords.h"
#include "media/LiveSource.h"
#include "media/StreamChannel.h"
#include "media/StreamOutput.h"
#include "tests/tools/FrameNumbers.h"
#include "tests/tools/NginxRtmp.h"
#include "tests/tools/TestUtil.h"

using namespace std::chrono_literals;

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int64_t kToleranceMs = 500;  // the checked builds run several times slower
#else
constexpr int64_t kToleranceMs = 200;
#endif

int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool LongRun() {
  const char* v = getenv("VV_LONG_TESTS");
  return v && strcmp(v, "1") == 0;
}

// The numbering of the publisher's second run starts here, above anything
// the first run reaches.
constexpr int kSecondRun = 30000;

double Median(std::vector<int64_t> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return static_cast<double>(v[v.size() / 2]);
}

struct Delayed {
  const char* name;
  int id;
  int bufferType;
  std::string stream;
  // Whether the frames before the outage are held to the delay too.
  bool wholeRun;
  // How much later than the delay a frame may play beyond the tolerance.
  int64_t stallMs;
  std::unique_ptr<vvtest::FrameNumberReader> sink;
};

}  // namespace

TEST(DelayOutage, FileAndMemoryDelaysHoldThroughASourceOutage) {
  if (!vvtest::NginxRtmp::Available()) GTEST_SKIP() << "nginx with the RTMP module is not installed";
  const int64_t delayMs = 20000;
  const int64_t beforeMs = 35000;  // delayed playback runs 15 s before the outage
  const int64_t outageMs = 15000;
  // After the outage: several 10 s slices, or ten minutes with VV_LONG_TESTS=1
  // (run the test binary itself then: the whole run takes longer than
  // ctest's time-out of a test).
  const int64_t afterMs = LongRun() ? 600000 : 50000;

  vvtest::TempDir dir("vv-outage");
  SetAppDir(dir.path());
  vvtest::NginxRtmp nginx;
  ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
  const std::string src = nginx.Url("cam");
  vvtest::FrameNumberReader source(src);
  Delayed outputs[] = {{"file", 61, 1, "file-delay", true, 0, nullptr},
                       {"memory", 62, 0, "memory-delay", true, 0, nullptr}};
  for (Delayed& d : outputs) d.sink = std::make_unique<vvtest::FrameNumberReader>(nginx.Url(d.stream));

  auto publisher = std::make_unique<vvtest::ChildProcess>(vvtest::NumberedPublisherCommand(src, 0), false);
  ASSERT_TRUE(publisher->Started());
  ASSERT_TRUE(vvtest::WaitFor([&] { return source.Count() > 10; }, 20s)) << source.LastErrors();

  CLiveSource live(60);
  live.SetUrl(src);
  StreamChannel* channel = new StreamChannel(60, nullptr);
  for (const Delayed& d : outputs) {
    ForwardTaskInfo row;
    row.buffer_enabled = 1;
    row.buffer_time = static_cast<int>(delayMs / 1000);
    row.buffer_type = d.bufferType;
    row.slice_seconds = 10;
    channel->AddOutput(d.id, StreamChannel::kStreamOutput,
                       new StreamOutput(d.id, nginx.Url(d.stream), StreamOutput::kPublish, &row, nullptr));
  }
  live.AddOutput(channel, 60);
  ASSERT_TRUE(live.Start());
  const int64_t started = SteadyMs();

  std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(beforeMs));
  for (const Delayed& d : outputs) ASSERT_GT(d.sink->Count(), 100u) << d.name << ": " << d.sink->LastErrors();
  publisher.reset();
  const int64_t outage = SteadyMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(outageMs));
  publisher = std::make_unique<vvtest::ChildProcess>(vvtest::NumberedPublisherCommand(src, kSecondRun), false);
  ASSERT_TRUE(publisher->Started());
  std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
  // Everything that came in until now is due at the sinks within the delay.
  const int64_t cutoff = SteadyMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(delayMs + 1500));

  live.RemoveOutput(60, outputs[0].id, 1);
  live.RemoveOutput(60, outputs[1].id, 1);
  live.Stop();
  publisher.reset();
  SetAppDir("");

  // VV_FRAMES_DUMP=<folder> keeps what each reader saw, for a closer look.
  if (const char* dump = getenv("VV_FRAMES_DUMP")) {
    auto save = [&](const std::string& name, const std::vector<vvtest::NumberedFrame>& frames) {
      FILE* f = std::fopen((std::string(dump) + "/" + name + ".txt").c_str(), "w");
      if (!f) return;
      for (const vvtest::NumberedFrame& x : frames)
        std::fprintf(f, "%d %lld %d %d\n", x.number, static_cast<long long>(x.arrival - started), x.session, x.held);
      std::fclose(f);
    };
    save("source", source.Frames());
    for (const Delayed& d : outputs) save(d.name, d.sink->Frames());
    std::printf("outage at %lld ms, cutoff at %lld ms\n", static_cast<long long>(outage - started),
                static_cast<long long>(cutoff - started));
  }

  // Where and when each number first came out at the source.
  std::map<int, int64_t> sourceArrival;
  int lastFirstRun = -1, lastSecondRun = -1;
  for (const vvtest::NumberedFrame& f : source.Frames()) {
    if (f.number < 0 || f.held || f.arrival > cutoff) continue;
    sourceArrival.emplace(f.number, f.arrival);
    if (f.number < kSecondRun) lastFirstRun = std::max(lastFirstRun, f.number);
    if (f.number >= kSecondRun) lastSecondRun = std::max(lastSecondRun, f.number);
  }
  ASSERT_GT(lastFirstRun, 25 * 30);
  ASSERT_GT(lastSecondRun, kSecondRun + 25 * 30);

  for (const Delayed& d : outputs) {
    SCOPED_TRACE(d.name);
    std::vector<vvtest::NumberedFrame> seen;
    for (const vvtest::NumberedFrame& f : d.sink->Frames())
      if (f.number >= 0 && !f.held && sourceArrival.count(f.number)) seen.push_back(f);
    ASSERT_FALSE(seen.empty()) << d.sink->LastErrors();

    // Each frame once, in the source's order.
    int backwards = 0;
    for (size_t i = 1; i < seen.size(); ++i)
      if (seen[i].number <= seen[i - 1].number) {
        if (backwards++ < 5)
          ADD_FAILURE() << "frame " << seen[i].number << " came after frame " << seen[i - 1].number;
      }
    EXPECT_EQ(backwards, 0);

    // The delay of every frame, before and after the outage.
    std::vector<int64_t> before, after, firstHalfMinute, lastHalfMinute;
    int64_t secondRunStart = -1;
    int outside = 0;
    for (const vvtest::NumberedFrame& f : seen) {
      const int64_t at = sourceArrival[f.number];
      const int64_t delay = f.arrival - at;
      if (f.number < kSecondRun) {
        before.push_back(delay);
      } else {
        if (secondRunStart < 0) secondRunStart = at;
        after.push_back(delay);
        if (at - secondRunStart < 30000) firstHalfMinute.push_back(delay);
        if (cutoff - at < 30000) lastHalfMinute.push_back(delay);
      }
      const bool checked = d.wholeRun || f.number >= kSecondRun;
      if (checked && (delay < delayMs - kToleranceMs || delay > delayMs + kToleranceMs + d.stallMs)) {
        if (outside++ < 5)
          ADD_FAILURE() << "frame " << f.number << " played " << delay << " ms after it came in, "
                        << (at - started) << " ms into the run";
      }
    }
    EXPECT_EQ(outside, 0) << "of " << seen.size() << " frames";
    std::printf("[ figures  ] %s delay: %zu frames before the outage, median %.0f ms (%lld..%lld); %zu after, "
                "median %.0f ms (%lld..%lld); drift over the run after it %.0f ms\n",
                d.name, before.size(), Median(before),
                before.empty() ? 0LL : static_cast<long long>(*std::min_element(before.begin(), before.end())),
                before.empty() ? 0LL : static_cast<long long>(*std::max_element(before.begin(), before.end())),
                after.size(), Median(after),
                after.empty() ? 0LL : static_cast<long long>(*std::min_element(after.begin(), after.end())),
                after.empty() ? 0LL : static_cast<long long>(*std::max_element(after.begin(), after.end())),
                Median(lastHalfMinute) - Median(firstHalfMinute));

    // Nothing lost on the way, from the first frame each run brought to the
    // sink to the last one due there (the source may have missed the
    // first moments of a run while it reopened).
    std::map<int, bool> arrived;
    for (const vvtest::NumberedFrame& f : seen) arrived[f.number] = true;
    for (int run = 0; run < 2; ++run) {
      const int low = run == 0 ? 0 : kSecondRun;
      const int high = run == 0 ? lastFirstRun : lastSecondRun;
      auto first = arrived.lower_bound(low);
      ASSERT_TRUE(first != arrived.end() && first->first <= high) << "no frame of run " << run + 1;
      int expected = 0, got = 0;
      // The last second of the first run may not have left the source
      // before its input closed.
      const int end = run == 0 ? high - 25 : high;
      for (int n = first->first; n <= end; ++n) {
        if (!sourceArrival.count(n)) continue;
        ++expected;
        got += arrived.count(n) ? 1 : 0;
      }
      EXPECT_GE(got, expected * 98 / 100) << "run " << run + 1 << ": " << got << " of " << expected << " frames";
    }
  }
}
