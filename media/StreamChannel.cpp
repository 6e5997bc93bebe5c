#include "media/StreamChannel.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

#include "core/Log.h"
#include "core/ThreadEntry.h"
#include "media/AudioCodec.h"
#include "media/FlvPackager.h"
#include "media/StreamOutput.h"
#include "media/TaskStatus.h"
#include "media/VideoCodec.h"

namespace {

constexpr int kKeyFlag = 1;

constexpr int64_t kIdleWaitMs = wake::kIdleRecheckMs;

void DrainQueue(PacketQueue* q) {
  if (!q) return;
  while (IoBuffer* p = q->Pop()) StreamChannel::FreePacket(p);
}

bool IsKeyVideo(const IoBuffer* p) {
  return (p->GetType() == 1 || p->GetType() == 9) && (p->GetFlags() & kKeyFlag);
}

void PushTracked(PacketQueue* q, std::atomic<int64_t>& newest, IoBuffer* p) {
  if (!p) return;
  if (p->GetType() != 3) newest.store(p->GetTimestamp(), std::memory_order_relaxed);
  q->Push(p);
}

// Takes through StreamChannel::TakeBounded and logs what it dropped.
IoBuffer* TakeLogged(PacketQueue* q, const std::atomic<int64_t>& newest, int64_t limitMs,
                      bool decoded, int liveId, const char* name) {
  int dropped = 0;
  IoBuffer* p = StreamChannel::TakeBounded(q, newest.load(std::memory_order_relaxed), limitMs,
                                           decoded, &dropped);
  if (dropped > 0)
    LogWarn("channel %d: %s queue held more than %lld ms, dropped %d packets", liveId, name,
            static_cast<long long>(limitMs), dropped);
  return p;
}

IoBuffer* CopyOf(const IoBuffer* h) { return h ? CloneIoBuffer(h) : nullptr; }

IoBuffer* LockedCopyOf(pthread_mutex_t& lock, IoBuffer*& header) {
  pthread_mutex_lock(&lock);
  IoBuffer* r = CopyOf(header);
  pthread_mutex_unlock(&lock);
  return r;
}

}  // namespace

void StreamChannel::FreePacket(IoBuffer* p) {
  if (!p) return;
  AVFrame* v = p->TakeVideoFrame();
  if (v) av_frame_free(&v);
  AVFrame* a = p->GetAudioFrame();
  if (a) av_frame_free(&a);
  delete p;
}

IoBuffer* StreamChannel::TakeBounded(PacketQueue* q, int64_t newest, int64_t limitMs, bool decoded,
                                     int* dropped) {
  IoBuffer* p = q->Pop();
  if (!p || p->GetType() == 3 || newest - p->GetTimestamp() <= limitMs) return p;
  while (p && p->GetType() != 3) {
    if (decoded ? newest - p->GetTimestamp() <= limitMs / 2 : IsKeyVideo(p)) break;
    FreePacket(p);
    if (dropped) ++*dropped;
    p = q->Pop();
  }
  return p;
}

StreamChannel::StreamChannel(int id, const SubStreamInfo* s)
    : audioDecoder(new AudioDecoder(id)),
      audioEncoder(new AudioEncoder(id)),
      videoDecoder(new CVideoDecoder(id)),
      videoEncoder(new CVideoEncoder(id)),
      inputQueue(new PacketQueue()),
      decodeQueue(new PacketQueue()),
      encodeQueue(new PacketQueue()),
      streamQueue(new PacketQueue()),
      recordQueue(new PacketQueue()),
      packagedQueue(new PacketQueue()),
      liveId(id) {
  pthread_mutex_init(&mutex, nullptr);
  pthread_mutex_init(&headerMutex, nullptr);
  if (s) settings = new SubStreamInfo(*s);
  // The encoder is opened for this rate: it must not get more pictures.
  if (settings && settings->useVideo) videoGate.SetRate(settings->frameRate);
}

StreamChannel::~StreamChannel() {
  Stop();
  pthread_mutex_destroy(&mutex);
  pthread_mutex_destroy(&headerMutex);
  delete settings;
  delete audioDecoder;
  delete audioEncoder;
  delete videoDecoder;
  delete videoEncoder;
}

