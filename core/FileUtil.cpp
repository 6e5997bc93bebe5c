#include "core/FileUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "core/Log.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

// Stored values may carry "\" separators; the file system wants "/".
std::string Native(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

size_t LastSep(const std::string& path) {
  size_t a = path.rfind('/');
  size_t b = path.rfind('\\');
  if (a == std::string::npos) return b;
  if (b == std::string::npos) return a;
  return std::max(a, b);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool EqualNoCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

std::string StripTrailingSeps(std::string s) {
  while (!s.empty() && IsSep(s.back())) s.pop_back();
  return s;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (IsSep(folder.back())) return folder + name;
  return folder + "/" + name;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

struct Entry {
  std::string name;
  bool isDir = false;   // a folder, also through a link
  bool isLink = false;  // a symbolic link (never descended into)
};

// Every entry of the folder but "." and "..", in the order of the listing.
bool ListFolder(const std::string& folder, std::vector<Entry>& out) {
  std::string dir = Native(folder);
  if (dir.empty()) dir = ".";
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    Entry en;
    en.name = e->d_name;
    std::string full = JoinPath(dir, en.name);
    struct stat st;
    if (lstat(full.c_str(), &st) == 0) {
      en.isLink = S_ISLNK(st.st_mode);
      if (en.isLink) {
        struct stat target;
        en.isDir = stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
      } else {
        en.isDir = S_ISDIR(st.st_mode);
      }
    }
    out.push_back(en);
  }
  closedir(d);
  return true;
}

// A folder listing pattern: as MatchWildcard, and a pattern ending in ".*"
// also takes names without an extension, so "*.*" lists everything.
bool ListingMatch(const std::string& name, const std::string& pattern) {
  if (FileUtil::MatchWildcard(name, pattern)) return true;
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0)
    return FileUtil::MatchWildcard(name, pattern.substr(0, pattern.size() - 2));
  return false;
}

std::vector<std::string> SplitPatterns(const std::string& patterns) {
  std::vector<std::string> out;
  if (patterns.empty()) return out;
  size_t start = 0;
  while (true) {
    size_t bar = patterns.find('|', start);
    out.push_back(patterns.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return out;
}

// Removes one entry of an open folder, descending through descriptors so a
// link (or a folder swapped for a link meanwhile) is removed as a link and
// nothing outside the folder is touched.
bool RemoveAt(int dirfd, const char* name) {
  struct stat st;
  if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return unlinkat(dirfd, name, 0) == 0 || errno == ENOENT;
  int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // Replaced by a link or a file since the check: remove that instead.
    if (errno == ENOTDIR || errno == ELOOP) return unlinkat(dirfd, name, 0) == 0;
    return false;
  }
  DIR* d = fdopendir(fd);
  if (!d) {
    close(fd);
    return false;
  }
  bool ok = true;
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    names.push_back(e->d_name);
  }
  for (const std::string& n : names) ok = RemoveAt(fd, n.c_str()) && ok;
  closedir(d);  // closes fd
  if (unlinkat(dirfd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) ok = false;
  return ok;
}

bool RemoveTree(const std::string& path) {
  std::string p = StripTrailingSeps(Native(path));
  if (p.empty()) return false;
  size_t slash = p.rfind('/');
  std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return false;
  int dirfd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return false;
  struct stat st;
  bool exists = fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  bool ok = exists && RemoveAt(dirfd, name.c_str());
  close(dirfd);
  return ok;
}

bool LExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool LIsDir(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "name (2).ext", "name (3).ext", ... (folders: "name (2)").
std::string FreeName(const std::string& path, bool folder) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string stem = name, ext;
  size_t dot = name.rfind('.');
  if (!folder && dot != std::string::npos && dot > 0) {
    stem = name.substr(0, dot);
    ext = name.substr(dot);
  }
  for (int i = 2;; ++i) {
    std::string candidate = dir + stem + " (" + std::to_string(i) + ")" + ext;
    if (!LExists(candidate)) return candidate;
  }
}

bool CopyTree(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks | fs::copy_options::overwrite_existing,
           ec);
  return !ec;
}

bool MoveTree(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV && !(errno == ENOTEMPTY || errno == EEXIST)) return false;
  // Another file system, or a folder merged into an existing one.
  if (!CopyTree(from, to)) return false;
  return RemoveTree(from);
}

