#pragma once
// Framed messages on a connected TCP socket: a 4-byte big-endian payload
// length followed by that many bytes. This is the one message format between
// the server and the Ixo media server and between transcoding sessions and
// their peers.
#include <cstddef>
#include <cstdint>
#include <string>

// Largest payload a reader accepts. The real messages are small JSON texts;
// anything above this is a broken or hostile peer and ends the connection
// instead of being allocated.
constexpr uint32_t kMaxSocketMessageBytes = 16u * 1024u * 1024u;

enum class FrameResult {
  kOk,        // a frame with at least one payload byte arrived
  kEmpty,     // a frame of length 0 arrived; the socket stays open
  kPeerGone,  // the peer closed, a receive failed or the length was refused;
              // the socket has been closed and set to -1
};

// Sends every byte, retrying partial sends and EINTR; never raises SIGPIPE.
// Returns false when the connection failed (the socket is left open).
bool SendAll(int sock, const void* bytes, size_t length);
// Receives exactly length bytes; false when the peer closed or a receive
// failed before they all came (the socket is left open).
bool RecvAll(int sock, void* bytes, size_t length);

// Sends one frame. On a failed send the socket is closed and set to -1, so
// the caller's next read sees a lost peer and nobody closes it twice.
// Returns true when the whole frame went out.
bool WriteSocketMessage(int& sock, const std::string& text);

// Reads one frame with its raw payload (zero bytes kept). On kPeerGone the
// socket is already closed and set to -1.
FrameResult ReadSocketFrame(int& sock, std::string& payload);

// Reads one frame and returns its payload as text, cut at the first zero
// byte. Empty text is either an empty frame (socket still open) or a lost
// peer (socket closed and set to -1); check sock to tell them apart.
std::string ReadSocketMessage(int& sock);