bool StreamChannel::Start() {
  if (running.load() || stopped) return false;
  running = true;
  void* (*entries[kThreadCount])(void*) = {InfoEntry,   DispatchEntry, DecodeEntry,     EncodeEntry,
                                           PackEntry,   OutputEntry,   PassThroughEntry};
  for (int i = 0; i < kThreadCount; ++i) {
    threadStarted[i] = pthread_create(&threads[i], nullptr, entries[i], this) == 0;
    if (!threadStarted[i]) LogError("channel %d: thread %d could not start", liveId, i);
  }
  return true;
}

void StreamChannel::Stop() {
  if (stopped) return;
  stopped = true;
  videoDecoderOpen = videoEncoderOpen = audioDecoderOpen = audioEncoderOpen = false;
  hasStreamOutputs = hasRecordOutputs = false;
  running = false;
  // Every waiting thread sees the stop at once.
  wake.Notify();
  for (PacketQueue* q : {inputQueue, decodeQueue, encodeQueue, streamQueue, recordQueue, packagedQueue})
    if (q) q->Wake();
  const int order[] = {kInfo, kOutput, kDecode, kEncode, kPack, kPassThrough, kDispatch};
  for (int i : order) {
    if (!threadStarted[i]) continue;
    if (pthread_equal(threads[i], pthread_self())) {
      pthread_detach(threads[i]);  // never join ourselves
    } else {
      pthread_join(threads[i], nullptr);
    }
    threadStarted[i] = false;
  }
  std::map<int, StreamOutput*> gone;
  pthread_mutex_lock(&mutex);
  gone.swap(outputs);
  startedOutputs.clear();
  pthread_mutex_unlock(&mutex);
  for (auto& kv : gone) delete kv.second;
  PacketQueue** queues[] = {&inputQueue,  &decodeQueue,  &encodeQueue,
                            &streamQueue, &recordQueue, &packagedQueue};
  for (PacketQueue** q : queues) {
    DrainQueue(*q);
    delete *q;
    *q = nullptr;
  }
  SetHeaders(nullptr, nullptr);
  videoDecoder->Close();
  videoEncoder->Close();
  audioDecoder->Close();
  audioEncoder->Close();
}

