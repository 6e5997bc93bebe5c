#include "platform/Uuid.h"

#include <uuid/uuid.h>

#include <cstdio>

bool NewGuid(unsigned char out[16]) {
  uuid_t id;
  uuid_generate_random(id);
  bool any = false;
  for (int i = 0; i < 16; ++i) {
    out[i] = id[i];
    any = any || id[i] != 0;
  }
  return any;
}

std::string MakeUniqueId() {
  unsigned char g[16];
  if (!NewGuid(g)) return std::string();
  char text[33];
  for (int i = 0; i < 8; ++i) snprintf(text + 4 * i, 5, "%04x", g[8 + i]);
  return std::string(text, 32);
}
