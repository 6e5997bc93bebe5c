#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <thread>

#include "core/FileUtil.h"
#include "tests/tools/TestUtil.h"

namespace {
void Touch(const std::string& path, const std::string& text = "x") { std::ofstream(path, std::ios::binary) << text; }
void MakeDir(const std::string& path) { ASSERT_TRUE(FileUtil::CreateDirectories(path)) << path; }
std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> n;
  FileUtil::ListEntries(folder, n);
  return Sorted(n);
}
}  // namespace

TEST(FileUtil, CreateDirectories) {
  vvtest::TempDir dir;
  std::string deep = dir.file("a/b");
  EXPECT_TRUE(FileUtil::CreateDirectories(deep));
  EXPECT_TRUE(FileUtil::IsDirectory(dir.file("a")));
  EXPECT_TRUE(FileUtil::IsDirectory(deep));
  EXPECT_TRUE(FileUtil::CreateDirectories(deep + "/"));  // all there: true, nothing new
  EXPECT_EQ(Names(deep), std::vector<std::string>{});
  EXPECT_TRUE(FileUtil::CreateDirectories(dir.path() + "\\c\\d"));  // stored "\" separators
  EXPECT_TRUE(FileUtil::IsDirectory(dir.file("c/d")));
  Touch(dir.file("file"));
  EXPECT_FALSE(FileUtil::CreateDirectories(dir.file("file/sub")));
  EXPECT_FALSE(FileUtil::CreateDirectories(dir.file("file")));

  // Many threads creating the same dated folders at once all succeed.
  for (int round = 0; round < 20; ++round) {
    std::string target = dir.file("race" + std::to_string(round) + "/2026/12/10");
    std::vector<std::thread> threads;
    std::vector<int> ok(8, 0);
    for (int t = 0; t < 8; ++t) threads.emplace_back([&, t] { ok[t] = FileUtil::CreateDirectories(target); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::count(ok.begin(), ok.end(), 1), 8) << target;
  }
}

TEST(FileUtil, FileSizes) {
  vvtest::TempDir dir;
  EXPECT_EQ(FileUtil::GetFileSize(dir.file("missing")), -1);
  std::string big = dir.file("big.flv");
  int fd = open(big.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 5LL * 1024 * 1024 * 1024), 0);  // sparse 5 GiB
  close(fd);
  EXPECT_EQ(FileUtil::GetFileSize(big), 5368709120LL);
  EXPECT_EQ(FileUtil::GetFileSize(dir.file("*.FLV")), 5368709120LL);  // first match of a pattern
  EXPECT_EQ(FileUtil::GetFileSize(dir.file("*.mp4")), -1);
  Touch(dir.file("sub/../five"), "");
  MakeDir(dir.file("sub"));
  Touch(dir.file("sub/five"), "12345");
  Touch(dir.file("sub/three"), "123");
  EXPECT_EQ(FileUtil::GetFileSize(dir.file("sub/five")), 5);
  EXPECT_EQ(FileUtil::GetFileSize(dir.file("sub")), 0);
  MakeDir(dir.file("sub/deeper"));
  Touch(dir.file("sub/deeper/seven"), "1234567");
  EXPECT_EQ(FileUtil::GetFolderSize(dir.file("sub")), 15);
}

