#pragma once
// Stand-in for the network camera vendor's SDK: the four calls the camera
// URL resolution uses. The vendor's resolve protocol is not available on
// this platform, so a resolution always fails; it fails with a connection
// error when the resolve server cannot be reached within the connect time
// and with "not supported" when it can.
#include <cstdint>

// Error codes reported by NET_DVR_GetLastError.
enum : uint32_t {
  NET_DVR_NOERROR = 0,
  NET_DVR_NOINIT = 3,
  NET_DVR_NETWORK_FAIL_CONNECT = 7,
  NET_DVR_PARAMETER_ERROR = 17,
  NET_DVR_NOSUPPORT = 23,
};

bool NET_DVR_Init();
// waitTime: connect time-out in ms; tryTimes: connection attempts.
bool NET_DVR_SetConnectTime(uint32_t waitTime, uint32_t tryTimes);
// Asks the resolve server at serverIp:serverPort for the current address of
// the device named dvrName or with serial number serial; the address is
// written to getIp (at least 16 bytes; callers pass 128), its port to port.
bool NET_DVR_GetDVRIPByResolveSvr_EX(const char* serverIp, uint16_t serverPort, const unsigned char* dvrName,
                                     uint16_t dvrNameLen, const unsigned char* serial, uint16_t serialLen,
                                     char* getIp, uint32_t* port);
// The error of the calling thread's last failed call.
uint32_t NET_DVR_GetLastError();
