#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/AudioCodec.h"
#include "media/VideoCodec.h"
#include "tests/media/CodecMedia.h"
#include "tests/tools/TestUtil.h"

extern "C" {
#include <libavutil/frame.h>
}

using namespace vvtest;

namespace {

std::string Probe(const std::string& file, const std::string& stream, const std::string& entries) {
  return vvtest::Run("ffprobe -v error -select_streams " + stream + " -count_frames -show_entries stream=" + entries +
             " -of default=nw=1 " + ShellQuote(file))
      .output;
}

bool Make(const std::string& args) { return vvtest::Run("ffmpeg -v error -y " + args + " </dev/null", true).status == 0; }

// Decodes every video packet of in, encodes the pictures, writes them to out.
struct VideoRun {
  int pictures = 0, packets = 0, keys = 0, paramSetBytesAfterFirst = -1;
  bool firstKey = false;
};

VideoRun TranscodeVideo(Demuxed& in, CVideoEncoder& enc, MuxFile* mux, int streamIndex) {
  VideoRun run;
  CVideoDecoder dec(7);
  EXPECT_TRUE(dec.SetCodecParameters(in.video.par));
  EXPECT_TRUE(dec.Open());
  auto take = [&](IoBuffer* out) {
    for (; out; out = enc.ReceivePacket()) {
      if (run.packets == 0) run.firstKey = (out->GetFlags() & 1) != 0;
      run.keys += out->GetFlags() & 1;
      ++run.packets;
      if (mux) mux->Write(streamIndex, out->GetData(), out->GetSize(), out->GetPts(), out->GetPts(), out->GetFlags() & 1, AVRational{1, 25});
      if (run.packets == 1 && enc.GetParameterSets()) run.paramSetBytesAfterFirst = enc.GetParameterSets()->GetSize();
    }
  };
  int64_t n = 0;
  auto feed = [&](AVFrame* f) {
    for (; f; f = dec.ReceiveFrame()) {
      ++run.pictures;
      f->pts = n++;
      take(enc.Encode(f));
    }
  };
  for (AVPacket* p : in.video.packets)
    feed(dec.Decode(p->data, p->size, p->pts, p->dts, p->flags & AV_PKT_FLAG_KEY));
  dec.Flush();
  feed(dec.ReceiveFrame());
  enc.Flush();
  take(enc.ReceivePacket());
  dec.Close();
  return run;
}

}  // namespace

