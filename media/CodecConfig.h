#pragma once
// Reading the codec configuration a stream carries: the H.264 parameter sets
// (in Annex B units or an AVCDecoderConfigurationRecord), the picture size
// they give, and what an AAC AudioSpecificConfig says. Used to notice when a
// stream changes its configuration in the middle.
#include <cstdint>
#include <vector>

// The SPS and PPS of an H.264 stream: NAL units without start codes or
// trailing zero bytes, the last of each kind found.
struct H264ParameterSets {
  std::vector<uint8_t> sps;
  std::vector<uint8_t> pps;
  bool Complete() const { return !sps.empty() && !pps.empty(); }
  bool operator==(const H264ParameterSets& o) const { return sps == o.sps && pps == o.pps; }
  bool operator!=(const H264ParameterSets& o) const { return !(*this == o); }
};

// The parameter sets in an Annex B buffer (an access unit, or extradata in
// that form) or in an AVCDecoderConfigurationRecord (first byte 1). Only the
// kinds found are filled in; false when neither was.
bool FindH264ParameterSets(const uint8_t* data, int size, H264ParameterSets* out);

// Annex B extradata for the sets: 00 00 00 01 SPS 00 00 00 01 PPS.
std::vector<uint8_t> AnnexBExtradata(const H264ParameterSets& sets);

// Shown picture size (cropping applied), profile and level of an Annex B
// access unit that carries its parameter sets and a picture; false when
// they cannot be read from it.
bool H264StreamInfo(const uint8_t* data, int size, int* width, int* height, int* profile, int* level);

// Sample rate and channel count of an AudioSpecificConfig; false when it
// cannot be read (channel count 0 when a program config element sets it).
bool ReadAudioSpecificConfig(const uint8_t* asc, int size, int* sampleRate, int* channels);

// What a record file needs to hold one codec configuration only. The watch
// compares the configuration the raw packets carry (the parameter sets in
// front of H.264 key frames; the AudioSpecificConfig of AAC packets, or what
// their ADTS headers say) with the one the open file was made with. From a
// change on it holds the packets back until both media have shown what they
// carry now (a video key frame, an audio packet) or kHoldMs of media came,
// so a new publisher whose audio arrives before its first picture still
// makes one new file, not two.
class IoBuffer;
struct AVCodecParameters;

class RecordConfigWatch {
 public:
  enum Verdict {
    kWrite,  // into the open file
    kHeld,   // kept here
    kCut,    // finish the file, open the next with Apply, write Release()
  };
  static constexpr int64_t kHoldMs = 3000;

  RecordConfigWatch();
  ~RecordConfigWatch();
  RecordConfigWatch(const RecordConfigWatch&) = delete;
  RecordConfigWatch& operator=(const RecordConfigWatch&) = delete;

  // The parameters the file that just opened was made with (null: no such
  // stream).
  void Opened(const AVCodecParameters* video, const AVCodecParameters* audio);
  // A media packet (type 1 or 2) for the open file.
  Verdict Take(const IoBuffer& packet);
  bool Holding() const { return holding; }
  // Ends the hold: the held packets that fit the configuration the next
  // file takes, oldest first (the caller owns them).
  std::vector<IoBuffer*> Release();
  // Gives the parameters of the next file the configuration the stream
  // carries now, where it differs from theirs.
  void Apply(AVCodecParameters* video, AVCodecParameters* audio) const;
  // A configuration taken from the stream replaces the given extradata.
  bool HasVideoConfig() const { return nextVideo.Complete(); }
  bool HasAudioConfig() const { return !nextAudio.empty(); }

 private:
  struct VideoInfo {
    int width = 0, height = 0, profile = -99, level = -99;
  };
  // The packet's AAC configuration: its extradata, or (adts set) the two
  // bytes its ADTS header stands for. Empty when it shows none.
  static std::vector<uint8_t> AudioConfigOf(const IoBuffer& packet, bool* adts);
  // Equal configurations; roughly: only type, rate and channels compared.
  static bool SameAudio(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, bool roughly);
  bool Fits(const IoBuffer& packet) const;

  bool fileHasVideo = false, fileHasAudio = false;
  H264ParameterSets fileVideo;
  std::vector<uint8_t> fileAudio;
  // What the stream carries now; what the next file takes.
  H264ParameterSets streamVideo, nextVideo;
  VideoInfo streamVideoInfo, nextVideoInfo;
  std::vector<uint8_t> streamAudio, nextAudio;
  bool streamAudioAdts = false;  // streamAudio comes from an ADTS header

  bool holding = false;
  bool keySeen = false, audioSeen = false;
  int64_t holdStart = 0;
  std::vector<IoBuffer*> held;
};
