#include "media/TranscodeSession.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <sstream>

#include <json/json.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "core/Log.h"
#include "core/SocketUtil.h"
#include "media/FlvPackager.h"
#include "media/H264Frame.h"
#include "media/VideoCodec.h"

namespace {

uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Calls fn(unit, length) for each NAL unit of an Annex B buffer, without its
// start code or trailing zero bytes.
template <typename Fn>
void ForEachNalUnit(const uint8_t* d, int n, Fn fn) {
  auto startAt = [&](int i) { return i + 2 < n && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1; };
  int i = 0;
  while (i < n && !startAt(i)) ++i;
  while (i < n) {
    int begin = i + 3;
    int j = begin;
    while (j < n && !startAt(j)) ++j;
    int end = j;
    while (end > begin && d[end - 1] == 0) --end;
    if (end > begin) fn(d + begin, end - begin);
    i = j;
  }
}

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool ReadInt(const Json::Value& root, const char* key, int lo, int hi, int& out) {
  out = 0;
  if (!root.isMember(key)) return true;
  const Json::Value& v = root[key];
  if (!v.isInt() || v.asInt() < lo || v.asInt() > hi) {
    LogInfo("unusable value of \"%s\" in the transcoding header", key);
    return false;
  }
  out = v.asInt();
  return true;
}

}  // namespace

CTranscodeSession::CTranscodeSession(ITranscodeSessionOwner* o) : owner(o) {
  pthread_mutex_init(&sockMutex, nullptr);
  frameParser = new H264Frame();
  outFrame = new IoBuffer(1048576);
}

CTranscodeSession::~CTranscodeSession() {
  CloseCodecs();
  CloseSocket();
  delete inFrame;
  delete frameParser;
  delete outFrame;
  pthread_mutex_destroy(&sockMutex);
}

void CTranscodeSession::SetSocket(int fd) {
  pthread_mutex_lock(&sockMutex);
  sock = fd;
  pthread_mutex_unlock(&sockMutex);
}

void CTranscodeSession::CloseSocket() {
  pthread_mutex_lock(&sockMutex);
  if (sock >= 0) close(sock);
  sock = -1;
  pthread_mutex_unlock(&sockMutex);
}

void CTranscodeSession::Stop() {
  pthread_mutex_lock(&sockMutex);
  if (sock >= 0) shutdown(sock, SHUT_RDWR);
  pthread_mutex_unlock(&sockMutex);
}

