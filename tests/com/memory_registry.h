// A registry in memory, for applying registry scripts without Windows: keys
// and value names compare case-insensitively, as in the real registry.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "../support/case_less.h"
#include "com/registry_script.h"

namespace zv::test {

class MemoryRegistry : public zv::com::RegistryEditor {
 public:
  using RootKey = zv::com::RootKey;
  using ScriptValue = zv::com::ScriptValue;

  // Makes CreateKey and SetValue fail with `error` on this path.
  void FailOn(const std::string& path, long error) {
    failPath_ = path;
    failError_ = error;
  }
  int calls() const { return calls_; }

  long CreateKey(RootKey root, const std::string& path) override {
    ++calls_;
    if (path == failPath_) return failError_;
    Key* key = &roots_[Index(root)];
    for (const std::string& part : Split(path)) key = &key->subkeys[part];
    return 0;
  }
  bool KeyExists(RootKey root, const std::string& path) override {
    ++calls_;
    return Find(root, path) != nullptr;
  }
  bool HasSubkeys(RootKey root, const std::string& path) override {
    ++calls_;
    const Key* key = Find(root, path);
    return key && !key->subkeys.empty();
  }
  std::vector<std::string> ValueNames(RootKey root, const std::string& path) override {
    ++calls_;
    std::vector<std::string> names;
    if (const Key* key = Find(root, path))
      for (const auto& entry : key->values) names.push_back(entry.first);
    return names;
  }
  long SetValue(RootKey root, const std::string& path, const std::string& name, const ScriptValue& value) override {
    ++calls_;
    if (path == failPath_) return failError_;
    Key* key = Find(root, path);
    if (!key) return 2;  // ERROR_FILE_NOT_FOUND
    key->values[name] = value;
    return 0;
  }
  long DeleteValue(RootKey root, const std::string& path, const std::string& name) override {
    ++calls_;
    if (Key* key = Find(root, path)) key->values.erase(name);
    return 0;
  }
  long DeleteTree(RootKey root, const std::string& path) override {
    ++calls_;
    const std::vector<std::string> parts = Split(path);
    if (parts.empty()) return 87;  // ERROR_INVALID_PARAMETER: never the root itself
    Key* parent = &roots_[Index(root)];
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      auto found = parent->subkeys.find(parts[i]);
      if (found == parent->subkeys.end()) return 0;
      parent = &found->second;
    }
    parent->subkeys.erase(parts.back());
    return 0;
  }

  // Test set-up without the script: a key and optionally one value.
  void Put(RootKey root, const std::string& path, const std::string& name = {}, const std::string& text = {},
           bool withValue = false) {
    CreateKey(root, path);
    if (withValue) SetValue(root, path, name, ScriptValue{ScriptValue::Type::kString, text, 0});
  }

  // One line per key ("HKCR\a\b") and per value ("HKCR\a\b @ = 'x'",
  // "HKCR\a\b Name = d 5"), in case-insensitive order.
  std::vector<std::string> Dump() const {
    static const char* const kNames[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};
    std::vector<std::string> lines;
    for (int i = 0; i < 5; ++i)
      for (const auto& [name, key] : roots_[i].subkeys) DumpKey(std::string(kNames[i]) + "\\" + name, key, lines);
    return lines;
  }

 private:
  struct Key {
    std::map<std::string, ScriptValue, CaseInsensitiveLess> values;
    std::map<std::string, Key, CaseInsensitiveLess> subkeys;
  };

  static void DumpKey(const std::string& path, const Key& key, std::vector<std::string>& lines) {
    lines.push_back(path);
    for (const auto& [name, value] : key.values) {
      std::string line = path + " " + (name.empty() ? "@" : name) + " = ";
      line += value.type == ScriptValue::Type::kDword ? "d " + std::to_string(value.number) : "'" + value.text + "'";
      lines.push_back(line);
    }
    for (const auto& [name, sub] : key.subkeys) DumpKey(path + "\\" + name, sub, lines);
  }

  static int Index(RootKey root) { return static_cast<int>(root); }

  static std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
      const size_t end = path.find('\\', start);
      const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!part.empty()) parts.push_back(part);
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return parts;
  }

  Key* Find(RootKey root, const std::string& path) {
    Key* key = &roots_[Index(root)];
    for (const std::string& part : Split(path)) {
      auto found = key->subkeys.find(part);
      if (found == key->subkeys.end()) return nullptr;
      key = &found->second;
    }
    return key;
  }

  Key roots_[5];
  std::string failPath_ = "\x01";
  long failError_ = 0;
  int calls_ = 0;
};

}  // namespace zv::test
