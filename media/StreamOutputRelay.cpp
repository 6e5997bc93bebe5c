// Relay mode: serves the stream to one TCP client as framed records.
#include "media/StreamOutput.h"

void StreamOutput::RelayThread() {}

bool StreamOutput::SendAll(IoBuffer* buffer, int socket) {
  (void)buffer;
  (void)socket;
  return false;
}
