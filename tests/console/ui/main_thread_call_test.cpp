// Calls posted from worker threads run on the main thread, in order, and
// not at all once their context is gone. Run under the race checker, the
// burst shows that what a worker wrote before posting is seen by the call.
#include <gtest/gtest.h>

#include <QApplication>
#include <QObject>
#include <thread>
#include <vector>

#include "console/ui/MainThreadCall.h"
#include "tests/console/ui/PumpUntil.h"
#include "tests/tools/TestUtil.h"

using vvconsole::PostToMainThread;

namespace {

TEST(MainThreadCall, BurstsFromWorkersRunOnTheMainThreadInOrder) {
  constexpr int kWorkers = 2;
  constexpr int kPerWorker = 500;
  QObject context;
  const std::thread::id mainThread = std::this_thread::get_id();
  std::vector<std::vector<int>> seen(kWorkers);
  int offMain = 0;
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kPerWorker; ++i) {
        // Written by the worker, read by the call on the main thread.
        auto* payload = new std::vector<int>{w, i};
        PostToMainThread(&context, [&, payload] {
          if (std::this_thread::get_id() != mainThread) ++offMain;
          seen[(*payload)[0]].push_back((*payload)[1]);
          delete payload;
        });
      }
    });
  }
  for (std::thread& t : workers) t.join();
  ASSERT_TRUE(vvuitest::PumpUntil([&] { return seen[0].size() + seen[1].size() == kWorkers * kPerWorker; }));
  EXPECT_EQ(offMain, 0);
  for (int w = 0; w < kWorkers; ++w) {
    ASSERT_EQ(seen[w].size(), static_cast<size_t>(kPerWorker));
    for (int i = 0; i < kPerWorker; ++i) EXPECT_EQ(seen[w][i], i);
  }
}

TEST(MainThreadCall, CallsOfADeletedContextAreDropped) {
  auto* gone = new QObject;
  QObject kept;
  int goneRuns = 0, keptRuns = 0;
  std::thread([&] {
    PostToMainThread(gone, [&] { ++goneRuns; });
    PostToMainThread(&kept, [&] { ++keptRuns; });
    PostToMainThread(nullptr, [&] { ++goneRuns; });
  }).join();
  delete gone;
  ASSERT_TRUE(vvuitest::PumpUntil([&] { return keptRuns == 1; }));
  QApplication::processEvents();
  EXPECT_EQ(goneRuns, 0);
}

}  // namespace