std::string PercentPath(const std::string& p) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : p) {
    if (std::isalnum(c) || strchr("/-_.~", c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Moves the item into the user's trash (the freedesktop layout), with the
// info file that lets a file manager put it back.
bool MoveToTrash(const std::string& path) {
  std::string base;
  if (const char* x = getenv("XDG_DATA_HOME"); x && *x) {
    base = x;
  } else if (const char* h = getenv("HOME"); h && *h) {
    base = std::string(h) + "/.local/share";
  } else {
    return false;
  }
  std::string trash = base + "/Trash";
  if (!FileUtil::CreateDirectories(trash + "/files") || !FileUtil::CreateDirectories(trash + "/info")) return false;
  std::string full = FileUtil::GetFullPath(path);
  std::string name = FileUtil::GetFileName(full);
  std::string target = trash + "/files/" + name;
  std::string info;
  for (int i = 1;; ++i) {
    std::string n = i == 1 ? name : name + "." + std::to_string(i);
    target = trash + "/files/" + n;
    info = trash + "/info/" + n + ".trashinfo";
    int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    if (LExists(target)) {
      close(fd);
      unlink(info.c_str());
      continue;
    }
    time_t now = time(nullptr);
    struct tm lt;
    localtime_r(&now, &lt);
    char date[32];
    strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &lt);
    std::string text = "[Trash Info]\nPath=" + PercentPath(full) + "\nDeletionDate=" + date + "\n";
    bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written || !MoveTree(full, target)) {
      unlink(info.c_str());
      return false;
    }
    return true;
  }
}

std::vector<std::string> ParseList(const std::string& list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < list.size()) {
    size_t zero = list.find('\0', start);
    if (zero == std::string::npos) zero = list.size();
    if (zero == start) break;
    out.push_back(list.substr(start, zero - start));
    start = zero + 1;
  }
  return out;
}

std::string MakeList(const std::string& path) {
  std::string list = path;
  list.push_back('\0');
  list.push_back('\0');
  return list;
}

bool StatTimes(const std::string& path, timespec* birth, timespec* access, timespec* modify) {
  struct statx sx;
  if (statx(AT_FDCWD, Native(path).c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  if (birth) {
    if (sx.stx_mask & STATX_BTIME) {
      birth->tv_sec = sx.stx_btime.tv_sec;
      birth->tv_nsec = sx.stx_btime.tv_nsec;
    } else {
      birth->tv_sec = sx.stx_ctime.tv_sec;
      birth->tv_nsec = sx.stx_ctime.tv_nsec;
    }
  }
  if (access) {
    access->tv_sec = sx.stx_atime.tv_sec;
    access->tv_nsec = sx.stx_atime.tv_nsec;
  }
  if (modify) {
    modify->tv_sec = sx.stx_mtime.tv_sec;
    modify->tv_nsec = sx.stx_mtime.tv_nsec;
  }
  return true;
}

// Steps 1 to 4 shared by the two relative-path routines: upper case, "/"
// separators, no trailing separator beyond a root, and the common part.
void PrepareRelative(std::string& a, std::string& b, std::string& common) {
  for (std::string* s : {&a, &b}) {
    *s = Upper(Native(*s));
    if (s->size() > 3)
      while (s->size() > 1 && s->back() == '/') s->pop_back();
  }
  auto pieces = [](const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= s.size()) {
      size_t slash = s.find('/', start);
      if (slash == std::string::npos) {
        if (start < s.size()) out.push_back(s.substr(start));
        break;
      }
      out.push_back(s.substr(start, slash - start));
      start = slash + 1;
    }
    return out;
  };
  std::vector<std::string> pa = pieces(a), pb = pieces(b);
  common.clear();
  for (size_t i = 0; i < pa.size() && i < pb.size() && pa[i] == pb[i]; ++i) common += pa[i] + "/";
}

}  // namespace

// ---------------------------------------------------------------- ShellFileOperation

ShellFileOperation::ShellFileOperation() = default;
ShellFileOperation::~ShellFileOperation() = default;

void ShellFileOperation::SetFrom(const std::string& path) { from_ = MakeList(path); }
void ShellFileOperation::SetTo(const std::string& path) { to_ = MakeList(path); }

std::string ShellFileOperation::GetFrom() const {
  auto l = ParseList(from_);
  return l.empty() ? std::string() : l.front();
}

std::string ShellFileOperation::GetTo() const {
  auto l = ParseList(to_);
  return l.empty() ? std::string() : l.front();
}

