#pragma once
// The settings store of the toolkit controls: one store for the whole
// program, backed by the program's profile (QSettings); tests put an
// in-memory store in its place.
#include <QString>
#include <memory>

#include "console/logic/toolkit/ToolkitSettings.h"

class QSettings;

namespace vvconsole {

// Integers and byte blobs in a QSettings file, the section as the group.
class QSettingsStore : public ISettingsStore {
 public:
  // The program's profile: the user's settings of the program.
  QSettingsStore();
  // A settings file of its own (INI format).
  explicit QSettingsStore(const QString& iniFile);
  ~QSettingsStore() override;

  int GetInt(const std::string& section, const std::string& entry, int def) override;
  void SetInt(const std::string& section, const std::string& entry, int value) override;
  std::optional<std::vector<uint8_t>> GetBinary(const std::string& section,
                                                const std::string& entry) override;
  void SetBinary(const std::string& section, const std::string& entry,
                 const std::vector<uint8_t>& value) override;
  void Sync();

 private:
  std::unique_ptr<QSettings> settings_;
};

// The store the controls use when they are given none: the one set here,
// else the program's profile.
ISettingsStore& ToolkitSettings();
// Null goes back to the program's profile. The store must outlive every
// control that uses it.
void SetToolkitSettings(ISettingsStore* store);

}  // namespace vvconsole
