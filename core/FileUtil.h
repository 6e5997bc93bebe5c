#pragma once
// File and folder helpers. Paths use "/"; a "\" coming from stored values is
// accepted as a separator wherever a path is taken apart.
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <string>
#include <vector>

// Copies, moves, renames and deletes files and whole folders, with the
// options of the desktop shell's file operation. Folders are handled
// recursively; symbolic links are copied, moved and deleted as links and
// never followed.
class ShellFileOperation {
 public:
  enum Operation { kNone = 0, kMove = 1, kCopy = 2, kDelete = 3, kRename = 4 };

  ShellFileOperation();
  ~ShellFileOperation();
  ShellFileOperation(const ShellFileOperation&) = delete;
  ShellFileOperation& operator=(const ShellFileOperation&) = delete;

  // Source and target are path lists: each path ends in a zero byte and the
  // list in one more. These setters hold exactly one path.
  void SetFrom(const std::string& path);
  void SetTo(const std::string& path);
  void SetOperation(int code) { operation_ = code; }
  std::string GetFrom() const;
  std::string GetTo() const;
  int GetOperation() const { return operation_; }
  // The raw lists, terminators included.
  const std::string& FromList() const { return from_; }
  const std::string& ToList() const { return to_; }

  // There is no one to ask on a server, so confirm and silent only keep
  // their values. allowUndo moves deleted items to the user's trash.
  // filesOnly limits wildcard sources ("dir/*.log") to files.
  // renameOnCollision gives a copied or moved item a free name
  // ("name (2).ext") instead of replacing what exists under the target.
  bool confirm = true;
  bool allowUndo = true;
  bool silent = false;
  bool filesOnly = false;
  bool renameOnCollision = true;

  // Runs the operation on every source path; true when all succeeded.
  bool Run();

 private:
  int operation_ = kNone;
  std::string from_;
  std::string to_;
};

// Windows-style attribute bits, mapped onto POSIX modes and names.
enum FileAttributes : unsigned {
  kAttrReadOnly = 0x01,   // no write permission for the owner
  kAttrHidden = 0x02,     // the name starts with "."
  kAttrDirectory = 0x10,  // a folder (read only; SetAttributes ignores it)
  kAttrArchive = 0x20,    // a regular file
  kAttrNormal = 0x80,     // a regular file with no other bit set
};

class FileUtil {
 public:
  // Deletes every entry of the folder; the folder itself stays. Always true.
  static bool DeleteFolderContents(const std::string& folder);
  // Size of the file (a wildcard in the last name takes the first match);
  // 0 for a folder; -1 when nothing is found.
  static int64_t GetFileSize(const std::string& path);
  // Modification time in local time, "%Y-%m-%d %H:%M"; empty when missing.
  static std::string GetModifyTimeText(const std::string& path);
  // Creates every missing folder along the path, outer first. A folder
  // another thread or process created meanwhile counts as success.
  static bool CreateDirectories(const std::string& path);

  static bool DeletePath(const std::string& path);
  static bool CopyFileToFolder(const std::string& file, const std::string& folder, bool deleteFirst);
  static bool CopyFile(const std::string& source, const std::string& target, bool deleteFirst);
  // Companions: files named like the file without its extension followed by
  // any extension, or by "_", one character and any extension.
  static bool CopyFileWithCompanions(const std::string& file, const std::string& folder, bool deleteFirst);
  static bool DeleteFileWithCompanions(const std::string& file);
  static bool MoveFolder(const std::string& source, const std::string& targetFolder, bool overwrite);
  static bool CopyFolder(const std::string& source, const std::string& targetFolder, bool overwrite);
  static bool CopyFolderContents(const std::string& source, const std::string& targetFolder, bool overwrite);
  static bool DeleteFolderContentsExcept(const std::string& folder, const std::string& keepName);
  static bool DeleteFolderContentsExceptExtension(const std::string& folder, const std::string& keepExtension);

