// INI settings in a file or in a text held in memory. Every change rebuilds the text line by line.
#include "Tessily.h"
#include "Internal.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using tessily::EqualNoCase;

const char kEol[] = "\r\n";

// A line of at most one character counts as empty.
bool IsEmptyLine(const std::string& line) { return line.size() <= 1; }

bool IsHeader(const std::string& line) {
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

std::string HeaderName(const std::string& line) { return line.substr(1, line.size() - 2); }

// A non-empty, non-header line with "=": its trimmed key and value.
bool SplitKeyLine(const std::string& line, std::string* key, std::string* value) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    if (key) *key = Trim(line.substr(0, eq));
    if (value) *value = Trim(line.substr(eq + 1));
    return true;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// The key line a writer adds.
std::string KeyLine(const std::string& key, const std::string& value) {
    return Trim(key) + "=" + Trim(value);
}

// Whether a section, key and value can be written so that they read back as written: no line
// breaks (they would add lines), no "=" in the key, and a key line that reads back as a key line.
bool Acceptable(const std::string& section, const std::string& key, const std::string& value) {
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
    if (key.find('=') != std::string::npos) return false;
    const std::string line = KeyLine(key, value);
    return !IsEmptyLine(line) && !IsHeader(line);
}

// Lines of a text in memory: as the reader gives them, without trailing carriage returns only.
std::vector<std::string> TextLines(const std::string& text) {
    std::vector<std::string> lines;
    CIStrStream in(text);
    while (!in.IsEOS()) lines.push_back(in.GetLine());
    return lines;
}

// Lines of a file: trimmed at both ends, of any length.
std::vector<std::string> FileLines(const std::string& content) {
    std::vector<std::string> lines = TextLines(content);
    for (std::string& line : lines) _Trim(line);
    return lines;
}

bool FindValue(const std::vector<std::string>& lines, const std::string& section, const std::string& key,
               char join, std::string& result) {
    const std::string wantedSection = Trim(section);
    const std::string wantedKey = Trim(key);
    bool inSection = false;
    bool found = false;
    std::string k, v;
    for (const std::string& line : lines) {
        if (IsEmptyLine(line)) continue;
        if (IsHeader(line)) {
            if (inSection) break;
            inSection = EqualNoCase(HeaderName(line), wantedSection);
            continue;
        }
        if (!inSection || !SplitKeyLine(line, &k, &v) || !EqualNoCase(k, wantedKey)) continue;
        if (join == 0) {
            result = v;
            return true;
        }
        if (found) result += join;
        result += v;
        found = true;
    }
    return found;
}

std::string SetValue(const std::vector<std::string>& lines, const std::string& section, const std::string& key,
                     const std::string& value) {
    const std::string wantedSection = Trim(section);
    const std::string wantedKey = Trim(key);
    const std::string keyLine = KeyLine(key, value) + kEol;
    std::string out;
    bool inSection = false;
    bool written = false;
    std::string k;
    for (const std::string& line : lines) {
        if (IsEmptyLine(line)) {
            out += kEol;
            continue;
        }
        if (!written) {
            if (IsHeader(line)) {
                if (inSection) {
                    out += keyLine;  // the section lacks the key: it goes right before the next header
                    written = true;
                    inSection = false;
                } else {
                    inSection = EqualNoCase(HeaderName(line), wantedSection);
                }
            } else if (inSection && SplitKeyLine(line, &k, nullptr) && EqualNoCase(k, wantedKey)) {
                out += keyLine;
                written = true;
                continue;
            }
        }
        out += line;
        out += kEol;
    }
    if (!written) {
        if (!inSection) out += "[" + wantedSection + "]" + kEol;
        out += keyLine;
    }
    return out;
}

enum class ReadResult { Ok, Missing, Failed };

// Reads a regular file to its end. Only a file that does not exist is Missing; one that cannot be
// opened or read, or is no regular file, is Failed (content keeps the bytes read until then).
ReadResult ReadFile(const std::string& path, std::string& content) {
    content.clear();
    if (path.find('\0') != std::string::npos) return ReadResult::Failed;
    // Non-blocking, so that opening a pipe does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::Failed;
    }
    ReadResult result = ReadResult::Ok;
    char buf[65536];
    try {
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                content.append(buf, static_cast<size_t>(n));
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                result = ReadResult::Failed;
                break;
            }
        }
    } catch (...) {
        result = ReadResult::Failed;
    }
    ::close(fd);
    return result;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::atomic<unsigned> g_tempCounter{0};

bool Save(const std::string& path, const std::string& text) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    // A link keeps pointing at the file: the file it names is the one replaced.
    std::string target = path;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return false;
    if (exists && ::access(target.c_str(), W_OK) != 0) return false;  // a read-only file stays as it is

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = (!exists || ::fchmod(fd, st.st_mode & 07777) == 0) && WriteAll(fd, text) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

