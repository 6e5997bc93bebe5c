#pragma once
// What the source and sub-stream dialogs hold, check and store: the fields
// with their defaults, the checks with their messages in order, the row
// built from them and its write through CDatabaseManager. The widgets copy
// their controls into these fields and back.
#include <functional>
#include <string>
#include <vector>

#include "console/logic/AudioDevices.h"
#include "console/logic/FormChecks.h"
#include "console/logic/Prompt.h"
#include "core/RowRecords.h"
#include "platform/CaptureDevices.h"

// ---- Network and file sources: an alias and an address.
class UrlSourceEditor {
 public:
  explicit UrlSourceEditor(LiveSourceType type) : type_(type) {}  // LIVE_TYPE_NET or LIVE_TYPE_FILE

  // Edit mode reads the row; a row that cannot be read leaves the fields empty.
  void Load(bool editMode, int sourceId);
  // Checks and stores; true once the row is stored (sourceId is then the
  // row's id). Every refusal has told the operator why.
  bool Submit(IPrompt& prompt);

  LiveSourceType Type() const { return type_; }
  bool editMode = false;
  int sourceId = 0;
  std::string alias;
  std::string url;
  std::string loadedUrl;

 private:
  LiveSourceType type_;
};

// ---- Capture-device sources.

// Where the device dialog finds the machine's devices.
struct CaptureDeviceSources {
  vvplatform::IV4l2Io* video = nullptr;
  CAudioDeviceList* audio = nullptr;
  static CaptureDeviceSources System();
};

class DeviceSourceEditor {
 public:
  explicit DeviceSourceEditor(CaptureDeviceSources sources) : sources_(sources) {}

  // Lists the devices and sets the defaults; edit mode then loads the row.
  void Load(bool editMode, int sourceId);
  // A new selection in the video list: the sizes of that device, the first selected.
  void SelectVideoDevice(int index);
  // A new selection in the audio list: its microphone lines (add mode
  // selects the first).
  void SelectAudioDevice(int index);
  bool Submit(IPrompt& prompt);

  bool editMode = false;
  int sourceId = 0;
  std::string alias;
  std::string url;        // the source's url, set by Submit
  std::string loadedUrl;  // the row's url when editing
  bool useVideo = false;
  vvforms::Choice videoDevices;  // "1. name"
  vvforms::Choice sizes;         // sorted as text
  int gop = 50;
  int bitRate = 200;  // kbps
  int frameRate = 25;
  bool useAudio = false;
  vvforms::Choice audioDevices;
  vvforms::Choice lines;
  vvforms::Choice sampleRates{{"48000", "44100", "32000"}, 0};
  vvforms::Choice audioBitRates{{"32", "64", "96", "128"}, 1};
  int volume = 50;  // 0..100
  int channels = 1;  // 0 mono, 1 stereo

  // The row Submit stores.
  DeviceSourceInfo BuildRow() const;

 private:
  CaptureDeviceSources sources_;
  std::vector<vvplatform::VideoCaptureDevice> video_;
};

// ---- Sub-streams.
class SubStreamEditor {
 public:
  // Add mode: sourceUrl is the url of the source the sub-stream belongs to.
  void Load(bool editMode, int subStreamId, const std::string& sourceUrl);
  bool Submit(IPrompt& prompt);
  SubStreamInfo BuildRow() const;

  bool editMode = false;
  int subStreamId = -1;
  std::string sourceUrl;
  std::string alias;
  bool useVideo = false;
  vvforms::Choice videoCodecs{{"H264"}, 0};
  vvforms::Choice colorSpaces{{"YUVJ420P"}, 0};
  vvforms::Choice sizes{{"1920x1080", "1080x720", "400x300"}, 0};
  int bitRate = 300;  // kbps
  int gop = 50;
  int frameRate = 25;
  bool useAudio = false;
  vvforms::Choice audioCodecs{{"AAC"}, 0};
  vvforms::Choice sampleRates{{"48000", "44100", "32000"}, 0};
  vvforms::Choice audioBitRates{{"32", "64", "96", "128"}, 1};
  int channels = 1;  // 0 mono, 1 stereo
};
