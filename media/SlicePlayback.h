#pragma once
// Playback of one media file as a sequence of timed messages: a PlayItem
// names the file, a MessageInput is the playback source built on it, and a
// VodFileProvider reads it with the FLV reader, one tag per message.
#include <cstdint>
#include <string>

#include "core/IoBuffer.h"

class ITagReader;

class PlayItem {
 public:
  PlayItem() = default;
  virtual ~PlayItem();

  // A label and a kind that playback itself does not read.
  void SetLabel(const std::string& v) { label = v; }
  const std::string& GetLabel() const { return label; }
  void SetKind(int v) { kind = v; }
  int GetKind() const { return kind; }
  // The path of the media file to play.
  void SetName(const std::string& v) { name = v; }
  const std::string& GetName() const { return name; }
  // When set (the default) a synthesised "onMetaData" message comes first.
  void SetSynthesizeMetaData(bool v) { synthesizeMetaData = v; }
  bool GetSynthesizeMetaData() const { return synthesizeMetaData; }

 private:
  std::string label;
  int kind = 0;
  std::string name;
  bool synthesizeMetaData = true;
};

class VodFileProvider {
 public:
  explicit VodFileProvider(PlayItem* item);
  virtual ~VodFileProvider();
  VodFileProvider(const VodFileProvider&) = delete;
  VodFileProvider& operator=(const VodFileProvider&) = delete;

  // Creates the reader for the item's name (only names ending in ".flv",
  // in any case, get one).
  void Open();
  // The next message (type 8, 9 or 18; bytes, type and timestamp of one
  // tag), owned by the caller; null once the file is played out.
  IoBuffer* GetNextMessage();
  int64_t Seek(int64_t ms);

 private:
  ITagReader* reader = nullptr;
  PlayItem* item;
  bool synthesizeMetaData;
  bool opened = false;
};

class MessageInput {
 public:
  explicit MessageInput(PlayItem* item);
  virtual ~MessageInput();
  MessageInput(const MessageInput&) = delete;
  MessageInput& operator=(const MessageInput&) = delete;

  IoBuffer* GetNextMessage();
  void Stop() { active = false; }
  int64_t Seek(int64_t ms);
  PlayItem* GetPlayItem() const { return item; }

 private:
  PlayItem* item;
  VodFileProvider* provider;
  bool active = true;
};
