#include "ixolink/SendCommandClient.h"

#include <sys/socket.h>

#include "core/IoBuffer.h"
#include "ixolink/IxoSettings.h"
#include "ixolink/IxoSocket.h"

SendCommandClient::SendCommandClient(const std::string& h, int p)
    : SendCommandClient(h, p, IxoConfigPath()) {}

SendCommandClient::SendCommandClient(const std::string& h, int p, const std::string& configPath)
    : host(h), port(p), key(LoadIxoKey(configPath)) {}

SendCommandClient::~SendCommandClient() { Close(); }

bool SendCommandClient::Connect() {
  Close();
  if (interrupted) return false;
  int fd = ixo::ConnectTcp(host, port, timeoutMs, &interrupted);
  if (fd < 0) return false;
  // Without time-outs a server that accepts and then says nothing would
  // hold the registration thread for ever.
  ixo::SetSocketTimeouts(fd, timeoutMs, timeoutMs);
  std::lock_guard<std::mutex> lock(connectionMutex);
  connection = fd;
  if (interrupted) shutdown(connection, SHUT_RDWR);
  return true;
}

void SendCommandClient::Close() {
  std::lock_guard<std::mutex> lock(connectionMutex);
  ixo::CloseFd(connection);
}

void SendCommandClient::Interrupt() {
  interrupted = true;
  std::lock_guard<std::mutex> lock(connectionMutex);
  if (connection >= 0) shutdown(connection, SHUT_RDWR);
}

bool SendCommandClient::SendAll(IoBuffer& buffer) {
  if (connection < 0) return false;
  return ixo::SendAllBytes(connection, buffer.GetData(), static_cast<size_t>(buffer.GetSize()));
}

std::string SendCommandClient::SendCommand(const char* command, const char* data) {
  if (connection < 0 || interrupted) return "";
  std::string cmd = command ? command : "";
  std::string body = data ? data : "";
  IoBuffer request;
  request.WriteUInt32(static_cast<uint32_t>(cmd.size()));
  request.WriteString(cmd);
  if (!key.empty()) {
    request.WriteUInt32(static_cast<uint32_t>(key.size()));
    request.WriteString(key);
  }
  request.WriteUInt32(static_cast<uint32_t>(body.size()));
  request.WriteString(body);
  if (!SendAll(request)) return "";
  std::string reply;
  if (ixo::ReadFrame(connection, reply, ixo::kMaxFrameBytes) != ixo::FrameResult::Ok) return "";
  return reply;
}
