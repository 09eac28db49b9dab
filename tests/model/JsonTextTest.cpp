#include "model/JsonText.h"

#include <gtest/gtest.h>

#include <string>

// Text keeps its UTF-8 and stays valid JSON around stray bytes; a detector's field is one
// character a byte, whatever the bytes.
TEST(JsonText, TextKeepsUtf8AndBytesAreOneCharacterEach) {
  struct Case {
    std::string in;
    std::string text, bytes;
  } cases[] = {
      {"A\"B\\", R"("A\"B\\")", R"("A\"B\\")"},
      {"a\nb\r\t", R"("a\nb\r\t")", R"("a\nb\r\t")"},
      {std::string("\0\x01\x7F", 3), R"("\u0000\u0001\u007F")", R"("\u0000\u0001\u007F")"},
      {"Zo\xC3\xAB", "\"Zo\xC3\xAB\"", R"("Zo\u00C3\u00AB")"},
      {"\xE2\x82\xAC", "\"\xE2\x82\xAC\"", R"("\u00E2\u0082\u00AC")"},
      // Not UTF-8: a lone byte, a cut sequence, an overlong form, a surrogate.
      {"\xE9", R"("\u00E9")", R"("\u00E9")"},
      {"\xE2\x82", R"("\u00E2\u0082")", R"("\u00E2\u0082")"},
      {"\xC0\xAF", R"("\u00C0\u00AF")", R"("\u00C0\u00AF")"},
      {"\xED\xA0\x80", R"("\u00ED\u00A0\u0080")", R"("\u00ED\u00A0\u0080")"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsonString(c.in), c.text) << c.text;
    EXPECT_EQ(JsonString(c.in, TJsonBytes::Bytes), c.bytes) << c.bytes;
  }
}
