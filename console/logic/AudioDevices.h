#pragma once
// The audio capture devices of the machine and the microphone lines of
// their mixers, as the device source dialog lists them: ALSA capture cards
// by the name /proc/asound/cards gives them, and the capture elements of a
// card's simple mixer whose name holds "Mic".
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CaptureDevices.h"

// The mixer of one capture card with its microphone lines.
class CMixer {
 public:
  CMixer(int card, vvplatform::IAlsaMixerIo* io);
  virtual ~CMixer();
  CMixer(const CMixer&) = delete;
  CMixer& operator=(const CMixer&) = delete;

  // Reads the lines when not open yet; an open mixer keeps its lines.
  // Throws std::runtime_error("Can't open Mixer Device.") when the card's
  // mixer cannot be opened.
  void Open();
  // The microphone lines in the mixer's order (empty while closed).
  std::vector<std::string> GetLines();
  void Close();
  bool IsOpen();

 private:
  int card_;
  vvplatform::IAlsaMixerIo* io_;
  std::mutex mutex_;
  bool open_ = false;
  std::vector<std::string> lines_;
};

class CAudioInputDevice {
 public:
  CAudioInputDevice(const vvplatform::AudioCaptureCard& card, vvplatform::IAlsaMixerIo* io)
      : card_(card), mixer_(card.index, io) {}
  const std::string& GetName() const { return card_.name; }
  int GetCard() const { return card_.index; }
  // Opens the device's mixer (see CMixer::Open) and gives it.
  CMixer* OpenMixer() {
    mixer_.Open();
    return &mixer_;
  }

 private:
  vvplatform::AudioCaptureCard card_;
  CMixer mixer_;
};

// The capture cards, listed once on first use and kept for the life of the
// list (a card plugged in later is found after a restart).
class CAudioDeviceList {
 public:
  // The process-wide list over /proc/asound and alsa-lib.
  static CAudioDeviceList& Instance();
  CAudioDeviceList(const std::string& asoundRoot, vvplatform::IAlsaMixerIo* io);

  // The device of that name; failing an exact match, the first device whose
  // name begins the given name; nullptr for an empty name or no match.
  CAudioInputDevice* Find(const std::string& name);
  // The names of the devices, in card order.
  std::vector<std::string> Names();

 private:
  void LoadLocked();

  std::string root_;
  vvplatform::IAlsaMixerIo* io_;
  std::mutex mutex_;
  bool loaded_ = false;
  std::vector<std::unique_ptr<CAudioInputDevice>> devices_;
};
