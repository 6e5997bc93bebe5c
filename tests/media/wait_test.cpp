// Stopping the engine's objects ends every wait of their threads at once:
// a source retrying its input, a channel with nothing to do and an output
// between two connection attempts all go away promptly.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "media/LiveSource.h"
#include "media/StreamChannel.h"
#include "media/StreamOutput.h"
#include "tests/tools/TestUtil.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

}  // namespace

TEST(EngineWaits, StopEndsEveryWaitPromptly) {
  // Nothing listens on the port: the source retries its input every 2 s and
  // the output its connection every 2 s; the channel has no input and
  // waits. Each stop must wake them all, not wait out their sleeps.
  const std::string dead = "rtmp://127.0.0.1:" + std::to_string(vvtest::FreePort()) + "/live/none";
  const int cycles = 6;
  double longestMs = 0, totalMs = 0;
  for (int i = 0; i < cycles; ++i) {
    CLiveSource* source = new CLiveSource(100 + i);
    source->SetUrl(dead);
    StreamChannel* channel = new StreamChannel(100 + i, nullptr);
    StreamOutput* output = new StreamOutput(500 + i, dead, StreamOutput::kPublish, nullptr, nullptr);
    ASSERT_TRUE(channel->Start());
    ASSERT_TRUE(output->Start());
    ASSERT_TRUE(source->Start());
    // Let the threads reach their waits (a stop before that is only quicker).
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto start = Clock::now();
    source->Stop();
    channel->Stop();
    delete output;
    double ms = MsSince(start);
    delete channel;
    delete source;
    longestMs = std::max(longestMs, ms);
    totalMs += ms;
  }
  // Sleeping out the waits would take up to 2 s per stop (the retry
  // timers), and half a second for an idle channel thread.
  EXPECT_LT(longestMs, 1500) << "a stop waited for a sleep to end";
  EXPECT_LT(totalMs, cycles * 250.0) << "stops waited for idle waits to end";
}
