#include "catalogue/toolchain.h"

#include <nlohmann/json.hpp>

#include "catalogue/file_names.h"
#include "catalogue/json_read.h"
#include "platform/ascii.h"

namespace launcher {
namespace {

namespace jr = json_read;

constexpr size_t kSha256Length = 64;

// The last part of the url, its escapes decoded.
std::string FileNameOfUrl(const std::string& url) {
  const size_t slash = url.rfind('/');
  return PercentDecode(slash == std::string::npos ? url : url.substr(slash + 1));
}

// Reads one element of "tools"; false with the error set when it lacks what a tool needs.
bool ReadTool(const nlohmann::json& element, Tool& tool, std::string& error) {
  tool.id = jr::Text(element, "id");
  tool.title = jr::Text(element, "title", tool.id);
  tool.kind = jr::Text(element, "kind", "zip");
  tool.strip = jr::Int(element, "strip", 0);
  tool.optional = jr::Bool(element, "optional", false);
  tool.keep = jr::TextList(element, "keep", {});

  FileRef file;
  file.url = jr::Text(element, "url");
  file.sha256 = AsciiLower(jr::Text(element, "sha256"));
  file.size = jr::Unsigned(element, "size", 0);
  file.name = FileNameOfUrl(file.url);

  if (tool.id.empty() || file.url.empty() || file.sha256.size() != kSha256Length) {
    error = "toolchain.json: tool " + tool.id + " needs an id, a url and a sha256";
    return false;
  }
  // The id names the tool's folder under tools/ and the file name the download in it: a path
  // there would lead elsewhere (the description comes from the network, and a tool's folder is
  // removed when it is reinstalled).
  if (!IsPlainFileName(tool.id) || !IsPlainFileName(file.name)) {
    error = "toolchain.json: tool " + tool.id + " has an unsafe id or file name";
    return false;
  }
  tool.sha256 = file.sha256;
  for (const std::string& pattern : tool.keep) tool.sha256 += " " + pattern;
  tool.files.push_back(std::move(file));
  return true;
}

}  // namespace

uint64_t Tool::TotalSize() const {
  uint64_t total = 0;
  for (const FileRef& file : files) total += file.size;
  for (const FileRef& file : cabs) total += file.size;
  return total;
}

bool ParseToolchain(const std::string& json, std::vector<Tool>& tools, std::string& error) {
  const nlohmann::json document = jr::Parse<nlohmann::json>(json);
  const nlohmann::json* list = jr::Array(document, "tools");
  if (list == nullptr) {
    error = "toolchain.json is not readable";
    return false;
  }
  for (const nlohmann::json& element : *list) {
    Tool tool;
    if (!ReadTool(element, tool, error)) return false;
    tools.push_back(std::move(tool));
  }
  return true;
}

}  // namespace launcher
