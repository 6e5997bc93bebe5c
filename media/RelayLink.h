#pragma once
// The socket side of the Ixo relay: one listening port, one client, framed
// media records (4-byte timestamp, 1-byte kind, 4-byte length, FLV tag body;
// integers big-endian).
#include <cstdint>
#include <functional>
#include <string>

// Address the relay listens on; every local address unless set. Tests keep
// it on 127.0.0.1.
void SetRelayBindAddress(const std::string& address);
std::string GetRelayBindAddress();

// Who ends a pull whose client went away. The relay thread cannot stop its
// own task (that joins the thread from inside itself), so it hands the task
// id over; the live-channel manager installs a handler that posts the stop
// for its request thread. Without a handler nothing happens.
void SetRelayEndedHandler(std::function<void(int taskId)> handler);
void NotifyRelayEnded(int taskId);

// A listening TCP socket on port (backlog 64), or -1.
int RelayListen(int port);
// Waits for one client while keepWaiting() holds, checking it every 100 ms;
// the accepted socket gets 3000 ms receive and send time-outs. -1 when the
// wait was ended or accept failed (failed is then set).
int RelayAccept(int listenSocket, const std::function<bool()>& keepWaiting, bool* failed);
// Sends every byte; false as soon as a send fails or times out.
bool RelaySendAll(int socket, const uint8_t* data, size_t size);
// Builds and sends one record.
bool RelaySendRecord(int socket, uint32_t timestamp, uint8_t kind, const uint8_t* body, uint32_t size);

class IoBuffer;

// What one relay connection has sent so far: the time base of its records
// and whether each stored sequence header went out. Each header goes out
// once, with timestamp 0, directly before the first record of its kind that
// follows its arrival.
//
// Record times never go back: the first packet taken sets the base, times
// before it are 0, and after an end of stream (the input opened again, its
// times starting afresh) the next run carries on 1 ms after the newest time
// sent. Video starts at a key frame: inter frames before the first one are
// dropped, since nothing could decode them.
class RelayFeed {
 public:
  // Sends the records for one FLV tag body packet (type 8 audio, 9 video;
  // other types send nothing). audioHeader/videoHeader: the stored sequence
  // headers, or null. A packet that is itself an AVC or AAC sequence header
  // (the stream's configuration changed) is sent as it comes and counts as
  // that kind's header. False when a send failed.
  bool Send(int socket, const IoBuffer& packet, const IoBuffer* audioHeader, const IoBuffer* videoHeader);
  // Packets were dropped: video waits for the next key frame again.
  void SkipToKeyFrame() { videoStarted = false; }
  // The stored header of that kind (8 audio, 9 video) goes out again before
  // the next packet of its kind: the header sent last no longer applies.
  void HeaderDue(int type) { (type == 8 ? audioHeaderSent : videoHeaderSent) = false; }
  int64_t BaseTimestamp() const { return baseTimestamp; }
  bool AudioHeaderSent() const { return audioHeaderSent; }
  bool VideoHeaderSent() const { return videoHeaderSent; }
  // The record time of a packet time (updates the run bookkeeping).
  uint32_t RecordTime(int64_t timestamp);

 private:
  int64_t baseTimestamp = -1;
  bool audioHeaderSent = false;
  bool videoHeaderSent = false;
  bool videoStarted = false;
  // The current run: packet time runOrigin is record time runStart.
  int64_t runOrigin = 0;
  int64_t runStart = 0;
  int64_t newestSent = -1;  // newest record time sent, -1 before the first
  bool newRun = false;      // an end of stream came: the next packet re-anchors
};
