#pragma once
// The store the toolkit controls keep their settings in between runs (list
// column widths, splitter bar positions): integers and byte blobs under a
// section and an entry. The program hands the controls one store backed by
// its settings file; tests hand them the in-memory one.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class ISettingsStore {
 public:
  virtual ~ISettingsStore() = default;
  virtual int GetInt(const std::string& section, const std::string& entry, int def) = 0;
  virtual void SetInt(const std::string& section, const std::string& entry, int value) = 0;
  // Nothing when the entry was never written.
  virtual std::optional<std::vector<uint8_t>> GetBinary(const std::string& section,
                                                        const std::string& entry) = 0;
  virtual void SetBinary(const std::string& section, const std::string& entry,
                         const std::vector<uint8_t>& value) = 0;
};

class MemorySettingsStore : public ISettingsStore {
 public:
  int GetInt(const std::string& section, const std::string& entry, int def) override;
  void SetInt(const std::string& section, const std::string& entry, int value) override;
  std::optional<std::vector<uint8_t>> GetBinary(const std::string& section,
                                                const std::string& entry) override;
  void SetBinary(const std::string& section, const std::string& entry,
                 const std::vector<uint8_t>& value) override;
  bool Has(const std::string& section, const std::string& entry) const;

 private:
  using Key = std::pair<std::string, std::string>;
  std::map<Key, int> ints_;
  std::map<Key, std::vector<uint8_t>> blobs_;
};
