#pragma once
// Typed reads and writes of one INI file with the semantics of the Windows
// private-profile functions: sections and keys match without regard to case,
// the first occurrence wins, values are trimmed, a write replaces the value
// where it stands and keeps every other line and comment. Nothing is cached:
// every call reads the file. Writes replace the file atomically.
#include <string>
#include <vector>

// The reader and writer under CIniFileEx.
namespace inifile {
// The value of the key, or the default when the file, section or key is
// missing. At most maxChars characters are returned.
std::string ReadValue(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& def, size_t maxChars = 2047);
// key == nullptr removes the section; value == nullptr removes the key;
// otherwise the key is set, creating the file and section as needed.
bool WriteValue(const std::string& path, const std::string& section, const char* key, const char* value);
std::vector<std::string> SectionNames(const std::string& path);
std::vector<std::string> KeyNames(const std::string& path, const std::string& section);
}  // namespace inifile

class CIniFileEx {
 public:
  CIniFileEx() = default;
  explicit CIniFileEx(const std::string& path) : m_path(path) {}
  virtual ~CIniFileEx() = default;

  void SetPath(const std::string& path) { m_path = path; }
  const std::string& GetPath() const { return m_path; }

  std::string GetString(const std::string& section, const std::string& key, const std::string& def = "") const;
  bool WriteString(const std::string& section, const char* key, const char* value);
  bool WriteString(const std::string& section, const std::string& key, const std::string& value) {
    return WriteString(section, key.c_str(), value.c_str());
  }
  int GetInt(const std::string& section, const std::string& key, int def) const;
  bool WriteInt(const std::string& section, const std::string& key, int value);
  bool GetBool(const std::string& section, const std::string& key, bool def) const;
  float GetFloat(const std::string& section, const std::string& key, float def) const;
  bool WriteFloat(const std::string& section, const std::string& key, float value);
  bool GetSectionNames(std::vector<std::string>& names) const;
  bool GetKeyNames(const std::string& section, std::vector<std::string>& names) const;
  bool DeleteSection(const std::string& section);
  bool DeleteKey(const std::string& section, const std::string& key);

 private:
  std::string m_path;
};
