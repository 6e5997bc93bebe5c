#include "console/logic/toolkit/ToolkitSettings.h"

int MemorySettingsStore::GetInt(const std::string& section, const std::string& entry, int def) {
  auto it = ints_.find({section, entry});
  return it == ints_.end() ? def : it->second;
}

void MemorySettingsStore::SetInt(const std::string& section, const std::string& entry, int value) {
  ints_[{section, entry}] = value;
}

std::optional<std::vector<uint8_t>> MemorySettingsStore::GetBinary(const std::string& section,
                                                                   const std::string& entry) {
  auto it = blobs_.find({section, entry});
  if (it == blobs_.end()) return std::nullopt;
  return it->second;
}

void MemorySettingsStore::SetBinary(const std::string& section, const std::string& entry,
                                    const std::vector<uint8_t>& value) {
  blobs_[{section, entry}] = value;
}

bool MemorySettingsStore::Has(const std::string& section, const std::string& entry) const {
  Key k{section, entry};
  return ints_.count(k) != 0 || blobs_.count(k) != 0;
}
