#include "console/logic/SourceEditors.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <exception>

#include "core/DatabaseManager.h"

using vvforms::CheckRange;
using vvforms::kDatabaseWriteFailed;
using vvforms::kUrlHasSubStreams;
using vvforms::Trim;

namespace {

// True when a sub-stream is linked to the source of that url.
bool HasSubStreams(const std::string& url) {
  std::deque<SubStreamInfo*> list;
  CDatabaseManager::Instance().GetSubStreamByUrl(list, url);
  bool any = !list.empty();
  for (SubStreamInfo* s : list) delete s;
  return any;
}

// A source's url may change only while no sub-stream hangs on it.
bool CheckUrlChange(IPrompt& prompt, bool editMode, const std::string& loadedUrl, const std::string& url) {
  if (editMode && url != loadedUrl && HasSubStreams(loadedUrl)) {
    prompt.Message(kUrlHasSubStreams);
    return false;
  }
  return true;
}

// Writes a device source or sub-stream row. The update rewrites the whole
// row, so a running one keeps its state and live address; an insert hands
// back the new id. Says so when the database refuses.
template <typename Row>
bool StoreRow(IPrompt& prompt, bool editMode, int& id, Row& row, bool (CDatabaseManager::*get)(Row&, int),
              bool (CDatabaseManager::*update)(const Row&, int), bool (CDatabaseManager::*insert)(const Row&, int&)) {
  CDatabaseManager& db = CDatabaseManager::Instance();
  bool stored;
  if (editMode) {
    Row current;
    if ((db.*get)(current, id)) {
      row.status = current.status;
      row.live_url = current.live_url;
    }
    stored = (db.*update)(row, id);
  } else {
    int newId = 0;
    stored = (db.*insert)(row, newId);
    if (stored) id = newId;
  }
  if (!stored) {
    prompt.Message(kDatabaseWriteFailed);
    return false;
  }
  return true;
}

}  // namespace

// ------------------------------------------------------------ url sources

void UrlSourceEditor::Load(bool edit, int id) {
  editMode = edit;
  sourceId = id;
  if (!editMode) return;
  UrlSourceInfo row;
  CDatabaseManager& db = CDatabaseManager::Instance();
  bool found = type_ == LIVE_TYPE_NET ? db.GetNetSource(row, id) : db.GetFileSource(row, id);
  if (!found) return;
  alias = row.alias;
  url = row.url;
  loadedUrl = row.url;
}

bool UrlSourceEditor::Submit(IPrompt& prompt) {
  CDatabaseManager& db = CDatabaseManager::Instance();
  if (alias.empty()) {
    prompt.Message("请填写别名");
    return false;
  }
  if (url.empty()) {
    prompt.Message("请输入源地址");
    return false;
  }
  bool found = false;
  bool ok = type_ == LIVE_TYPE_NET ? db.FindNetSourceByUrl(url, found) : db.FindFileSourceByUrl(url, found);
  if (ok && found && url != loadedUrl) {
    prompt.Message("该地址已经存在");
    return false;
  }
  if (!CheckUrlChange(prompt, editMode, loadedUrl, url)) return false;
  UrlSourceInfo row;
  row.alias = alias;
  row.url = url;
  bool stored;
  if (editMode) {
    // Only alias and url are written: status and live address stay.
    stored = type_ == LIVE_TYPE_NET ? db.UpdateNetSource(row, sourceId) : db.UpdateFileSource(row, sourceId);
  } else {
    int newId = 0;
    stored = type_ == LIVE_TYPE_NET ? db.InsertNetSource(row, newId) : db.InsertFileSource(row, newId);
    if (stored) sourceId = newId;
  }
  if (!stored) {
    prompt.Message(kDatabaseWriteFailed);
    return false;
  }
  return true;
}

// --------------------------------------------------------- device sources

CaptureDeviceSources CaptureDeviceSources::System() {
  CaptureDeviceSources s;
  s.video = &vvplatform::DefaultV4l2Io();
  s.audio = &CAudioDeviceList::Instance();
  return s;
}