  static int ListSubfolders(const std::string& folder, std::vector<std::string>& names);
  static int ListFiles(const std::string& folder, std::vector<std::string>& names);
  static int ListEntries(const std::string& folder, std::vector<std::string>& names);
  // Appends full paths of entries matching the "|"-separated patterns, each
  // folder before its contents; returns the list's size.
  static int ListTree(const std::string& folder, std::vector<std::string>& paths, const std::string& patterns,
                      bool recurse);
  static int FindFiles(const std::string& folder, std::vector<std::string>& paths, const std::string& pattern);

  static bool IsFile(const std::string& path);
  static bool IsDirectory(const std::string& path);
  static bool FileExists(const std::string& path);
  static bool HasAttributes(const std::string& path, unsigned mask);  // all bits of mask set
  static unsigned GetAttributes(const std::string& path);           // 0 when missing
  static bool SetAttributes(const std::string& path, unsigned attributes);

  static std::string GetFileName(const std::string& path);
  static std::string GetExtension(const std::string& path);
  static std::string GetParentFolder(const std::string& path);
  // size is in and out: on a too small buffer it receives the size needed.
  // A path without separator copies the whole path as the name.
  static bool GetFileNameToBuffer(const char* path, char* buffer, size_t* size);
  static bool GetParentFolderToBuffer(const char* path, char* buffer, size_t* size);
  static bool IsSameFolder(const std::string& a, const std::string& b);
  static void SplitPath(const std::string& path, std::vector<std::string>& pieces);
  static std::string ChangeExtension(const std::string& path, const std::string& extension);
  // Hands the path to the desktop's opener (xdg-open) without waiting.
  static void OpenWithShell(const std::string& path);
  // There is no system image list here: always -1.
  static int GetSystemIconIndex(const std::string& path);
  static std::string GetExistingPrefix(const std::string& path);
  static std::string GetMissingTail(const std::string& path);
  // Refuses (logs "目标文件名已存在") when something exists under newPath.
  static bool MoveFile(const std::string& source, const std::string& newPath);
  static bool MoveFileToFolder(const std::string& file, const std::string& folder, bool replace);
  static std::string GetBaseName(const std::string& path);
  static std::string GetFolderOf(const std::string& path);
  static std::string CombinePath(const std::string& base, const std::string& relative);
  static std::string GetFullPath(const std::string& path);
  static std::string GetCurrentFolder();
  static bool IsSamePath(const std::string& a, const std::string& b);
  static bool IsSamePathAbsolute(const std::string& a, const std::string& b);
  static bool IsAbsolutePath(const std::string& path);
  static bool IsTopLevelPath(const std::string& path);
  static int GetRelativeDepth(const std::string& path, const std::string& base);
  static std::string GetUpwardPath(const std::string& path, const std::string& base);
  static std::string GetRelativePath(const std::string& folder, const std::string& target);
  static std::string MakeRelativePath(const std::string& target, const std::string& base);
  static bool IsDriveRoot(const std::string& path);
  static bool IsPathLike(const std::string& text);
  static bool HasSubfolder(const std::string& folder);
  static int64_t GetFolderSize(const std::string& folder);
  // Any pointer may be null. Creation is the birth time where the file
  // system keeps one (else the status-change time) and cannot be set.
  static bool GetFileTimes(const std::string& path, timespec* creation, timespec* access, timespec* write);
  static bool SetFileTimes(const std::string& path, const timespec* creation, const timespec* access,
                           const timespec* write);
  // "%4d-%02d-%02d %02d:%02d:%02d" in UTC (no time-zone change).
  static std::string FormatFileTime(const timespec& time);
  // "*" any run, "?" any one character, without regard to case.
  static bool MatchWildcard(const std::string& name, const std::string& pattern);
  static bool MatchFileSpec(const std::string& name, const std::string& patterns);
  static std::string GetNewestFile(const std::string& folder, const std::string& pattern);
};