// One second of test picture and tone, transcoded to a small H.264 picture and
// mono 22050 Hz AAC, must be what ffprobe says it is and decode cleanly.
TEST(VideoCodec, TranscodesTestSourceToSmallH264AndMonoAac) {
  TempDir dir;
  std::string src = dir.file("src.mkv"), out = dir.file("out.mkv");
  ASSERT_TRUE(Make("-f lavfi -i testsrc=size=320x240:rate=25:duration=1 -f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 "
                   "-ac 2 -c:v mpeg4 -c:a mp2 " + ShellQuote(src)));
  Demuxed in(src);
  ASSERT_TRUE(in.ok);
  ASSERT_TRUE(in.video.par && in.audio.par);

  CVideoEncoder venc(7);
  venc.SetCodecId(AV_CODEC_ID_H264);
  venc.SetDstPixelFormat(AV_PIX_FMT_YUVJ420P);
  venc.SetDstWidth(160);
  venc.SetDstHeight(96);
  venc.SetFrameRate(25);
  venc.SetBitRate(200000);
  venc.SetGopSize(10);
  ASSERT_TRUE(venc.Open());

  AudioDecoder adec(7);
  ASSERT_TRUE(adec.SetCodecParameters(in.audio.par));
  adec.SetOutSampleRate(44100);
  adec.SetOutChannels(2);
  adec.SetOutSampleFormat(AV_SAMPLE_FMT_S16);
  ASSERT_TRUE(adec.Open());
  AudioEncoder aenc(7);
  aenc.SetSampleRate(22050);
  aenc.SetChannels(1);
  aenc.SetChannelLayout(AV_CH_LAYOUT_MONO);
  aenc.SetBitRate(48000);
  aenc.SetSampleFormat(AV_SAMPLE_FMT_S16);
  aenc.SetInputSampleRate(44100);
  aenc.SetInputChannels(2);
  ASSERT_TRUE(aenc.Open());
  ASSERT_NE(aenc.GetAudioSpecificConfig(), nullptr);
  // AAC LC, 22050 Hz (index 7), one channel (the encoder may add an
  // extension behind the first two bytes).
  ASSERT_GE(aenc.GetAudioSpecificConfig()->GetSize(), 2);
  EXPECT_EQ(aenc.GetAudioSpecificConfig()->GetData()[0], 0x13);
  EXPECT_EQ(aenc.GetAudioSpecificConfig()->GetData()[1], 0x88);

  // The container needs the video parameter sets up front: encode first.
  std::vector<IoBuffer*> audioOut;
  auto takeAudio = [&] {
    while (IoBuffer* p = aenc.GetPacket()) audioOut.push_back(p);
  };
  for (AVPacket* p : in.audio.packets) {
    if (adec.Decode(p->data, p->size, p->pts)) {
      aenc.Encode(adec.GetOutputBuffer()->GetData(), adec.GetOutputBuffer()->GetSize());
      takeAudio();
    }
  }
  if (adec.Flush() > 0) aenc.Encode(adec.GetOutputBuffer()->GetData(), adec.GetOutputBuffer()->GetSize());
  aenc.Flush();
  takeAudio();

  // First pass only fills in the extradata; the second writes the file.
  {
    CVideoEncoder probe(7);
    probe.SetCodecId(AV_CODEC_ID_H264);
    probe.SetDstPixelFormat(AV_PIX_FMT_YUVJ420P);
    probe.SetDstWidth(160);
    probe.SetDstHeight(96);
    probe.SetFrameRate(25);
    probe.SetBitRate(200000);
    ASSERT_TRUE(probe.Open());
    TranscodeVideo(in, probe, nullptr, 0);
    ASSERT_NE(probe.GetCodecContext()->extradata, nullptr);
    venc.GetCodecContext()->extradata = static_cast<uint8_t*>(av_mallocz(probe.GetCodecContext()->extradata_size + AV_INPUT_BUFFER_PADDING_SIZE));
    memcpy(venc.GetCodecContext()->extradata, probe.GetCodecContext()->extradata, probe.GetCodecContext()->extradata_size);
    venc.GetCodecContext()->extradata_size = probe.GetCodecContext()->extradata_size;
  }
  {
    MuxFile mux(out);
    int vs = mux.AddStream(venc.GetCodecContext(), AVRational{1, 25});
    int as = mux.AddStream(aenc.GetCodecContext(), AVRational{1, 22050});
    ASSERT_TRUE(mux.Begin());
    VideoRun run = TranscodeVideo(in, venc, &mux, vs);
    EXPECT_EQ(run.pictures, 25);
    EXPECT_EQ(run.packets, 25);
    EXPECT_TRUE(run.firstKey);
    EXPECT_EQ(run.keys, 3);  // GOP of 10 pictures
    for (IoBuffer* p : audioOut) {
      mux.Write(as, p->GetData(), p->GetSize(), p->GetPts(), p->GetDts(), true, AVRational{1, 22050});
      delete p;
    }
  }
  EXPECT_EQ(Probe(out, "v:0", "codec_name,width,height,nb_read_frames"),
            "codec_name=h264\nwidth=160\nheight=96\nnb_read_frames=25\n");
  EXPECT_EQ(Probe(out, "a:0", "codec_name,sample_rate,channels"), "codec_name=aac\nsample_rate=22050\nchannels=1\n");
  // About one second of sound: nothing of the input's samples was dropped.
  std::string samples = vvtest::Run("ffprobe -v error -select_streams a:0 -show_entries frame=nb_samples -of csv=p=0 " + ShellQuote(out)).output;
  int total = 0;
  for (size_t pos = 0; pos < samples.size();) {
    size_t nl = samples.find('\n', pos);
    total += atoi(samples.substr(pos, nl - pos).c_str());
    pos = nl == std::string::npos ? samples.size() : nl + 1;
  }
  EXPECT_NEAR(total, 22050, 1024 * 2);
  CommandResult check = vvtest::Run("ffmpeg -v error -i " + ShellQuote(out) + " -f null - 2>&1");
  EXPECT_EQ(check.output, "");
}