void DeviceSourceEditor::Load(bool edit, int id) {
  editMode = edit;
  sourceId = id;
  videoDevices = {};
  sizes = {};
  audioDevices = {};
  lines = {};
  video_.clear();
  if (sources_.video) video_ = vvplatform::ListVideoCaptureDevices(*sources_.video);
  for (size_t i = 0; i < video_.size(); ++i)
    videoDevices.items.push_back(std::to_string(i + 1) + ". " + video_[i].name);
  if (sources_.audio) audioDevices.items = sources_.audio->Names();
  useVideo = useAudio = false;
  if (!editMode) return;

  DeviceSourceInfo row;
  if (!CDatabaseManager::Instance().GetDeviceSource(row, id)) return;
  alias = row.alias;
  loadedUrl = row.url;
  for (size_t i = 0; i < videoDevices.items.size(); ++i) {
    const std::string& entry = videoDevices.items[i];
    size_t dot = entry.find('.');
    std::string name = dot == std::string::npos ? entry : entry.substr(dot + 1);
    if (Trim(name) == Trim(row.videoName)) {
      SelectVideoDevice(static_cast<int>(i));
      break;
    }
  }
  sizes.SelectTrimmed(std::to_string(row.width) + "x" + std::to_string(row.height));
  bitRate = row.bps;
  frameRate = row.frameRate;
  gop = row.gop;
  if (audioDevices.SelectTrimmed(row.audioName)) SelectAudioDevice(audioDevices.selected);
  lines.SelectTrimmed(row.audio_line);
  int rate = std::atoi(Trim(row.sampleRate).c_str());
  sampleRates.selected = -1;
  for (size_t i = 0; i < sampleRates.items.size(); ++i)
    if (std::atoi(sampleRates.items[i].c_str()) == rate) sampleRates.selected = static_cast<int>(i);
  volume = std::clamp(row.audio_volumn, 0, 100);
  for (size_t i = 0; i < audioBitRates.items.size(); ++i)
    if (std::atoi(audioBitRates.items[i].c_str()) == row.audio_br) audioBitRates.selected = static_cast<int>(i);
  channels = row.audio_stereo ? 1 : 0;
  useAudio = row.use_audio == 1;
  useVideo = row.use_video == 1;
}

void DeviceSourceEditor::SelectVideoDevice(int index) {
  if (index < 0 || index >= static_cast<int>(video_.size())) return;
  videoDevices.selected = index;
  sizes = {};
  if (sources_.video) sizes.items = vvplatform::ListVideoCaptureSizes(*sources_.video, video_[index].path);
  // The size list sorts its entries as text.
  std::sort(sizes.items.begin(), sizes.items.end());
  if (!sizes.items.empty()) sizes.selected = 0;
}

void DeviceSourceEditor::SelectAudioDevice(int index) {
  lines = {};
  if (index < 0 || index >= static_cast<int>(audioDevices.items.size())) return;
  audioDevices.selected = index;
  CAudioInputDevice* device = sources_.audio ? sources_.audio->Find(audioDevices.items[index]) : nullptr;
  if (!device) return;
  try {
    CMixer* mixer = device->OpenMixer();
    lines.items = mixer->GetLines();
    mixer->Close();
  } catch (const std::exception&) {
    return;  // a mixer that cannot be opened leaves the list empty
  }
  if (!editMode && !lines.items.empty()) lines.selected = 0;
}

DeviceSourceInfo DeviceSourceEditor::BuildRow() const {
  DeviceSourceInfo row;
  row.alias = alias;
  row.status = 0;
  if (useVideo) {
    row.use_video = 1;
    std::string entry = videoDevices.SelectedText();
    size_t dot = entry.find('.');
    row.videoName = dot == std::string::npos ? entry : entry.substr(dot + 1);
    // No size offered or chosen: 0x0 lets the device use its own size.
    vvforms::SplitSize(sizes.SelectedText(), row.width, row.height);
    row.gop = gop;
    row.bps = bitRate;
    row.frameRate = frameRate;
  }
  if (useAudio) {
    row.use_audio = 1;
    row.audioName = audioDevices.SelectedText();
    row.audio_line = lines.SelectedText();
    row.audio_volumn = volume;
    row.sampleRate = sampleRates.SelectedText();
    row.audio_br = std::atoi(audioBitRates.SelectedText().c_str());
    row.audio_stereo = channels;
  }
  row.url = useVideo ? row.videoName : row.audioName;
  return row;
}

