#include "media/LiveSource.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
}

#include "core/Log.h"
#include "media/AudioCodec.h"
#include "media/CameraUrl.h"
#include "media/CodecConfig.h"
#include "media/VideoCodec.h"
#include "platform/CaptureDevices.h"

namespace {

const AVRational kMs = {1, 1000};
constexpr int kKeyFlag = 1;
// Timestamps that move further than this from the previous packet of the
// same medium are a jump (a wrap, a splice), not a gap.
constexpr int64_t kJumpMs = 10000;
// Decode times never go back within a stream: going back further than this
// is a new stream behind the same input (a publisher replaced at the
// server), whose times start afresh.
constexpr int64_t kBackJumpMs = 1000;
// Probing a live input reads up to FFmpeg's analyse duration (5 s) of it.
constexpr int64_t kProbeBudgetMs = 5000;

int64_t Tick() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

void InitFfmpegOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    avformat_network_init();
    avdevice_register_all();
  });
}

bool SameParameters(const AVCodecContext* a, const AVCodecContext* b) {
  if (a->codec_type != b->codec_type || a->codec_id != b->codec_id || a->width != b->width ||
      a->height != b->height || a->pix_fmt != b->pix_fmt || a->sample_rate != b->sample_rate ||
      a->sample_fmt != b->sample_fmt || a->ch_layout.nb_channels != b->ch_layout.nb_channels ||
      a->extradata_size != b->extradata_size)
    return false;
  return a->extradata_size <= 0 || memcmp(a->extradata, b->extradata, a->extradata_size) == 0;
}

AVCodecContext* ContextFrom(const AVCodecParameters* par, AVRational timeBase, AVRational frameRate) {
  AVCodecContext* c = avcodec_alloc_context3(nullptr);
  if (!c) return nullptr;
  if (avcodec_parameters_to_context(c, par) < 0) {
    avcodec_free_context(&c);
    return nullptr;
  }
  c->time_base = timeBase;
  c->pkt_timebase = timeBase;
  c->framerate = frameRate;
  return c;
}

AVCodecContext* CopyOfContext(const AVCodecContext* src) {
  AVCodecParameters* par = avcodec_parameters_alloc();
  if (!par) return nullptr;
  AVCodecContext* c = nullptr;
  if (avcodec_parameters_from_context(par, src) >= 0) c = ContextFrom(par, src->time_base, src->framerate);
  avcodec_parameters_free(&par);
  return c;
}

// The /dev/video* node of a device name as the console lists it (a path is
// taken as it is).
std::string FindVideoDevice(const std::string& name) {
  if (name.compare(0, 5, "/dev/") == 0) return name;
  return vvplatform::FindVideoCaptureNode(vvplatform::DefaultV4l2Io(), name);
}

// The ALSA device of a capture card named as the console lists it ("hw:N");
// device strings (with ':' or "default") and unknown names are taken as
// they are.
std::string FindAlsaDevice(const std::string& name) {
  if (name.find(':') != std::string::npos || name == "default") return name;
  std::string hw = vvplatform::FindAlsaCaptureDevice(vvplatform::DefaultAsoundRoot(), name);
  return hw.empty() ? name : hw;
}

}  // namespace

CLiveSource::CLiveSource(int id) : liveId(id), queue(new PacketQueue()) {
  pthread_mutex_init(&mutex, nullptr);
  pthread_mutex_init(&infoMutex, nullptr);
  pthread_mutex_init(&timeMutex, nullptr);
  pthread_mutex_init(&lifeMutex, nullptr);
  for (Input& in : inputs) in.owner = this;
}

CLiveSource::~CLiveSource() {
  Stop();
  pthread_mutex_lock(&mutex);
  for (auto& kv : channels) {
    kv.second->Stop();
    delete kv.second;
  }
  channels.clear();
  configured.clear();
  pthread_mutex_unlock(&mutex);
  delete queue;
  CloseInputs();
  CloseCodecs();
  avcodec_free_context(&inputVideoContext);
  avcodec_free_context(&inputAudioContext);
  avcodec_free_context(&channelVideoContext);
  avcodec_free_context(&channelAudioContext);
  for (AVCodecContext*& c : retiredContexts) avcodec_free_context(&c);
  pthread_mutex_destroy(&mutex);
  pthread_mutex_destroy(&infoMutex);
  pthread_mutex_destroy(&timeMutex);
  pthread_mutex_destroy(&lifeMutex);
}

void CLiveSource::SetUrl(const std::string& u) {
  url = u;
  size_t cut = u.find_first_of(":/");
  std::string scheme = cut == std::string::npos ? u : u.substr(0, cut);
  if (scheme == "udp") urlKind = kUdp;
  else if (scheme == "rtsp") urlKind = kRtsp;
  else if (scheme == "rtmp") urlKind = kRtmp;
  else if (scheme == "http") urlKind = kHttp;
  else urlKind = kOther;
  // FFmpeg speaks MMS over HTTP only.
  if (scheme == "mms" && cut != std::string::npos && u[cut] == ':') url = "mmsh" + u.substr(cut);
}

void CLiveSource::SetDevice(const DeviceSourceInfo& info) {
  urlKind = kDevice;
  device = info;
  device.videoName = Trimmed(info.videoName);
  device.audioName = Trimmed(info.audioName);
  // Device names are UTF-8 already on this platform.
  const std::string& v = device.videoName;
  const std::string& a = device.audioName;
  if (!v.empty() && !a.empty()) url = "video=" + v + ":audio=" + a;
  else if (!v.empty()) url = "video=" + v;
  else if (!a.empty()) url = "audio=" + a;
  else url.clear();
  if (url.size() > 1023) url.resize(1023);
}

