#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "media/AudioCodec.h"
#include "tests/media/CodecMedia.h"
#include "tests/tools/TestUtil.h"

using namespace vvtest;

TEST(AudioCodec, AdtsHeaderToAudioSpecificConfig) {
  struct Case {
    std::vector<uint8_t> header;
    int result;
    uint8_t c0, c1;
  };
  const Case cases[] = {
      // AAC LC 44100 Hz stereo, frame length 16, no CRC.
      {{0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC}, 9, 0x12, 0x10},
      // The same with a CRC: the header is 9 bytes.
      {{0xFF, 0xF0, 0x50, 0x80, 0x02, 0x1F, 0xFC, 0x12, 0x34}, 7, 0x12, 0x10},
      // 8000 Hz (index 11) mono, and 7350 Hz (index 12), rates at the end of the table.
      {{0xFF, 0xF1, 0x6C, 0x40, 0x04, 0x1F, 0xFC}, 25, 0x15, 0x88},
      {{0xFF, 0xF1, 0x70, 0x40, 0x04, 0x1F, 0xFC}, 25, 0x16, 0x08},
      // Refused: sampling index 13, channel configuration 0, frame length
      // shorter than the header, several raw blocks, no sync word, too short.
      {{0xFF, 0xF1, 0x74, 0x80, 0x02, 0x1F, 0xFC}, 0, 0, 0},
      {{0xFF, 0xF1, 0x50, 0x00, 0x02, 0x1F, 0xFC}, 0, 0, 0},
      {{0xFF, 0xF1, 0x50, 0x80, 0x00, 0xDF, 0xFC}, 0, 0, 0},
      {{0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFD}, 0, 0, 0},
      {{0x21, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC}, 0, 0, 0},
      {{0xFF, 0xF1, 0x50, 0x80, 0x02}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    uint8_t config[2] = {0, 0};
    int r = AudioEncoder::ParseAdtsHeader(c.header.data(), static_cast<int>(c.header.size()), config);
    EXPECT_EQ(r, c.result) << std::hex << int(c.header[2]);
    if (r) {
      EXPECT_EQ(config[0], c.c0);
      EXPECT_EQ(config[1], c.c1);
    }
  }
}

namespace {

std::vector<int16_t> Sine(int samples, int channels, int rate) {
  std::vector<int16_t> pcm(samples * channels);
  for (int i = 0; i < samples; ++i)
    for (int c = 0; c < channels; ++c) pcm[i * channels + c] = int16_t(8000 * std::sin(2 * M_PI * 440 * i / rate));
  return pcm;
}

}  // namespace

// PCM handed over in pieces that are not whole encoder frames: whole frames
// are encoded at once, the rest waits for the next piece, and in the end every
// sample was encoded (nothing dropped between calls).
TEST(AudioCodec, EncoderKeepsLeftoverSamplesBetweenCalls) {
  struct Case {
    int chunk;  // samples per call
    int calls;
    int inRate, inChannels, outRate, outChannels;
  };
  const Case cases[] = {
      {1536, 20, 44100, 2, 44100, 2},  // 1.5 frames per call
      {512, 7, 44100, 2, 44100, 2},    // half frames
      {2560, 9, 44100, 2, 22050, 1},   // 2.5 frames, resampled to mono 22050
      {333, 101, 48000, 1, 44100, 2},
  };
  for (const Case& c : cases) {
    AudioEncoder enc(2);
    enc.SetSampleRate(c.outRate);
    enc.SetChannels(c.outChannels);
    enc.SetChannelLayout(c.outChannels == 1 ? AV_CH_LAYOUT_MONO : AV_CH_LAYOUT_STEREO);
    enc.SetInputSampleRate(c.inRate);
    enc.SetInputChannels(c.inChannels);
    ASSERT_TRUE(enc.Open());
    std::vector<int16_t> pcm = Sine(c.chunk * c.calls, c.inChannels, c.inRate);
    int64_t durationSum = 0;
    int packets = 0;
    for (int i = 0; i < c.calls; ++i) {
      enc.Encode(reinterpret_cast<const uint8_t*>(pcm.data() + i * c.chunk * c.inChannels),
                 c.chunk * c.inChannels * 2);
      if (i == 0 && c.chunk * c.outRate / c.inRate < 1024) {
        EXPECT_EQ(enc.GetPacketCount(), 0);
      }
      while (IoBuffer* p = enc.GetPacket()) {
        EXPECT_EQ(p->GetSampleRate(), c.outRate);
        EXPECT_EQ(p->GetChannels(), c.outChannels);
        durationSum += p->GetDuration();
        ++packets;
        delete p;
      }
    }
    enc.Flush();
    while (IoBuffer* p = enc.GetPacket()) {
      durationSum += p->GetDuration();
      ++packets;
      delete p;
    }
    int64_t expected = int64_t(c.chunk) * c.calls * c.outRate / c.inRate;
    EXPECT_NEAR(double(durationSum), double(expected), 1024 + 64) << c.chunk << " " << c.outRate;
    EXPECT_GE(packets, int(expected / 1024));
  }
}

// The queue holds what the last call encoded: packets the owner did not take
// are gone after the next call, which reports only its own.
TEST(AudioCodec, EncodeDropsPacketsNotTakenSinceTheLastCall) {
  AudioEncoder enc(3);
  ASSERT_TRUE(enc.Open());
  std::vector<int16_t> pcm = Sine(1024 * 6, 2, 44100);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  ASSERT_TRUE(enc.Encode(bytes, 1024 * 5 * 4));
  EXPECT_GE(enc.GetPacketCount(), 3);
  ASSERT_TRUE(enc.Encode(bytes + 1024 * 5 * 4, 1024 * 4));
  EXPECT_EQ(enc.GetPacketCount(), 1);
  // Half a frame encodes nothing: the queue is empty and the call says so.
  EXPECT_FALSE(enc.Encode(bytes, 512 * 4));
  EXPECT_EQ(enc.GetPacketCount(), 0);
}

// Decoding resamples every frame to the output side; an ffmpeg-made 48 kHz
// mono MP2 comes out as about the same time span of 44100 Hz stereo s16.
TEST(AudioCodec, DecoderResamplesToOutputSide) {
  TempDir dir;
  std::string src = dir.file("a.mkv");
  ASSERT_EQ(vvtest::Run("ffmpeg -v error -y -f lavfi -i sine=frequency=300:sample_rate=48000:duration=1 -ac 1 -c:a mp2 " +
                ShellQuote(src) + " </dev/null").status, 0);
  Demuxed in(src);
  ASSERT_TRUE(in.ok && in.audio.par);
  AudioDecoder dec(5);
  ASSERT_TRUE(dec.SetCodecParameters(in.audio.par));
  dec.SetOutSampleRate(44100);
  dec.SetOutChannels(2);
  dec.SetOutSampleFormat(AV_SAMPLE_FMT_S16);
  ASSERT_TRUE(dec.Open());
  int64_t bytes = 0, samples = 0;
  for (AVPacket* p : in.audio.packets) {
    if (dec.Decode(p->data, p->size, p->pts)) {
      EXPECT_EQ(dec.GetOutputBuffer()->GetSize(), dec.GetOutputSamples() * 4);
      bytes += dec.GetOutputBuffer()->GetSize();
      samples += dec.GetOutputSamples();
    }
  }
  bytes += dec.Flush();
  samples += dec.GetOutputSamples();
  EXPECT_EQ(bytes, samples * 4);
  EXPECT_NEAR(double(samples), 44100.0, 1200.0);
  uint8_t junk[3] = {1, 2, 3};
  EXPECT_EQ(dec.Decode(nullptr, 0, 0), nullptr);
  dec.Decode(junk, 3, 0);  // garbage loses that packet only
  dec.Close();
  EXPECT_EQ(dec.Decode(junk, 3, 0), nullptr);
}
