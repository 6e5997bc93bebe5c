#pragma once
// Video decoding, scaling and H.264 encoding around libavcodec/libswscale.
//
// Both classes are used by one thread of their owner at a time. Frames and
// packets they return belong to them and stay valid until the next call.
// One input may give zero or several outputs: after Decode/Encode, call
// ReceiveFrame/ReceivePacket until it gives null before feeding the next
// input. At end of stream call Flush and then drain the same way.
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "core/IoBuffer.h"

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// A copy of the parameters of a channel's codec context, for a reader on
// another thread (a record output). The channel's video encoder gives its
// context the parameter sets only with its first packet, on the encode
// thread; that write and this copy share one lock, so the reader gets the
// parameter sets whole or not at all, and keeps its own copy. False when the
// copy cannot be made.
bool CopySharedCodecParameters(const AVCodecContext* ctx, AVCodecParameters* out);

class CVideoDecoder {
 public:
  explicit CVideoDecoder(int liveId);
  ~CVideoDecoder();
  CVideoDecoder(const CVideoDecoder&) = delete;
  CVideoDecoder& operator=(const CVideoDecoder&) = delete;

  // AV_CODEC_ID_* and AV_PIX_FMT_* values.
  void SetCodecId(int id) { codecId = id; }
  void SetWidth(int w) { width = w; }
  void SetHeight(int h) { height = h; }
  void SetPixelFormat(int f) { pixelFormat = f; }
  void SetFrameRate(int r) { frameRate = r; }
  // Codec extradata for a context built from the setters (for H.264: SPS and
  // PPS in Annex B form, or an avcC record).
  void SetExtraData(const uint8_t* bytes, int n);

  // Copies an input stream's context (or parameters) as the decoder's own.
  bool SetCodecContext(const AVCodecContext* src);
  bool SetCodecParameters(const AVCodecParameters* par);

  bool Open();
  bool IsOpen() const { return ctx != nullptr; }
  // Sends one compressed packet (its pts/dts/flags go with it) and returns
  // the first picture that came out, or null.
  AVFrame* Decode(const IoBuffer* packet);
  AVFrame* Decode(const uint8_t* bytes, int size, int64_t pts, int64_t dts, bool key);
  // Further pictures from the same input (or after Flush), or null.
  AVFrame* ReceiveFrame();
  // End of stream: the pictures still held come out through ReceiveFrame;
  // afterwards the decoder accepts a new stream.
  void Flush();
  void Close();

  AVCodecContext* GetCodecContext() { return ctx; }

 private:
  int liveId;
  int codecId = 0;
  int width = 720;
  int height = 576;
  int frameRate = 25;
  int pixelFormat = -1;
  AVCodecContext* ctx = nullptr;
  AVCodecContext* copied = nullptr;  // context copied before Open
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  std::vector<uint8_t> extra;
  bool flushing = false;
};

class CVideoEncoder {
 public:
  explicit CVideoEncoder(int liveId);
  ~CVideoEncoder();
  CVideoEncoder(const CVideoEncoder&) = delete;
  CVideoEncoder& operator=(const CVideoEncoder&) = delete;

  void SetCodecId(int id) { codecId = id; }
  void SetSrcPixelFormat(int f) { srcPixelFormat = f; }
  void SetDstPixelFormat(int f) { dstPixelFormat = f; }
  void SetSrcWidth(int w) { srcWidth = w; }
  void SetSrcHeight(int h) { srcHeight = h; }
  void SetDstWidth(int w) { dstWidth = w; }
  void SetDstHeight(int h) { dstHeight = h; }
  void SetFrameRate(int r) { frameRate = r; }
  void SetBitRate(int64_t b) { bitRate = b; }
  void SetGopSize(int g) { gopSize = g; }
  // Encoder threads; 0 lets the encoder choose (as the ffmpeg tool does).
  void SetThreads(int n) { threads = n; }
  // Scaler threads: 1 scales on the caller's thread; 0 as many as there
  // are cores (what ffmpeg's scale filter does), splitting each picture
  // into slices. The result is the same picture.
  void SetScaleThreads(int n) { scaleThreads = n; }

  bool Open();
  bool IsOpen() const { return ctx != nullptr; }
  // Scales the picture to the target size and format (following the
  // picture's own size and format) and encodes it. Returns the first packet
  // that came out, or null. The packet's pts and timestamp are the pts of
  // the picture it was made from; flag 1 marks a key frame.
  IoBuffer* Encode(const AVFrame* picture);
  IoBuffer* ReceivePacket();
  // End of stream: the packets still held come out through ReceivePacket.
  void Flush();
  void Close();

  AVCodecContext* GetCodecContext() { return ctx; }
  // SPS and PPS of the first H.264 packet, Annex B with 3-byte start codes;
  // null until seen.
  const IoBuffer* GetParameterSets() const { return parameterSets; }

  // Collects the SPS and PPS NAL units of one Annex B packet into sets
  // (created on first use); each unit keeps a 3-byte start code.
  static void ExtractParameterSets(const uint8_t* data, int size, IoBuffer*& sets);

 private:
  IoBuffer* TakePacket();

  int liveId;
  int codecId = 0;
  int srcPixelFormat = -1;
  int dstPixelFormat = -1;
  int srcWidth = 720;
  int srcHeight = 576;
  int dstWidth = 720;
  int dstHeight = 576;
  int frameRate = 25;
  int64_t bitRate = 400000;
  int gopSize = 50;
  int threads = 0;
  int scaleThreads = 1;
  AVCodecContext* ctx = nullptr;
  SwsContext* scaler = nullptr;
  // What a threaded scaler was made for (it is not cached by FFmpeg).
  int scalerWidth = 0, scalerHeight = 0, scalerFormat = -1;
  AVFrame* picture = nullptr;
  AVPacket* packet = nullptr;
  IoBuffer* outPacket = nullptr;
  IoBuffer* parameterSets = nullptr;
  int64_t nextPts = 0;
  // encoder pts -> pts of the picture it came from
  std::deque<std::pair<int64_t, int64_t>> ptsMap;
  bool flushing = false;
};