void CLiveSource::SetCaptureFormats(const std::string& videoFormat, const std::string& audioFormat) {
  videoCaptureFormat = videoFormat;
  audioCaptureFormat = audioFormat;
}

bool CLiveSource::Start() {
  pthread_mutex_lock(&lifeMutex);
  if (running.load()) {
    pthread_mutex_unlock(&lifeMutex);
    return true;
  }
  stopping = false;
  running = true;
  needOpen = true;
  struct {
    int slot;
    void* (*entry)(void*);
  } order[] = {{kDispatch, DispatchEntry}, {kReconnect, ReconnectEntry}, {kSetup, SetupEntry}};
  for (auto& t : order) {
    threadStarted[t.slot] = pthread_create(&threads[t.slot], nullptr, t.entry, this) == 0;
    if (!threadStarted[t.slot]) LogError("live source %d: thread could not start", liveId);
  }
  pthread_mutex_unlock(&lifeMutex);
  return true;
}

void CLiveSource::Stop() {
  pthread_mutex_lock(&lifeMutex);
  // Blocked FFmpeg calls see this at their next interrupt check, pacing and
  // reconnect sleeps at their next slice.
  stopping = true;
  running = false;
  wake.Notify();
  queue->Wake();
  // The reconnect thread first, so no read thread starts behind our back.
  const int order[] = {kReconnect, kRead, kDispatch, kSetup};
  for (int i : order) {
    if (!threadStarted[i]) continue;
    if (pthread_equal(threads[i], pthread_self())) {
      pthread_detach(threads[i]);
    } else {
      pthread_join(threads[i], nullptr);
    }
    threadStarted[i] = false;
  }
  started = false;
  pthread_mutex_unlock(&lifeMutex);
}

void CLiveSource::AddOutput(StreamChannel* channel, int id) {
  if (!channel) return;
  channel->SetOwner(this);
  pthread_mutex_lock(&mutex);
  auto it = channels.find(id);
  if (it == channels.end()) {
    channels[id] = channel;
    channel = nullptr;
  }
  pthread_mutex_unlock(&mutex);
  wake.Notify();
  if (channel) LogWarn("live source %d: channel %d already present", liveId, id);
}

StreamChannel* CLiveSource::GetOutput(int id) {
  pthread_mutex_lock(&mutex);
  auto it = channels.find(id);
  StreamChannel* c = it == channels.end() ? nullptr : it->second;
  pthread_mutex_unlock(&mutex);
  return c;
}

bool CLiveSource::HasOutput(int id) { return GetOutput(id) != nullptr; }

int CLiveSource::GetOutputCount() {
  pthread_mutex_lock(&mutex);
  int n = static_cast<int>(channels.size());
  pthread_mutex_unlock(&mutex);
  return n;
}

void CLiveSource::RemoveOutput(int id, int taskId, int kind) {
  pthread_mutex_lock(&mutex);
  auto it = channels.find(id);
  if (it != channels.end()) {
    StreamChannel* c = it->second;
    c->RemoveOutput(taskId, kind);
    if (!c->HasOutputs()) {
      channels.erase(it);
      configured.erase(c);
      c->Stop();
      delete c;
    }
  }
  pthread_mutex_unlock(&mutex);
}

bool CLiveSource::HasVideo() const {
  pthread_mutex_lock(&infoMutex);
  bool v = hasVideo;
  pthread_mutex_unlock(&infoMutex);
  return v;
}

bool CLiveSource::HasAudio() const {
  pthread_mutex_lock(&infoMutex);
  bool a = hasAudio;
  pthread_mutex_unlock(&infoMutex);
  return a;
}

AVCodecContext* CLiveSource::GetChannelVideoCodecContext() const {
  pthread_mutex_lock(&infoMutex);
  AVCodecContext* c = channelVideoContext;
  pthread_mutex_unlock(&infoMutex);
  return c;
}

AVCodecContext* CLiveSource::GetChannelAudioCodecContext() const {
  pthread_mutex_lock(&infoMutex);
  AVCodecContext* c = channelAudioContext;
  pthread_mutex_unlock(&infoMutex);
  return c;
}

AVRational CLiveSource::GetVideoTimeBase() const {
  pthread_mutex_lock(&infoMutex);
  AVRational r = videoTimeBase;
  pthread_mutex_unlock(&infoMutex);
  return r;
}

AVRational CLiveSource::GetAudioTimeBase() const {
  pthread_mutex_lock(&infoMutex);
  AVRational r = audioTimeBase;
  pthread_mutex_unlock(&infoMutex);
  return r;
}

std::string CLiveSource::GetLastError() const {
  pthread_mutex_lock(&infoMutex);
  std::string e = lastError;
  pthread_mutex_unlock(&infoMutex);
  return e;
}

std::string CLiveSource::GetOpenProblem() const {
  pthread_mutex_lock(&infoMutex);
  std::string p = openProblem;
  pthread_mutex_unlock(&infoMutex);
  return p;
}

void CLiveSource::SetLastError(const std::string& text) {
  pthread_mutex_lock(&infoMutex);
  lastError = text;
  pthread_mutex_unlock(&infoMutex);
}

