#include "core/IniFileEx.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace inifile {
namespace {

// Name lists are handed over in one block of this many characters.
constexpr size_t kNameBlockChars = 16384;

struct Line {
  std::string raw;  // as in the file, without its line end
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, trimmed
};

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

struct Document {
  std::vector<Line> lines;
  std::string eol = "\n";
  bool endsWithEol = true;
};

Line Classify(const std::string& raw, bool first) {
  Line l;
  l.raw = raw;
  std::string text = raw;
  if (first && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::string t = Trim(text);
  if (t.empty() || t[0] == ';' || t[0] == '#') return l;
  if (t[0] == '[') {
    size_t close = t.find(']');
    if (close != std::string::npos) {
      l.kind = Line::kSection;
      l.name = Trim(t.substr(1, close - 1));
    }
    return l;
  }
  size_t eq = t.find('=');
  if (eq == std::string::npos) return l;
  l.kind = Line::kKey;
  l.name = Trim(t.substr(0, eq));
  l.value = Trim(t.substr(eq + 1));
  if (l.name.empty()) l.kind = Line::kOther;
  return l;
}

bool Load(const std::string& path, Document& doc) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  std::string text;
  char buf[8192];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
  fclose(f);
  if (text.find("\r\n") != std::string::npos) doc.eol = "\r\n";
  doc.endsWithEol = text.empty() || text.back() == '\n';
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    std::string raw = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    doc.lines.push_back(Classify(raw, doc.lines.empty()));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return true;
}

// Index of the first header line of the section, or -1.
long FindSection(const Document& doc, const std::string& section) {
  for (size_t i = 0; i < doc.lines.size(); ++i)
    if (doc.lines[i].kind == Line::kSection && EqualNoCase(doc.lines[i].name, section)) return static_cast<long>(i);
  return -1;
}

// One past the last line of the section that starts at header.
size_t SectionEnd(const Document& doc, size_t header) {
  size_t i = header + 1;
  while (i < doc.lines.size() && doc.lines[i].kind != Line::kSection) ++i;
  return i;
}

long FindKey(const Document& doc, size_t header, const std::string& key) {
  size_t end = SectionEnd(doc, header);
  for (size_t i = header + 1; i < end; ++i)
    if (doc.lines[i].kind == Line::kKey && EqualNoCase(doc.lines[i].name, key)) return static_cast<long>(i);
  return -1;
}

// Writes beside the real file (through a link, beside its target) and
// renames over it, so a reader sees the old or the new file, never half.
bool Save(const std::string& path, const Document& doc) {
  std::string target = path;
  char resolved[PATH_MAX];
  for (int hops = 0; hops < 40; ++hops) {
    ssize_t n = readlink(target.c_str(), resolved, sizeof(resolved) - 1);
    if (n < 0) break;
    std::string link(resolved, static_cast<size_t>(n));
    if (link.empty() || link[0] != '/') {
      size_t slash = target.rfind('/');
      link = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + link;
    }
    target = link;
  }

  std::string text;
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    text += doc.lines[i].raw;
    if (i + 1 < doc.lines.size() || doc.endsWithEol) text += doc.eol;
  }

  mode_t mode;
  struct stat st;
  bool existed = stat(target.c_str(), &st) == 0;
  if (existed) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }

  std::string temp = target + ".tmp-XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = fchmod(fd, mode) == 0;
  if (existed && ok) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Not our file to give away; the mode is what matters here.
    }
  }
  size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t w = write(fd, text.data() + done, text.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) ok = false;
    else done += static_cast<size_t>(w);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), target.c_str()) != 0) ok = false;
  if (!ok) unlink(temp.c_str());
  return ok;
}

// Writers of this process go one at a time so no update is lost between
// reading and replacing the file.
std::mutex g_writeMutex;

}  // namespace

std::string ReadValue(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& def, size_t maxChars) {
  Document doc;
  std::string out = def;
  if (Load(path, doc)) {
    long header = FindSection(doc, section);
    if (header >= 0) {
      long k = FindKey(doc, static_cast<size_t>(header), key);
      if (k >= 0) out = doc.lines[static_cast<size_t>(k)].value;
    }
  }
  if (out.size() > maxChars) out.resize(maxChars);
  return out;
}

