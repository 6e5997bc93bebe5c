#pragma once
// Capture devices of this machine: V4L2 video capture nodes and ALSA capture
// cards with their simple-mixer elements. The console lists them, the engine
// turns the stored names back into the node or card to open; both go
// through the functions here, so a name the console shows is a name the
// engine finds. The system calls sit behind small interfaces that tests
// replace with fake devices.
#include <string>
#include <vector>

namespace vvplatform {

// ---- V4L2

// The calls the video enumeration makes.
class IV4l2Io {
 public:
  virtual ~IV4l2Io() = default;
  // The /dev/video* nodes, in the order of their numbers.
  virtual std::vector<std::string> ListNodes() = 0;
  // A descriptor, or -1.
  virtual int Open(const std::string& path) = 0;
  // ioctl(2): 0 on success, -1 on failure.
  virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual void Close(int fd) = 0;
};

// The real device files; the process-wide default unless replaced.
IV4l2Io& SystemV4l2Io();
// The io the engine uses; nullptr goes back to SystemV4l2Io().
IV4l2Io& DefaultV4l2Io();
void SetDefaultV4l2Io(IV4l2Io* io);

struct VideoCaptureDevice {
  std::string name;  // the card name; " #2", " #3"... for further identical cards
  std::string path;  // "/dev/videoN"
};

// Nodes that capture video (single-planar capture, which FFmpeg's v4l2 input
// reads); metadata and output nodes are left out.
std::vector<VideoCaptureDevice> ListVideoCaptureDevices(IV4l2Io& io);
// The frame sizes a node offers, "WxH", each once, in the order the driver
// gives them: every discrete size; of a stepwise or continuous range its
// minimum and maximum.
std::vector<std::string> ListVideoCaptureSizes(IV4l2Io& io, const std::string& path);
// The node of a device name as ListVideoCaptureDevices names it; "" when none.
std::string FindVideoCaptureNode(IV4l2Io& io, const std::string& name);

// ---- ALSA

// The folder of the sound cards' proc files ("/proc/asound").
std::string DefaultAsoundRoot();
void SetDefaultAsoundRoot(const std::string& root);  // "" goes back to /proc/asound

struct AudioCaptureCard {
  int index = 0;     // card number: "hw:index"
  std::string id;    // the card's short id ("PCH")
  std::string name;  // its name in the cards file; " #2"... for further identical cards
};

// Cards with at least one capture device, in card order.
std::vector<AudioCaptureCard> ListAudioCaptureCards(const std::string& root);
// "hw:N" of a capture card named like ListAudioCaptureCards names it, or of
// a card with that id; "" when none.
std::string FindAlsaCaptureDevice(const std::string& root, const std::string& name);

// One element of a card's simple mixer.
struct MixerElement {
  std::string name;
  bool capture = false;  // has a capture volume or capture switch
};

class IAlsaMixerIo {
 public:
  virtual ~IAlsaMixerIo() = default;
  // The simple-mixer elements of card N, in the mixer's order; false when
  // the card's mixer cannot be opened.
  virtual bool ListElements(int card, std::vector<MixerElement>& elements) = 0;
};

// alsa-lib's simple mixer.
IAlsaMixerIo& SystemAlsaMixerIo();

}  // namespace vvplatform