TEST(FileUtil, DeleteFolderContentsNeverLeavesTheFolder) {
  vvtest::TempDir dir;
  MakeDir(dir.file("slices"));
  EXPECT_TRUE(FileUtil::DeleteFolderContents(dir.file("slices")));
  // An empty folder text does not stand for the current folder.
  Touch(dir.file("here"));
  std::string cwd = FileUtil::GetCurrentFolder();
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  EXPECT_TRUE(FileUtil::DeleteFolderContentsExcept("", "x"));
  EXPECT_TRUE(FileUtil::DeleteFolderContentsExceptExtension("", ".flv"));
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  EXPECT_TRUE(FileUtil::IsFile(dir.file("here")));
  EXPECT_TRUE(FileUtil::IsDirectory(dir.file("slices")));

  // Outside the folder: must survive the links pointing at it.
  MakeDir(dir.file("outside/inner"));
  Touch(dir.file("outside/keep.txt"));
  Touch(dir.file("outside/inner/keep2.txt"));
  Touch(dir.file("slices/a.flv"));
  Touch(dir.file("slices/b*?.flv"));  // wildcard characters in a real name
  MakeDir(dir.file("slices/sub/subsub"));
  Touch(dir.file("slices/sub/subsub/c.flv"));
  ASSERT_EQ(symlink(dir.file("outside").c_str(), dir.file("slices/link-to-outside").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("outside").c_str(), dir.file("slices/sub/nested-link").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("outside/keep.txt").c_str(), dir.file("slices/file-link").c_str()), 0);
  ASSERT_EQ(symlink("/nonexistent/target", dir.file("slices/dangling").c_str()), 0);

  EXPECT_TRUE(FileUtil::DeleteFolderContents(dir.file("slices/")));
  EXPECT_TRUE(FileUtil::IsDirectory(dir.file("slices")));
  EXPECT_EQ(Names(dir.file("slices")), std::vector<std::string>{});
  EXPECT_TRUE(FileUtil::IsFile(dir.file("outside/keep.txt")));
  EXPECT_TRUE(FileUtil::IsFile(dir.file("outside/inner/keep2.txt")));

  // Deleting a link to a folder removes the link only.
  ASSERT_EQ(symlink(dir.file("outside").c_str(), dir.file("l").c_str()), 0);
  EXPECT_TRUE(FileUtil::DeletePath(dir.file("l")));
  EXPECT_FALSE(FileUtil::FileExists(dir.file("l")));
  EXPECT_TRUE(FileUtil::IsFile(dir.file("outside/inner/keep2.txt")));
  EXPECT_FALSE(FileUtil::DeletePath(dir.file("l")));  // nothing there any more
}

TEST(FileUtil, DeleteFolderContentsExceptNameOrExtension) {
  vvtest::TempDir dir;
  for (const char* f : {"a.txt", "Keep.Me", "z.bin"}) Touch(dir.file(f));
  MakeDir(dir.file("folder/x"));
  EXPECT_TRUE(FileUtil::DeleteFolderContentsExcept(dir.path(), "KEEP.me"));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"Keep.Me"});

  vvtest::TempDir d2;
  for (const char* f : {"one.flv", "TWO.FLV", "three.mp4", "noext", "x.flv.bak"}) Touch(d2.file(f));
  MakeDir(d2.file("plainfolder/inner"));
  MakeDir(d2.file("kept.flv"));
  EXPECT_TRUE(FileUtil::DeleteFolderContentsExceptExtension(d2.path(), ".flv"));
  EXPECT_EQ(Names(d2.path()), (std::vector<std::string>{"TWO.FLV", "kept.flv", "one.flv"}));
}

TEST(FileUtil, PathTexts) {
  struct Case {
    const char* path;
    const char* name;
    const char* ext;
    const char* parent;
    const char* base;
    const char* folderOf;
  } cases[] = {
      {"/data/rec/a.b.flv", "a.b.flv", ".flv", "/data/rec", "a.b", "/data/rec"},
      {"plain", "plain", "", "", "plain", ""},
      {"C:\\rec\\x/y.mp4", "y.mp4", ".mp4", "C:\\rec\\x", "y", "C:\\rec\\x"},
      {"/data/rec/", "", "", "/data/rec", "", "/data"},
      {"/d.x/noext", "noext", "", "/d.x", "noext", "/d.x"},
      {"/data/rec\\x.flv", "x.flv", ".flv", "/data/rec", "x", "/data/rec"},  // the later separator counts
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileUtil::GetFileName(c.path), c.name);
    EXPECT_EQ(FileUtil::GetExtension(c.path), c.ext);
    EXPECT_EQ(FileUtil::GetParentFolder(c.path), c.parent);
    EXPECT_EQ(FileUtil::GetBaseName(c.path), c.base);
    EXPECT_EQ(FileUtil::GetFolderOf(c.path), c.folderOf);
  }
  EXPECT_EQ(FileUtil::ChangeExtension("/a/b.flv", "mp4"), "/a/b.mp4");
  EXPECT_EQ(FileUtil::ChangeExtension("/a/b.flv", ".asf"), "/a/b.asf");
  EXPECT_EQ(FileUtil::ChangeExtension("/a.d/b", ".asf"), "/a.d/b");
  EXPECT_EQ(FileUtil::ChangeExtension("nodot", ".asf"), "nodot");

  std::vector<std::string> pieces;
  FileUtil::SplitPath("/data\\rec/x", pieces);
  EXPECT_EQ(pieces, (std::vector<std::string>{"data", "rec", "x"}));
  EXPECT_TRUE(FileUtil::IsSameFolder("/A/b/x.txt", "/a/B/y.txt"));
  EXPECT_FALSE(FileUtil::IsSameFolder("/a/x.txt", "/a/b/y.txt"));

  struct Flags {
    const char* path;
    bool absolute, topLevel, pathLike;
  } flags[] = {
      {"C:\\", true, true, true},       {"C:\\rec", true, true, true},  {"C:\\rec\\x", true, false, true},
      {"/data", true, true, true},      {"/data/x", true, false, true}, {"", false, false, false},
      {"rel/x", false, false, true},    {"./x", false, false, true},    {"name", false, false, false},
      {".hidden", false, false, true},
  };
  for (const Flags& f : flags) {
    SCOPED_TRACE(f.path);
    EXPECT_EQ(FileUtil::IsAbsolutePath(f.path), f.absolute);
    EXPECT_EQ(FileUtil::IsTopLevelPath(f.path), f.topLevel);
    EXPECT_EQ(FileUtil::IsPathLike(f.path), f.pathLike);
  }
  EXPECT_TRUE(FileUtil::IsDriveRoot("/"));
  EXPECT_FALSE(FileUtil::IsDriveRoot("/tmp"));
}

