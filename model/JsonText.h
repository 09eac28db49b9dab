// JSON strings, written in one place for the records' exports and outbox and the terminal's
// `read --json`.
#pragma once

#include <cstddef>
#include <string>

// How bytes at and above 0x80 are written.
enum class TJsonBytes {
  // Text in UTF-8 (names, notes): valid UTF-8 sequences stay as they are; a stray byte is
  // written \u00XX so the output is still valid JSON, and reads back as that byte.
  Utf8Text,
  // A detector's character field: every byte is one character (\u00XX above 0x7E), so a
  // reader gets the bytes back exactly, whatever they are.
  Bytes,
};

// The quoted JSON string of text: '"' and '\' escaped, \n \r \t, other control bytes and
// 0x7F as \u00XX.
std::string JsonString(const std::string& text, TJsonBytes bytes = TJsonBytes::Utf8Text);