bool ShellFileOperation::Run() {
  if (operation_ < kMove || operation_ > kRename) return false;
  std::vector<std::string> sources;
  bool expanded = false;
  for (const std::string& raw : ParseList(from_)) {
    std::string src = StripTrailingSeps(Native(raw));
    if (src.empty()) src = "/";
    std::string name = FileUtil::GetFileName(src);
    if (!LExists(src) && HasWildcard(name)) {
      expanded = true;
      std::string parent = FileUtil::GetParentFolder(src);
      std::vector<Entry> entries;
      ListFolder(parent.empty() ? "." : parent, entries);
      for (const Entry& e : entries) {
        if (filesOnly && e.isDir && !e.isLink) continue;
        if (ListingMatch(e.name, name)) sources.push_back(JoinPath(parent, e.name));
      }
    } else {
      sources.push_back(src);
    }
  }
  if (sources.empty()) return expanded;

  bool ok = true;
  if (operation_ == kDelete) {
    for (const std::string& s : sources) {
      if (!LExists(s)) {
        ok = false;
        continue;
      }
      ok = (allowUndo ? MoveToTrash(s) : RemoveTree(s)) && ok;
    }
    return ok;
  }

  std::vector<std::string> targets = ParseList(to_);
  if (targets.empty()) return false;
  std::string target = StripTrailingSeps(Native(targets.front()));
  if (target.empty()) target = "/";

  for (const std::string& s : sources) {
    if (!LExists(s)) {
      ok = false;
      continue;
    }
    bool srcDir = LIsDir(s);
    std::string dest;
    if (operation_ == kRename) {
      dest = target.find('/') == std::string::npos ? JoinPath(FileUtil::GetParentFolder(s), target) : target;
    } else if (FileUtil::IsDirectory(target)) {
      dest = JoinPath(target, FileUtil::GetFileName(s));
    } else if (sources.size() > 1 || expanded) {
      if (!FileUtil::CreateDirectories(target)) return false;
      dest = JoinPath(target, FileUtil::GetFileName(s));
    } else {
      dest = target;
    }

    if (LExists(dest)) {
      bool same = FileUtil::GetFullPath(dest) == FileUtil::GetFullPath(s);
      if (same && operation_ != kCopy) continue;  // already where it should go
      if (renameOnCollision) {
        dest = FreeName(dest, srcDir);
      } else if (same || operation_ == kRename) {
        ok = false;
        continue;
      } else if (srcDir != LIsDir(dest)) {
        ok = false;
        continue;
      } else if (!srcDir && !RemoveTree(dest)) {
        ok = false;
        continue;
      }
      // Two folders without renaming: the source is merged into the target.
    }

    // A folder copied or moved into itself would never end.
    std::string fullSrc = FileUtil::GetFullPath(s), fullDest = FileUtil::GetFullPath(dest);
    if (srcDir && fullDest.compare(0, fullSrc.size() + 1, fullSrc + "/") == 0) {
      ok = false;
      continue;
    }
    bool done = operation_ == kCopy ? CopyTree(s, dest) : MoveTree(s, dest);
    ok = done && ok;
  }
  return ok;
}

// ---------------------------------------------------------------- FileUtil

bool FileUtil::DeleteFolderContents(const std::string& folder) {
  // An empty text would name the root (or the current folder): nothing to
  // empty there. A root given by name is taken as meant.
  if (folder.empty()) return true;
  std::string dir = StripTrailingSeps(folder);
  std::vector<Entry> entries;
  ListFolder(dir.empty() ? "/" : dir, entries);
  for (const Entry& e : entries) {
    ShellFileOperation op;
    op.SetOperation(ShellFileOperation::kDelete);
    op.confirm = false;
    op.allowUndo = false;
    op.silent = true;
    op.SetFrom(JoinPath(dir.empty() ? "/" : dir, e.name));
    op.Run();  // one failure does not stop the others
  }
  return true;
}

int64_t FileUtil::GetFileSize(const std::string& path) {
  std::string p = Native(path);
  std::string name = GetFileName(p);
  if (!LExists(p) && HasWildcard(name)) {
    std::string parent = GetParentFolder(p);
    std::vector<Entry> entries;
    ListFolder(parent.empty() ? "." : parent, entries);
    p.clear();
    for (const Entry& e : entries)
      if (ListingMatch(e.name, name)) {
        p = JoinPath(parent, e.name);
        break;
      }
    if (p.empty()) return -1;
  }
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return -1;
  if (S_ISDIR(st.st_mode)) return 0;
  return static_cast<int64_t>(st.st_size);
}

std::string FileUtil::GetModifyTimeText(const std::string& path) {
  struct stat st;
  if (stat(Native(path).c_str(), &st) != 0) return std::string();
  struct tm lt;
  localtime_r(&st.st_mtime, &lt);
  char buf[32];
  strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M", &lt);
  return buf;
}