TEST(FileUtil, BufferRoutinesNeverWritePastSize) {
  char buf[32];
  // Name of 8 characters needs 10.
  size_t size = 9;
  memset(buf, '#', sizeof(buf));
  EXPECT_FALSE(FileUtil::GetFileNameToBuffer("/dir/abcd.flv", buf, &size));
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(buf[0], '#');
  EXPECT_TRUE(FileUtil::GetFileNameToBuffer("/dir/abcd.flv", buf, &size));
  EXPECT_STREQ(buf, "abcd.flv");
  EXPECT_FALSE(FileUtil::GetFileNameToBuffer("/dir/abcd.flv", nullptr, &size));

  // Parent with its separator and the zero: "/dir/" needs 6.
  size = 5;
  memset(buf, '#', sizeof(buf));
  EXPECT_FALSE(FileUtil::GetParentFolderToBuffer("/dir/abcd.flv", buf, &size));
  EXPECT_EQ(size, 6u);
  for (char c : buf) EXPECT_EQ(c, '#');
  EXPECT_TRUE(FileUtil::GetParentFolderToBuffer("/dir/abcd.flv", buf, &size));
  EXPECT_STREQ(buf, "/dir/");
  EXPECT_EQ(buf[6], '#');
  size = 0;
  EXPECT_FALSE(FileUtil::GetParentFolderToBuffer("/dir/x", buf, &size));
  EXPECT_EQ(size, 0u);
  size = 4;
  EXPECT_FALSE(FileUtil::GetParentFolderToBuffer(nullptr, buf, &size));
  EXPECT_FALSE(FileUtil::GetParentFolderToBuffer("noseparator", buf, &size));
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(buf[1], 'd');  // only the zero was written
}

