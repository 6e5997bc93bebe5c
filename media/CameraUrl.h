#pragma once
// Network camera URLs ("://HK"): the resolve server, the camera's serial
// number and its credentials packed into one URL. Before such an input is
// opened the camera's current address is asked of the vendor's resolve
// service and an ordinary URL is rebuilt from it.
//
// Form: scheme "://HK" user "@" password "@" server ":" port "//" serial ":" rest
#include <cstdint>
#include <string>

class ICameraResolver {
 public:
  virtual ~ICameraResolver() = default;
  // The camera's current address for the resolve server and serial number;
  // false when it cannot be resolved.
  virtual bool Resolve(const std::string& server, uint16_t port, const std::string& serial,
                       std::string& address) = 0;
};

// The vendor SDK (platform/HCNetSDK): init, 5000 ms connect time with two
// attempts, then the resolve call.
class HCNetCameraResolver : public ICameraResolver {
 public:
  bool Resolve(const std::string& server, uint16_t port, const std::string& serial,
               std::string& address) override;
  // The same, with the SDK's error code of a failure (0 on success).
  bool Resolve(const std::string& server, uint16_t port, const std::string& serial, std::string& address,
               uint32_t& sdkError);
};

// Why a camera URL could not be resolved.
enum class CameraResolveFailure {
  kNone,
  kUnsupported,  // the resolve server answered; this platform cannot ask it
  kUnreachable,  // the resolve server could not be reached
  kOther,
};
// The operator's text for a failure: "海康IP获取失败" and the reason in
// brackets; "" for kNone.
std::string CameraFailureText(CameraResolveFailure failure);

struct CameraUrlParts {
  std::string scheme;
  std::string user;
  std::string password;
  std::string server;
  int port = 0;
  std::string serial;
  std::string rest;  // the camera's port and path
};

bool IsCameraUrl(const std::string& url);
// Splits a camera URL; false only when no scheme separator is found.
// Missing fields stay empty.
bool ParseCameraUrl(const std::string& url, CameraUrlParts& parts);
// Resolves a camera URL and writes the rebuilt URL to out.
bool ResolveCameraUrl(std::string& out, const std::string& url);
// The same, and why it failed (kNone on success).
bool ResolveCameraUrl(std::string& out, const std::string& url, CameraResolveFailure& failure);
bool ResolveCameraUrl(std::string& out, const std::string& url, ICameraResolver& resolver);

// The resolver ResolveCameraUrl(out, url) uses; null restores the SDK's.
// The resolver must outlive its use.
void SetCameraResolver(ICameraResolver* resolver);