bool DeviceSourceEditor::Submit(IPrompt& prompt) {
  if (!CheckRange(prompt, frameRate, vvforms::kMinFrameField, vvforms::kMaxFrameField) ||
      !CheckRange(prompt, gop, 1, vvforms::kMaxInt) || !CheckRange(prompt, bitRate, 1, vvforms::kMaxInt))
    return false;
  if (alias.empty()) {
    prompt.Message("请填写别名");
    return false;
  }
  if (!useVideo && !useAudio) {
    prompt.Message("视频设备和音频设备至少选其一");
    return false;
  }
  if ((useVideo && !videoDevices.Selected()) || (useAudio && !audioDevices.Selected())) {
    prompt.Message("没选择设备!");
    return false;
  }
  DeviceSourceInfo row = BuildRow();
  CDatabaseManager& db = CDatabaseManager::Instance();
  bool found = false;
  if (db.FindDeviceSourceByUrl(row.url, found) && found && row.url != loadedUrl) {
    prompt.Message("该设备已经存在");
    return false;
  }
  if (!CheckUrlChange(prompt, editMode, loadedUrl, row.url)) return false;
  if (!StoreRow(prompt, editMode, sourceId, row, &CDatabaseManager::GetDeviceSource,
                &CDatabaseManager::UpdateDeviceSource, &CDatabaseManager::InsertDeviceSource))
    return false;
  url = row.url;
  return true;
}

// ------------------------------------------------------------ sub-streams

void SubStreamEditor::Load(bool edit, int id, const std::string& url) {
  editMode = edit;
  subStreamId = edit ? id : -1;
  sourceUrl = url;
  useVideo = useAudio = false;
  if (!editMode) return;
  SubStreamInfo row;
  if (!CDatabaseManager::Instance().GetSubStream(row, id)) return;
  alias = row.alias;
  videoCodecs.SelectTrimmed(row.vFormat);
  colorSpaces.SelectTrimmed(row.vColor);
  sizes.SelectTrimmed(std::to_string(row.width) + "x" + std::to_string(row.height));
  audioCodecs.SelectTrimmed(row.aFormat);
  sampleRates.SelectTrimmed(row.sampleRate);
  for (size_t i = 0; i < audioBitRates.items.size(); ++i)
    if (std::atoi(audioBitRates.items[i].c_str()) == row.aBitRate) audioBitRates.selected = static_cast<int>(i);
  bitRate = row.vBitRate;
  frameRate = row.frameRate;
  gop = row.gop;
  channels = row.aChannel ? 1 : 0;
  useVideo = row.useVideo;
  useAudio = row.useAudio;
  sourceUrl = row.url;
}

SubStreamInfo SubStreamEditor::BuildRow() const {
  SubStreamInfo row;
  row.alias = alias;
  row.url = sourceUrl;
  row.useVideo = useVideo;
  row.useAudio = useAudio;
  if (useVideo) {
    row.vFormat = videoCodecs.SelectedText();
    row.vColor = colorSpaces.SelectedText();
    vvforms::SplitSize(sizes.SelectedText(), row.width, row.height);
    row.vBitRate = bitRate;
    row.frameRate = frameRate;
    row.gop = gop;
  }
  if (useAudio) {
    row.aFormat = audioCodecs.SelectedText();
    row.sampleRate = sampleRates.SelectedText();
    row.aBitRate = std::atoi(audioBitRates.SelectedText().c_str());
    row.aChannel = channels;
  }
  return row;
}

bool SubStreamEditor::Submit(IPrompt& prompt) {
  if (!CheckRange(prompt, bitRate, 1, vvforms::kMaxInt) || !CheckRange(prompt, gop, 1, vvforms::kMaxInt) ||
      !CheckRange(prompt, frameRate, 1, vvforms::kMaxInt))
    return false;
  if (alias.empty()) {
    prompt.Message("请填写别名");
    return false;
  }
  if (!useVideo && !useAudio) {
    prompt.Message("视频和音频至少选其一");
    return false;
  }
  SubStreamInfo row = BuildRow();
  return StoreRow(prompt, editMode, subStreamId, row, &CDatabaseManager::GetSubStream,
                  &CDatabaseManager::UpdateSubStream, &CDatabaseManager::InsertSubStream);
}