TEST(FileUtil, RelativePaths) {
  struct Up {
    const char* path;
    const char* base;
    const char* expected;
  } ups[] = {
      {"/a/b/c", "/a", "../.."},
      {"/a/x/y/", "/a/", "../.."},
      {"/base/l/m/n", "/base", "../../.."},
      {"/a", "/a", "."},
      {"/", "/a", ""},
      {"", "/a", ""},
      {"/a/b", "", "/a/b"},
  };
  for (const Up& u : ups) {
    SCOPED_TRACE(std::string(u.path) + " <- " + u.base);
    EXPECT_EQ(FileUtil::GetUpwardPath(u.path, u.base), u.expected);
  }
  struct Rel {
    const char* folder;
    const char* target;
    const char* expected;
  } rels[] = {
      {"/data/a", "/data/b/file.txt", "../B/FILE.TXT"},   // sibling folder
      {"/data/a", "/data/a/x/file.txt", "./X/FILE.TXT"},  // below the folder
      {"/data/a/b/c", "/data", "../../.."},             // an ancestor
      {"/data/a", "/data/a/", "."},                     // the same
      {"C:\\rec\\a", "D:\\x\\y.flv", "D:\\X\\Y.FLV"},   // another drive
      {"C:\\rec\\a", "c:\\rec\\b\\f.flv", "../B/F.FLV"},
      {"", "/t", "/t"},
      {"/f", "", "/f"},
  };
  for (const Rel& r : rels) {
    SCOPED_TRACE(std::string(r.folder) + " -> " + r.target);
    EXPECT_EQ(FileUtil::GetRelativePath(r.folder, r.target), r.expected);
  }
  EXPECT_EQ(FileUtil::MakeRelativePath("/data/b/f.txt", "/data/a"), "../B/F.TXT");
  EXPECT_EQ(FileUtil::MakeRelativePath("/data/a/f.txt", "/data/a"), "./F.TXT");

  EXPECT_EQ(FileUtil::GetRelativeDepth("/other/x", "/base"), -1);
  EXPECT_EQ(FileUtil::GetRelativeDepth("/BASE/file", "/base/"), 1);
  EXPECT_EQ(FileUtil::GetRelativeDepth("/base/a/b/file", "/base"), 3);
  EXPECT_EQ(FileUtil::GetRelativeDepth("/base/", "/base"), 0);

  std::string cwd = FileUtil::GetCurrentFolder();
  EXPECT_EQ(FileUtil::GetFullPath("x/../y/"), cwd + "/y");
  EXPECT_EQ(FileUtil::CombinePath("/base", "\\sub\\f.txt"), "/base/sub/f.txt");
  EXPECT_EQ(FileUtil::CombinePath("/base/x", "../f"), "/base/f");
  EXPECT_EQ(FileUtil::CombinePath("", "f"), cwd + "/f");
  EXPECT_EQ(FileUtil::CombinePath("/base", ""), "/base");
  EXPECT_EQ(FileUtil::CombinePath("/base", "C:\\x"), "C:\\x");
  EXPECT_TRUE(FileUtil::IsSamePathAbsolute("/A/b/", "/a/B"));
  EXPECT_TRUE(FileUtil::IsSamePath("/tmp/../tmp", "/TMP"));
  EXPECT_FALSE(FileUtil::IsSamePath("/tmp", "/var"));
}