namespace {

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace

void StreamChannel::SetUpCodecs() {
  if (!owner) return;
  if (owner->HasVideo()) {
    AVCodecContext* in = owner->GetChannelVideoCodecContext();
    if (settings && settings->useVideo && in) {
      CVideoEncoder* e = videoEncoder;
      if (Trimmed(settings->vFormat) == "H264") e->SetCodecId(AV_CODEC_ID_H264);
      e->SetDstWidth(settings->width);
      e->SetDstHeight(settings->height);
      if (Trimmed(settings->vColor) == "YUVJ420P") e->SetDstPixelFormat(AV_PIX_FMT_YUVJ420P);
      e->SetFrameRate(settings->frameRate);
      e->SetBitRate(settings->vBitRate * 1000);
      e->SetGopSize(50);
      e->SetSrcPixelFormat(in->pix_fmt);
      e->SetSrcWidth(in->width);
      e->SetSrcHeight(in->height);
      if (OpenVideoEncoder()) {
        CVideoDecoder* d = videoDecoder;
        d->SetCodecId(in->codec_id);
        d->SetWidth(in->width);
        d->SetHeight(in->height);
        d->SetPixelFormat(in->pix_fmt);
        int rate = in->framerate.den > 0 ? in->framerate.num / in->framerate.den : 25;
        d->SetFrameRate(rate > 0 ? rate : 25);
        d->SetCodecContext(in);
        if (!OpenVideoDecoder()) CloseVideoEncoder();
      }
    }
    useVideo = true;
  }
  if (owner->HasAudio()) {
    AVCodecContext* in = owner->GetChannelAudioCodecContext();
    if (settings && settings->useAudio && in) {
      AudioEncoder* e = audioEncoder;
      int rate = atoi(Trimmed(settings->sampleRate).c_str());
      int channels = settings->aChannel + 1;
      e->SetBitRate(settings->aBitRate * 1000);
      e->SetChannels(channels);
      e->SetChannelLayout(channels == 1 ? AV_CH_LAYOUT_MONO : AV_CH_LAYOUT_STEREO);
      e->SetSampleFormat(AV_SAMPLE_FMT_S16);
      if (Trimmed(settings->aFormat) == "AAC") e->SetCodecId(AV_CODEC_ID_AAC);
      e->SetSampleRate(rate);
      if (OpenAudioEncoder()) {
        AudioDecoder* d = audioDecoder;
        d->SetCodecId(in->codec_id);
        d->SetCodecContext(in);
        // Resampled to exactly what the encoder was opened with.
        d->SetOutSampleRate(rate);
        d->SetOutChannels(channels);
        d->SetOutSampleFormat(AV_SAMPLE_FMT_S16);
        if (!OpenAudioDecoder()) CloseAudioEncoder();
      }
    }
    useAudio = true;
  }
}

void StreamChannel::PushInput(IoBuffer* packet) {
  if (!packet) return;
  if (!running.load() || !inputQueue) {
    FreePacket(packet);
    return;
  }
  PushTracked(inputQueue, newestInput, packet);
}

bool StreamChannel::OpenVideoDecoder() {
  videoDecoderOpen = videoDecoder->Open();
  wake.Notify();
  return videoDecoderOpen;
}
bool StreamChannel::OpenVideoEncoder() {
  videoEncoderOpen = videoEncoder->Open();
  wake.Notify();
  return videoEncoderOpen;
}
bool StreamChannel::OpenAudioDecoder() {
  audioDecoderOpen = audioDecoder->Open();
  wake.Notify();
  return audioDecoderOpen;
}
bool StreamChannel::OpenAudioEncoder() {
  audioEncoderOpen = audioEncoder->Open();
  wake.Notify();
  return audioEncoderOpen;
}
void StreamChannel::CloseVideoDecoder() {
  videoDecoderOpen = false;
  videoDecoder->Close();
}
void StreamChannel::CloseVideoEncoder() {
  videoEncoderOpen = false;
  videoEncoder->Close();
}
void StreamChannel::CloseAudioDecoder() {
  audioDecoderOpen = false;
  audioDecoder->Close();
}
void StreamChannel::CloseAudioEncoder() {
  audioEncoderOpen = false;
  audioEncoder->Close();
}

void StreamChannel::AddOutput(int taskId, int type, StreamOutput* output) {
  if (!output) return;
  if (type != kStreamOutput && type != kRecordOutput) return;
  pthread_mutex_lock(&mutex);
  if (outputs.find(taskId) == outputs.end()) {
    outputs[taskId] = output;
    output = nullptr;
    if (type == kStreamOutput) hasStreamOutputs = true;
    else hasRecordOutputs = true;
  }
  pthread_mutex_unlock(&mutex);
  wake.Notify();
  // An entry for the task id stays; the one offered is not taken.
  if (output) LogWarn("channel %d: output for task %d already present", liveId, taskId);
}

void StreamChannel::RemoveOutput(int taskId, int kind) {
  if (kind < 1 || kind > 4) return;
  StreamOutput* gone = nullptr;
  pthread_mutex_lock(&mutex);
  auto it = outputs.find(taskId);
  if (it != outputs.end()) {
    gone = it->second;
    outputs.erase(it);
    startedOutputs.erase(gone);
  }
  pthread_mutex_unlock(&mutex);
  // Out of the map, nothing reaches it any more. Its teardown joins its
  // threads (a send to a sink that stopped reading ends only at its
  // time-out; a recording writes its trailer): the siblings' packets do not
  // wait for that.
  delete gone;
}

bool StreamChannel::HasOutput(int taskId, int kind) {
  if (kind != 1 && kind != 2 && kind != 4) return false;
  pthread_mutex_lock(&mutex);
  bool found = outputs.find(taskId) != outputs.end();
  pthread_mutex_unlock(&mutex);
  return found;
}

bool StreamChannel::GetOutputStatus(int taskId, int kind, TaskStatus& out) {
  if (kind != 1 && kind != 2 && kind != 4) return false;
  bool found = false;
  pthread_mutex_lock(&mutex);
  auto it = outputs.find(taskId);
  if (it != outputs.end()) {
    TaskStatus* s = it->second->CheckStatus();
    if (s) {
      out = *s;
      found = true;
    }
  }
  pthread_mutex_unlock(&mutex);
  return found;
}

bool StreamChannel::HasOutputs() {
  pthread_mutex_lock(&mutex);
  bool any = !outputs.empty();
  pthread_mutex_unlock(&mutex);
  return any;
}

int* StreamChannel::GetOutputIds(int& count) {
  std::vector<int> ids;
  pthread_mutex_lock(&mutex);
  for (auto& kv : outputs)
    if (kv.second->GetMode() == 1) ids.push_back(kv.first);
  pthread_mutex_unlock(&mutex);
  count = static_cast<int>(ids.size());
  int* r = new int[ids.size() + 1];
  for (size_t i = 0; i < ids.size(); ++i) r[i] = ids[i];
  return r;
}

void StreamChannel::ForEachOutput() {
  pthread_mutex_lock(&mutex);
  for (auto& kv : outputs) kv.second->UpdateBitrate();
  pthread_mutex_unlock(&mutex);
}

void StreamChannel::SetHeaders(const IoBuffer* avc, const IoBuffer* audio) {
  IoBuffer* a = CopyOf(avc);
  IoBuffer* b = CopyOf(audio);
  pthread_mutex_lock(&headerMutex);
  std::swap(a, avcHeader);
  std::swap(b, audioHeader);
  pthread_mutex_unlock(&headerMutex);
  delete a;
  delete b;
}

IoBuffer* StreamChannel::CopyAvcSequenceHeader() { return LockedCopyOf(headerMutex, avcHeader); }

IoBuffer* StreamChannel::CopyAudioSequenceHeader() { return LockedCopyOf(headerMutex, audioHeader); }

void* StreamChannel::InfoEntry(void* self) { return ThreadEntry<StreamChannel, &StreamChannel::InfoThread>(self); }
void* StreamChannel::DispatchEntry(void* self) { return ThreadEntry<StreamChannel, &StreamChannel::DispatchThread>(self); }
void* StreamChannel::DecodeEntry(void* self) { return ThreadEntry<StreamChannel, &StreamChannel::DecodeThread>(self); }
void* StreamChannel::EncodeEntry(void* self) { return ThreadEntry<StreamChannel, &StreamChannel::EncodeThread>(self); }
void* StreamChannel::PackEntry(void* self) { return ThreadEntry<StreamChannel, &StreamChannel::PackThread>(self); }
void* StreamChannel::OutputEntry(void* self) { return ThreadEntry<StreamChannel, &StreamChannel::OutputThread>(self); }
void* StreamChannel::PassThroughEntry(void* self) { return ThreadEntry<StreamChannel, &StreamChannel::PassThroughThread>(self); }

void StreamChannel::InfoThread() {
  while (running.load()) {
    uint64_t seen = wake.Count();
    if (!owner || !owner->IsStarted()) {
      wake.WaitFor(kIdleWaitMs, seen);
      continue;
    }
    pthread_mutex_lock(&mutex);
    for (auto& kv : outputs) {
      StreamOutput* out = kv.second;
      // Each output is started once: one that ended by itself (a relay
      // whose client left) waits for its task to be stopped, and is not
      // brought up again on the same port every 2 ms.
      if (out->IsRunning() || startedOutputs.count(out)) continue;
      startedOutputs.insert(out);
      if (out->GetMode() == 2) {
        if (useVideo && owner->HasVideo()) {
          out->SetVideoCodecContext(videoEncoderOpen ? videoEncoder->GetCodecContext()
                                                     : owner->GetChannelVideoCodecContext());
          AVRational tb = owner->GetVideoTimeBase();
          out->SetVideoTimeBase(tb.num, tb.den);
        }
        if (useAudio && owner->HasAudio()) {
          out->SetAudioCodecContext(audioEncoderOpen ? audioEncoder->GetCodecContext()
                                                     : owner->GetChannelAudioCodecContext());
          AVRational tb = owner->GetAudioTimeBase();
          out->SetAudioTimeBase(tb.num, tb.den);
        }
      }
      out->Start();
    }
    pthread_mutex_unlock(&mutex);
    wake.WaitFor(kIdleWaitMs, seen);
  }
}

void StreamChannel::DispatchThread() {
  while (running.load()) {
    IoBuffer* p = TakeLogged(inputQueue, newestInput, kQueueLimitMs, false, liveId, "input");
    if (!p) {
      inputQueue->WaitFor(kIdleWaitMs, running);
      continue;
    }
    if (AnyDecoderOpen()) {
      PushTracked(decodeQueue, newestDecode, CloneIoBuffer(p));
    } else if (AnyEncoderOpen()) {
      // An encoder without its decoder cannot take compressed packets;
      // they are dropped rather than sent on as if decoded.
    } else {
      if (hasStreamOutputs) PushTracked(streamQueue, newestStream, CloneIoBuffer(p));
      if (hasRecordOutputs) PushTracked(recordQueue, newestRecord, CloneIoBuffer(p));
    }
    FreePacket(p);
  }
}

void StreamChannel::DecodeThread() {
  while (running.load()) {
    uint64_t seen = wake.Count();
    if (!AnyDecoderOpen()) wake.WaitFor(kIdleWaitMs, seen);
    while (running.load() && AnyDecoderOpen()) {
      IoBuffer* p = TakeLogged(decodeQueue, newestDecode, kQueueLimitMs, false, liveId, "decode");
      if (!p) {
        decodeQueue->WaitFor(kIdleWaitMs, running);
        continue;
      }
      if (p->GetType() == 1 && videoDecoderOpen) {
        lastVideoTs = p->GetTimestamp();
        lastVideoDts = p->GetDts();
        DecodeVideo(p);
      } else if (p->GetType() == 2 && audioDecoderOpen) {
        lastAudioTs = p->GetTimestamp();
        DecodeAudio(p);
      } else if (p->GetType() == 3) {
        // The input closed: what the decoders still hold comes out first,
        // and they take the reopened input as a new stream.
        FlushDecoders(*p);
        if (AnyEncoderOpen()) {
          PushTracked(encodeQueue, newestEncode, p);
          p = nullptr;
        }
      }
      FreePacket(p);
    }
  }
}

void StreamChannel::EncodeThread() {
  while (running.load()) {
    uint64_t seen = wake.Count();
    if (!AnyEncoderOpen()) wake.WaitFor(kIdleWaitMs, seen);
    while (running.load() && AnyEncoderOpen()) {
      IoBuffer* p = TakeLogged(encodeQueue, newestEncode, kPictureQueueLimitMs, true, liveId, "encode");
      if (!p) {
        encodeQueue->WaitFor(kIdleWaitMs, running);
        continue;
      }
      if (p->GetType() == 1 && videoEncoderOpen) {
        EncodeVideo(p);
      } else if (p->GetType() == 2 && audioEncoderOpen) {
        EncodeAudio(p);
      } else if (p->GetType() == 3) {
        // The encoders are not drained here: draining ends an FFmpeg
        // encoder, and record outputs keep using its context. The next run
        // carries on with the same encoders; only the time anchor restarts.
        audioAnchored = false;
        auto eos = [] {
          IoBuffer* e = new IoBuffer(16);
          e->SetType(3);
          return e;
        };
        if (hasStreamOutputs) {
          PushTracked(streamQueue, newestStream, eos());
          // Packaging forgets its parameter sets at the end of a run, but
          // the encoder goes on with the same ones and repeats them only at
          // its next key frame: hand them over again at once, so the next
          // run's pictures are not dropped for want of a header.
          const IoBuffer* sets = videoEncoderOpen ? videoEncoder->GetParameterSets() : nullptr;
          if (sets && sets->GetSize() > 0) {
            IoBuffer* ps = new IoBuffer(sets->GetSize() + 1);
            ps->Write(sets->GetData(), sets->GetSize());
            ps->SetType(1);
            ps->SetCodecId(AV_CODEC_ID_H264);
            PushTracked(streamQueue, newestStream, ps);
          }
        }
        if (hasRecordOutputs) PushTracked(recordQueue, newestRecord, eos());
      }
      FreePacket(p);
    }
  }
}

void StreamChannel::PackThread() {
  FlvPackager packager;
  unsigned version = packager.HeaderVersion();
  std::vector<IoBuffer*> out;
  while (running.load()) {
    IoBuffer* p = TakeLogged(streamQueue, newestStream, kQueueLimitMs, false, liveId, "stream");
    if (!p) {
      streamQueue->WaitFor(kIdleWaitMs, running);
      continue;
    }
    packager.Process(*p, out);
    FreePacket(p);
    // Headers are published before the tags that need them are queued.
    if (packager.HeaderVersion() != version) {
      version = packager.HeaderVersion();
      SetHeaders(packager.GetAvcSequenceHeader(), packager.GetAudioSequenceHeader());
    }
    for (IoBuffer* t : out) PushTracked(packagedQueue, newestPackaged, t);
    out.clear();
  }
}

void StreamChannel::OutputThread() {
  while (running.load()) {
    IoBuffer* p = TakeLogged(packagedQueue, newestPackaged, kQueueLimitMs, false, liveId, "packaged");
    if (!p) {
      packagedQueue->WaitFor(kIdleWaitMs, running);
      continue;
    }
    int type = p->GetType();
    if (type == 9 || type == 8 || type == 3) {
      pthread_mutex_lock(&mutex);
      for (auto& kv : outputs) {
        StreamOutput* o = kv.second;
        if (o->GetMode() != 0 && o->GetMode() != 1) continue;
        // The tag names the sequence header it needs: an output without one
        // keeps it, one that holds another gets it in line before the tag.
        if (type != 3) o->OfferSequenceHeader(*p);
        o->PushPacket(p);
      }
      pthread_mutex_unlock(&mutex);
    }
    FreePacket(p);
  }
}

void StreamChannel::PassThroughThread() {
  while (running.load()) {
    uint64_t seen = wake.Count();
    if (!hasRecordOutputs) wake.WaitFor(kIdleWaitMs, seen);
    while (running.load() && hasRecordOutputs) {
      IoBuffer* p = TakeLogged(recordQueue, newestRecord, kQueueLimitMs, false, liveId, "record");
      if (!p) {
        recordQueue->WaitFor(kIdleWaitMs, running);
        continue;
      }
      pthread_mutex_lock(&mutex);
      for (auto& kv : outputs)
        if (kv.second->GetMode() == 2) kv.second->PushPacket(p);
      pthread_mutex_unlock(&mutex);
      FreePacket(p);
    }
  }
}

void StreamChannel::QueuePicture(AVFrame* f, const IoBuffer& p) {
  AVFrame* c = av_frame_clone(f);
  if (!c) return;
  // The picture's own time: the decoder may hand out an earlier picture
  // than the packet just sent (reordering, frame threads).
  int64_t ts = p.GetTimestamp();
  if (f->pts != AV_NOPTS_VALUE && owner) {
    AVRational tb = owner->GetVideoTimeBase();
    if (tb.num > 0 && tb.den > 0) ts += av_rescale_q(f->pts - p.GetDts(), tb, AVRational{1, 1000});
  }
  if (ts < 0) ts = 0;
  c->pts = ts;
  IoBuffer* b = new IoBuffer(c);
  b->SetType(1);
  b->SetCodecId(AV_CODEC_ID_H264);
  b->SetTimestamp(ts);
  b->SetPts(f->pts != AV_NOPTS_VALUE ? f->pts : p.GetPts());
  b->SetDts(p.GetDts());
  b->SetFlags(p.GetFlags());
  b->SetDuration(p.GetDuration());
  b->SetStreamIndex(p.GetStreamIndex());
  PushTracked(encodeQueue, newestEncode, b);
}

void StreamChannel::DecodeVideo(IoBuffer* p) {
  AVFrame* f = videoDecoder->Decode(p);
  while (f) {
    if (videoEncoderOpen) QueuePicture(f, *p);
    f = videoDecoder->ReceiveFrame();
  }
}

void StreamChannel::QueueSamples(const IoBuffer& p) {
  IoBuffer* pcm = audioDecoder->GetOutputBuffer();
  if (!pcm || pcm->GetSize() <= 0) return;
  AVFrame* a = av_frame_alloc();
  if (!a) return;
  a->buf[0] = av_buffer_alloc(pcm->GetSize());
  if (!a->buf[0]) {
    av_frame_free(&a);
    return;
  }
  memcpy(a->buf[0]->data, pcm->GetData(), pcm->GetSize());
  a->data[0] = a->buf[0]->data;
  a->extended_data = a->data;
  a->linesize[0] = pcm->GetSize();
  a->nb_samples = audioDecoder->GetOutputSamples();
  a->pts = p.GetTimestamp();
  IoBuffer* b = IoBuffer::AudioFrameCarrier(a);
  b->SetType(2);
  b->SetCodecId(AV_CODEC_ID_AAC);
  b->SetTimestamp(p.GetTimestamp());
  b->SetPts(p.GetPts());
  b->SetDts(p.GetDts());
  b->SetFlags(p.GetFlags());
  b->SetDuration(p.GetDuration());
  b->SetStreamIndex(p.GetStreamIndex());
  PushTracked(encodeQueue, newestEncode, b);
}

void StreamChannel::DecodeAudio(IoBuffer* p) {
  if (audioDecoder->Decode(p) && audioEncoderOpen) QueueSamples(*p);
}

void StreamChannel::FlushDecoders(const IoBuffer& eos) {
  if (videoDecoderOpen) {
    videoDecoder->Flush();
    while (AVFrame* f = videoDecoder->ReceiveFrame()) {
      if (videoEncoderOpen) {
        IoBuffer last(16);
        last.SetTimestamp(lastVideoTs);
        last.SetDts(lastVideoDts);
        QueuePicture(f, last);
      }
    }
  }
  if (audioDecoderOpen && audioDecoder->Flush() > 0 && audioEncoderOpen) {
    IoBuffer last(16);
    last.SetTimestamp(lastAudioTs);
    QueueSamples(last);
  }
  (void)eos;
}

void StreamChannel::SendVideoPacket(IoBuffer* e, const IoBuffer* pic) {
  // The packet's timestamp is that of the picture it was made from.
  int64_t ts = e->GetTimestamp();
  if (hasStreamOutputs) {
    IoBuffer* s = new IoBuffer(e->GetSize() + 1);
    s->Write(e->GetData(), e->GetSize());
    s->SetFlags(e->GetFlags());
    s->SetTimestamp(ts);
    s->SetType(1);
    s->SetCodecId(AV_CODEC_ID_H264);
    PushTracked(streamQueue, newestStream, s);
  }
  if (hasRecordOutputs) {
    IoBuffer* r = new IoBuffer(e->GetSize() + 1);
    r->Write(e->GetData(), e->GetSize());
    r->SetType(1);
    r->SetCodecId(AV_CODEC_ID_H264);
    r->SetFlags(e->GetFlags());
    r->SetTimestamp(ts);
    // Record packets keep the input stream's time base.
    AVRational tb = owner ? owner->GetVideoTimeBase() : AVRational{1, 1000};
    if (tb.num <= 0 || tb.den <= 0) tb = AVRational{1, 1000};
    int64_t shift = pic ? av_rescale_q(ts - pic->GetTimestamp(), AVRational{1, 1000}, tb) : 0;
    r->SetPts((pic ? pic->GetPts() : 0) + shift);
    r->SetDts((pic ? pic->GetDts() : 0) + shift);
    r->SetDuration(pic ? pic->GetDuration() : 0);
    r->SetStreamIndex(pic ? pic->GetStreamIndex() : 0);
    PushTracked(recordQueue, newestRecord, r);
  }
}

void StreamChannel::EncodeVideo(IoBuffer* pic) {
  AVFrame* f = pic->GetVideoFrame();
  if (!f) return;
  // A picture kept by the gate is encoded at its slot's time (the picture's
  // pts is its time in milliseconds, set when it was queued).
  int64_t ts = pic->GetTimestamp();
  if (!videoGate.Take(&ts)) return;
  f->pts = ts;
  for (IoBuffer* e = videoEncoder->Encode(f); e; e = videoEncoder->ReceivePacket()) SendVideoPacket(e, pic);
}

void StreamChannel::SendAudioPackets(const IoBuffer& samples) {
  int rate = audioEncoder->GetSampleRate();
  int channels = audioEncoder->GetChannels();
  if (rate <= 0) {
    while (IoBuffer* e = audioEncoder->GetPacket()) delete e;
    return;
  }
  if (!audioConfig) {
    const IoBuffer* asc = audioEncoder->GetAudioSpecificConfig();
    if (asc && asc->GetSize() > 0)
      audioConfig = std::make_shared<const std::vector<uint8_t>>(asc->GetData(), asc->GetData() + asc->GetSize());
  }
  // Record packets keep pts and dts in the input stream's time base, so
  // their step is converted from milliseconds into it.
  AVRational tb = owner ? owner->GetAudioTimeBase() : AVRational{1, 1000};
  if (tb.num <= 0 || tb.den <= 0) tb = AVRational{1, 1000};
  int k = 0;
  while (IoBuffer* e = audioEncoder->GetPacket()) {
    int64_t step = static_cast<int64_t>(k) * 1024000 / rate;
    int64_t nominal = samples.GetTimestamp() + step;
    // Packet times follow the encoder's own sample count from the first
    // samples of the run, so the encoder's delay and the samples it carries
    // over between calls keep their exact place; a jump in the input moves
    // the anchor.
    int64_t ts = nominal;
    if (e->GetPts() != AV_NOPTS_VALUE) {
      int64_t counted = audioAnchorMs + (e->GetPts() - audioAnchorPts) * 1000 / rate;
      if (counted - nominal > 500 || nominal - counted > 500) {
        audioAnchorMs = nominal;
        audioAnchorPts = e->GetPts();
        counted = nominal;
      }
      ts = counted < 0 ? 0 : counted;
    }
    int64_t stepTb = av_rescale_q(ts - samples.GetTimestamp(), AVRational{1, 1000}, tb);
    if (hasStreamOutputs) {
      IoBuffer* s = new IoBuffer(e->GetSize() + 1);
      s->Write(e->GetData(), e->GetSize());
      s->SetTimestamp(ts);
      s->SetSampleRate(rate);
      s->SetChannels(channels);
      s->SetType(2);
      s->SetCodecId(AV_CODEC_ID_AAC);
      s->SetExtraDataShared(audioConfig);
      PushTracked(streamQueue, newestStream, s);
    }
    if (hasRecordOutputs) {
      IoBuffer* r = new IoBuffer(e->GetSize() + 1);
      r->Write(e->GetData(), e->GetSize());
      r->SetFlags(samples.GetFlags());
      r->SetType(2);
      r->SetCodecId(AV_CODEC_ID_AAC);
      r->SetTimestamp(ts);
      r->SetSampleRate(rate);
      r->SetChannels(channels);
      r->SetPts(samples.GetPts() + stepTb);
      r->SetDts(samples.GetDts() + stepTb);
      PushTracked(recordQueue, newestRecord, r);
    }
    delete e;
    ++k;
  }
}

void StreamChannel::EncodeAudio(IoBuffer* samples) {
  const AVFrame* f = samples->GetAudioFrame();
  if (!f) return;
  if (!audioAnchored) {
    audioAnchorMs = samples->GetTimestamp();
    audioAnchorPts = audioSamplesFed;
    audioAnchored = true;
  }
  audioSamplesFed += f->nb_samples;
  audioEncoder->Encode(f);
  SendAudioPackets(*samples);
}
