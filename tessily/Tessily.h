// Tessily: string, escape, encoding and INI helpers (libtessily.so.1).
//
// Decisions that hold for the whole library:
// - Positions, offsets and counts are int (32-bit signed) byte offsets; a position outside
//   [0, size] reads nothing, gives "" or 0 and is left where it is.
// - The in-place functions (names beginning with "_") return a reference to the string they changed.
// - StrEncode and StrDecode replace the content of their output string; they never append.
// - "\x" not followed by a hex digit gives the letter 'x'; a backslash at the very end of the
//   text gives the backslash.
// - A "%" not followed by two hex digits is kept as it is by URLDecode.
// - The 64-symbol table of the 6-bit code is the standard base64 alphabet (A-Z a-z 0-9 + /),
//   without "=" padding; StrDecode reads characters outside that alphabet as 0.
// - Character classes (white space, letters, digits, case) are ASCII tests on unsigned bytes,
//   whatever the locale. Results may hold NUL bytes.
// - Nothing throws: every function reports failure by its result.
#ifndef TESSILY_TESSILY_H
#define TESSILY_TESSILY_H

#include <string>

#define TESSILY_API __attribute__((visibility("default")))

// ---- Trimming: white space, one character, or any character of a zero-terminated set ----
TESSILY_API std::string LTrim(const std::string& text) noexcept;
TESSILY_API std::string LTrim(const std::string& text, char c) noexcept;
TESSILY_API std::string LTrim(const std::string& text, const char* set) noexcept;
TESSILY_API std::string RTrim(const std::string& text) noexcept;
TESSILY_API std::string RTrim(const std::string& text, char c) noexcept;
TESSILY_API std::string RTrim(const std::string& text, const char* set) noexcept;
TESSILY_API std::string Trim(const std::string& text) noexcept;
TESSILY_API std::string Trim(const std::string& text, char c) noexcept;
TESSILY_API std::string Trim(const std::string& text, const char* set) noexcept;
TESSILY_API std::string& _LTrim(std::string& text) noexcept;
TESSILY_API std::string& _LTrim(std::string& text, char c) noexcept;
TESSILY_API std::string& _LTrim(std::string& text, const char* set) noexcept;
TESSILY_API std::string& _RTrim(std::string& text) noexcept;
TESSILY_API std::string& _RTrim(std::string& text, char c) noexcept;
TESSILY_API std::string& _RTrim(std::string& text, const char* set) noexcept;
TESSILY_API std::string& _Trim(std::string& text) noexcept;
TESSILY_API std::string& _Trim(std::string& text, char c) noexcept;
TESSILY_API std::string& _Trim(std::string& text, const char* set) noexcept;

// ---- Case (A-Z and a-z only) ----
TESSILY_API std::string UCase(const std::string& text) noexcept;
TESSILY_API std::string LCase(const std::string& text) noexcept;
TESSILY_API std::string& _UCase(std::string& text) noexcept;
TESSILY_API std::string& _LCase(std::string& text) noexcept;

// ---- Escapes and encodings ----
// One character at pos with its backslash escape resolved; pos moves past it.
TESSILY_API char FormatCChar(const std::string& text, int& pos) noexcept;
// A double-quoted string at pos with its escapes resolved; pos moves past the closing quote
// (or to the end). Without a double quote at pos: "" and pos unchanged.
TESSILY_API std::string FormatCString(const std::string& text, int& pos) noexcept;
TESSILY_API std::string HTMLEncode(const std::string& text) noexcept;
TESSILY_API std::string URLEncode(const std::string& text) noexcept;
TESSILY_API std::string URLDecode(const std::string& text) noexcept;
TESSILY_API void StrEncode(const std::string& text, std::string& out) noexcept;
TESSILY_API void StrDecode(const std::string& code, std::string& out) noexcept;

// ---- INI files and INI text ----
// join 0: the first value of the key; any other join: every value of the key in the section,
// joined by it. No value found gives def. Lines read from a file are trimmed; lines of a text
// lose only their trailing carriage returns.
TESSILY_API std::string GetIniString(const std::string& path, const std::string& section,
                                     const std::string& key, const std::string& def,
                                     char join = 0) noexcept;
TESSILY_API std::string GetMemIniString(const std::string& text, const std::string& section,
                                        const std::string& key, const std::string& def,
                                        char join = 0) noexcept;
// Every key line of the section as read, each followed by ","; the last two arguments are unused.
TESSILY_API std::string GetMemIniStringAsList(const std::string& text, const std::string& section,
                                              const std::string& unused = std::string(),
                                              char unusedChar = 0) noexcept;
// Sets the key in the file. False when the section, key or value is refused (CR or LF in any,
// "=" in the key, a line that would not read back as the key), when the file exists but cannot
// be read, or when the new content cannot be written; the file is then untouched.
TESSILY_API bool WriteIniString(const std::string& path, const std::string& section,
                                const std::string& key, const std::string& value) noexcept;
// The text with the key set; a refused section, key or value returns the text unchanged.
TESSILY_API std::string WriteMemIniString(const std::string& text, const std::string& section,
                                          const std::string& key, const std::string& value) noexcept;
TESSILY_API std::string ClearMemIniStringInSect(const std::string& text, const std::string& section,
                                                const std::string& key) noexcept;
// Removes every section of the name.
TESSILY_API std::string ClearMemIniString(const std::string& text, const std::string& section) noexcept;
// Renames every header of the section; a new name holding CR or LF returns the text unchanged.
TESSILY_API std::string RenameMemIniSecString(const std::string& text, const std::string& section,
                                              const std::string& newName) noexcept;
// The bytes of a regular file, read to its end; "" when it cannot be opened or is no regular file.
TESSILY_API std::string LoadIniFile(const std::string& path) noexcept;
// Replaces the file's content through a temporary file renamed over it; false on any failure.
TESSILY_API bool SaveIniFile(const std::string& path, const std::string& text) noexcept;

// ---- String stream reader ----
// A view over the range [begin, end) of a source string that it does not own (the source must
// outlive the reader). Offsets are relative to begin, except the results of Seek(text) and Find,
// which are offsets in the whole source. Reads stop at the source's real end if it shrank.
class TESSILY_API CIStrStream {
public:
    CIStrStream(const std::string& source, int from = 0, int to = -1) noexcept;
    CIStrStream(const CIStrStream& other, int from, int to = -1) noexcept;
    // The other's whole range, position at its begin.
    CIStrStream(const CIStrStream& other) noexcept;
    // Takes the other's source and range; the position goes to the end of the range.
    CIStrStream& operator=(const CIStrStream& other) noexcept;
    virtual ~CIStrStream();

    void Reset() noexcept;
    int Size() const noexcept;
    bool IsEOS() const noexcept;
    int Tell() const noexcept;
    // origin 0: from begin, 1: from the position, 2: from end.
    bool Seek(int offset, int origin) noexcept;
    int Seek(const std::string& text) noexcept;
    int Find(const std::string& text, int from = 0) const noexcept;
    std::string GetLine() noexcept;
    static std::string GetLine(const std::string& text, int& pos) noexcept;
    std::string Get(int count) const noexcept;
    std::string SubString(int from, int count = -1) const noexcept;
    CIStrStream SubStream(int from, int count = -1) const noexcept;

private:
    const std::string* m_source;
    int m_begin;
    int m_end;
    int m_pos;
};

// The text from pos to the next line feed or the end, without trailing carriage returns;
// pos moves past the line feed, or to the text's length.
TESSILY_API std::string GetLine(const std::string& text, int& pos) noexcept;

#endif
