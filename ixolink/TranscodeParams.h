#pragma once
// The body of a "StartPull" command: where to pull from and, optionally, the
// picture and audio settings of a transcoded variant.
#include <string>

struct TranscodeParams {
  std::string url;
  bool transcode = false;
  int width = 0;
  int height = 0;
  int frameRate = 0;
  int VbitRate = 0;
  int SamplingRate = 0;
  int AbitRate = 0;

  // Fills the record from a JSON object. Keys that are missing or hold a
  // value of another type keep their defaults; a text that is not a JSON
  // object leaves every field at its default. Never throws.
  void FromJson(const std::string& text);
  // One-line JSON object with the same eight keys.
  std::string ToJson() const;

  bool WantsVideo() const { return VbitRate > 0 && height > 0 && width > 0 && frameRate > 0; }
  bool WantsAudio() const { return SamplingRate > 0 && AbitRate > 0; }
};

// Escapes a text for a JSON string literal: quotation mark, backslash and
// control characters; every other byte (UTF-8 included) is kept as it is.
std::string JsonEscape(const std::string& text);
