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
  // Creates the stream (for publishing: until the server says it started),
  // then announces our outgoing chunk size (kOutChunkSize).
  bool ConnectStream();
  // Sends one message with a full chunk header. messageType 8 audio or 9
  // video; timestamp relative, not absolute. On a plain TCP connection the
  // chunks are framed here and written straight from the caller's bytes
  // with one sendmsg; through TLS, HTTP or encryption the library sends it
  // from a scratch copy (it writes chunk headers into the body in place).
  bool SendMessage(int messageType, int chunkStreamId, uint32_t timestamp, const uint8_t* body,
                   uint32_t size);
  // The chunk size in use for what we send (128 until announced).
  int OutChunkSize() const;
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
  // What we announce after the connect: a 3 Mbit/s stream then takes about
  // a hundred writes a second instead of thousands of 128-byte chunks.
  static constexpr int kOutChunkSize = 4096;

 private:
  bool TcpConnect(int timeoutMs, int ioTimeoutMs);
  bool AnnounceChunkSize(int chunkSize);
  // A socket we write ourselves: no TLS, HTTP tunnel or encryption.
  bool PlainSocket() const;
  bool SendThroughLibrary(int messageType, int chunkStreamId, uint32_t timestamp, const uint8_t* body,
                          uint32_t size);
  bool SendFramed(int messageType, int chunkStreamId, uint32_t timestamp, const uint8_t* body, uint32_t size);
  // Keeps the library's record of the last message per chunk stream, which
  // it compresses its own later headers against.
  void NoteSent(int messageType, int chunkStreamId, uint32_t timestamp, uint32_t size);

  RTMP* rtmp = nullptr;
  char* urlCopy = nullptr;  // the library keeps pointers into it
  std::string streamName;   // the stream name the library sends (see SetupURL)
  std::atomic<int> socketFd{-1};
  std::atomic<bool> aborted{false};
};

// Maps a librtmp log level to ours (exposed for tests).
int RtmpLogLevelToOurs(int rtmpLevel);
