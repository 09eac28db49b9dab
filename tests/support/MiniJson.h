// A small strict JSON reader for tests that check what a program prints: objects keep their
// member order, numbers keep whether they were integers, and \u escapes below 0x100 come back
// as the single byte they stand for (so character fields of records compare byte for byte).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
  enum class Type { Null, Bool, Integer, Real, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  long long integer = 0;
  double real = 0.0;
  std::string string;
  std::vector<JsonValue> array;
  std::vector<std::pair<std::string, JsonValue>> members;

  // The member of that name; nullptr when absent or not an object.
  const JsonValue* find(const std::string& name) const;
  // Member names in order.
  std::vector<std::string> names() const;
};

// nullopt with error set (offset and reason) when text is not exactly one JSON value.
std::optional<JsonValue> ParseJson(const std::string& text, std::string* error = nullptr);