// The encoder's parameter sets come from its first packet, are not added to
// by later key frames, and become the context's extradata (Annex B).
TEST(VideoCodec, ParameterSetsFromFirstPacketBecomeExtradata) {
  TempDir dir;
  std::string src = dir.file("src.mp4");
  ASSERT_TRUE(Make("-f lavfi -i testsrc=size=176x144:rate=25:duration=1 -c:v libx264 -g 5 " + ShellQuote(src)));
  Demuxed in(src);
  ASSERT_TRUE(in.ok);
  CVideoEncoder enc(3);
  enc.SetCodecId(AV_CODEC_ID_H264);
  enc.SetDstPixelFormat(AV_PIX_FMT_YUV420P);
  enc.SetDstWidth(128);
  enc.SetDstHeight(96);
  enc.SetGopSize(5);
  ASSERT_TRUE(enc.Open());
  VideoRun run = TranscodeVideo(in, enc, nullptr, 0);
  EXPECT_EQ(run.keys, 5);
  const IoBuffer* sets = enc.GetParameterSets();
  ASSERT_NE(sets, nullptr);
  EXPECT_EQ(sets->GetSize(), run.paramSetBytesAfterFirst);
  const uint8_t* d = sets->GetData();
  ASSERT_GT(sets->GetSize(), 8);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 0);
  EXPECT_EQ(d[2], 1);
  EXPECT_EQ(d[3] & 0x1f, 7);
  AVCodecContext* ctx = enc.GetCodecContext();
  ASSERT_EQ(ctx->extradata_size, sets->GetSize());
  EXPECT_EQ(0, memcmp(ctx->extradata, d, sets->GetSize()));
}

