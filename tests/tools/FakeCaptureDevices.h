#pragma once
// Fake capture hardware: V4L2 nodes answered from tables, an /proc/asound
// folder written into a scratch folder, and simple-mixer elements per card.
#include <linux/videodev2.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/CaptureDevices.h"

namespace vvtest {

struct FakeVideoNode {
  std::string path;
  std::string card;
  uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  struct Format {
    uint32_t fourcc = V4L2_PIX_FMT_YUYV;
    std::vector<std::pair<uint32_t, uint32_t>> discrete;
    bool stepwise = false;
    uint32_t minW = 0, minH = 0, maxW = 0, maxH = 0;
  };
  std::vector<Format> formats;
  bool openFails = false;
};

class FakeV4l2Io : public vvplatform::IV4l2Io {
 public:
  std::vector<FakeVideoNode> nodes;
  std::set<int> openFds;
  int opens = 0;

  std::vector<std::string> ListNodes() override {
    std::vector<std::string> paths;
    for (auto& n : nodes) paths.push_back(n.path);
    return paths;
  }
  int Open(const std::string& path) override {
    for (size_t i = 0; i < nodes.size(); ++i) {
      if (nodes[i].path != path || nodes[i].openFails) continue;
      int fd = 100 + static_cast<int>(i) * 10 + (opens++ % 10);
      openFds.insert(fd);
      return fd;
    }
    return -1;
  }
  int Ioctl(int fd, unsigned long request, void* arg) override {
    if (!openFds.count(fd)) return -1;
    const FakeVideoNode& n = nodes[(fd - 100) / 10];
    if (request == VIDIOC_QUERYCAP) {
      auto* cap = static_cast<v4l2_capability*>(arg);
      std::memset(cap, 0, sizeof *cap);
      std::memcpy(cap->card, n.card.data(), std::min(n.card.size(), sizeof cap->card));
      cap->device_caps = n.caps;
      cap->capabilities = n.caps | V4L2_CAP_DEVICE_CAPS;
      return 0;
    }
    if (request == VIDIOC_ENUM_FMT) {
      auto* f = static_cast<v4l2_fmtdesc*>(arg);
      if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || f->index >= n.formats.size()) return -1;
      f->pixelformat = n.formats[f->index].fourcc;
      return 0;
    }
    if (request == VIDIOC_ENUM_FRAMESIZES) {
      auto* s = static_cast<v4l2_frmsizeenum*>(arg);
      for (const auto& f : n.formats) {
        if (f.fourcc != s->pixel_format) continue;
        if (f.stepwise) {
          if (s->index != 0) return -1;
          s->type = V4L2_FRMSIZE_TYPE_STEPWISE;
          s->stepwise = {f.minW, f.maxW, 16, f.minH, f.maxH, 16};
          return 0;
        }
        if (s->index >= f.discrete.size()) return -1;
        s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        s->discrete.width = f.discrete[s->index].first;
        s->discrete.height = f.discrete[s->index].second;
        return 0;
      }
      return -1;
    }
    return -1;
  }
  void Close(int fd) override { openFds.erase(fd); }
};

// Writes <root>/cards and <root>/pcm for cards {index, id, driver, name,
// capture}.
struct FakeCard {
  int index;
  std::string id;
  std::string name;
  bool capture = true;
};

inline void WriteAsound(const std::string& root, const std::vector<FakeCard>& cards) {
  std::ofstream c(root + "/cards"), p(root + "/pcm");
  for (const FakeCard& card : cards) {
    char line[256];
    std::snprintf(line, sizeof line, "%2d [%-15s]: USB-Audio - %s\n", card.index, card.id.c_str(),
                  card.name.c_str());
    c << line << "                      " << card.name << " at usb-0000:00:14.0-" << card.index
      << ", high speed\n";
    std::snprintf(line, sizeof line, "%02d-00: USB Audio : USB Audio : playback 1%s\n", card.index,
                  card.capture ? " : capture 1" : "");
    p << line;
  }
}

class FakeMixerIo : public vvplatform::IAlsaMixerIo {
 public:
  std::map<int, std::vector<vvplatform::MixerElement>> cards;  // absent card: cannot open
  int calls = 0;
  bool ListElements(int card, std::vector<vvplatform::MixerElement>& elements) override {
    ++calls;
    auto it = cards.find(card);
    if (it == cards.end()) return false;
    elements = it->second;
    return true;
  }
};

}  // namespace vvtest
