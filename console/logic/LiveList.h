#pragma once
// The local live server's channel list: "ListLiveInfos" sent over one framed
// TCP exchange to 127.0.0.1, and the publish address of the first free
// channel in the reply.
#include <string>

// The port of the local live server (1936; tests point it elsewhere).
constexpr int kLocalLivePort = 1936;
int LocalLivePort();
void SetLocalLivePort(int port);

// Largest reply accepted; a longer one counts as no answer.
constexpr unsigned kMaxLiveListReplyBytes = 1024u * 1024u;
// Time allowed for the whole exchange: connect, send and receive.
constexpr int kLiveListTimeoutMs = 3000;

// Sends the command and the body as two frames (4-byte big-endian length,
// then the bytes) to 127.0.0.1:port and reads one framed reply. False when
// the server cannot be reached, the reply is cut short or too long, or the
// exchange takes longer than timeoutMs in all.
bool QueryLocalCommand(const std::string& command, const std::string& body, std::string& reply,
                       int port = LocalLivePort(), int timeoutMs = kLiveListTimeoutMs);

// The address to publish to: "rtmp://127.0.0.1/<appName>/<name>" of the first
// channel whose liveStatus is false, or "" when the server cannot be reached,
// its reply is not an array of channel objects, or no channel is free. A
// channel whose appName or name is empty or holds blanks or control
// characters is never free (such a url would not reach it).
std::string ParseLiveInfos(const std::string& reply);
std::string ListLiveInfos(int port = LocalLivePort());