AVCodecContext* CLiveSource::Publish(AVCodecContext*& slot, AVCodecContext* fresh) {
  if (!fresh) return slot;
  pthread_mutex_lock(&infoMutex);
  if (slot && SameParameters(slot, fresh)) {
    avcodec_free_context(&fresh);
  } else {
    // Channels and record outputs may still hold the old context.
    if (slot) retiredContexts.push_back(slot);
    slot = fresh;
  }
  AVCodecContext* r = slot;
  pthread_mutex_unlock(&infoMutex);
  return r;
}

// ---------------------------------------------------------------- opening

int CLiveSource::InterruptCallback(void* opaque) {
  Input* in = static_cast<Input*>(opaque);
  CLiveSource* s = in->owner;
  if (s->stopping.load() || s->readFailed.load()) return 1;
  if (!in->armed.load()) return 0;
  return Tick() - in->readStart.load() > in->budget.load() ? 1 : 0;
}

bool CLiveSource::OpenInput(Input& in, const std::string& target, const char* formatName, AVDictionary** options) {
  in.videoIndex = in.audioIndex = -1;
  in.haveOrigin = in.haveAnchor = false;
  in.videoOffset = in.audioOffset = 0;
  in.lastVideoMs = in.lastAudioMs = -1;
  const AVInputFormat* format = nullptr;
  if (formatName) {
    format = av_find_input_format(formatName);
    if (!format) {
      printf("not support input device %s.\n", formatName);
      fflush(stdout);
      LogError("not support input device %s", formatName);
      SetLastError("avformat_open_input error");
      return false;
    }
  }
  in.fmt = avformat_alloc_context();
  if (!in.fmt) return false;
  in.fmt->interrupt_callback.callback = InterruptCallback;
  in.fmt->interrupt_callback.opaque = &in;
  in.budget = kReadTimeoutMs;
  in.readStart = Tick();
  in.armed = true;
  // On failure FFmpeg frees the context and clears the pointer.
  if (avformat_open_input(&in.fmt, target.c_str(), format, options) < 0) {
    if (!stopping.load()) LogError("live source %d: avformat_open_input error %s", liveId, LogSafeText(target).c_str());
    SetLastError("avformat_open_input error");
    return false;
  }
  in.budget = kReadTimeoutMs + kProbeBudgetMs;
  in.readStart = Tick();
  if (avformat_find_stream_info(in.fmt, nullptr) < 0) {
    if (!stopping.load()) LogError("live source %d: avformat_find_stream_info error %s", liveId, LogSafeText(target).c_str());
    SetLastError("avformat_find_stream_info error");
    return false;
  }
  in.budget = kReadTimeoutMs;
  in.paced = in.fmt->bit_rate != 0;
  return true;
}

bool CLiveSource::TakeStreams(Input& in, bool wantVideo, bool wantAudio) {
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  for (unsigned i = 0; i < in.fmt->nb_streams; ++i) {
    AVStream* st = in.fmt->streams[i];
    AVMediaType t = st->codecpar->codec_type;
    if (t == AVMEDIA_TYPE_VIDEO && wantVideo && in.videoIndex < 0) {
      in.videoIndex = static_cast<int>(i);
      videoStream = st;
    } else if (t == AVMEDIA_TYPE_AUDIO && wantAudio && in.audioIndex < 0) {
      in.audioIndex = static_cast<int>(i);
      audioStream = st;
    }
  }
  if (videoStream) {
    AVRational r = videoStream->r_frame_rate;
    if (r.num <= 0 || r.den <= 0) r = videoStream->avg_frame_rate;
    int rate = r.num > 0 && r.den > 0 ? r.num / r.den : 0;
    if (rate <= 0) rate = 25;
    frameRate = rate;
    inVideoTimeBase = videoStream->time_base;
    videoCodecId = videoStream->codecpar->codec_id;
    avcodec_free_context(&inputVideoContext);
    inputVideoContext = ContextFrom(videoStream->codecpar, videoStream->time_base, r);
    AVCodecContext* forChannels = nullptr;
    bool usable = false;
    if (videoCodecId == AV_CODEC_ID_H264) {
      av_bsf_free(&bsf);
      const AVBitStreamFilter* f = av_bsf_get_by_name("h264_mp4toannexb");
      if (f && av_bsf_alloc(f, &bsf) == 0) {
        avcodec_parameters_copy(bsf->par_in, videoStream->codecpar);
        bsf->time_base_in = videoStream->time_base;
        if (av_bsf_init(bsf) < 0) av_bsf_free(&bsf);
      }
      // The filter's output parameters describe the packets channels get.
      forChannels = ContextFrom(bsf ? bsf->par_out : videoStream->codecpar, videoStream->time_base, r);
      usable = true;
      videoConverted = false;
    } else {
      if (!videoCodecsOpen && inputVideoContext) videoCodecsOpen = OpenVideoCodecs(inputVideoContext);
      if (videoCodecsOpen) {
        forChannels = CopyOfContext(videoEncoder->GetCodecContext());
        usable = true;
        videoConverted = true;
      } else {
        LogError("live source %d: video codec %d cannot be converted, dropped", liveId, videoCodecId);
      }
    }
    Publish(channelVideoContext, forChannels);
    pthread_mutex_lock(&infoMutex);
    hasVideo = usable;
    videoTimeBase = videoStream->time_base;
    pthread_mutex_unlock(&infoMutex);
  }
  if (audioStream) {
    AVCodecParameters* par = audioStream->codecpar;
    inAudioTimeBase = audioStream->time_base;
    audioCodecId = par->codec_id;
    audioSampleRate = par->sample_rate;
    audioChannels = par->ch_layout.nb_channels;
    avcodec_free_context(&inputAudioContext);
    inputAudioContext = ContextFrom(par, audioStream->time_base, AVRational{0, 1});
    AVCodecContext* forChannels = nullptr;
    bool usable = false;
    audioExtra.reset();
    if (audioCodecId == AV_CODEC_ID_AAC) {
      if (par->extradata_size > 0)
        audioExtra = std::make_shared<const std::vector<uint8_t>>(par->extradata, par->extradata + par->extradata_size);
      forChannels = ContextFrom(par, audioStream->time_base, AVRational{0, 1});
      usable = true;
      audioConverted = false;
    } else {
      if (!audioCodecsOpen && inputAudioContext) audioCodecsOpen = OpenAudioCodecs(inputAudioContext);
      if (audioCodecsOpen) {
        // Converted packets describe the encoder's stream, not the input's.
        const IoBuffer* asc = audioEncoder->GetAudioSpecificConfig();
        if (asc && asc->GetSize() > 0)
          audioExtra = std::make_shared<const std::vector<uint8_t>>(asc->GetData(), asc->GetData() + asc->GetSize());
        forChannels = CopyOfContext(audioEncoder->GetCodecContext());
        usable = true;
        audioConverted = true;
      } else {
        LogError("live source %d: audio codec %d cannot be converted, dropped", liveId, audioCodecId);
      }
    }
    Publish(channelAudioContext, forChannels);
    pthread_mutex_lock(&infoMutex);
    hasAudio = usable;
    audioTimeBase = audioStream->time_base;
    pthread_mutex_unlock(&infoMutex);
  }
  return true;
}