TEST(FileUtil, Wildcards) {
  struct Case {
    const char* name;
    const char* pattern;
    bool match;
  } cases[] = {
      {"Movie.FLV", "*.flv", true}, {"movie.flv", "m?vie.*", true}, {"movie", "*.*", false},
      {"abcabd", "*abd", true},     {"abc", "a*b*c*", true},        {"abc", "a?", false},
      {"", "*", true},              {"x", "", false},               {"aXbXc", "a*X*c", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
    EXPECT_EQ(FileUtil::MatchWildcard(c.name, c.pattern), c.match);
  }
  EXPECT_TRUE(FileUtil::MatchFileSpec("a.mp4", "*.flv|*.MP4"));
  EXPECT_FALSE(FileUtil::MatchFileSpec("a.asf", "*.flv|*.mp4"));
}

TEST(FileUtil, ListingsAndTree) {
  vvtest::TempDir dir;
  MakeDir(dir.file("d1/d2"));
  MakeDir(dir.file("e1"));
  Touch(dir.file("f1.flv"));
  Touch(dir.file("d1/f2.flv"));
  Touch(dir.file("d1/d2/f3.txt"));
  Touch(dir.file("e1/f4.flv"));
  std::vector<std::string> v{"old"};
  EXPECT_EQ(FileUtil::ListSubfolders(dir.path(), v), 2);
  EXPECT_EQ(Sorted(v), (std::vector<std::string>{"d1", "e1"}));
  EXPECT_EQ(FileUtil::ListFiles(dir.path(), v), 1);
  EXPECT_EQ(v, std::vector<std::string>{"f1.flv"});
  EXPECT_EQ(FileUtil::ListEntries(dir.path(), v), 3);
  EXPECT_TRUE(FileUtil::HasSubfolder(dir.path()));
  EXPECT_FALSE(FileUtil::HasSubfolder(dir.file("e1")));

  // Everything below, each folder's path before its contents.
  std::vector<std::string> tree{"earlier"};
  EXPECT_EQ(FileUtil::ListTree(dir.path() + "//", tree, "*.*", true), 8);
  EXPECT_EQ(tree[0], "earlier");
  std::vector<std::string> all(tree.begin() + 1, tree.end());
  EXPECT_EQ(Sorted(all), Sorted({dir.file("d1"), dir.file("d1/d2"), dir.file("d1/d2/f3.txt"), dir.file("d1/f2.flv"),
                                 dir.file("e1"), dir.file("e1/f4.flv"), dir.file("f1.flv")}));
  auto pos = [&](const std::string& p) { return std::find(tree.begin(), tree.end(), p) - tree.begin(); };
  EXPECT_LT(pos(dir.file("d1")), pos(dir.file("d1/d2")));
  EXPECT_LT(pos(dir.file("d1/d2")), pos(dir.file("d1/d2/f3.txt")));
  EXPECT_EQ(FileUtil::ListTree(dir.path(), tree, "", true), 8);  // empty patterns add nothing
  std::vector<std::string> flat;
  EXPECT_EQ(FileUtil::ListTree(dir.path(), flat, "*.flv|e*", false), 2);
  EXPECT_EQ(flat, (std::vector<std::string>{dir.file("f1.flv"), dir.file("e1")}));
  EXPECT_EQ(FileUtil::ListTree(dir.file("missing"), flat, "*", true), 2);

  // FindFiles: own subfolders are not listed, but what matches below them is.
  std::vector<std::string> found;
  EXPECT_EQ(FileUtil::FindFiles(dir.path(), found, "*"), 5);
  EXPECT_EQ(Sorted(found), Sorted({dir.file("f1.flv"), dir.file("d1/f2.flv"), dir.file("d1/d2"),
                                   dir.file("d1/d2/f3.txt"), dir.file("e1/f4.flv")}));
  EXPECT_EQ(std::count(found.begin(), found.end(), dir.file("d1")), 0);
  EXPECT_EQ(std::count(found.begin(), found.end(), dir.file("d1/d2")), 1);
}

TEST(FileUtil, ShellOperationLists) {
  ShellFileOperation op;
  EXPECT_EQ(op.GetOperation(), 0);
  EXPECT_TRUE(op.confirm);
  EXPECT_TRUE(op.allowUndo);
  EXPECT_FALSE(op.silent);
  EXPECT_FALSE(op.filesOnly);
  EXPECT_TRUE(op.renameOnCollision);
  op.SetFrom("/tmp/abc");
  EXPECT_EQ(op.FromList().size(), 10u);
  EXPECT_EQ(op.FromList(), std::string("/tmp/abc\0\0", 10));
  op.SetFrom("/x");
  EXPECT_EQ(op.FromList(), std::string("/x\0\0", 4));
  EXPECT_EQ(op.GetFrom(), "/x");
  op.SetTo("/y");
  EXPECT_EQ(op.GetTo(), "/y");
  EXPECT_FALSE(op.Run());  // no operation chosen
}

TEST(FileUtil, CopyMoveRenameWithCollisions) {
  vvtest::TempDir dir;
  MakeDir(dir.file("src/sub"));
  Touch(dir.file("src/a.txt"), "A");
  Touch(dir.file("src/sub/b.txt"), "B");
  MakeDir(dir.file("dst"));

  EXPECT_TRUE(FileUtil::CopyFolder(dir.file("src"), dir.file("dst"), false));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("dst/src/sub/b.txt")), "B");
  // Again without overwrite: the shell's collision rule gives a new name.
  EXPECT_TRUE(FileUtil::CopyFolder(dir.file("src"), dir.file("dst"), false));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("dst/src (2)/a.txt")), "A");
  // With overwrite the existing copy is replaced.
  Touch(dir.file("dst/src/stale"));
  EXPECT_TRUE(FileUtil::CopyFolder(dir.file("src"), dir.file("dst"), true));
  EXPECT_FALSE(FileUtil::FileExists(dir.file("dst/src/stale")));
  EXPECT_TRUE(FileUtil::IsFile(dir.file("dst/src/a.txt")));

  EXPECT_TRUE(FileUtil::MoveFolder(dir.file("dst/src (2)"), dir.file("moved"), false));
  EXPECT_FALSE(FileUtil::FileExists(dir.file("dst/src (2)")));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("moved/src (2)/sub/b.txt")), "B");

  MakeDir(dir.file("flat"));
  Touch(dir.file("flat/a.txt"), "old");
  EXPECT_TRUE(FileUtil::CopyFolderContents(dir.file("src"), dir.file("flat"), true));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("flat/a.txt")), "A");
  EXPECT_EQ(vvtest::ReadFileText(dir.file("flat/sub/b.txt")), "B");
  EXPECT_TRUE(FileUtil::CopyFolderContents(dir.file("src"), dir.file("flat"), false));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("flat/a (2).txt")), "A");

  EXPECT_TRUE(FileUtil::CopyFile(dir.file("src/a.txt"), dir.file("flat/a.txt"), false));
  Touch(dir.file("flat/c.txt"), "old");
  EXPECT_TRUE(FileUtil::CopyFile(dir.file("src/a.txt"), dir.file("flat/c.txt"), true));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("flat/c.txt")), "A");
  EXPECT_FALSE(FileUtil::CopyFile(dir.file("src/none"), dir.file("flat/d.txt"), false));
  EXPECT_FALSE(FileUtil::CopyFile(dir.file("flat/c.txt"), dir.file("flat/../flat/c.txt"), true));
  EXPECT_FALSE(FileUtil::CopyFileToFolder(dir.file("flat/c.txt"), dir.file("flat"), true));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("flat/c.txt")), "A");
  EXPECT_FALSE(FileUtil::CopyFileToFolder("a.txt", dir.file("flat"), false));  // no separator
  EXPECT_TRUE(FileUtil::CopyFileToFolder(dir.file("src/a.txt"), dir.file("dst") + "//", false));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("dst/a.txt")), "A");

  // MoveFile refuses an existing target and leaves both alone.
  EXPECT_FALSE(FileUtil::MoveFile(dir.file("flat/a.txt"), dir.file("flat/c.txt")));
  EXPECT_TRUE(FileUtil::IsFile(dir.file("flat/a.txt")));
  EXPECT_TRUE(FileUtil::MoveFile(dir.file("flat/a.txt"), dir.file("flat/renamed.txt")));
  EXPECT_FALSE(FileUtil::FileExists(dir.file("flat/a.txt")));
  EXPECT_TRUE(FileUtil::MoveFile(dir.file("flat/renamed.txt"), dir.file("dst/elsewhere.txt")));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("dst/elsewhere.txt")), "A");

  Touch(dir.file("m.txt"), "M");
  Touch(dir.file("dst/m.txt"), "old");
  EXPECT_FALSE(FileUtil::MoveFileToFolder(dir.file("m.txt"), dir.file("dst"), false));
  EXPECT_TRUE(FileUtil::MoveFileToFolder(dir.file("m.txt"), dir.file("dst"), true));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("dst/m.txt")), "M");
  {
    ShellFileOperation rename;  // a bare name renames within the folder
    rename.SetOperation(ShellFileOperation::kRename);
    rename.SetFrom(dir.file("dst/m.txt"));
    rename.SetTo("m.txt");
    EXPECT_TRUE(rename.Run());  // onto itself: nothing to do, nothing renamed aside
    rename.SetTo("n.txt");
    EXPECT_TRUE(rename.Run());
    EXPECT_EQ(vvtest::ReadFileText(dir.file("dst/n.txt")), "M");
    EXPECT_FALSE(FileUtil::FileExists(dir.file("dst/m.txt")));
  }

  // A folder cannot go into itself.
  EXPECT_FALSE(FileUtil::CopyFolder(dir.file("src"), dir.file("src/sub"), false));
  EXPECT_FALSE(FileUtil::MoveFolder(dir.file("src"), dir.file("src"), false));
  EXPECT_EQ(Names(dir.file("src/sub")), std::vector<std::string>{"b.txt"});
  // Nor is the source taken for the existing copy it would replace.
  EXPECT_TRUE(FileUtil::MoveFolder(dir.file("src"), dir.path(), true));
  EXPECT_TRUE(FileUtil::CopyFolder(dir.file("src"), dir.path(), true));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("src/sub/b.txt")), "B");
  EXPECT_EQ(vvtest::ReadFileText(dir.file("src (2)/sub/b.txt")), "B");

  // Wildcard source, files only.
  ShellFileOperation op;
  op.SetOperation(ShellFileOperation::kDelete);
  op.allowUndo = false;
  op.filesOnly = true;
  op.SetFrom(dir.file("flat/*.*"));
  EXPECT_TRUE(op.Run());
  EXPECT_EQ(Names(dir.file("flat")), (std::vector<std::string>{"sub", "sub (2)"}));
}