bool CTranscodeSession::Start() {
  if (sock >= 0 && timeoutMs > 0) {
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t t;
  int r = pthread_create(&t, &attr, &CTranscodeSession::ThreadMain, this);
  pthread_attr_destroy(&attr);
  return r == 0;
}

void* CTranscodeSession::ThreadMain(void* arg) {
  CTranscodeSession* self = static_cast<CTranscodeSession*>(arg);
  ITranscodeSessionOwner* o = self->owner;
  self->Run();
  // The session is gone after this; nothing of it may be used.
  if (o)
    o->RemoveTranscodeSession(self);
  else
    delete self;
  return nullptr;
}

bool CTranscodeSession::ParseHeader(const std::string& text, TranscodeHeader& out) {
  out = TranscodeHeader();
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  try {
    if (!Json::parseFromStream(builder, in, &root, &errors) || !root.isObject()) return false;
    ReadInt(root, "width", 1, 8192, out.width);
    ReadInt(root, "height", 1, 8192, out.height);
    ReadInt(root, "frameRate", 1, 240, out.frameRate);
    ReadInt(root, "bitRate", 0, 200000000, out.bitRate);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

bool CTranscodeSession::EvenSize(TranscodeHeader& h) {
  if (h.width % 2 == 0 && h.height % 2 == 0) return false;
  LogInfo("transcoding size %dx%d is not even, encoding %dx%d", h.width, h.height, h.width & ~1, h.height & ~1);
  h.width &= ~1;
  h.height &= ~1;
  return true;
}

bool CTranscodeSession::ParseSequenceHeader(const uint8_t* d, int n, const uint8_t*& sps, int& spsLength,
                                            const uint8_t*& pps, int& ppsLength) {
  if (!d || n < 13) return false;
  spsLength = (d[11] << 8) | d[12];
  if (spsLength < 4 || 13 + spsLength + 3 > n) return false;
  sps = d + 13;
  int p = 13 + spsLength + 1;  // past the PPS count
  ppsLength = (d[p] << 8) | d[p + 1];
  if (ppsLength < 1 || p + 2 + ppsLength > n) return false;
  pps = d + p + 2;
  return true;
}

bool CTranscodeSession::NalUnitsToAnnexB(const uint8_t* d, int n, IoBuffer& out) {
  int pos = 0;
  while (pos < n) {
    if (n - pos < 4) return false;
    uint32_t len = Be32(d + pos);
    pos += 4;
    if (len > uint32_t(n - pos)) return false;
    if (len > 0) {
      out.WriteUInt32(1);
      out.Write(d + pos, static_cast<int>(len));
    }
    pos += static_cast<int>(len);
  }
  return true;
}

bool CTranscodeSession::OpenCodecs() {
  codecsOpen = false;
  decoder = new CVideoDecoder(0);
  decoder->SetCodecId(AV_CODEC_ID_H264);
  decoder->SetWidth(spsWidth);
  decoder->SetHeight(spsHeight);
  decoder->SetPixelFormat(AV_PIX_FMT_YUVJ420P);
  // Streams whose parameter sets come only in the sequence header decode too.
  decoder->SetExtraData(spsPps.data(), static_cast<int>(spsPps.size()));
  if (!decoder->Open()) {
    delete decoder;
    decoder = nullptr;
    return false;
  }
  encoder = new CVideoEncoder(0);
  encoder->SetCodecId(AV_CODEC_ID_H264);
  encoder->SetDstWidth(width);
  encoder->SetDstHeight(height);
  encoder->SetDstPixelFormat(AV_PIX_FMT_YUVJ420P);
  encoder->SetFrameRate(frameRate);
  encoder->SetBitRate(bitRate);
  rateGate.SetRate(frameRate);
  encoder->SetSrcPixelFormat(AV_PIX_FMT_YUVJ420P);
  encoder->SetSrcWidth(spsWidth);
  encoder->SetSrcHeight(spsHeight);
  // Scaling a large picture on one thread holds the session below the
  // encoder's pace; slices on all cores keep up, as ffmpeg's scaler does.
  encoder->SetScaleThreads(0);
  if (!encoder->Open()) {
    delete encoder;
    encoder = nullptr;
    return false;
  }
  codecsOpen = true;
  return true;
}

void CTranscodeSession::CloseCodecs() {
  if (encoder) {
    encoder->Close();
    delete encoder;
    encoder = nullptr;
  }
  if (decoder) {
    decoder->Close();
    delete decoder;
    decoder = nullptr;
  }
  codecsOpen = false;
}

int CTranscodeSession::SendAll(const IoBuffer& b) {
  if (sock < 0) return 0;
  // An empty buffer has nothing left unsent.
  if (b.GetSize() <= 0) return 1;
  return ::SendAll(sock, b.GetData(), static_cast<size_t>(b.GetSize())) ? 1 : 0;
}

bool CTranscodeSession::SendRecord(uint32_t timestamp, uint8_t type, const uint8_t* data, uint32_t n) {
  outFrame->Clear();
  outFrame->WriteUInt32(timestamp);
  outFrame->WriteUInt8(type);
  outFrame->WriteUInt32(n);
  outFrame->Write(data, static_cast<int>(n));
  return SendAll(*outFrame) == 1;
}

void CTranscodeSession::UpdateBitrate() {
  int64_t bits = currentBits.exchange(0);
  totalBits += bits;
  seconds += 1;
  window[0] = window[1];
  window[1] = window[2];
  window[2] = bits;
  avg3 = static_cast<int>((window[0] + window[1] + window[2]) / 3072);
  avgAll = static_cast<int>(totalBits / (int64_t(seconds) * 1024));
}

bool CTranscodeSession::ReadExact(uint8_t* out, uint32_t n, uint32_t& got, bool& orderlyEnd) {
  got = 0;
  orderlyEnd = false;
  while (got < n) {
    if (readDeadlineMs > 0) {
      // The part still missing has to come before the deadline.
      int64_t left = readDeadlineMs - SteadyMs();
      if (left <= 0) return false;
      pollfd p{sock, POLLIN, 0};
      int w = poll(&p, 1, static_cast<int>(left));
      if (w == 0) return false;
      if (w < 0 && errno == EINTR) continue;
    }
    ssize_t r = recv(sock, out + got, n - got, 0);
    if (r > 0) {
      got += static_cast<uint32_t>(r);
    } else if (r == 0) {
      orderlyEnd = true;
      return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool CTranscodeSession::ReadFirstThenRest(uint8_t* out, uint32_t n, uint32_t& got, bool& orderlyEnd) {
  readDeadlineMs = 0;
  if (!ReadExact(out, 1, got, orderlyEnd)) return false;
  if (timeoutMs > 0) readDeadlineMs = SteadyMs() + timeoutMs;
  uint32_t rest = 0;
  bool ok = ReadExact(out + 1, n - 1, rest, orderlyEnd);
  got += rest;
  return ok;
}

bool CTranscodeSession::ReadGrowing(std::vector<uint8_t>& out, uint32_t n, uint32_t& got, bool& orderlyEnd) {
  out.clear();
  got = 0;
  orderlyEnd = false;
  while (got < n) {
    uint32_t piece = n - got < 1000 ? n - got : 1000;
    out.resize(got + piece);
    uint32_t part = 0;
    if (!ReadExact(out.data() + got, piece, part, orderlyEnd)) {
      got += part;
      return false;
    }
    got += piece;
  }
  return true;
}

bool CTranscodeSession::SendEncoded(IoBuffer* packet) {
  if (!packet || packet->GetSize() <= 0) return true;
  if (!sequenceHeaderSent) {
    const IoBuffer* sets = encoder ? encoder->GetParameterSets() : nullptr;
    const uint8_t *sps = nullptr, *pps = nullptr;
    int spsLen = 0, ppsLen = 0;
    if (sets)
      ForEachNalUnit(sets->GetData(), sets->GetSize(), [&](const uint8_t* u, int len) {
        if ((u[0] & 0x1f) == 7 && !sps) sps = u, spsLen = len;
        if ((u[0] & 0x1f) == 8 && !pps) pps = u, ppsLen = len;
      });
    // Pictures before the encoder's first parameter sets cannot be decoded.
    if (!sps || !pps) return true;
    std::unique_ptr<IoBuffer> header(FlvPackager::BuildAvcSequenceHeader(sps, spsLen, pps, ppsLen));
    if (!header) return true;
    if (!SendRecord(0, 1, header->GetData(), static_cast<uint32_t>(header->GetSize()))) {
      LogInfo("send video data error ");
      return false;
    }
    sequenceHeaderSent = true;
  }
  // One record per encoded picture, all its NAL units together: a picture
  // coded in several slices does not decode when split over records.
  IoBuffer& body = *inFrame;
  body.Clear();
  body.WriteUInt8((packet->GetFlags() & 1) ? 0x17 : 0x27);
  body.WriteUInt8(0x01);
  body.WriteUInt24(0);  // the encoder makes no B-frames
  ForEachNalUnit(packet->GetData(), packet->GetSize(), [&](const uint8_t* u, int len) {
    body.WriteUInt32(static_cast<uint32_t>(len));
    body.Write(u, len);
  });
  if (!SendRecord(static_cast<uint32_t>(packet->GetTimestamp()), 1, body.GetData(),
                  static_cast<uint32_t>(body.GetSize()))) {
    LogInfo("send video data error ");
    return false;
  }
  return true;
}

bool CTranscodeSession::EncodeAndSend(const void* picture) {
  for (IoBuffer* p = encoder->Encode(static_cast<const AVFrame*>(picture)); p; p = encoder->ReceivePacket())
    if (!SendEncoded(p)) return false;
  return true;
}

bool CTranscodeSession::Transcode(const uint8_t* annexB, int n, int64_t pts, int64_t dts) {
  if (!codecsOpen) return true;
  // The record's timestamp travels with the picture, so reordering in the
  // decoder keeps every picture with its own time.
  for (AVFrame* f = decoder->Decode(annexB, n, pts, dts, false); f; f = decoder->ReceiveFrame()) {
    if (!rateGate.Take(&f->pts)) continue;
    if (!EncodeAndSend(f)) return false;
  }
  return true;
}

void CTranscodeSession::Drain() {
  if (!codecsOpen) return;
  decoder->Flush();
  for (AVFrame* f = decoder->ReceiveFrame(); f; f = decoder->ReceiveFrame()) {
    if (!rateGate.Take(&f->pts)) continue;
    if (!EncodeAndSend(f)) return;
  }
  encoder->Flush();
  for (IoBuffer* p = encoder->ReceivePacket(); p; p = encoder->ReceivePacket())
    if (!SendEncoded(p)) return;
}

bool CTranscodeSession::HandleSequenceHeader(const uint8_t* body, uint32_t n) {
  const uint8_t *sps = nullptr, *pps = nullptr;
  int spsLen = 0, ppsLen = 0;
  if (!ParseSequenceHeader(body, static_cast<int>(n), sps, spsLen, pps, ppsLen)) return false;
  std::vector<uint8_t> withStart = {0, 0, 0, 1};
  withStart.insert(withStart.end(), sps, sps + spsLen);
  H264Frame parser;
  if (parser.ParseSps(withStart.data(), static_cast<int>(withStart.size())) != 1) return false;
  spsWidth = parser.GetWidth();
  spsHeight = parser.GetHeight();
  spsPps = withStart;
  static const uint8_t start[4] = {0, 0, 0, 1};
  spsPps.insert(spsPps.end(), start, start + 4);
  spsPps.insert(spsPps.end(), pps, pps + ppsLen);
  // New parameter sets: the old codecs go before new ones open.
  CloseCodecs();
  if (!OpenCodecs()) LogInfo("transcoding codecs did not open (%dx%d to %dx%d)", spsWidth, spsHeight, width.load(), height.load());
  return true;
}

bool CTranscodeSession::HandleVideo(uint32_t timestamp, const uint8_t* body, uint32_t n) {
  if (n < 2 || (body[0] & 0x0f) != 7) {
    ++dropped;
    return true;
  }
  if (body[1] == 0) {
    if (!HandleSequenceHeader(body, n)) ++dropped;
    return true;
  }
  if (body[1] != 1 || n < 5) {
    ++dropped;
    return true;
  }
  inFrame->Clear();
  if (!NalUnitsToAnnexB(body + 5, static_cast<int>(n) - 5, *inFrame)) ++dropped;
  if (inFrame->GetSize() == 0) return true;
  // The tag time is the decode time; the picture's own time adds the
  // composition offset (signed 24 bits) of streams with B-frames.
  int32_t cts = (int32_t(body[2]) << 16) | (int32_t(body[3]) << 8) | body[4];
  if (cts & 0x800000) cts -= 0x1000000;
  // The input buffer is reused for the output body, so decode from a copy.
  annexB.assign(inFrame->GetData(), inFrame->GetData() + inFrame->GetSize());
  return Transcode(annexB.data(), static_cast<int>(annexB.size()), int64_t(timestamp) + cts, timestamp);
}

void CTranscodeSession::Run() {
  // The header frame is read here rather than by the shared frame reader,
  // which closes the socket itself: this socket is closed in one place only.
  // Nothing is reserved for what a peer only announces: the header and
  // each record grow as their bytes arrive, and each must arrive whole
  // within one time-out of its first byte.
  uint8_t lengthBytes[4];
  uint32_t got = 0;
  bool orderly = false;
  bool haveHeader = ReadFirstThenRest(lengthBytes, 4, got, orderly);
  uint32_t headerLength = haveHeader ? Be32(lengthBytes) : 0;
  if (haveHeader && (headerLength == 0 || headerLength > kMaxSocketMessageBytes)) haveHeader = false;
  if (haveHeader) haveHeader = ReadGrowing(record, headerLength, got, orderly);
  readDeadlineMs = 0;
  if (!haveHeader) {
    LogInfo("error in reading data");
    CloseSocket();
    return;
  }
  std::string header(record.begin(), record.end());
  record = std::vector<uint8_t>();
  TranscodeHeader h;
  if (!ParseHeader(header, h)) {
    LogInfo("error in parsing json data");
    CloseSocket();
    return;
  }
  EvenSize(h);
  width = h.width;
  height = h.height;
  frameRate = h.frameRate;
  bitRate = h.bitRate;
  if (!inFrame) inFrame = new IoBuffer(1048576);

  for (;;) {
    uint8_t head[9];
    if (!ReadFirstThenRest(head, 4, got, orderly)) {
      LogInfo("read timestamp error");
      // The peer finished sending: what the codecs still hold goes back.
      if (got == 0 && orderly) Drain();
      break;
    }
    if (!ReadExact(head + 4, 1, got, orderly)) {
      LogInfo("read type error");
      break;
    }
    if (!ReadExact(head + 5, 4, got, orderly)) {
      LogInfo("read data length error");
      break;
    }
    uint32_t timestamp = Be32(head);
    uint8_t type = head[4];
    uint32_t length = Be32(head + 5);
    if (length > kMaxRecordBytes) {
      LogInfo("record of %u bytes refused", length);
      break;
    }
    currentBits += int64_t(length) * 8;
    if (!ReadGrowing(record, length, got, orderly)) {
      LogInfo("read data error");
      break;
    }
    readDeadlineMs = 0;
    if (type == 1) {
      if (!HandleVideo(timestamp, record.data(), length)) break;
    } else if (type == 0) {
      if (!SendRecord(timestamp, 0, record.data(), length)) {
        LogInfo("send audio data error ");
        break;
      }
    } else {
      ++dropped;
    }
  }
  delete inFrame;
  inFrame = nullptr;
  CloseCodecs();
  CloseSocket();
}