bool CLiveSource::OpenVideoCodecs(AVCodecContext* in) {
  videoDecoder = new CVideoDecoder(liveId);
  videoDecoder->SetCodecId(in->codec_id);
  videoDecoder->SetWidth(in->width);
  videoDecoder->SetHeight(in->height);
  videoDecoder->SetPixelFormat(in->pix_fmt);
  videoDecoder->SetFrameRate(frameRate.load());
  bool ok = videoDecoder->SetCodecContext(in) && videoDecoder->Open();
  if (ok) {
    videoEncoder = new CVideoEncoder(liveId);
    videoEncoder->SetCodecId(AV_CODEC_ID_H264);
    videoEncoder->SetDstWidth(in->width);
    videoEncoder->SetDstHeight(in->height);
    videoEncoder->SetDstPixelFormat(AV_PIX_FMT_YUVJ420P);
    videoEncoder->SetFrameRate(frameRate.load());
    videoEncoder->SetBitRate(in->bit_rate > 0 ? in->bit_rate : 400000);
    videoEncoder->SetGopSize(in->gop_size > 0 ? in->gop_size : 50);
    videoEncoder->SetSrcPixelFormat(in->pix_fmt);
    videoEncoder->SetSrcWidth(in->width);
    videoEncoder->SetSrcHeight(in->height);
    ok = videoEncoder->Open();
  }
  if (!ok) {
    delete videoDecoder;
    delete videoEncoder;
    videoDecoder = nullptr;
    videoEncoder = nullptr;
  }
  return ok;
}

bool CLiveSource::OpenAudioCodecs(AVCodecContext* in) {
  int rate = in->sample_rate;
  audioDecoder = new AudioDecoder(liveId);
  audioDecoder->SetChannels(in->ch_layout.nb_channels);
  audioDecoder->SetCodecId(in->codec_id);
  audioDecoder->SetSampleRate(rate);
  if (in->ch_layout.order == AV_CHANNEL_ORDER_NATIVE) audioDecoder->SetChannelLayout(in->ch_layout.u.mask);
  audioDecoder->SetSampleFormat(in->sample_fmt);
  // Decoded to exactly what the encoder below takes.
  audioDecoder->SetOutSampleRate(rate);
  audioDecoder->SetOutChannels(2);
  audioDecoder->SetOutSampleFormat(AV_SAMPLE_FMT_S16);
  bool ok = rate > 0 && audioDecoder->SetCodecContext(in) && audioDecoder->Open();
  if (ok) {
    audioEncoder = new AudioEncoder(liveId);
    audioEncoder->SetBitRate(in->bit_rate > 0 ? in->bit_rate : 128000);
    audioEncoder->SetChannels(2);
    audioEncoder->SetChannelLayout(AV_CH_LAYOUT_STEREO);
    audioEncoder->SetCodecId(AV_CODEC_ID_AAC);
    audioEncoder->SetSampleRate(rate);
    audioEncoder->SetSampleFormat(AV_SAMPLE_FMT_S16);
    audioEncoder->SetInputSampleRate(rate);
    audioEncoder->SetInputChannels(2);
    ok = audioEncoder->Open();
  }
  if (!ok) {
    delete audioDecoder;
    delete audioEncoder;
    audioDecoder = nullptr;
    audioEncoder = nullptr;
  }
  return ok;
}

void CLiveSource::CloseCodecs() {
  delete videoDecoder;
  delete videoEncoder;
  delete audioDecoder;
  delete audioEncoder;
  videoDecoder = nullptr;
  videoEncoder = nullptr;
  audioDecoder = nullptr;
  audioEncoder = nullptr;
  videoCodecsOpen = audioCodecsOpen = false;
  audioAnchored = false;
  audioSamplesFed = 0;
}

void CLiveSource::CloseInputs() {
  for (Input& in : inputs) {
    in.armed = false;
    if (in.fmt) avformat_close_input(&in.fmt);
    in.videoIndex = in.audioIndex = -1;
  }
  inputCount = 0;
  av_bsf_free(&bsf);
}

