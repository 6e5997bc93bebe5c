#pragma once
// The folder chooser's rules without its widgets: title, root folder,
// folder selected at start, browse flags, the browser's callbacks and the
// result codes. Paths are texts of any length.
#include <optional>
#include <string>

// Browse flags the chooser reacts to (other bits are kept and ignored).
constexpr unsigned kBifReturnOnlyFsDirs = 0x0001;
constexpr unsigned kBifStatusText = 0x0004;
constexpr unsigned kBifEditBox = 0x0010;
constexpr unsigned kBifValidate = 0x0020;
constexpr unsigned kBifNewDialogStyle = 0x0040;

// The browser's callback codes.
constexpr int kBffmInitialized = 1;
constexpr int kBffmSelChanged = 2;
constexpr int kBffmValidateFailed = 3;
constexpr int kBffmIUnknown = 5;

// DoModal's results.
constexpr int kFolderIdOk = 1;
constexpr int kFolderIdCancel = 2;
constexpr int kFolderNoPath = -1;

// One folder as the browser names it: its address, and its file-system path
// when it has one (a virtual folder has none).
struct FolderItem {
  std::string address;
  std::optional<std::string> path;
};

class FolderChooser;

// The open browser window the chooser commands, and the modal run.
class IFolderBrowser {
 public:
  virtual ~IFolderBrowser() = default;
  // Runs the browser for the chooser (title, root, flags) until it closes;
  // the chosen folder, or nothing when it was cancelled. It calls the
  // chooser's Callback as things happen.
  virtual std::optional<FolderItem> Run(FolderChooser& chooser) = 0;

  virtual void SetStatusText(const std::string& text) = 0;
  virtual void EnableOk(bool enable) = 0;
  virtual void SetSelection(const std::string& path) = 0;
  virtual void SetOkText(const std::string& text) = 0;
  virtual void SetExpanded(const std::string& path) = 0;
};

class FolderChooser {
 public:
  FolderChooser(std::string title, std::optional<std::string> startFolder, unsigned flags);
  virtual ~FolderChooser() = default;

  const std::string& Title() const { return title_; }
  unsigned Flags() const { return flags_; }
  const std::string& StartFolder() const { return start_; }
  // The root: an existing folder, resolved to its absolute, normal path.
  // Nothing removes the root (always true); a path that is not a folder is
  // refused and the earlier root stays.
  bool SetRootFolder(const std::optional<std::string>& path);
  const std::optional<std::string>& RootFolder() const { return root_; }

  // kFolderIdOk with the chosen folder's path, kFolderNoPath when the
  // folder has no file-system path (the path stays as it was),
  // kFolderIdCancel when the browser was cancelled.
  int DoModal(IFolderBrowser& browser);
  const std::string& GetFolderPath() const { return path_; }

  // The browser's callback: the browser is current while it runs.
  int Callback(IFolderBrowser& browser, int code, const FolderItem* item,
               const std::string& text = {});

  // Commands to the open browser; they reach it only while a callback runs.
  void SetStatusText(const std::string& text);
  void EnableOk(bool enable);
  void SetSelection(const std::string& path);
  void SetOkText(const std::string& text);
  void SetExpanded(const std::string& path);

 protected:
  // With a start folder, select it.
  virtual void OnInitialized();
  // With kBifStatusText, the selected folder's path as the status text.
  virtual void OnSelChanged(const FolderItem& item);
  // A typed name that is no folder: beep and keep the browser open (1).
  virtual int OnValidateFailed(const std::string& text);
  virtual void OnIUnknown() {}
  virtual void ErrorBeep() {}

 private:
  std::string title_;
  std::string start_;
  unsigned flags_;
  std::optional<std::string> root_;
  std::string path_;
  IFolderBrowser* current_ = nullptr;
};