bool FileUtil::CreateDirectories(const std::string& path) {
  std::string p = Native(path);
  if (p.empty()) return false;
  if (p.back() != '/') p += '/';
  for (size_t slash = p.find('/'); slash != std::string::npos; slash = p.find('/', slash + 1)) {
    if (slash == 0) continue;  // the root
    std::string part = p.substr(0, slash);
    struct stat st;
    if (stat(part.c_str(), &st) == 0) continue;
    if (mkdir(part.c_str(), 0777) != 0) {
      // Another thread or process may have made it between the two calls.
      if (!(errno == EEXIST && stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return false;
    }
  }
  return IsDirectory(p);
}

bool FileUtil::DeletePath(const std::string& path) {
  ShellFileOperation op;
  op.SetOperation(ShellFileOperation::kDelete);
  op.confirm = false;
  op.allowUndo = false;
  op.silent = true;
  op.SetFrom(path);
  return op.Run();
}

bool FileUtil::CopyFileToFolder(const std::string& file, const std::string& folder, bool deleteFirst) {
  if (LastSep(file) == std::string::npos) return false;
  std::string target = JoinPath(StripTrailingSeps(folder), GetFileName(file));
  return CopyFile(file, target, deleteFirst);
}

bool FileUtil::CopyFile(const std::string& source, const std::string& target, bool deleteFirst) {
  std::string from = Native(source), to = Native(target);
  // Copying a file onto itself (also through another name or a link) would
  // delete the one copy there is.
  struct stat a, b;
  if (stat(from.c_str(), &a) != 0) return false;
  if (stat(to.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) return false;
  if (deleteFirst && LExists(to)) DeletePath(to);
  std::error_code ec;
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

namespace {
std::vector<std::string> Companions(const std::string& file) {
  std::string p = Native(file);
  std::string folder = FileUtil::GetParentFolder(p);
  std::string name = FileUtil::GetFileName(p);
  size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  std::vector<Entry> entries;
  ListFolder(folder.empty() ? "." : folder, entries);
  std::vector<std::string> out;
  for (const Entry& e : entries) {
    if (e.isDir) continue;
    // The stem may itself hold "*" or "?": compare it as text.
    if (e.name.size() < stem.size() || !EqualNoCase(e.name.substr(0, stem.size()), stem)) continue;
    std::string rest = e.name.substr(stem.size());
    if (rest.empty() || rest[0] == '.' || (rest.size() >= 2 && rest[0] == '_' && ListingMatch(rest.substr(2), ".*") &&
                                           (rest.size() == 2 || rest[2] == '.')))
      out.push_back(JoinPath(folder, e.name));
  }
  return out;
}
}  // namespace

bool FileUtil::CopyFileWithCompanions(const std::string& file, const std::string& folder, bool deleteFirst) {
  for (const std::string& f : Companions(file)) CopyFileToFolder(f, folder, deleteFirst);
  return true;
}

bool FileUtil::DeleteFileWithCompanions(const std::string& file) {
  for (const std::string& f : Companions(file)) DeletePath(f);
  return true;
}

namespace {
bool FolderOperation(int code, const std::string& source, const std::string& targetFolder, bool overwrite) {
  std::string src = StripTrailingSeps(Native(source));
  std::string existing = JoinPath(StripTrailingSeps(Native(targetFolder)), FileUtil::GetFileName(src));
  // The "existing" folder may be the source itself: never delete that.
  bool same = FileUtil::GetFullPath(existing) == FileUtil::GetFullPath(src);
  if (same && code == ShellFileOperation::kMove) return LExists(src);
  if (overwrite && !same && LExists(existing)) FileUtil::DeletePath(existing);
  ShellFileOperation op;
  op.SetOperation(code);
  op.confirm = false;
  op.allowUndo = false;
  op.silent = code == ShellFileOperation::kMove;
  op.SetFrom(src);
  op.SetTo(targetFolder);
  if (!FileUtil::IsDirectory(targetFolder) && !FileUtil::CreateDirectories(targetFolder)) return false;
  return op.Run();
}
}  // namespace

bool FileUtil::MoveFolder(const std::string& source, const std::string& targetFolder, bool overwrite) {
  return FolderOperation(ShellFileOperation::kMove, source, targetFolder, overwrite);
}

bool FileUtil::CopyFolder(const std::string& source, const std::string& targetFolder, bool overwrite) {
  return FolderOperation(ShellFileOperation::kCopy, source, targetFolder, overwrite);
}

bool FileUtil::CopyFolderContents(const std::string& source, const std::string& targetFolder, bool overwrite) {
  std::string src = StripTrailingSeps(Native(source));
  std::vector<Entry> entries;
  ListFolder(src, entries);
  if (!entries.empty() && !IsDirectory(targetFolder)) CreateDirectories(targetFolder);
  for (const Entry& e : entries) {
    ShellFileOperation op;
    op.SetOperation(ShellFileOperation::kCopy);
    op.confirm = false;
    op.allowUndo = false;
    op.renameOnCollision = !overwrite;
    op.SetFrom(JoinPath(src, e.name));
    op.SetTo(targetFolder);
    op.Run();
  }
  return true;
}

bool FileUtil::DeleteFolderContentsExcept(const std::string& folder, const std::string& keepName) {
  if (folder.empty()) return true;
  std::string dir = StripTrailingSeps(folder);
  std::vector<Entry> entries;
  ListFolder(dir, entries);
  for (const Entry& e : entries) {
    if (EqualNoCase(e.name, keepName)) continue;
    ShellFileOperation op;
    op.SetOperation(ShellFileOperation::kDelete);
    op.confirm = false;
    op.allowUndo = false;
    op.silent = true;
    op.SetFrom(JoinPath(dir, e.name));
    op.Run();
  }
  return true;
}

bool FileUtil::DeleteFolderContentsExceptExtension(const std::string& folder, const std::string& keepExtension) {
  if (folder.empty()) return true;
  std::string dir = StripTrailingSeps(folder);
  std::vector<Entry> entries;
  ListFolder(dir, entries);
  for (const Entry& e : entries)
    if (!EqualNoCase(GetExtension(e.name), keepExtension)) DeletePath(JoinPath(dir, e.name));
  return true;
}

namespace {
int ListKind(const std::string& folder, std::vector<std::string>& names, int kind) {
  names.clear();
  std::vector<Entry> entries;
  ListFolder(folder, entries);
  for (const Entry& e : entries)
    if (kind == 0 || (kind == 1 && e.isDir) || (kind == 2 && !e.isDir)) names.push_back(e.name);
  return static_cast<int>(names.size());
}
}  // namespace

int FileUtil::ListSubfolders(const std::string& folder, std::vector<std::string>& names) {
  return ListKind(folder, names, 1);
}
int FileUtil::ListFiles(const std::string& folder, std::vector<std::string>& names) { return ListKind(folder, names, 2); }
int FileUtil::ListEntries(const std::string& folder, std::vector<std::string>& names) {
  return ListKind(folder, names, 0);
}

int FileUtil::ListTree(const std::string& folder, std::vector<std::string>& paths, const std::string& patterns,
                       bool recurse) {
  std::string dir = StripTrailingSeps(Native(folder)) + "/";
  std::vector<Entry> entries;
  std::vector<std::string> list = SplitPatterns(patterns);
  if (list.empty() || !ListFolder(dir, entries)) return static_cast<int>(paths.size());
  for (const std::string& pattern : list) {
    for (const Entry& e : entries) {
      if (!ListingMatch(e.name, pattern)) continue;
      paths.push_back(dir + e.name);
      if (e.isDir && !e.isLink && recurse) ListTree(dir + e.name, paths, patterns, true);
    }
  }
  return static_cast<int>(paths.size());
}

int FileUtil::FindFiles(const std::string& folder, std::vector<std::string>& paths, const std::string& pattern) {
  std::string dir = StripTrailingSeps(Native(folder)) + "/";
  std::vector<Entry> entries;
  if (!ListFolder(dir, entries)) return static_cast<int>(paths.size());
  for (const Entry& e : entries) {
    if (!ListingMatch(e.name, pattern)) continue;
    if (e.isDir) {
      if (!e.isLink) ListTree(dir + e.name, paths, pattern, true);
    } else {
      paths.push_back(dir + e.name);
    }
  }
  return static_cast<int>(paths.size());
}

bool FileUtil::IsFile(const std::string& path) {
  struct stat st;
  return stat(Native(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FileUtil::IsDirectory(const std::string& path) {
  struct stat st;
  return stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileUtil::FileExists(const std::string& path) {
  struct stat st;
  std::string p = Native(path);
  return stat(p.c_str(), &st) == 0 || lstat(p.c_str(), &st) == 0;
}

unsigned FileUtil::GetAttributes(const std::string& path) {
  std::string p = Native(path);
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return 0;
  unsigned a = 0;
  if (S_ISDIR(st.st_mode)) a |= kAttrDirectory;
  if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
  std::string name = GetFileName(StripTrailingSeps(p));
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") a |= kAttrHidden;
  if (S_ISREG(st.st_mode)) a |= kAttrArchive;
  if (a == kAttrArchive) a = kAttrNormal;
  return a;
}

bool FileUtil::HasAttributes(const std::string& path, unsigned mask) {
  if (!FileExists(path)) return false;
  unsigned a = GetAttributes(path);
  if (a == 0) return false;
  if (a == kAttrNormal) a |= kAttrArchive;
  return (a & mask) == mask;
}

bool FileUtil::SetAttributes(const std::string& path, unsigned attributes) {
  std::string p = Native(path);
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return chmod(p.c_str(), mode) == 0;
}

std::string FileUtil::GetFileName(const std::string& path) {
  size_t s = LastSep(path);
  return s == std::string::npos ? path : path.substr(s + 1);
}

std::string FileUtil::GetExtension(const std::string& path) {
  std::string name = GetFileName(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string FileUtil::GetParentFolder(const std::string& path) {
  size_t s = LastSep(path);
  return s == std::string::npos ? std::string() : path.substr(0, s);
}

bool FileUtil::GetFileNameToBuffer(const char* path, char* buffer, size_t* size) {
  if (path == nullptr || buffer == nullptr || size == nullptr) return false;
  std::string name = GetFileName(path);
  size_t need = name.size() + 2;
  if (*size < need) {
    *size = need;
    return false;
  }
  memcpy(buffer, name.c_str(), name.size() + 1);
  return true;
}

bool FileUtil::GetParentFolderToBuffer(const char* path, char* buffer, size_t* size) {
  if (path == nullptr || buffer == nullptr || size == nullptr || *size == 0) return false;
  std::string p = path;
  size_t s = LastSep(p);
  if (s == std::string::npos) {
    buffer[0] = 0;
    return false;
  }
  size_t need = s + 2;  // through the separator, and the zero
  if (*size < need) {
    *size = need;
    return false;
  }
  memcpy(buffer, p.data(), s + 1);
  buffer[s + 1] = 0;
  return true;
}

bool FileUtil::IsSameFolder(const std::string& a, const std::string& b) {
  return EqualNoCase(GetParentFolder(a), GetParentFolder(b));
}

void FileUtil::SplitPath(const std::string& path, std::vector<std::string>& pieces) {
  std::string piece;
  for (char c : path) {
    if (IsSep(c)) {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
}

std::string FileUtil::ChangeExtension(const std::string& path, const std::string& extension) {
  size_t dot = path.rfind('.');
  size_t sep = LastSep(path);
  // A dot in a folder name is not the file's extension.
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return path;
  std::string ext = extension;
  if (ext.empty() || ext[0] != '.') ext = "." + ext;
  return path.substr(0, dot) + ext;
}

void FileUtil::OpenWithShell(const std::string& path) {
  if (!FileExists(path)) return;
  std::string p = Native(path);
  char opener[] = "xdg-open";
  char* argv[] = {opener, p.data(), nullptr};
  pid_t pid;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (posix_spawnp(&pid, opener, &fa, nullptr, argv, environ) == 0) {
    std::thread([pid] {
      int st;
      while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }
  posix_spawn_file_actions_destroy(&fa);
}

int FileUtil::GetSystemIconIndex(const std::string&) { return -1; }

std::string FileUtil::GetExistingPrefix(const std::string& path) {
  std::string p = path;
  while (!p.empty() && !FileExists(p)) p.pop_back();
  return p;
}

std::string FileUtil::GetMissingTail(const std::string& path) { return path.substr(GetExistingPrefix(path).size()); }

bool FileUtil::MoveFile(const std::string& source, const std::string& newPath) {
  if (LExists(Native(newPath))) {
    LogError("%s (%s)", "目标文件名已存在", newPath.c_str());
    return false;
  }
  ShellFileOperation op;
  op.SetOperation(ShellFileOperation::kRename);
  op.confirm = false;
  op.allowUndo = false;
  op.silent = true;
  op.SetFrom(source);
  op.SetTo(newPath);
  return op.Run();
}

bool FileUtil::MoveFileToFolder(const std::string& file, const std::string& folder, bool replace) {
  std::string src = Native(file);
  std::string dest = JoinPath(StripTrailingSeps(Native(folder)), GetFileName(src));
  if (!LExists(src)) return false;
  if (LExists(dest)) {
    if (!replace || LIsDir(dest)) return false;
  }
  if (rename(src.c_str(), dest.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  std::error_code ec;
  if (!fs::copy_file(src, dest, fs::copy_options::overwrite_existing, ec)) return false;
  return unlink(src.c_str()) == 0;
}

std::string FileUtil::GetBaseName(const std::string& path) {
  std::string name = GetFileName(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string FileUtil::GetFolderOf(const std::string& path) {
  std::string p = StripTrailingSeps(path);
  size_t s = LastSep(p);
  return s == std::string::npos ? std::string() : p.substr(0, s);
}

std::string FileUtil::CombinePath(const std::string& base, const std::string& relative) {
  std::string rel = Native(relative);
  if (rel.size() >= 2 && rel[1] == ':') return relative;
  std::string b = base.empty() ? GetCurrentFolder() : Native(base);
  if (rel.empty()) return base.empty() ? b : base;
  size_t start = rel.find_first_not_of('/');
  rel = start == std::string::npos ? std::string() : rel.substr(start);
  return GetFullPath(JoinPath(b, rel));
}

std::string FileUtil::GetFullPath(const std::string& path) {
  std::string p = Native(path);
  if (p.empty()) return GetCurrentFolder();
  std::error_code ec;
  fs::path abs = fs::absolute(p, ec);
  if (ec) return p;
  std::string out = abs.lexically_normal().string();
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string FileUtil::GetCurrentFolder() {
  char buf[PATH_MAX];
  if (getcwd(buf, sizeof(buf)) == nullptr) return std::string();
  return buf;
}

bool FileUtil::IsSamePath(const std::string& a, const std::string& b) {
  // The resolved form stands in for the long form: links and "." and ".."
  // steps are resolved as far as the path exists.
  std::error_code ea, eb;
  fs::path pa = fs::weakly_canonical(GetFullPath(a), ea);
  fs::path pb = fs::weakly_canonical(GetFullPath(b), eb);
  if (ea || eb) return IsSamePathAbsolute(a, b);
  return EqualNoCase(StripTrailingSeps(pa.string()), StripTrailingSeps(pb.string()));
}

bool FileUtil::IsSamePathAbsolute(const std::string& a, const std::string& b) {
  return EqualNoCase(StripTrailingSeps(GetFullPath(a)), StripTrailingSeps(GetFullPath(b)));
}

bool FileUtil::IsAbsolutePath(const std::string& path) {
  return path.size() >= 2 && (IsSep(path[0]) || path[1] == ':');
}

bool FileUtil::IsTopLevelPath(const std::string& path) {
  if (path.empty()) return false;
  if (path.rfind('\\') == 2 || path.rfind('/') == 2) return true;
  if (path[0] == '/' && path.find('/', 1) == std::string::npos) return true;
  return false;
}

int FileUtil::GetRelativeDepth(const std::string& path, const std::string& base) {
  std::string p = StripTrailingSeps(Lower(path));
  std::string b = StripTrailingSeps(Lower(base));
  size_t at = p.find(b);
  if (at == std::string::npos) return -1;
  int depth = 0;
  for (size_t i = at + b.size(); i < p.size(); ++i)
    if (IsSep(p[i])) ++depth;
  return depth;
}

std::string FileUtil::GetUpwardPath(const std::string& path, const std::string& base) {
  if (path.empty()) return std::string();
  if (base.empty()) return path;
  std::string p = StripTrailingSeps(path);
  std::string b = StripTrailingSeps(base);
  if (p.size() < b.size()) return std::string();
  if (p.size() == b.size()) return ".";
  std::string rest = p.substr(b.size());
  if (!rest.empty() && IsSep(rest[0])) rest.erase(0, 1);
  std::string out;
  bool inName = false;
  for (char c : rest) {
    if (IsSep(c)) {
      out += '/';
      inName = false;
    } else if (!inName) {
      out += "..";
      inName = true;
    }
  }
  return out;
}

std::string FileUtil::GetRelativePath(const std::string& folder, const std::string& target) {
  if (target.empty()) return folder;
  if (folder.empty()) return target;
  std::string f = folder, t = target;
  if (std::toupper(static_cast<unsigned char>(f[0])) != std::toupper(static_cast<unsigned char>(t[0]))) return Upper(t);
  std::string common;
  PrepareRelative(f, t, common);
  if (IsSamePathAbsolute(t, common)) return GetUpwardPath(f, common);
  if (IsSamePathAbsolute(f, common)) {
    std::string rest = t.size() > common.size() ? t.substr(common.size()) : std::string();
    size_t start = rest.find_first_not_of("/\\");
    return "./" + (start == std::string::npos ? std::string() : rest.substr(start));
  }
  std::string tail = t.size() > common.size() ? t.substr(common.size()) : std::string();
  return GetUpwardPath(f, common) + "/" + tail;
}

std::string FileUtil::MakeRelativePath(const std::string& target, const std::string& base) {
  if (target.empty()) return base;
  if (base.empty()) return target;
  std::string b = base, t = target;
  std::string common;
  PrepareRelative(b, t, common);
  if (common.empty()) return t;
  // Always from the base to the target, as in the general case.
  if (IsSamePathAbsolute(t, common)) return GetUpwardPath(b, common);
  if (IsSamePathAbsolute(b, common)) {
    std::string rest = t.size() > common.size() ? t.substr(common.size()) : std::string();
    size_t start = rest.find_first_not_of("/\\");
    return "./" + (start == std::string::npos ? std::string() : rest.substr(start));
  }
  std::string tail = t.size() > common.size() ? t.substr(common.size()) : std::string();
  return GetUpwardPath(b, common) + "/" + tail;
}

bool FileUtil::IsDriveRoot(const std::string& path) {
  if (path == "/") return true;
  return (path.size() == 2 || path.size() == 3) && path[1] == ':' && FileExists(path);
}

bool FileUtil::IsPathLike(const std::string& text) {
  return (!text.empty() && text[0] == '.') || text.find_first_of("\\/") != std::string::npos;
}

bool FileUtil::HasSubfolder(const std::string& folder) {
  std::vector<Entry> entries;
  ListFolder(folder, entries);
  for (const Entry& e : entries)
    if (e.isDir) return true;
  return false;
}

int64_t FileUtil::GetFolderSize(const std::string& folder) {
  std::vector<std::string> paths;
  ListTree(folder, paths, "*.*", true);
  int64_t total = 0;
  for (const std::string& p : paths)
    if (IsFile(p)) {
      int64_t s = GetFileSize(p);
      if (s > 0) total += s;
    }
  return total;
}

bool FileUtil::GetFileTimes(const std::string& path, timespec* creation, timespec* access, timespec* write) {
  return StatTimes(path, creation, access, write);
}

bool FileUtil::SetFileTimes(const std::string& path, const timespec*, const timespec* access, const timespec* write) {
  int fd = open(Native(path).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = times[0];
  if (access) times[0] = *access;
  if (write) times[1] = *write;
  bool ok = futimens(fd, times) == 0;
  close(fd);
  return ok;
}

std::string FileUtil::FormatFileTime(const timespec& time) {
  struct tm t;
  time_t s = time.tv_sec;
  if (gmtime_r(&s, &t) == nullptr) return std::string();
  char buf[64];
  snprintf(buf, sizeof(buf), "%4d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
           t.tm_min, t.tm_sec);
  return buf;
}

bool FileUtil::MatchWildcard(const std::string& name, const std::string& pattern) {
  std::string n = Lower(name), p = Lower(pattern);
  size_t i = 0, j = 0, star = std::string::npos, mark = 0;
  while (i < n.size()) {
    if (j < p.size() && (p[j] == '?' || p[j] == n[i])) {
      ++i;
      ++j;
    } else if (j < p.size() && p[j] == '*') {
      star = j++;
      mark = i;
    } else if (star != std::string::npos) {
      j = star + 1;
      i = ++mark;
    } else {
      return false;
    }
  }
  while (j < p.size() && p[j] == '*') ++j;
  return j == p.size();
}

bool FileUtil::MatchFileSpec(const std::string& name, const std::string& patterns) {
  for (const std::string& p : SplitPatterns(patterns))
    if (MatchWildcard(name, p)) return true;
  return false;
}

std::string FileUtil::GetNewestFile(const std::string& folder, const std::string& pattern) {
  struct tm epoch {};
  epoch.tm_year = 80;
  epoch.tm_mon = 0;
  epoch.tm_mday = 1;
  epoch.tm_isdst = -1;
  time_t limit = mktime(&epoch);
  std::string dir = StripTrailingSeps(Native(folder));
  std::vector<Entry> entries;
  ListFolder(dir, entries);
  std::string best;
  timespec bestTime{limit, 0};
  for (const Entry& e : entries) {
    if (e.isDir || !ListingMatch(e.name, pattern)) continue;
    timespec birth;
    std::string full = JoinPath(dir, e.name);
    if (!StatTimes(full, &birth, nullptr, nullptr)) continue;
    if (birth.tv_sec > bestTime.tv_sec || (birth.tv_sec == bestTime.tv_sec && birth.tv_nsec > bestTime.tv_nsec)) {
      bestTime = birth;
      best = full;
    }
  }
  return best;
}
