// The toolchain description: the build tools to download and install, and the resolution of
// Microsoft's packages through the Visual Studio channel.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/http.h"

namespace launcher {

struct FileRef {
  std::string name;
  std::string url;
  std::string sha256;
  uint64_t size = 0;  // 0 when not given
};

struct Tool {
  std::string id;
  std::string title;
  std::string kind;    // "zip", "tar.xz", "vsix" or "msi"
  std::string sha256;  // the stamp that proves an installed tool current
  std::vector<FileRef> files;
  std::vector<FileRef> cabs;
  int strip = 0;
  std::vector<std::string> keep;
  bool optional = false;

  uint64_t TotalSize() const;
};

struct Toolchain {
  std::vector<Tool> tools;  // toolchain.json's, then "msvc" and "winsdk"
  std::string sdk_version;
};

// Appends one Tool per element of "tools", in order; on a tool that lacks its id, url or sha256
// (or whose id or file name could not name a plain file) it stops with the tools before it
// appended.
bool ParseToolchain(const std::string& json, std::vector<Tool>& tools, std::string& error);

// Appends the "msvc" and "winsdk" tools resolved from the Visual Studio channel and sets the
// SDK version; appends nothing on failure. A set `cancel` (may be null) ends the fetches with
// kCancelled.
bool ResolveMicrosoftPackages(Http& http, const std::string& json, Toolchain& toolchain,
                              std::string& error, const std::atomic<bool>* cancel = nullptr);

// Appends one FileRef per element of a Visual Studio manifest package's "payloads".
void ParsePayloads(const nlohmann::json& package, std::vector<FileRef>& files);

// The external .cab file names (32 lowercase hexadecimal digits + ".cab") an .msi refers to,
// sorted and distinct.
std::vector<std::string> FindCabNames(const std::vector<uint8_t>& msi);

}  // namespace launcher