TEST(FileUtil, CompanionFiles) {
  vvtest::TempDir dir;
  for (const char* f : {"rec.flv", "rec.idx", "rec_1.jpg", "rec_12.jpg", "record.flv", "rec", "other.flv"})
    Touch(dir.file(f));
  MakeDir(dir.file("rec.d"));
  MakeDir(dir.file("out"));
  EXPECT_TRUE(FileUtil::CopyFileWithCompanions(dir.file("rec.flv"), dir.file("out"), false));
  EXPECT_EQ(Names(dir.file("out")), (std::vector<std::string>{"rec", "rec.flv", "rec.idx", "rec_1.jpg"}));
  EXPECT_TRUE(FileUtil::DeleteFileWithCompanions(dir.file("rec.flv")));
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"other.flv", "out", "rec.d", "rec_12.jpg", "record.flv"}));
}

TEST(FileUtil, DeleteWithUndoGoesToTrash) {
  vvtest::TempDir dir;
  const char* oldXdg = getenv("XDG_DATA_HOME");
  std::string saved = oldXdg ? oldXdg : "";
  setenv("XDG_DATA_HOME", dir.file("share").c_str(), 1);
  MakeDir(dir.file("work/folder"));
  Touch(dir.file("work/folder/f.txt"), "F");
  ShellFileOperation op;
  op.SetOperation(ShellFileOperation::kDelete);
  op.SetFrom(dir.file("work/folder"));
  EXPECT_TRUE(op.Run());
  EXPECT_FALSE(FileUtil::FileExists(dir.file("work/folder")));
  EXPECT_EQ(vvtest::ReadFileText(dir.file("share/Trash/files/folder/f.txt")), "F");
  std::string info = vvtest::ReadFileText(dir.file("share/Trash/info/folder.trashinfo"));
  EXPECT_NE(info.find("Path=" + dir.file("work/folder") + "\n"), std::string::npos);
  if (oldXdg)
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");
}

