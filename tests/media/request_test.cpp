// Pending requests of the live-channel manager.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "media/TaskRequestQueue.h"

namespace {

std::string Describe(const TaskRequestQueue& q) {
  std::string s;
  for (const auto& p : q.Snapshot()) {
    if (!s.empty()) s += " ";
    s += std::to_string(p.request.id) + ":" + std::to_string(p.request.kind) + (p.request.start ? "+" : "-");
  }
  return s;
}

}  // namespace

TEST(TaskRequestQueueTest, ReplacementRules) {
  struct Post {
    uint32_t id, kind;
    uint8_t start;
  };
  struct Case {
    const char* what;
    std::vector<Post> posts;
    std::vector<uint32_t> removes;
    const char* pending;
  } cases[] = {
      {"same request twice keeps one", {{5, 1, 1}, {5, 1, 1}}, {}, "5:1+"},
      {"start after stop keeps the start", {{5, 1, 0}, {5, 1, 1}}, {}, "5:1+"},
      {"stop after start keeps the stop", {{5, 1, 1}, {5, 1, 0}}, {}, "5:1-"},
      {"kinds share one key", {{5, 1, 1}, {5, 2, 1}}, {}, "5:2+"},
      {"ids kept apart, in id order", {{9, 2, 1}, {3, 1, 1}, {7, 4, 0}}, {}, "3:1+ 7:4- 9:2+"},
      {"remove drops only its id", {{3, 1, 1}, {4, 1, 1}}, {3, 8}, "4:1+"},
  };
  for (const Case& c : cases) {
    TaskRequestQueue q;
    for (const Post& p : c.posts) q.Post(new TaskRequest(p.id, p.kind, p.start));
    for (uint32_t id : c.removes) q.Remove(id);
    EXPECT_EQ(Describe(q), c.pending) << c.what;
  }
}

// A stop posted while the start it replaces is being handled survives the
// start's completion; the handled start itself is dropped.
TEST(TaskRequestQueueTest, RequestPostedDuringAPassIsKept) {
  TaskRequestQueue q;
  q.Post(new TaskRequest(5, 1, 1));
  q.Post(new TaskRequest(6, 1, 1));
  auto pass = q.Snapshot();
  ASSERT_EQ(pass.size(), 2u);
  q.Post(new TaskRequest(5, 1, 0));  // arrives while the pass works on the start
  for (const auto& p : pass) q.Done(p.request.id, p.serial);
  EXPECT_EQ(Describe(q), "5:1-");
  q.Post(nullptr);
  EXPECT_FALSE(q.Empty());
}

// Posting, replacing and completing from several threads never loses the
// last request of an id nor touches a freed one (run under the sanitizers).
TEST(TaskRequestQueueTest, ConcurrentPostersAndHandler) {
  TaskRequestQueue q;
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&q, t] {
      for (int i = 0; i < 2000; ++i) q.Post(new TaskRequest(i % 16, 1 + (t % 2), uint8_t((i / 16 + t) % 2)));
    });
  }
  std::thread handler([&q] {
    for (int i = 0; i < 500; ++i)
      for (const auto& p : q.Snapshot()) q.Done(p.request.id, p.serial);
  });
  for (auto& t : posters) t.join();
  handler.join();
  // Whatever is left is one request per id at most.
  auto left = q.Snapshot();
  for (size_t i = 1; i < left.size(); ++i) EXPECT_LT(left[i - 1].request.id, left[i].request.id);
  q.Post(new TaskRequest(3, 2, 1));
  q.Post(new TaskRequest(3, 2, 0));
  bool found = false;
  for (const auto& p : q.Snapshot())
    if (p.request.id == 3) found = p.request.start == 0 && p.request.kind == 2;
  EXPECT_TRUE(found);
}
