#pragma once
// The sub-stream the media tests transcode to: 320x180 H.264 at 300 kbit/s
// and 25 frames per second, AAC 22050 Hz mono at 48 kbit/s.
#include "core/RowRecords.h"

inline SubStreamInfo SubStream320(int gop = 50) {
  SubStreamInfo sub;
  sub.useVideo = true;
  sub.vFormat = "H264";
  sub.vColor = "YUVJ420P";
  sub.width = 320;
  sub.height = 180;
  sub.vBitRate = 300;
  sub.frameRate = 25;
  sub.gop = gop;
  sub.useAudio = true;
  sub.aFormat = "AAC";
  sub.sampleRate = "22050";
  sub.aBitRate = 48;
  sub.aChannel = 0;
  return sub;
}
