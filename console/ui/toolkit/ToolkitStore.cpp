#include "console/ui/toolkit/ToolkitStore.h"

#include <QByteArray>
#include <QSettings>

namespace vvconsole {

namespace {

QString Key(const std::string& section, const std::string& entry) {
  return QString::fromStdString(section) + "/" + QString::fromStdString(entry);
}

ISettingsStore* g_store = nullptr;

}  // namespace

// The profile lives where the desktop keeps the user's settings
// (~/.config/<company>/Velvanet.conf).
QSettingsStore::QSettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("应用程序向导生成的本地应用程序"),
                                            QStringLiteral("Velvanet"))) {}

QSettingsStore::QSettingsStore(const QString& iniFile)
    : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

QSettingsStore::~QSettingsStore() = default;

int QSettingsStore::GetInt(const std::string& section, const std::string& entry, int def) {
  bool ok = false;
  const int v = settings_->value(Key(section, entry)).toInt(&ok);
  return ok ? v : def;
}

void QSettingsStore::SetInt(const std::string& section, const std::string& entry, int value) {
  settings_->setValue(Key(section, entry), value);
}

std::optional<std::vector<uint8_t>> QSettingsStore::GetBinary(const std::string& section,
                                                              const std::string& entry) {
  const QVariant v = settings_->value(Key(section, entry));
  if (!v.isValid()) return std::nullopt;
  const QByteArray bytes = v.toByteArray();
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void QSettingsStore::SetBinary(const std::string& section, const std::string& entry,
                               const std::vector<uint8_t>& value) {
  settings_->setValue(Key(section, entry),
                      QByteArray(reinterpret_cast<const char*>(value.data()),
                                 static_cast<qsizetype>(value.size())));
}

void QSettingsStore::Sync() { settings_->sync(); }

ISettingsStore& ToolkitSettings() {
  if (g_store) return *g_store;
  static QSettingsStore profile;
  return profile;
}

void SetToolkitSettings(ISettingsStore* store) { g_store = store; }

}  // namespace vvconsole