bool CLiveSource::OpenUrlInputs() {
  std::string target = url;
  if (IsCameraUrl(target)) {
    std::string resolved;
    CameraResolveFailure failure;
    if (!ResolveCameraUrl(resolved, target, failure)) {
      // Tried again every reconnect interval: shown to the operator at
      // once, logged on the first failure and then once a minute.
      const std::string text = CameraFailureText(failure);
      pthread_mutex_lock(&infoMutex);
      openProblem = text;
      pthread_mutex_unlock(&infoMutex);
      ++cameraFailures;
      const int64_t now = Tick();
      if (cameraFailureLoggedAt < 0 || now - cameraFailureLoggedAt >= kRepeatedFailureLogMs) {
        LogWarn("live source %d: %s, %d attempt(s) so far; trying again every %d s", liveId, text.c_str(),
                cameraFailures, kReconnectIntervalMs / 1000);
        cameraFailureLoggedAt = now;
      }
      return false;
    }
    if (cameraFailures > 0) LogInfo("live source %d: camera address resolved after %d failure(s)", liveId, cameraFailures);
    cameraFailureLoggedAt = -1;
    cameraFailures = 0;
    pthread_mutex_lock(&infoMutex);
    openProblem.clear();
    pthread_mutex_unlock(&infoMutex);
    target = resolved;
  }
  AVDictionary* options = nullptr;
  if (urlKind == kRtsp || urlKind == kHttp) av_dict_set(&options, "rtsp_transport", "tcp", 0);
  av_dict_set(&options, "max_delay", "5000000", 0);
  inputCount = 1;
  bool ok = OpenInput(inputs[0], target, nullptr, &options) && TakeStreams(inputs[0], true, true);
  av_dict_free(&options);
  return ok;
}

bool CLiveSource::OpenDeviceInputs() {
  const std::string& v = device.videoName;
  const std::string& a = device.audioName;
  if (v.empty() && a.empty()) {
    SetLastError("avformat_open_input error");
    return false;
  }
  if (!v.empty()) {
    std::string target = v;
    AVDictionary* options = nullptr;
    if (videoCaptureFormat == "v4l2") {
      target = FindVideoDevice(v);
      if (target.empty()) {
        LogError("live source %d: no video device named %s", liveId, v.c_str());
        SetLastError("avformat_open_input error");
        return false;
      }
      if (device.width > 0 && device.height > 0)
        av_dict_set(&options, "video_size",
                    (std::to_string(device.width) + "x" + std::to_string(device.height)).c_str(), 0);
      if (device.frameRate > 0) av_dict_set(&options, "framerate", std::to_string(device.frameRate).c_str(), 0);
    }
    Input& in = inputs[inputCount++];
    bool ok = OpenInput(in, target, videoCaptureFormat.c_str(), &options) && TakeStreams(in, true, false);
    av_dict_free(&options);
    if (!ok) return false;
  }
  if (!a.empty()) {
    std::string target = a;
    AVDictionary* options = nullptr;
    if (audioCaptureFormat == "alsa" || audioCaptureFormat == "pulse") {
      if (audioCaptureFormat == "alsa") target = FindAlsaDevice(a);
      int rate = atoi(Trimmed(device.sampleRate).c_str());
      if (rate > 0) av_dict_set(&options, "sample_rate", std::to_string(rate).c_str(), 0);
      av_dict_set(&options, "channels", device.audio_stereo ? "2" : "1", 0);
    }
    Input& in = inputs[inputCount++];
    bool ok = OpenInput(in, target, audioCaptureFormat.c_str(), &options) && TakeStreams(in, false, true);
    av_dict_free(&options);
    if (!ok) return false;
  }
  return true;
}

bool CLiveSource::Open() {
  ++openAttempts;
  InitFfmpegOnce();
  CloseInputs();
  pthread_mutex_lock(&timeMutex);
  haveSharedOrigin = false;
  pthread_mutex_unlock(&timeMutex);
  readFailed = false;
  pthread_mutex_lock(&infoMutex);
  hasVideo = hasAudio = false;
  pthread_mutex_unlock(&infoMutex);
  bool ok = urlKind == kDevice ? OpenDeviceInputs() : OpenUrlInputs();
  if (!ok) {
    CloseInputs();
    CloseCodecs();
    return false;
  }
  LogInfo("live source %d: opened %s", liveId, LogSafeText(url).c_str());
  return true;
}

// ---------------------------------------------------------------- threads

void* CLiveSource::ReadEntry(void* self) {
  static_cast<CLiveSource*>(self)->ReadThread();
  return nullptr;
}
void* CLiveSource::AuxReadEntry(void* self) {
  CLiveSource* s = static_cast<CLiveSource*>(self);
  s->ReadLoop(s->inputs[1]);
  s->readFailed = true;
  s->wake.Notify();
  return nullptr;
}
void* CLiveSource::ReconnectEntry(void* self) {
  static_cast<CLiveSource*>(self)->ReconnectThread();
  return nullptr;
}
void* CLiveSource::DispatchEntry(void* self) {
  static_cast<CLiveSource*>(self)->DispatchThread();
  return nullptr;
}
void* CLiveSource::SetupEntry(void* self) {
  static_cast<CLiveSource*>(self)->OutputSetupThread();
  return nullptr;
}

