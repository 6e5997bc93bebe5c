#pragma once
// Standard base64 (RFC 4648 alphabet).
#include <cstddef>
#include <string>

// Decodes length characters of text. Carriage returns and line feeds are
// skipped; every group of four characters gives three bytes, two when its
// fourth is "=", one when its third is "="; characters outside the alphabet
// count as 0. A short last group (two or three characters) gives the bytes
// it carries. Nothing beyond length is read. *counter (when given) grows by
// the number of bytes produced.
std::string Base64Decode(const char* text, size_t length, size_t* counter = nullptr);
