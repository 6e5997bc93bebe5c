#include "platform/CaptureDevices.h"

#include <alsa/asoundlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

namespace vvplatform {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Further entries of the same name become "name #2", "name #3"...
template <typename Item>
void NumberDuplicates(std::vector<Item>& items) {
  std::map<std::string, int> seen;
  for (Item& item : items) {
    int n = ++seen[item.name];
    if (n > 1) item.name += " #" + std::to_string(n);
  }
}

class SystemIo : public IV4l2Io {
 public:
  std::vector<std::string> ListNodes() override {
    std::vector<std::pair<long, std::string>> found;
    if (DIR* d = opendir("/dev")) {
      while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, "video", 5) != 0) continue;
        const char* digits = e->d_name + 5;
        if (!*digits || std::strspn(digits, "0123456789") != std::strlen(digits)) continue;
        found.emplace_back(std::strtol(digits, nullptr, 10), std::string("/dev/") + e->d_name);
      }
      closedir(d);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (auto& f : found) nodes.push_back(f.second);
    return nodes;
  }
  int Open(const std::string& path) override { return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC); }
  int Ioctl(int fd, unsigned long request, void* arg) override {
    int r;
    do {
      r = ::ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
  }
  void Close(int fd) override { ::close(fd); }
};

std::atomic<IV4l2Io*> g_io{nullptr};
std::mutex g_rootMutex;
std::string g_root = "/proc/asound";

// The card name of a capture node, or false when the node does not capture.
bool QueryCaptureCard(IV4l2Io& io, int fd, std::string& card) {
  v4l2_capability cap;
  std::memset(&cap, 0, sizeof cap);
  if (io.Ioctl(fd, VIDIOC_QUERYCAP, &cap) != 0) return false;
  uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) return false;
  card = Trim(std::string(reinterpret_cast<const char*>(cap.card), strnlen(reinterpret_cast<const char*>(cap.card), sizeof cap.card)));
  return true;
}

}  // namespace

IV4l2Io& SystemV4l2Io() {
  static SystemIo io;
  return io;
}

IV4l2Io& DefaultV4l2Io() {
  IV4l2Io* io = g_io.load();
  return io ? *io : SystemV4l2Io();
}

void SetDefaultV4l2Io(IV4l2Io* io) { g_io.store(io); }

std::vector<VideoCaptureDevice> ListVideoCaptureDevices(IV4l2Io& io) {
  std::vector<VideoCaptureDevice> devices;
  for (const std::string& path : io.ListNodes()) {
    int fd = io.Open(path);
    if (fd < 0) continue;
    std::string card;
    bool capture = QueryCaptureCard(io, fd, card);
    io.Close(fd);
    if (capture) devices.push_back({card, path});
  }
  NumberDuplicates(devices);
  return devices;
}

std::vector<std::string> ListVideoCaptureSizes(IV4l2Io& io, const std::string& path) {
  std::vector<std::string> sizes;
  int fd = io.Open(path);
  if (fd < 0) return sizes;
  std::set<std::string> seen;
  auto add = [&](uint32_t w, uint32_t h) {
    if (w == 0 || h == 0) return;
    std::string s = std::to_string(w) + "x" + std::to_string(h);
    if (seen.insert(s).second) sizes.push_back(s);
  };
  for (uint32_t f = 0; f < 256; ++f) {
    v4l2_fmtdesc fmt;
    std::memset(&fmt, 0, sizeof fmt);
    fmt.index = f;
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (io.Ioctl(fd, VIDIOC_ENUM_FMT, &fmt) != 0) break;
    for (uint32_t i = 0; i < 1024; ++i) {
      v4l2_frmsizeenum size;
      std::memset(&size, 0, sizeof size);
      size.index = i;
      size.pixel_format = fmt.pixelformat;
      if (io.Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
      if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        add(size.discrete.width, size.discrete.height);
      } else {
        // A stepwise or continuous range comes as one entry.
        add(size.stepwise.min_width, size.stepwise.min_height);
        add(size.stepwise.max_width, size.stepwise.max_height);
        break;
      }
    }
  }
  io.Close(fd);
  return sizes;
}