bool CLiveSource::SleepWhileRunning(int64_t ms, bool whileReading) {
  int64_t end = Tick() + ms;
  for (;;) {
    uint64_t seen = wake.Count();
    if (!running.load() || (whileReading && readFailed.load())) return false;
    int64_t left = end - Tick();
    if (left <= 0) return true;
    wake.WaitFor(left, seen);
  }
}

void CLiveSource::JoinReadThread() {
  if (!threadStarted[kRead]) return;
  pthread_join(threads[kRead], nullptr);
  threadStarted[kRead] = false;
}

void CLiveSource::ReconnectThread() {
  while (running.load()) {
    if (needOpen.load()) {
      // The last read thread has finished its work; collect it first.
      JoinReadThread();
      if (running.load() && Open()) {
        needOpen = false;
        threadStarted[kRead] = pthread_create(&threads[kRead], nullptr, ReadEntry, this) == 0;
        if (!threadStarted[kRead]) {
          LogError("live source %d: read thread could not start", liveId);
          CloseInputs();
          CloseCodecs();
          needOpen = true;
        }
      }
    }
    SleepWhileRunning(kReconnectIntervalMs, false);
  }
}

void CLiveSource::ReadThread() {
  started = true;
  // Channels and the set-up thread waiting for the input go on at once.
  wake.Notify();
  pthread_mutex_lock(&mutex);
  for (auto& kv : channels) kv.second->NotifyInputStarted();
  pthread_mutex_unlock(&mutex);
  bool aux = false;
  if (inputCount == 2) {
    aux = pthread_create(&threads[kAuxRead], nullptr, AuxReadEntry, this) == 0;
    if (!aux) readFailed = true;
  }
  ReadLoop(inputs[0]);
  readFailed = true;  // ends the other input of a capture pair
  wake.Notify();
  if (aux) pthread_join(threads[kAuxRead], nullptr);
  started = false;
  IoBuffer* eos = new IoBuffer(16);
  eos->SetType(3);
  queue->Push(eos);
  CloseCodecs();
  CloseInputs();
  LogInfo("live source %d: input closed", liveId);
  needOpen = true;
}

