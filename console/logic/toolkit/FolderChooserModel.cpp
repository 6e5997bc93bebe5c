#include "console/logic/toolkit/FolderChooserModel.h"

#include <filesystem>
#include <system_error>

FolderChooser::FolderChooser(std::string title, std::optional<std::string> startFolder,
                             unsigned flags)
    : title_(std::move(title)), start_(startFolder.value_or("")), flags_(flags) {}

bool FolderChooser::SetRootFolder(const std::optional<std::string>& path) {
  if (!path) {
    root_.reset();
    return true;
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  if (path->empty() || !fs::is_directory(*path, ec)) return false;
  fs::path abs = fs::absolute(*path, ec);
  if (ec) return false;
  std::string resolved = abs.lexically_normal().string();
  while (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
  root_ = resolved;
  return true;
}

int FolderChooser::DoModal(IFolderBrowser& browser) {
  const std::optional<FolderItem> chosen = browser.Run(*this);
  current_ = nullptr;
  if (!chosen) return kFolderIdCancel;
  if (!chosen->path) return kFolderNoPath;
  path_ = *chosen->path;
  return kFolderIdOk;
}

int FolderChooser::Callback(IFolderBrowser& browser, int code, const FolderItem* item,
                            const std::string& text) {
  IFolderBrowser* before = current_;
  current_ = &browser;
  int answer = 0;
  switch (code) {
    case kBffmInitialized:
      OnInitialized();
      break;
    case kBffmSelChanged:
      if (item) OnSelChanged(*item);
      break;
    case kBffmValidateFailed:
      answer = OnValidateFailed(text);
      break;
    case kBffmIUnknown:
      OnIUnknown();
      break;
    default:
      break;
  }
  current_ = before;
  return answer;
}

void FolderChooser::OnInitialized() {
  if (!start_.empty()) SetSelection(start_);
}

void FolderChooser::OnSelChanged(const FolderItem& item) {
  if ((flags_ & kBifStatusText) && item.path) SetStatusText(*item.path);
}

int FolderChooser::OnValidateFailed(const std::string&) {
  ErrorBeep();
  return 1;
}

void FolderChooser::SetStatusText(const std::string& text) {
  if (current_) current_->SetStatusText(text);
}
void FolderChooser::EnableOk(bool enable) {
  if (current_) current_->EnableOk(enable);
}
void FolderChooser::SetSelection(const std::string& path) {
  if (current_) current_->SetSelection(path);
}
void FolderChooser::SetOkText(const std::string& text) {
  if (current_) current_->SetOkText(text);
}
void FolderChooser::SetExpanded(const std::string& path) {
  if (current_) current_->SetExpanded(path);
}