std::string FindVideoCaptureNode(IV4l2Io& io, const std::string& name) {
  for (const VideoCaptureDevice& d : ListVideoCaptureDevices(io))
    if (d.name == name) return d.path;
  return "";
}

// ---- ALSA

std::string DefaultAsoundRoot() {
  std::lock_guard<std::mutex> g(g_rootMutex);
  return g_root;
}

void SetDefaultAsoundRoot(const std::string& root) {
  std::lock_guard<std::mutex> g(g_rootMutex);
  g_root = root.empty() ? "/proc/asound" : root;
}

namespace {

struct CardLine {
  int index;
  std::string id;
  std::string name;
};

// " 0 [PCH            ]: HDA-Intel - HDA Intel PCH" (the second line of
// each card, its longer description, is indented and skipped).
std::vector<CardLine> ReadCards(const std::string& root) {
  std::vector<CardLine> cards;
  std::ifstream f(root + "/cards");
  std::string line;
  while (std::getline(f, line)) {
    size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[first]))) continue;
    size_t open = line.find('['), close = line.find(']');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    size_t dash = line.find(" - ", close);
    CardLine c;
    c.index = std::atoi(line.c_str() + first);
    c.id = Trim(line.substr(open + 1, close - open - 1));
    c.name = dash != std::string::npos ? Trim(line.substr(dash + 3)) : "";
    cards.push_back(c);
  }
  return cards;
}

// Card numbers with a capture device: "01-00: USB Audio : USB Audio : capture 1".
std::set<int> ReadCaptureCards(const std::string& root) {
  std::set<int> capture;
  std::ifstream f(root + "/pcm");
  std::string line;
  while (std::getline(f, line)) {
    if (line.find("capture") == std::string::npos) continue;
    if (line.size() < 2 || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
    capture.insert(std::atoi(line.c_str()));
  }
  return capture;
}

}  // namespace

std::vector<AudioCaptureCard> ListAudioCaptureCards(const std::string& root) {
  std::set<int> capture = ReadCaptureCards(root);
  std::vector<AudioCaptureCard> cards;
  for (const CardLine& c : ReadCards(root)) {
    if (!capture.count(c.index) || c.name.empty()) continue;
    cards.push_back({c.index, c.id, c.name});
  }
  NumberDuplicates(cards);
  return cards;
}

std::string FindAlsaCaptureDevice(const std::string& root, const std::string& name) {
  for (const AudioCaptureCard& c : ListAudioCaptureCards(root))
    if (c.name == name) return "hw:" + std::to_string(c.index);
  for (const CardLine& c : ReadCards(root))
    if (c.id == name) return "hw:" + std::to_string(c.index);
  return "";
}

namespace {

class SystemMixerIo : public IAlsaMixerIo {
 public:
  bool ListElements(int card, std::vector<MixerElement>& elements) override {
    snd_mixer_t* mixer = nullptr;
    if (snd_mixer_open(&mixer, 0) < 0) return false;
    std::string hw = "hw:" + std::to_string(card);
    if (snd_mixer_attach(mixer, hw.c_str()) < 0 || snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 ||
        snd_mixer_load(mixer) < 0) {
      snd_mixer_close(mixer);
      return false;
    }
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
      if (!snd_mixer_selem_is_active(e)) continue;
      MixerElement m;
      const char* n = snd_mixer_selem_get_name(e);
      m.name = n ? n : "";
      m.capture = snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e);
      elements.push_back(m);
    }
    snd_mixer_close(mixer);
    return true;
  }
};

}  // namespace

IAlsaMixerIo& SystemAlsaMixerIo() {
  static SystemMixerIo io;
  return io;
}

}  // namespace vvplatform