void CLiveSource::ReadLoop(Input& in) {
  AVPacket* pkt = av_packet_alloc();
  AVPacket* filtered = av_packet_alloc();
  while (pkt && filtered && running.load() && !readFailed.load()) {
    // The time-out runs from the start of this read.
    in.readStart = Tick();
    int r = av_read_frame(in.fmt, pkt);
    if (r < 0 || !pkt->buf) {
      if (r < 0 && r != AVERROR_EOF && running.load()) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(r, text, sizeof text);
        LogWarn("live source %d: read failed: %s", liveId, text);
      }
      av_packet_unref(pkt);
      break;
    }
    if (pkt->stream_index == in.videoIndex) {
      if (videoCodecId == AV_CODEC_ID_H264 && bsf) {
        NoteNewVideoConfig(pkt);
        if (av_bsf_send_packet(bsf, pkt) == 0) {
          while (av_bsf_receive_packet(bsf, filtered) == 0) {
            HandleVideo(in, filtered);
            av_packet_unref(filtered);
          }
        }
      } else {
        HandleVideo(in, pkt);
      }
    } else if (pkt->stream_index == in.audioIndex) {
      HandleAudio(in, pkt);
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  av_packet_free(&filtered);
}

bool CLiveSource::Stamp(Input& in, bool video, int64_t pts, int64_t dts, int64_t duration, int64_t& ts,
                        int64_t& ptsOut, int64_t& dtsOut, int& cts) {
  AVRational tb = video ? inVideoTimeBase : inAudioTimeBase;
  int64_t& last = video ? in.lastVideoMs : in.lastAudioMs;
  int64_t& offset = video ? in.videoOffset : in.audioOffset;
  if (dts == AV_NOPTS_VALUE) dts = pts;
  if (pts == AV_NOPTS_VALUE) pts = dts;
  int64_t now = Tick();
  if (!in.haveOrigin) {
    pthread_mutex_lock(&timeMutex);
    if (!haveSharedOrigin) {
      haveSharedOrigin = true;
      sharedOriginTick = now;
    }
    // The inputs of a capture pair keep their own clocks; they are lined up
    // by when their first packets arrived.
    in.originShift = now - sharedOriginTick;
    pthread_mutex_unlock(&timeMutex);
  }
  if (dts == AV_NOPTS_VALUE) {
    // Nothing to go by: right after the previous packet of the medium.
    int64_t step = duration > 0 ? av_rescale_q(duration, tb, kMs) : 0;
    ts = last < 0 ? 0 : last + step;
    ptsOut = dtsOut = av_rescale_q(ts, kMs, tb);
    cts = 0;
    last = ts;
    if (!in.haveOrigin) {
      in.haveOrigin = true;
      in.originMs = 0;
    }
    return true;
  }
  int64_t dtsMs = av_rescale_q(dts, tb, kMs);
  int64_t ptsMs = av_rescale_q(pts, tb, kMs);
  if (!in.haveOrigin) {
    // One origin for audio and video of the input, so they stay in step.
    in.haveOrigin = true;
    in.originMs = dtsMs;
  }
  ts = dtsMs - in.originMs + in.originShift + offset;
  if (last >= 0 && (ts - last > kJumpMs || last - ts > kBackJumpMs)) {
    // A jump (a wrap or a splice): carry on from the previous packet.
    int64_t step = duration > 0 ? av_rescale_q(duration, tb, kMs) : 0;
    offset += last + step - ts;
    ts = last + step;
    LogInfo("live source %d: %s timestamps jumped, re-anchored", liveId, video ? "video" : "audio");
  }
  // Before the shared origin (the other medium started first): 0, never a
  // wrapped value.
  if (ts < 0) ts = 0;
  last = ts;
  int64_t c = ptsMs - dtsMs;
  if (c < 0) c = 0;
  if (c > 0x7FFFFF) c = 0x7FFFFF;
  cts = static_cast<int>(c);
  ptsOut = pts;
  dtsOut = dts;
  return true;
}

void CLiveSource::Pace(Input& in, int64_t ts) {
  if (!in.paced) return;
  int64_t now = Tick();
  if (!in.haveAnchor) {
    in.haveAnchor = true;
    in.anchorMs = ts;
    in.anchorTick = now;
    return;
  }
  int64_t ahead = (ts - in.anchorMs) - (now - in.anchorTick);
  if (ahead > kMaxPacingAheadMs || ahead < -kMaxPacingAheadMs) {
    // A jump or a long stall: pace on from here rather than sleep or burst.
    in.anchorMs = ts;
    in.anchorTick = now;
    return;
  }
  if (ahead > 0) SleepWhileRunning(ahead, true);
}

void CLiveSource::QueuePacket(IoBuffer* b) {
  if (b->GetType() != 3) newestQueued.store(b->GetTimestamp(), std::memory_order_relaxed);
  queue->Push(b);
}

void CLiveSource::HandleVideo(Input& in, AVPacket* pkt) {
  int64_t ts, pts, dts;
  int cts;
  Stamp(in, true, pkt->pts, pkt->dts, pkt->duration, ts, pts, dts, cts);
  if (videoCodecId == AV_CODEC_ID_H264) {
    IoBuffer* b = new IoBuffer(pkt->size + 1);
    b->Write(pkt->data, pkt->size);
    b->SetType(1);
    b->SetCodecId(AV_CODEC_ID_H264);
    b->SetTimestamp(ts);
    b->SetPts(pts);
    b->SetDts(dts);
    b->SetCompositionTime(cts);
    b->SetFlags(pkt->flags & AV_PKT_FLAG_KEY ? kKeyFlag : 0);
    b->SetDuration(static_cast<int>(pkt->duration));
    b->SetStreamIndex(pkt->stream_index);
    QueuePacket(b);
  } else if (videoCodecsOpen) {
    // Decoded and encoded in milliseconds: the encoder hands back the
    // picture's own time, in display order.
    AVFrame* f = videoDecoder->Decode(pkt->data, pkt->size, ts + cts, ts, (pkt->flags & AV_PKT_FLAG_KEY) != 0);
    while (f) {
      for (IoBuffer* e = videoEncoder->Encode(f); e; e = videoEncoder->ReceivePacket()) {
        int64_t ets = e->GetTimestamp() < 0 ? 0 : e->GetTimestamp();
        IoBuffer* b = new IoBuffer(e->GetSize() + 1);
        b->Write(e->GetData(), e->GetSize());
        b->SetType(1);
        b->SetCodecId(AV_CODEC_ID_H264);
        b->SetTimestamp(ets);
        b->SetPts(av_rescale_q(ets, kMs, inVideoTimeBase));
        b->SetDts(av_rescale_q(ets, kMs, inVideoTimeBase));
        b->SetFlags(e->GetFlags() & kKeyFlag);
        b->SetDuration(static_cast<int>(pkt->duration));
        b->SetStreamIndex(pkt->stream_index);
        QueuePacket(b);
      }
      f = videoDecoder->ReceiveFrame();
    }
  } else {
    return;
  }
  Pace(in, ts);
}

void CLiveSource::NoteNewVideoConfig(const AVPacket* pkt) {
  size_t size = 0;
  const uint8_t* side = av_packet_get_side_data(pkt, AV_PKT_DATA_NEW_EXTRADATA, &size);
  if (!side || size == 0 || size > INT32_MAX) return;
  const AVCodecParameters* in = bsf->par_in;
  if (in->extradata_size == static_cast<int>(size) && memcmp(in->extradata, side, size) == 0) return;
  // The stream changed its parameter sets (another encoder behind the same
  // input): the filter starts over with them, so the pictures from here on
  // carry them in Annex B form.
  AVBSFContext* fresh = nullptr;
  const AVBitStreamFilter* f = av_bsf_get_by_name("h264_mp4toannexb");
  bool ok = f && av_bsf_alloc(f, &fresh) == 0 && avcodec_parameters_copy(fresh->par_in, in) >= 0;
  if (ok) {
    av_freep(&fresh->par_in->extradata);
    fresh->par_in->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    ok = fresh->par_in->extradata != nullptr;
  }
  if (ok) {
    memcpy(fresh->par_in->extradata, side, size);
    fresh->par_in->extradata_size = static_cast<int>(size);
    fresh->time_base_in = bsf->time_base_in;
    ok = av_bsf_init(fresh) == 0;
  }
  if (!ok) {
    av_bsf_free(&fresh);
    LogWarn("live source %d: the video configuration changed and cannot be taken over", liveId);
    return;
  }
  av_bsf_free(&bsf);
  bsf = fresh;
  LogInfo("live source %d: the video configuration changed", liveId);
}

void CLiveSource::NoteNewAudioConfig(const AVPacket* pkt) {
  size_t size = 0;
  const uint8_t* side = av_packet_get_side_data(pkt, AV_PKT_DATA_NEW_EXTRADATA, &size);
  if (!side || size == 0) return;
  if (audioExtra && audioExtra->size() == size && memcmp(audioExtra->data(), side, size) == 0) return;
  // The stream changed its AAC configuration (another encoder behind the
  // same input): the packets from here on carry the new one.
  audioExtra = std::make_shared<const std::vector<uint8_t>>(side, side + size);
  int rate = 0, channels = 0;
  if (ReadAudioSpecificConfig(side, static_cast<int>(size), &rate, &channels)) {
    audioSampleRate = rate;
    if (channels > 0) audioChannels = channels;
  }
  LogInfo("live source %d: the audio configuration changed (%d Hz, %d channels)", liveId, audioSampleRate,
          audioChannels);
}

void CLiveSource::HandleAudio(Input& in, AVPacket* pkt) {
  int64_t ts, pts, dts;
  int cts;
  Stamp(in, false, pkt->pts, pkt->dts, pkt->duration, ts, pts, dts, cts);
  if (audioCodecId == AV_CODEC_ID_AAC) {
    NoteNewAudioConfig(pkt);
    IoBuffer* b = new IoBuffer(pkt->size + 1);
    b->Write(pkt->data, pkt->size);
    b->SetType(2);
    b->SetCodecId(AV_CODEC_ID_AAC);
    b->SetTimestamp(ts);
    b->SetPts(pts);
    b->SetDts(dts);
    b->SetFlags(pkt->flags & AV_PKT_FLAG_KEY ? kKeyFlag : 0);
    b->SetDuration(static_cast<int>(pkt->duration));
    b->SetStreamIndex(pkt->stream_index);
    b->SetSampleRate(audioSampleRate);
    b->SetChannels(audioChannels);
    b->SetExtraDataShared(audioExtra);
    QueuePacket(b);
  } else if (audioCodecsOpen) {
    if (!audioDecoder->Decode(pkt->data, pkt->size, pkt->pts)) return;
    IoBuffer* pcm = audioDecoder->GetOutputBuffer();
    int samples = audioDecoder->GetOutputSamples();
    if (!pcm || pcm->GetSize() <= 0 || samples <= 0) return;
    if (!audioAnchored) {
      audioAnchored = true;
      audioAnchorMs = ts;
      audioAnchorSamples = audioSamplesFed;
    }
    audioSamplesFed += samples;
    audioEncoder->Encode(pcm->GetData(), pcm->GetSize());
    int rate = audioEncoder->GetSampleRate();
    while (IoBuffer* e = audioEncoder->GetPacket()) {
      // The encoder's own sample count keeps each packet's exact place; a
      // jump in the input moves the anchor.
      int64_t ets = ts;
      if (rate > 0 && e->GetPts() != AV_NOPTS_VALUE) {
        ets = audioAnchorMs + (e->GetPts() - audioAnchorSamples) * 1000 / rate;
        if (ets - ts > 1000 || ts - ets > 1000) {
          audioAnchorMs = ts;
          audioAnchorSamples = e->GetPts();
          ets = ts;
        }
      }
      if (ets < 0) ets = 0;
      IoBuffer* b = new IoBuffer(e->GetSize() + 1);
      b->Write(e->GetData(), e->GetSize());
      b->SetType(2);
      b->SetCodecId(AV_CODEC_ID_AAC);
      b->SetTimestamp(ets);
      b->SetPts(av_rescale_q(ets, kMs, inAudioTimeBase));
      b->SetDts(av_rescale_q(ets, kMs, inAudioTimeBase));
      b->SetFlags(kKeyFlag);
      b->SetDuration(static_cast<int>(av_rescale_q(e->GetDuration(), AVRational{1, rate > 0 ? rate : 1},
                                                   inAudioTimeBase)));
      b->SetStreamIndex(pkt->stream_index);
      b->SetSampleRate(rate);
      b->SetChannels(audioEncoder->GetChannels());
      b->SetExtraDataShared(audioExtra);
      QueuePacket(b);
      delete e;
    }
  } else {
    return;
  }
  Pace(in, ts);
}

void CLiveSource::DispatchThread() {
  while (running.load()) {
    int dropped = 0;
    IoBuffer* p = StreamChannel::TakeBounded(queue, newestQueued.load(std::memory_order_relaxed), kQueueLimitMs,
                                             false, &dropped);
    if (dropped > 0)
      LogWarn("live source %d: queue held more than %lld ms, dropped %d packets", liveId,
              static_cast<long long>(kQueueLimitMs), dropped);
    if (!p) {
      queue->WaitFor(wake::kIdleRecheckMs, running);
      continue;
    }
    if (packetTap) packetTap(*p);
    pthread_mutex_lock(&mutex);
    for (auto& kv : channels)
      if (kv.second->IsRunning()) kv.second->PushInput(CloneIoBuffer(p));
    pthread_mutex_unlock(&mutex);
    delete p;
  }
}

void CLiveSource::OutputSetupThread() {
  while (running.load()) {
    uint64_t seen = wake.Count();
    if (!started.load()) {
      wake.WaitFor(wake::kIdleRecheckMs, seen);
      continue;
    }
    pthread_mutex_lock(&mutex);
    for (auto& kv : channels) {
      StreamChannel* c = kv.second;
      // Each channel is configured and started once, after the first open.
      if (c->IsRunning() || configured.count(c)) continue;
      configured.insert(c);
      c->SetOwner(this);
      c->SetUpCodecs();
      c->Start();
    }
    pthread_mutex_unlock(&mutex);
    wake.WaitFor(wake::kIdleRecheckMs, seen);
  }
}
