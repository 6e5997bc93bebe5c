#include "console/logic/AudioDevices.h"

#include <stdexcept>

CMixer::CMixer(int card, vvplatform::IAlsaMixerIo* io) : card_(card), io_(io) {}

CMixer::~CMixer() { Close(); }

void CMixer::Open() {
  std::lock_guard<std::mutex> g(mutex_);
  if (open_) return;
  std::vector<vvplatform::MixerElement> elements;
  if (!io_ || !io_->ListElements(card_, elements)) throw std::runtime_error("Can't open Mixer Device.");
  open_ = true;
  for (const vvplatform::MixerElement& e : elements)
    if (e.capture && e.name.find("Mic") != std::string::npos) lines_.push_back(e.name);
}

std::vector<std::string> CMixer::GetLines() {
  std::lock_guard<std::mutex> g(mutex_);
  return lines_;
}

void CMixer::Close() {
  std::lock_guard<std::mutex> g(mutex_);
  lines_.clear();
  open_ = false;
}

bool CMixer::IsOpen() {
  std::lock_guard<std::mutex> g(mutex_);
  return open_;
}

CAudioDeviceList& CAudioDeviceList::Instance() {
  static CAudioDeviceList list(vvplatform::DefaultAsoundRoot(), &vvplatform::SystemAlsaMixerIo());
  return list;
}

CAudioDeviceList::CAudioDeviceList(const std::string& asoundRoot, vvplatform::IAlsaMixerIo* io)
    : root_(asoundRoot), io_(io) {}

void CAudioDeviceList::LoadLocked() {
  if (loaded_) return;
  for (const vvplatform::AudioCaptureCard& card : vvplatform::ListAudioCaptureCards(root_))
    devices_.push_back(std::make_unique<CAudioInputDevice>(card, io_));
  loaded_ = true;
}

CAudioInputDevice* CAudioDeviceList::Find(const std::string& name) {
  std::lock_guard<std::mutex> g(mutex_);
  LoadLocked();
  if (name.empty()) return nullptr;
  for (auto& d : devices_)
    if (d->GetName() == name) return d.get();
  for (auto& d : devices_)
    if (name.compare(0, d->GetName().size(), d->GetName()) == 0) return d.get();
  return nullptr;
}

std::vector<std::string> CAudioDeviceList::Names() {
  std::lock_guard<std::mutex> g(mutex_);
  LoadLocked();
  std::vector<std::string> names;
  for (auto& d : devices_) names.push_back(d->GetName());
  return names;
}
