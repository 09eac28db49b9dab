#include "tests/support/MiniJson.h"

#include <cctype>
#include <cstdlib>

const JsonValue* JsonValue::find(const std::string& name) const {
  if (type != Type::Object) return nullptr;
  for (const auto& m : members)
    if (m.first == name) return &m.second;
  return nullptr;
}

std::vector<std::string> JsonValue::names() const {
  std::vector<std::string> out;
  for (const auto& m : members) out.push_back(m.first);
  return out;
}

namespace {

class Parser {
 public:
  explicit Parser(const std::string& t) : FText(t) {}

  bool document(JsonValue& v) {
    if (!value(v, 0)) return false;
    space();
    return FPos == FText.size() || fail("text after the value");
  }
  std::string error() const { return "offset " + std::to_string(FPos) + ": " + FError; }

 private:
  bool fail(const char* why) {
    if (FError.empty()) FError = why;
    return false;
  }
  void space() {
    while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\n' ||
                                   FText[FPos] == '\r'))
      ++FPos;
  }
  bool literal(const char* word) {
    const std::string w(word);
    if (FText.compare(FPos, w.size(), w) != 0) return fail("unknown literal");
    FPos += w.size();
    return true;
  }
  bool value(JsonValue& v, int depth) {
    if (depth > 64) return fail("nested too deep");
    space();
    if (FPos >= FText.size()) return fail("value expected");
    const char c = FText[FPos];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') {
      v.type = JsonValue::Type::String;
      return string(v.string);
    }
    if (c == 't' || c == 'f') {
      v.type = JsonValue::Type::Bool;
      v.boolean = c == 't';
      return literal(c == 't' ? "true" : "false");
    }
    if (c == 'n') return literal("null");
    return number(v);
  }
  bool object(JsonValue& v, int depth) {
    v.type = JsonValue::Type::Object;
    ++FPos;
    space();
    if (FPos < FText.size() && FText[FPos] == '}') return ++FPos, true;
    for (;;) {
      space();
      std::string name;
      if (FPos >= FText.size() || FText[FPos] != '"') return fail("member name expected");
      if (!string(name)) return false;
      space();
      if (FPos >= FText.size() || FText[FPos] != ':') return fail("':' expected");
      ++FPos;
      JsonValue member;
      if (!value(member, depth + 1)) return false;
      v.members.emplace_back(std::move(name), std::move(member));
      space();
      if (FPos < FText.size() && FText[FPos] == ',') {
        ++FPos;
        continue;
      }
      if (FPos < FText.size() && FText[FPos] == '}') return ++FPos, true;
      return fail("',' or '}' expected");
    }
  }
  bool array(JsonValue& v, int depth) {
    v.type = JsonValue::Type::Array;
    ++FPos;
    space();
    if (FPos < FText.size() && FText[FPos] == ']') return ++FPos, true;
    for (;;) {
      JsonValue item;
      if (!value(item, depth + 1)) return false;
      v.array.push_back(std::move(item));
      space();
      if (FPos < FText.size() && FText[FPos] == ',') {
        ++FPos;
        continue;
      }
      if (FPos < FText.size() && FText[FPos] == ']') return ++FPos, true;
      return fail("',' or ']' expected");
    }
  }
  bool string(std::string& out) {
    ++FPos;  // the opening quote
    while (FPos < FText.size()) {
      const auto c = static_cast<unsigned char>(FText[FPos++]);
      if (c == '"') return true;
      if (c < 0x20) return fail("control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (FPos >= FText.size()) break;
      const char e = FText[FPos++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (FPos + 4 > FText.size()) return fail("short \\u escape");
          unsigned code = 0;
          for (int i = 0; i < 4; ++i) {
            const char h = FText[FPos++];
            if (!std::isxdigit(static_cast<unsigned char>(h))) return fail("bad \\u escape");
            code = code * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(h))
                                                         ? h - '0'
                                                         : std::tolower(static_cast<unsigned char>(h)) - 'a' + 10);
          }
          if (code >= 0x100) return fail("\\u escape beyond one byte");
          out += static_cast<char>(code);
          break;
        }
        default:
          return fail("unknown escape");
      }
    }
    return fail("unterminated string");
  }
  bool number(JsonValue& v) {
    const size_t start = FPos;
    if (FPos < FText.size() && FText[FPos] == '-') ++FPos;
    if (FPos >= FText.size() || !std::isdigit(static_cast<unsigned char>(FText[FPos]))) return fail("value expected");
    if (FText[FPos] == '0' && FPos + 1 < FText.size() && std::isdigit(static_cast<unsigned char>(FText[FPos + 1])))
      return fail("leading zero");
    while (FPos < FText.size() && std::isdigit(static_cast<unsigned char>(FText[FPos]))) ++FPos;
    bool real = false;
    if (FPos < FText.size() && FText[FPos] == '.') {
      real = true;
      ++FPos;
      if (FPos >= FText.size() || !std::isdigit(static_cast<unsigned char>(FText[FPos]))) return fail("digit expected");
      while (FPos < FText.size() && std::isdigit(static_cast<unsigned char>(FText[FPos]))) ++FPos;
    }
    if (FPos < FText.size() && (FText[FPos] == 'e' || FText[FPos] == 'E')) {
      real = true;
      ++FPos;
      if (FPos < FText.size() && (FText[FPos] == '+' || FText[FPos] == '-')) ++FPos;
      if (FPos >= FText.size() || !std::isdigit(static_cast<unsigned char>(FText[FPos]))) return fail("digit expected");
      while (FPos < FText.size() && std::isdigit(static_cast<unsigned char>(FText[FPos]))) ++FPos;
    }
    const std::string digits = FText.substr(start, FPos - start);
    if (real) {
      v.type = JsonValue::Type::Real;
      v.real = std::strtod(digits.c_str(), nullptr);
    } else {
      v.type = JsonValue::Type::Integer;
      v.integer = std::strtoll(digits.c_str(), nullptr, 10);
    }
    return true;
  }

  const std::string& FText;
  size_t FPos = 0;
  std::string FError;
};

}  // namespace

std::optional<JsonValue> ParseJson(const std::string& text, std::string* error) {
  Parser p(text);
  JsonValue v;
  if (!p.document(v)) {
    if (error) *error = p.error();
    return std::nullopt;
  }
  return v;
}