bool WriteValue(const std::string& path, const std::string& section, const char* key, const char* value) {
  // A line break inside a name or value would plant lines of its own in the
  // file; such names are refused and a value ends at its first line break.
  auto bad = [](const std::string& s, const char* also) {
    return s.find_first_of(std::string("\r\n") + also) != std::string::npos;
  };
  if (bad(section, "]") || (key != nullptr && (bad(key, "=") || Trim(key).empty()))) return false;
  std::lock_guard<std::mutex> lk(g_writeMutex);
  Document doc;
  bool exists = Load(path, doc);
  if (!exists && errno != ENOENT) return false;
  long header = FindSection(doc, section);

  if (key == nullptr) {
    if (header < 0) return true;
    size_t end = SectionEnd(doc, static_cast<size_t>(header));
    doc.lines.erase(doc.lines.begin() + header, doc.lines.begin() + static_cast<long>(end));
    return Save(path, doc);
  }
  if (value == nullptr) {
    if (header < 0) return true;
    long k = FindKey(doc, static_cast<size_t>(header), key);
    if (k < 0) return true;
    doc.lines.erase(doc.lines.begin() + k);
    return Save(path, doc);
  }

  std::string val = value;
  val = Trim(val.substr(0, val.find_first_of("\r\n")));
  if (header < 0) {
    if (!doc.lines.empty() && !doc.endsWithEol) doc.endsWithEol = true;
    Line h;
    h.raw = "[" + section + "]";
    h.kind = Line::kSection;
    h.name = section;
    doc.lines.push_back(h);
    header = static_cast<long>(doc.lines.size() - 1);
  }
  long k = FindKey(doc, static_cast<size_t>(header), key);
  if (k >= 0) {
    Line& l = doc.lines[static_cast<size_t>(k)];
    l.raw = l.name + "=" + val;  // the file's own spelling of the key
    l.value = val;
  } else {
    // After the section's last key (or header), before trailing blanks and
    // comments that belong to whatever follows.
    size_t end = SectionEnd(doc, static_cast<size_t>(header));
    size_t at = static_cast<size_t>(header) + 1;
    for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i)
      if (doc.lines[i].kind == Line::kKey) at = i + 1;
    Line l;
    l.raw = std::string(key) + "=" + val;
    l.kind = Line::kKey;
    l.name = key;
    l.value = val;
    if (at == doc.lines.size() && !doc.endsWithEol) doc.endsWithEol = true;
    doc.lines.insert(doc.lines.begin() + static_cast<long>(at), l);
  }
  return Save(path, doc);
}

namespace {
void AddName(std::vector<std::string>& names, size_t& used, const std::string& name) {
  for (const std::string& n : names)
    if (EqualNoCase(n, name)) return;
  // Each name and its zero, and the closing empty name, must fit the block.
  if (used + name.size() + 1 + 1 > kNameBlockChars) {
    used = kNameBlockChars;
    return;
  }
  used += name.size() + 1;
  names.push_back(name);
}
}  // namespace

std::vector<std::string> SectionNames(const std::string& path) {
  std::vector<std::string> names;
  Document doc;
  if (!Load(path, doc)) return names;
  size_t used = 0;
  for (const Line& l : doc.lines)
    if (l.kind == Line::kSection) AddName(names, used, l.name);
  return names;
}

std::vector<std::string> KeyNames(const std::string& path, const std::string& section) {
  std::vector<std::string> names;
  Document doc;
  if (!Load(path, doc)) return names;
  long header = FindSection(doc, section);
  if (header < 0) return names;
  size_t used = 0;
  size_t end = SectionEnd(doc, static_cast<size_t>(header));
  for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i)
    if (doc.lines[i].kind == Line::kKey) AddName(names, used, doc.lines[i].name);
  return names;
}

}  // namespace inifile

std::string CIniFileEx::GetString(const std::string& section, const std::string& key, const std::string& def) const {
  return inifile::ReadValue(m_path, section, key, def, 2047);
}

bool CIniFileEx::WriteString(const std::string& section, const char* key, const char* value) {
  return inifile::WriteValue(m_path, section, key, value);
}

int CIniFileEx::GetInt(const std::string& section, const std::string& key, int def) const {
  char text[32];
  snprintf(text, sizeof(text), "%d", def);
  return atoi(GetString(section, key, text).c_str());
}

bool CIniFileEx::WriteInt(const std::string& section, const std::string& key, int value) {
  char text[32];
  snprintf(text, sizeof(text), "%d", value);
  return WriteString(section, key.c_str(), text);
}

bool CIniFileEx::GetBool(const std::string& section, const std::string& key, bool def) const {
  std::string v = GetString(section, key, "");
  if (v.empty()) return def;
  return v != "0";
}

float CIniFileEx::GetFloat(const std::string& section, const std::string& key, float def) const {
  char text[64];
  snprintf(text, sizeof(text), "%f", static_cast<double>(def));
  return static_cast<float>(atof(GetString(section, key, text).c_str()));
}

bool CIniFileEx::WriteFloat(const std::string& section, const std::string& key, float value) {
  char text[64];
  snprintf(text, sizeof(text), "%f", static_cast<double>(value));
  return WriteString(section, key.c_str(), text);
}

bool CIniFileEx::GetSectionNames(std::vector<std::string>& names) const {
  names = inifile::SectionNames(m_path);
  return !names.empty();
}

bool CIniFileEx::GetKeyNames(const std::string& section, std::vector<std::string>& names) const {
  names = inifile::KeyNames(m_path, section);
  return !names.empty();
}

bool CIniFileEx::DeleteSection(const std::string& section) { return WriteString(section, nullptr, nullptr); }

bool CIniFileEx::DeleteKey(const std::string& section, const std::string& key) {
  return WriteString(section, key.c_str(), nullptr);
}
