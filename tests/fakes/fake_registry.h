#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace fakes {

// Keys and values the test puts in. Key names are compared as given.
class FakeRegistry : public platform::Registry {
 public:
  struct StoredValue {
    std::uint32_t type;
    std::vector<std::uint8_t> bytes;
  };

  void Put(const std::string& key, const std::string& name, std::uint32_t type,
           std::vector<std::uint8_t> bytes) {
    keys[key][name] = {type, std::move(bytes)};
  }
  void PutString(const std::string& key, const std::string& name, const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    Put(key, name, platform::kRegSz, std::move(bytes));
  }

  long OpenKey(platform::RegistryHandle root, const std::string& keyName,
               platform::RegistryHandle& key) override {
    if (root != platform::kHkeyLocalMachine) return platform::kErrorFileNotFound;
    if (!keys.contains(keyName)) return platform::kErrorFileNotFound;
    handles.push_back(keyName);
    key = static_cast<platform::RegistryHandle>(handles.size());
    ++openHandles;
    return platform::kErrorSuccess;
  }

  long QueryValue(platform::RegistryHandle key, const std::string& valueName, std::uint32_t& type,
                  std::vector<std::uint8_t>& buffer, std::uint32_t& length) override {
    ++queries;
    const auto& values = keys.at(handles.at(key - 1));
    auto it = values.find(valueName);
    if (it == values.end()) return platform::kErrorFileNotFound;
    type = it->second.type;
    length = static_cast<std::uint32_t>(it->second.bytes.size());
    if (buffer.size() < it->second.bytes.size()) return platform::kErrorMoreData;
    std::copy(it->second.bytes.begin(), it->second.bytes.end(), buffer.begin());
    return platform::kErrorSuccess;
  }

  void CloseKey(platform::RegistryHandle) override { --openHandles; }

  std::map<std::string, std::map<std::string, StoredValue>> keys;
  std::vector<std::string> handles;
  int openHandles = 0;
  int queries = 0;
};

}  // namespace fakes
