#pragma once
// Turns a channel's stream packets (H.264 Annex B, AAC, MP3) into FLV tag
// bodies (the payload of an FLV video or audio tag without its tag header)
// and builds the AVC and AAC sequence headers a receiver needs first. These
// bytes are the wire format of publishing, delay slices, relays and
// transcoding sessions. No threads: the channel's package thread drives it.
#include <cstdint>
#include <vector>

#include "core/IoBuffer.h"
#include "media/H264Frame.h"

class FlvPackager {
 public:
  FlvPackager();
  ~FlvPackager();
  FlvPackager(const FlvPackager&) = delete;
  FlvPackager& operator=(const FlvPackager&) = delete;

  // Handles one stream packet (type 1 video, 2 audio, 3 end of stream; the
  // caller keeps it) and appends what it produces to out, which the caller
  // then owns: type 9 video tag bodies, type 8 audio tag bodies, type 3 end
  // of stream. Timestamps count from the first packet of the run. Each tag
  // carries, as its extradata, the bytes of the sequence header it needs
  // (one shared block per header), so whoever hands tags on can tell where
  // in the stream a new header takes over.
  void Process(const IoBuffer& packet, std::vector<IoBuffer*>& out);

  // Current sequence headers (type 9 / type 8, timestamp 0), null until
  // built; owned here and valid until the next Process or Reset. Each is
  // built anew when the stream brings other parameter sets (SPS, PPS) or
  // another AudioSpecificConfig than the header holds.
  const IoBuffer* GetAvcSequenceHeader() const { return avcHeader; }
  const IoBuffer* GetAudioSequenceHeader() const { return audioHeader; }
  // Grows whenever a header is built or dropped, so a caller can tell when
  // to take fresh copies.
  unsigned HeaderVersion() const { return headerVersion; }

  // Forgets both headers, the timestamp base and the parameter sets.
  void Reset();

  // AVCDecoderConfigurationRecord behind 17 00 00 00 00, from an SPS and a
  // PPS given without start codes; null when they cannot form one.
  static IoBuffer* BuildAvcSequenceHeader(const uint8_t* sps, int spsLength, const uint8_t* pps,
                                          int ppsLength);
  // Sampling frequency index of AAC; rates outside the standard table take
  // the index of the nearest standard rate.
  static int AacFrequencyIndex(int rate);
  // Length of the ADTS header the frame starts with (7, or 9 with CRC), 0
  // when it does not start with one.
  static int AdtsHeaderLength(const uint8_t* bytes, int length);

 private:
  void ProcessVideo(const IoBuffer& packet, std::vector<IoBuffer*>& out);
  void ProcessAudio(const IoBuffer& packet, std::vector<IoBuffer*>& out);
  int64_t Relative(int64_t t);
  void DropHeaders();
  bool SetVideoHeader(const uint8_t* sps, int spsLength, const uint8_t* pps, int ppsLength);
  // The AudioSpecificConfig an AAC packet stands for: its extradata, else
  // what its ADTS header or its rate and channel count say.
  static void AacConfig(const IoBuffer& packet, int adts, std::vector<uint8_t>& config, bool* offTable);

  H264Frame parser;
  std::vector<IoBuffer*> units;  // the NAL units of the tag being built
  IoBuffer* avcHeader = nullptr;
  IoBuffer* audioHeader = nullptr;
  // What the current headers were built from (NAL units without start
  // codes; the AudioSpecificConfig).
  std::vector<uint8_t> headerSps, headerPps, headerAudioConfig;
  IoBuffer::ExtraData avcHeaderBytes, audioHeaderBytes;
  bool haveVideoHeader = false;
  bool haveAudioHeader = false;
  bool baseSet = false;
  int64_t base = 0;
  unsigned headerVersion = 0;
};
