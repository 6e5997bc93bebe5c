// The relay thread of an Ixo pull's output: one client on the pull's port,
// sent the channel's FLV tag bodies as framed records (RelayLink).
#include <unistd.h>

#include <cstdio>

#include "core/IoBuffer.h"
#include "core/Log.h"
#include "media/RelayLink.h"
#include "media/StreamOutput.h"

bool StreamOutput::SendAll(IoBuffer* buffer, int socket) {
  if (!buffer) return false;
  if (RelaySendAll(socket, buffer->GetData(), static_cast<size_t>(buffer->GetSize()))) return true;
  LogError("IXO Pull send error %d", id);
  return false;
}

bool StreamOutput::OpenRelayListener() {
  if (relayListenSocket.load() >= 0) return true;
  int listener = RelayListen(relayPort);
  if (listener < 0) {
    char text[96];
    snprintf(text, sizeof(text), "IXO Pull bind error %d", id);
    SetMessage(text);
    LogError("%s", text);
    relayBindReported = true;
    return false;
  }
  relayListenSocket = listener;
  return true;
}

void StreamOutput::CloseRelayListener() {
  int fd = relayListenSocket.exchange(-1);
  if (fd >= 0) close(fd);
}

void StreamOutput::RelayThread() {
  char text[96];
  auto fail = [&](const char* format) {
    snprintf(text, sizeof(text), format, id);
    SetMessage(text);
    LogError("%s", text);
  };
  // Normally listening since the output was built; otherwise (or when that
  // failed) the port is tried once more here.
  int listener = relayListenSocket.exchange(-1);
  if (listener < 0) listener = RelayListen(relayPort);
  if (listener < 0) {
    if (!relayBindReported.exchange(true)) fail("IXO Pull bind error %d");
    return;
  }
  bool acceptFailed = false;
  int client = RelayAccept(listener, [this] { return running.load(); }, &acceptFailed);
  close(listener);
  if (client < 0) {
    // Stopped before any client came, or accept itself failed.
    if (acceptFailed) fail("IXO Pull accept error %d");
    return;
  }
  relayClientSocket = client;
  connected = true;
  RelayFeed feed;
  bool sendFailed = false;
  // A client slower than the stream gets gaps, not the process's memory:
  // the queue is bounded like a publishing output's.
  const int64_t limit = QueueLimitMs();
  while (running) {
    if (DropBacklog(limit) > 0) feed.SkipToKeyFrame();
    IoBuffer* packet = TakeFront();
    if (!packet) {
      queue->WaitFor(wake::kIdleRecheckMs, running);
      continue;
    }
    // A sequence header that left the queue without this packet being it
    // (dropped) made the stored one due again.
    if (!StreamOutput::IsSequenceHeader(packet)) {
      if (!audioHeaderSent.load() && feed.AudioHeaderSent()) feed.HeaderDue(8);
      if (!videoHeaderSent.load() && feed.VideoHeaderSent()) feed.HeaderDue(9);
    }
    // Copies of the stored headers only while one is still to be sent.
    IoBuffer* audio = packet->GetType() == 8 && !feed.AudioHeaderSent() ? CopyAudioHeader() : nullptr;
    IoBuffer* video = packet->GetType() == 9 && !feed.VideoHeaderSent() ? CopyVideoHeader() : nullptr;
    bool ok = feed.Send(client, *packet, audio, video);
    baseTimestamp = feed.BaseTimestamp();
    audioHeaderSent = feed.AudioHeaderSent();
    videoHeaderSent = feed.VideoHeaderSent();
    delete audio;
    delete video;
    delete packet;
    if (!ok) {
      fail("IXO Pull send error %d");
      sendFailed = true;
      break;
    }
  }
  running = false;
  connected = false;
  relayClientSocket = -1;
  close(client);
  // The client is gone: the pull ends. Stopping joins this very thread, so
  // another thread does it (the manager's request thread), never this one.
  if (sendFailed) NotifyRelayEnded(id);
}
