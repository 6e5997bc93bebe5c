#pragma once
// One RTMP client connection over librtmp, set up the way the publishing
// output needs it:
//  - a fresh library session and a private, writable copy of the URL for
//    every connection attempt (the library cuts the URL text and keeps
//    pointers into it, and keeps chunk sizes across RTMP_Close);
//  - the name is resolved and the TCP connection made with a time-out of our
//    own (getaddrinfo, non-blocking connect), then the library's handshake
//    runs on that socket; receive and send time-outs are set on it;
//  - the library's one-time global set-up runs once, before any session is
//    used, and its log lines go into ours.
#include <atomic>
#include <cstdint>
#include <string>

struct RTMP;

class RtmpSession {
 public:
  // Runs the library's global set-up and routes its log; safe to call from
  // any thread, any number of times (the work happens once).
  static void GlobalInit();
  // Connection failures that repeat unchanged are logged by each thread once
  // a minute at most; after a success the calling thread logs the next
  // failure at once again.
  static void ResetLogRepeats();

  RtmpSession();
  ~RtmpSession();  // closes the connection and frees the session
  RtmpSession(const RtmpSession&) = delete;
  RtmpSession& operator=(const RtmpSession&) = delete;

  // Parses the URL (RTMP_SetupURL on a private copy); false when the
  // library refuses it.
  bool SetupURL(const std::string& url);
  // Marks the session for publishing (RTMP_EnableWrite).
  void EnableWrite();
  // TCP connect within timeoutMs, then the RTMP handshake and the connect
  // command. Receive and send time-outs of ioTimeoutMs are set on the socket.
  bool Connect(int timeoutMs, int ioTimeoutMs);
  // Creates the stream (for publishing: until the server says it started).
  bool ConnectStream();
  // Sends one message with a full chunk header. messageType 8 audio or 9
  // video; timestamp relative, not absolute. The body is copied into a
  // scratch buffer with room in front for the header the library writes.
  bool SendMessage(int messageType, int chunkStreamId, uint32_t timestamp, const uint8_t* body,
                   uint32_t size);
  bool IsConnected() const;
  // The server closed the connection or the socket failed (checked without
  // reading, so it is safe beside a sender).
  bool PeerClosed() const;
  void Close();
  // Closes a connection whose peer is gone without the closing messages
  // (they could only fail).
  void CloseLost();
  // Ends a connect or send that is blocked on the socket, from another
  // thread (the call in progress then fails).
  void Abort();
  int StreamId() const;
  RTMP* Raw() { return rtmp; }

  // Scratch room kept in front of a message body.
  static constexpr int kHeaderRoom = 50;

 private:
  bool TcpConnect(int timeoutMs, int ioTimeoutMs);

  RTMP* rtmp = nullptr;
  char* urlCopy = nullptr;  // the library keeps pointers into it
  std::string streamName;   // the stream name the library sends (see SetupURL)
  std::atomic<int> socketFd{-1};
  std::atomic<bool> aborted{false};
};

// Maps a librtmp log level to ours (exposed for tests).
int RtmpLogLevelToOurs(int rtmpLevel);