std::string CopyOrEmpty(const std::string& s) noexcept {
    try {
        return s;
    } catch (...) {
        return std::string();
    }
}

}  // namespace

std::string GetIniString(const std::string& path, const std::string& section, const std::string& key,
                         const std::string& def, char join) noexcept {
    try {
        std::string content;
        if (ReadFile(path, content) != ReadResult::Ok) return def;
        std::string result;
        return FindValue(FileLines(content), section, key, join, result) ? result : def;
    } catch (...) {
        return CopyOrEmpty(def);
    }
}

std::string GetMemIniString(const std::string& text, const std::string& section, const std::string& key,
                            const std::string& def, char join) noexcept {
    try {
        std::string result;
        return FindValue(TextLines(text), section, key, join, result) ? result : def;
    } catch (...) {
        return CopyOrEmpty(def);
    }
}

std::string GetMemIniStringAsList(const std::string& text, const std::string& section, const std::string&,
                                  char) noexcept {
    try {
        const std::string wanted = Trim(section);
        std::string out;
        bool inSection = false;
        for (const std::string& line : TextLines(text)) {
            if (IsEmptyLine(line)) continue;
            if (IsHeader(line)) {
                if (inSection) break;
                inSection = EqualNoCase(HeaderName(line), wanted);
                continue;
            }
            if (inSection && SplitKeyLine(line, nullptr, nullptr)) {
                out += line;
                out += ',';
            }
        }
        return out;
    } catch (...) {
        return std::string();
    }
}

bool WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) noexcept {
    try {
        if (!Acceptable(section, key, value)) return false;
        std::string content;
        if (ReadFile(path, content) == ReadResult::Failed) return false;  // never replace what we could not read
        return Save(path, SetValue(FileLines(content), section, key, value));
    } catch (...) {
        return false;
    }
}

std::string WriteMemIniString(const std::string& text, const std::string& section, const std::string& key,
                              const std::string& value) noexcept {
    try {
        if (!Acceptable(section, key, value)) return text;
        return SetValue(TextLines(text), section, key, value);
    } catch (...) {
        return CopyOrEmpty(text);
    }
}

std::string ClearMemIniStringInSect(const std::string& text, const std::string& section,
                                    const std::string& key) noexcept {
    try {
        const std::string wantedSection = Trim(section);
        const std::string wantedKey = Trim(key);
        std::string out;
        bool inSection = false;
        bool done = false;
        std::string k;
        for (const std::string& line : TextLines(text)) {
            if (IsEmptyLine(line)) {
                out += kEol;
                continue;
            }
            if (!done) {
                if (IsHeader(line)) {
                    if (inSection)
                        done = true;  // the section ended without the key; later ones are not searched
                    else
                        inSection = EqualNoCase(HeaderName(line), wantedSection);
                } else if (inSection && SplitKeyLine(line, &k, nullptr) && EqualNoCase(k, wantedKey)) {
                    done = true;
                    continue;
                }
            }
            out += line;
            out += kEol;
        }
        return out;
    } catch (...) {
        return CopyOrEmpty(text);
    }
}

std::string ClearMemIniString(const std::string& text, const std::string& section) noexcept {
    try {
        const std::string wanted = Trim(section);
        std::string out;
        bool skipping = false;
        for (const std::string& line : TextLines(text)) {
            if (IsEmptyLine(line)) {
                out += kEol;
                continue;
            }
            if (IsHeader(line)) {
                skipping = EqualNoCase(HeaderName(line), wanted);
                if (skipping) continue;
            } else if (skipping) {
                continue;
            }
            out += line;
            out += kEol;
        }
        return out;
    } catch (...) {
        return CopyOrEmpty(text);
    }
}

std::string RenameMemIniSecString(const std::string& text, const std::string& section,
                                  const std::string& newName) noexcept {
    try {
        if (HasLineBreak(newName)) return text;
        const std::string wanted = Trim(section);
        std::string out;
        for (const std::string& line : TextLines(text)) {
            if (IsEmptyLine(line)) {
                out += kEol;
                continue;
            }
            if (IsHeader(line) && EqualNoCase(HeaderName(line), wanted))
                out += "[" + newName + "]";
            else
                out += line;
            out += kEol;
        }
        return out;
    } catch (...) {
        return CopyOrEmpty(text);
    }
}

std::string LoadIniFile(const std::string& path) noexcept {
    try {
        std::string content;
        ReadFile(path, content);  // a read that fails part-way keeps the bytes read
        return content;
    } catch (...) {
        return std::string();
    }
}

bool SaveIniFile(const std::string& path, const std::string& text) noexcept {
    try {
        return Save(path, text);
    } catch (...) {
        return false;
    }
}
