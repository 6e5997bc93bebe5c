#pragma once
// Audio decoding with resampling to packed PCM, and AAC encoding.
//
// AudioDecoder turns compressed audio into packed PCM of the output side's
// rate, channel count and format. AudioEncoder takes packed PCM (its input
// side), resamples it to exactly what the encoder takes (the native AAC
// encoder: planar float), cuts it into the encoder's frames, keeps what is
// left over for the next call, and queues the encoded packets.
#include <cstdint>
#include <memory>
#include <vector>

#include "core/IoBuffer.h"
#include "core/PacketQueue.h"

struct AVAudioFifo;
struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;
struct SwrContext;

class AudioDecoder {
 public:
  explicit AudioDecoder(int liveId);
  ~AudioDecoder();
  AudioDecoder(const AudioDecoder&) = delete;
  AudioDecoder& operator=(const AudioDecoder&) = delete;

  // Input side (used when no context was copied). AV_CODEC_ID_* and
  // AV_SAMPLE_FMT_* values; the layout is a channel mask.
  void SetCodecId(int id) { codecId = id; }
  void SetSampleFormat(int f) { sampleFormat = f; }
  void SetSampleRate(int r) { sampleRate = r; }
  void SetChannelLayout(uint64_t mask) { channelLayout = mask; }
  void SetChannels(int n) { channels = n; }
  void SetExtraData(const uint8_t* bytes, int n);
  // Output side: packed PCM handed to the owner.
  void SetOutSampleRate(int r) { outSampleRate = r; }
  void SetOutChannels(int n) { outChannels = n; }
  void SetOutSampleFormat(int f) { outSampleFormat = f; }
  int GetOutSampleRate() const { return outSampleRate; }
  int GetOutChannels() const { return outChannels; }
  int GetOutSampleFormat() const { return outSampleFormat; }

  bool SetCodecContext(const AVCodecContext* src);
  bool SetCodecParameters(const AVCodecParameters* par);

  bool Open();
  bool IsOpen() const { return ctx != nullptr; }
  // Decodes one packet; every frame it gives is resampled and its PCM
  // appended to the output buffer (emptied first). Returns the last decoded
  // frame, or null when no PCM came out. A packet whose extradata differs
  // from the previous packet's (the stream changed its configuration) hands
  // the new one to the decoder.
  AVFrame* Decode(const IoBuffer* packet);
  AVFrame* Decode(const uint8_t* bytes, int size, int64_t pts);
  // End of stream: the decoder's and the resampler's remaining samples go to
  // the output buffer; returns their byte count. The decoder then accepts a
  // new stream.
  int Flush();
  // PCM of the last Decode/Flush (packed, output side).
  IoBuffer* GetOutputBuffer() { return output; }
  int GetOutputSamples() const { return outputSamples; }
  void Close();

  AVCodecContext* GetCodecContext() { return ctx; }

 private:
  bool Resample(const AVFrame* f);
  bool SendAndCollect(AVPacket* pkt);
  AVFrame* Decode(const uint8_t* bytes, int size, int64_t pts, const std::vector<uint8_t>* newConfig);

  [[maybe_unused]] int liveId;  // the live item this decoder serves
  int codecId = 0;
  int sampleFormat = 1;  // AV_SAMPLE_FMT_S16
  int sampleRate = 44100;
  uint64_t channelLayout = 3;
  int channels = 2;
  int outSampleRate = 44100;
  int outChannels = 2;
  int outSampleFormat = 1;
  std::vector<uint8_t> extra;
  // Extradata of the last packet that carried any (decode thread).
  std::shared_ptr<const std::vector<uint8_t>> packetConfig;
  AVCodecContext* ctx = nullptr;
  AVCodecContext* copied = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwrContext* swr = nullptr;
  // what the resampler was built for
  int swrInRate = 0;
  int swrInFormat = -1;
  uint64_t swrInLayout = 0;
  int swrInChannels = 0;
  IoBuffer* output = nullptr;
  int outputSamples = 0;
  bool gotFrame = false;
};

class AudioEncoder {
 public:
  explicit AudioEncoder(int liveId);
  ~AudioEncoder();
  AudioEncoder(const AudioEncoder&) = delete;
  AudioEncoder& operator=(const AudioEncoder&) = delete;

  // Encoder side: codec, rate, channels, bit rate of the AAC stream.
  void SetCodecId(int id) { codecId = id; }
  void SetSampleRate(int r) { sampleRate = r; }
  void SetChannelLayout(uint64_t mask) { channelLayout = mask; }
  void SetChannels(int n) { channels = n; }
  void SetBitRate(int64_t b) { bitRate = b; }
  // The packed PCM handed to Encode: its sample format, and its rate and
  // channel count (0: the same as the encoder's). A frame that carries its
  // own rate and channel layout overrides these.
  void SetSampleFormat(int f) { inSampleFormat = f; }
  void SetInputSampleRate(int r) { inSampleRate = r; }
  void SetInputChannels(int n) { inChannels = n; }
  int GetSampleRate() const { return sampleRate; }
  int GetChannels() const { return channels; }

  bool Open();
  bool IsOpen() const { return ctx != nullptr; }
  // Takes a frame whose first plane holds packed PCM (first line size =
  // byte count). Packets not taken since the last call are dropped first.
  // Returns true when this call queued packets.
  bool Encode(const AVFrame* pcmFrame);
  bool Encode(const uint8_t* pcm, int bytes);
  // End of stream: encodes what is still pending (a short last frame) and
  // drains the encoder into the queue.
  bool Flush();
  // Encoded packets in order, owned by the caller once taken. Each carries
  // pts and duration in samples of the encoder rate and timestamp in ms.
  IoBuffer* GetPacket() { return queue ? queue->Pop() : nullptr; }
  int GetPacketCount() const { return queue ? queue->Size() : 0; }
  // The encoder's own AudioSpecificConfig; null until open.
  const IoBuffer* GetAudioSpecificConfig() const { return config; }
  int GetFrameSize() const { return frameSize; }
  void Close();

  AVCodecContext* GetCodecContext() { return ctx; }

  // Reads an ADTS header (7 bytes, 9 with CRC) into a 2-byte
  // AudioSpecificConfig; returns the payload length, or 0 when refused.
  static int ParseAdtsHeader(const uint8_t* b, int n, uint8_t config[2]);

 private:
  bool Convert(const uint8_t* pcm, int bytes, int inRate, int inFormat, uint64_t inMask, int inCh);
  bool EncodePending(bool final);
  bool SendFrame(AVFrame* f);
  void DropQueued();

  int liveId;
  int codecId = 86018;  // AV_CODEC_ID_AAC
  int sampleRate = 44100;
  uint64_t channelLayout = 3;
  int channels = 2;
  int64_t bitRate = 64000;
  int inSampleFormat = 1;
  int inSampleRate = 0;
  int inChannels = 0;
  AVCodecContext* ctx = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwrContext* swr = nullptr;
  int swrInRate = 0;
  int swrInFormat = -1;
  uint64_t swrInLayout = 0;
  int swrInChannels = 0;
  AVAudioFifo* pending = nullptr;
  PacketQueue* queue = nullptr;
  IoBuffer* config = nullptr;
  int frameSize = 1024;
  int64_t nextPts = 0;
};
