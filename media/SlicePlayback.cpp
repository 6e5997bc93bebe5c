#include "media/SlicePlayback.h"

#include <strings.h>

#include "media/FLVReader.h"

PlayItem::~PlayItem() = default;

VodFileProvider::VodFileProvider(PlayItem* playItem)
    : item(playItem), synthesizeMetaData(playItem ? playItem->GetSynthesizeMetaData() : true) {}

VodFileProvider::~VodFileProvider() { delete reader; }

void VodFileProvider::Open() {
  opened = true;
  if (!item) return;
  const std::string& name = item->GetName();
  if (name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".flv") == 0)
    reader = new FLVReader(name, synthesizeMetaData);
}

IoBuffer* VodFileProvider::GetNextMessage() {
  if (!opened) Open();
  if (!reader) return nullptr;
  Tag* tag = reader->ReadNextTag();
  if (!tag) return nullptr;
  IoBuffer* message = nullptr;
  int type = tag->GetType();
  if (tag->GetBody() && (type == 8 || type == 9 || type == 18)) {
    message = tag->TakeBody();
    message->SetType(type);
    message->SetTimestamp(tag->GetTimestamp());
  }
  delete tag;
  return message;
}

int64_t VodFileProvider::Seek(int64_t ms) {
  if (!opened) Open();
  return reader ? reader->SeekToTime(ms) : ms;
}

MessageInput::MessageInput(PlayItem* playItem) : item(playItem), provider(new VodFileProvider(playItem)) {}

MessageInput::~MessageInput() { delete provider; }

IoBuffer* MessageInput::GetNextMessage() { return active ? provider->GetNextMessage() : nullptr; }

int64_t MessageInput::Seek(int64_t ms) { return provider->Seek(ms); }
