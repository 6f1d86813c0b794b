// Capture settings from a map, counting the reads.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "handoff/capture_filter.h"

namespace zv::test {

class MapSettings final : public zv::handoff::SettingsSource {
 public:
  MapSettings() = default;
  explicit MapSettings(std::map<std::string, std::string> values) : values_(std::move(values)) {}
  std::optional<std::string> Read(const char* name) override {
    reads.push_back(name);
    const auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }
  std::vector<std::string> reads;

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace zv::test
