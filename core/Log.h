#pragma once
// Process-wide levelled log writer. Every line is appended to LogFileName
// (opened and closed per line, so the file can be moved at any time).
#include <cstdarg>
#include <cstddef>
#include <string>

enum LogLevel { LOG_CRIT = 0, LOG_ERROR = 1, LOG_WARN = 2, LOG_INFO = 3, LOG_DEBUG = 4, LOG_ALL = 5 };

// Set once at start-up before anything is logged; empty means standard error.
void SetLogFileName(const std::string& name);
std::string GetLogFileName();

void SetLogLevel(int threshold);
int GetLogLevel();

void Log(int level, const char* format, va_list args);
void Log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogWarn(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));

void LogHex(int level, const unsigned char* bytes, int length);
void LogHexString(int level, const unsigned char* bytes, int length);
void LogHexError(const unsigned char* bytes, int length);
void LogHexWarn(const unsigned char* bytes, int length);
void LogHexInfo(const unsigned char* bytes, int length);
void LogHexDebug(const unsigned char* bytes, int length);
void LogHexStringError(const unsigned char* bytes, int length);
void LogHexStringWarn(const unsigned char* bytes, int length);
void LogHexStringInfo(const unsigned char* bytes, int length);
void LogHexStringDebug(const unsigned char* bytes, int length);

// Text that came from the network, made safe for one log line: control
// characters (line breaks included) are written as \n, \r, \t or \xHH, so
// no peer can start a line of its own, and a text longer than maxBytes is
// cut there (never inside a UTF-8 character) and followed by "... (N bytes)"
// with its whole size. Shorter texts without control characters stay as they
// are.
constexpr size_t kLogTextLimit = 512;
std::string LogSafeText(const std::string& text, size_t maxBytes = kLogTextLimit);

// The rotation limit in bytes; the file moves aside once it is passed.
constexpr long kLogRotateBytes = 10485760L;
