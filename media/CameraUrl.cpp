#include "media/CameraUrl.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/Log.h"
#include "platform/HCNetSDK.h"

namespace {

std::atomic<ICameraResolver*> customResolver{nullptr};

// The SDK keeps process-wide settings; one resolution at a time.
std::mutex sdkMutex;

}  // namespace

bool HCNetCameraResolver::Resolve(const std::string& server, uint16_t port, const std::string& serial,
                                  std::string& address) {
  uint32_t error = 0;
  return Resolve(server, port, serial, address, error);
}

bool HCNetCameraResolver::Resolve(const std::string& server, uint16_t port, const std::string& serial,
                                  std::string& address, uint32_t& sdkError) {
  std::lock_guard<std::mutex> lock(sdkMutex);
  sdkError = NET_DVR_NOERROR;
  NET_DVR_Init();
  NET_DVR_SetConnectTime(5000, 2);
  char ip[128];
  memset(ip, 0, sizeof ip);
  uint32_t resolvedPort = 0;
  if (!NET_DVR_GetDVRIPByResolveSvr_EX(server.c_str(), port, reinterpret_cast<const unsigned char*>(""), 0,
                                       reinterpret_cast<const unsigned char*>(serial.c_str()),
                                       static_cast<uint16_t>(serial.size()), ip, &resolvedPort)) {
    sdkError = NET_DVR_GetLastError();
    LogDebug("camera resolve of %s at %s:%u failed, error %u", serial.c_str(), server.c_str(), port, sdkError);
    return false;
  }
  ip[sizeof ip - 1] = 0;
  address = ip;
  return true;
}

bool IsCameraUrl(const std::string& url) { return url.find("://HK") != std::string::npos; }

bool ParseCameraUrl(const std::string& url, CameraUrlParts& parts) {
  parts = CameraUrlParts();
  size_t cut = url.find_first_of(":/HK");
  if (cut == std::string::npos) return false;
  parts.scheme = url.substr(0, cut);
  std::string work = cut + 5 <= url.size() ? url.substr(cut + 5) : std::string();

  size_t at = work.find('@');
  if (at != std::string::npos) {
    parts.user = work.substr(0, at);
    work = work.substr(at + 1);
    at = work.find('@');
    if (at != std::string::npos) {
      parts.password = work.substr(0, at);
      work = work.substr(at + 1);
    }
  }

  size_t colon = work.find(':');
  if (colon != std::string::npos) {
    parts.server = work.substr(0, colon);
    size_t slash = work.find('/', colon + 1);
    std::string number = work.substr(colon + 1, slash == std::string::npos ? std::string::npos : slash - colon - 1);
    long port = strtol(number.c_str(), nullptr, 10);
    parts.port = port > 0 && port <= 65535 ? static_cast<int>(port) : 0;
    work = slash != std::string::npos && slash + 2 <= work.size() ? work.substr(slash + 2) : std::string();
    colon = work.find(':');
    if (colon != std::string::npos) {
      parts.serial = work.substr(0, colon);
      parts.rest = work.substr(colon + 1);
    }
  }
  return true;
}

bool ResolveCameraUrl(std::string& out, const std::string& url, ICameraResolver& resolver) {
  CameraUrlParts p;
  if (!ParseCameraUrl(url, p)) return false;
  std::string address;
  if (!resolver.Resolve(p.server, static_cast<uint16_t>(p.port), p.serial, address)) return false;
  if (!p.user.empty()) {
    out = p.scheme + "://" + p.user + ":" + p.password + "@" + address + ":" + p.rest;
  } else {
    out = p.scheme + "://" + address + ":" + p.rest;
  }
  return true;
}

std::string CameraFailureText(CameraResolveFailure failure) {
  switch (failure) {
    case CameraResolveFailure::kNone: return "";
    case CameraResolveFailure::kUnsupported: return "海康IP获取失败(本平台不支持)";
    case CameraResolveFailure::kUnreachable: return "海康IP获取失败(连不上解析服务器)";
    case CameraResolveFailure::kOther: break;
  }
  return "海康IP获取失败";
}

bool ResolveCameraUrl(std::string& out, const std::string& url, CameraResolveFailure& failure) {
  failure = CameraResolveFailure::kNone;
  if (ICameraResolver* r = customResolver.load()) {
    if (ResolveCameraUrl(out, url, *r)) return true;
    failure = CameraResolveFailure::kOther;
    return false;
  }
  // The SDK's error code says why it failed.
  struct Sdk : ICameraResolver {
    bool Resolve(const std::string& server, uint16_t port, const std::string& serial,
                 std::string& address) override {
      return HCNetCameraResolver().Resolve(server, port, serial, address, error);
    }
    uint32_t error = NET_DVR_NOERROR;
  } sdk;
  if (ResolveCameraUrl(out, url, sdk)) return true;
  switch (sdk.error) {
    case NET_DVR_NOSUPPORT: failure = CameraResolveFailure::kUnsupported; break;
    case NET_DVR_NETWORK_FAIL_CONNECT: failure = CameraResolveFailure::kUnreachable; break;
    default: failure = CameraResolveFailure::kOther; break;
  }
  return false;
}

bool ResolveCameraUrl(std::string& out, const std::string& url) {
  CameraResolveFailure failure;
  return ResolveCameraUrl(out, url, failure);
}

void SetCameraResolver(ICameraResolver* resolver) { customResolver = resolver; }