TEST(VideoCodec, ExtractParameterSetsKeepsSpsAndPpsWithShortStartCodes) {
  struct Case {
    std::vector<uint8_t> packet;
    std::vector<uint8_t> expected;  // empty: nothing collected
  };
  const std::vector<Case> cases = {
      // 4-byte start codes: the leading zero belongs to neither unit.
      {{0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1e, 0, 0, 0, 1, 0x68, 0xce, 0x38, 0x80, 0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00},
       {0, 0, 1, 0x67, 0x42, 0x00, 0x1e, 0, 0, 1, 0x68, 0xce, 0x38, 0x80}},
      // 3-byte start codes and garbage in front.
      {{0xaa, 0xbb, 0, 0, 1, 0x67, 0x64, 0x1f, 0, 0, 1, 0x68, 0xeb, 0xe3, 0, 0, 1, 0x41, 0x9a},
       {0, 0, 1, 0x67, 0x64, 0x1f, 0, 0, 1, 0x68, 0xeb, 0xe3}},
      // Only a slice.
      {{0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00, 0x10}, {}},
      // No start code at all, and too short to hold one.
      {{0x67, 0x42, 0x00, 0x1e, 0x11, 0x22}, {}},
      {{0, 0, 1, 0x67}, {}},
      // A start code at the very end.
      {{0, 0, 1, 0x68, 0x11, 0x22, 0, 0, 1}, {0, 0, 1, 0x68, 0x11, 0x22}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    IoBuffer* sets = nullptr;
    CVideoEncoder::ExtractParameterSets(cases[i].packet.data(), static_cast<int>(cases[i].packet.size()), sets);
    std::vector<uint8_t> got;
    if (sets) got.assign(sets->GetData(), sets->GetData() + sets->GetSize());
    EXPECT_EQ(got, cases[i].expected) << "case " << i;
    delete sets;
  }
}

// A stream whose picture size changes midway: the scaler follows each
// picture, every picture is encoded, and the result decodes without error.
TEST(VideoCodec, PictureSizeChangeMidStream) {
  TempDir dir;
  std::string a = dir.file("a.h264"), b = dir.file("b.h264"), both = dir.file("both.h264"), out = dir.file("out.h264");
  ASSERT_TRUE(Make("-f lavfi -i testsrc=size=320x240:rate=25:duration=0.4 -c:v libx264 -bsf:v h264_mp4toannexb " + ShellQuote(a)));
  ASSERT_TRUE(Make("-f lavfi -i testsrc=size=640x360:rate=25:duration=0.4 -c:v libx264 " + ShellQuote(b)));
  ASSERT_EQ(vvtest::Run("cat " + ShellQuote(a) + " " + ShellQuote(b) + " > " + ShellQuote(both)).status, 0);
  Demuxed in(both);
  ASSERT_TRUE(in.ok);
  CVideoEncoder enc(4);
  enc.SetCodecId(AV_CODEC_ID_H264);
  enc.SetDstPixelFormat(AV_PIX_FMT_YUV420P);
  enc.SetDstWidth(176);
  enc.SetDstHeight(144);
  ASSERT_TRUE(enc.Open());
  FILE* f = fopen(out.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  CVideoDecoder dec(4);
  dec.SetCodecId(AV_CODEC_ID_H264);
  ASSERT_TRUE(dec.Open());
  int pictures = 0, packets = 0;
  std::vector<int> widths;
  auto take = [&](IoBuffer* p) {
    for (; p; p = enc.ReceivePacket(), ++packets) fwrite(p->GetData(), 1, p->GetSize(), f);
  };
  auto feed = [&](AVFrame* fr) {
    for (; fr; fr = dec.ReceiveFrame(), ++pictures) {
      if (widths.empty() || widths.back() != fr->width) widths.push_back(fr->width);
      take(enc.Encode(fr));
    }
  };
  for (AVPacket* p : in.video.packets) feed(dec.Decode(p->data, p->size, p->pts, p->dts, false));
  dec.Flush();
  feed(dec.ReceiveFrame());
  enc.Flush();
  take(enc.ReceivePacket());
  fclose(f);
  EXPECT_EQ(widths, (std::vector<int>{320, 640}));
  EXPECT_EQ(pictures, 20);
  EXPECT_EQ(packets, 20);
  EXPECT_EQ(Probe(out, "v:0", "width,height,nb_read_frames"), "width=176\nheight=144\nnb_read_frames=20\n");
  EXPECT_EQ(vvtest::Run("ffmpeg -v error -i " + ShellQuote(out) + " -f null - 2>&1").output, "");
}

TEST(VideoCodec, OpenRefusesUnusableSettings) {
  struct Case {
    int codec, width, height, rate;
  };
  const Case cases[] = {{AV_CODEC_ID_NONE, 320, 240, 25}, {AV_CODEC_ID_H264, 0, 240, 25}, {AV_CODEC_ID_H264, 320, -2, 25},
                        {AV_CODEC_ID_H264, 320, 240, 0}, {AV_CODEC_ID_H264, 100000, 240, 25}, {AV_CODEC_ID_H264, 321, 241, 25}};
  for (const Case& c : cases) {
    CVideoEncoder enc(1);
    enc.SetCodecId(c.codec);
    enc.SetDstPixelFormat(AV_PIX_FMT_YUV420P);
    enc.SetDstWidth(c.width);
    enc.SetDstHeight(c.height);
    enc.SetFrameRate(c.rate);
    EXPECT_FALSE(enc.Open()) << c.codec << " " << c.width << "x" << c.height << "@" << c.rate;
    EXPECT_EQ(enc.Encode(nullptr), nullptr);
  }
  CVideoDecoder dec(1);
  dec.SetCodecId(AV_CODEC_ID_NONE);
  EXPECT_FALSE(dec.Open());
  uint8_t junk[4] = {1, 2, 3, 4};
  EXPECT_EQ(dec.Decode(junk, 4, 0, 0, false), nullptr);
}