TEST(FileUtil, TimesAndAttributes) {
  vvtest::TempDir dir;
  std::string f = dir.file("t.flv");
  Touch(f);
  timespec access{1000000000, 0}, write{1439560439, 0};  // 2015-08-14 13:53:59 UTC
  EXPECT_TRUE(FileUtil::SetFileTimes(f, nullptr, &access, &write));
  timespec c{}, a{}, w{};
  EXPECT_TRUE(FileUtil::GetFileTimes(f, &c, &a, &w));
  EXPECT_EQ(a.tv_sec, access.tv_sec);
  EXPECT_EQ(w.tv_sec, write.tv_sec);
  EXPECT_GT(c.tv_sec, write.tv_sec);  // made just now
  EXPECT_EQ(FileUtil::FormatFileTime(w), "2015-08-14 13:53:59");
  EXPECT_FALSE(FileUtil::GetFileTimes(dir.file("none"), &c, nullptr, nullptr));
  EXPECT_FALSE(FileUtil::SetFileTimes(dir.file("none"), nullptr, &access, nullptr));

  auto local = vvtest::Run("date -d @1439560439 '+%Y-%m-%d %H:%M' | tr -d '\\n'");
  EXPECT_EQ(FileUtil::GetModifyTimeText(f), local.output);
  EXPECT_EQ(FileUtil::GetModifyTimeText(dir.file("none")), "");

  Touch(dir.file("n1.flv"));
  EXPECT_EQ(FileUtil::GetNewestFile(dir.path(), "n*.flv"), dir.file("n1.flv"));
  EXPECT_EQ(FileUtil::GetNewestFile(dir.path(), "*.mp4"), "");

  EXPECT_TRUE(FileUtil::HasAttributes(f, kAttrArchive));
  EXPECT_TRUE(FileUtil::SetAttributes(f, kAttrReadOnly));
  EXPECT_TRUE(FileUtil::HasAttributes(f, kAttrReadOnly));
  EXPECT_TRUE(FileUtil::SetAttributes(f, kAttrNormal));
  EXPECT_FALSE(FileUtil::HasAttributes(f, kAttrReadOnly));
  EXPECT_TRUE(FileUtil::HasAttributes(dir.path(), kAttrDirectory));
  EXPECT_FALSE(FileUtil::HasAttributes(dir.file("none"), 0));
  EXPECT_EQ(FileUtil::GetExistingPrefix(dir.file("none/deeper")), dir.path() + "/");
  EXPECT_EQ(FileUtil::GetMissingTail(dir.file("none/deeper")), "none/deeper");
}
