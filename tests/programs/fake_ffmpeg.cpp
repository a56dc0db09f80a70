// Stands in for ffprobe and ffmpeg in the music tests (it is both: named ffprobe[.exe] it probes,
// under any other name it converts). It takes exactly the command lines the launcher gives and
// fails with "unexpected arguments" on any other. A song is a text file of lines:
//   duration=<s>, TAG:title=<t>, TAG:artist=<a>   what the probe prints, as they stand
//   fail <text>                                   the conversion prints the text and ends with 1
// Probing prints every line that is not a "fail" line. Converting writes "WMA of " + the song's
// bytes to the output file.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool IsProbe(std::string self) {
  for (char& c : self) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c == '\\' ? '/' : c;
  const std::size_t slash = self.rfind('/');
  const std::string name = slash == std::string::npos ? self : self.substr(slash + 1);
  return name.rfind("ffprobe", 0) == 0;
}

int Refuse(const std::vector<std::string>& args) {
  std::string line = "unexpected arguments:";
  for (const std::string& arg : args) line += " [" + arg + "]";
  std::printf("%s\n", line.c_str());
  return 3;
}

int Probe(const std::vector<std::string>& args) {
  const std::vector<std::string> expected = {
      "-v", "error", "-show_entries", "format=duration:format_tags=title,artist", "-of",
      "default=noprint_wrappers=1"};
  if (args.size() != expected.size() + 1 ||
      !std::equal(expected.begin(), expected.end(), args.begin())) {
    return Refuse(args);
  }
  for (const std::string& line : Lines(ReadAll(args.back()))) {
    if (line.rfind("fail ", 0) != 0) std::printf("%s\n", line.c_str());
  }
  return 0;
}

int Convert(const std::vector<std::string>& args) {
  const std::vector<std::string> before = {"-nostdin", "-y", "-v", "error", "-i"};
  const std::vector<std::string> after = {"-vn", "-map_metadata", "-1",    "-ac",  "2",   "-ar",
                                          "44100", "-c:a",      "wmav2", "-b:a", "160k"};
  if (args.size() != before.size() + 1 + after.size() + 1 ||
      !std::equal(before.begin(), before.end(), args.begin()) ||
      !std::equal(after.begin(), after.end(), args.begin() + std::ptrdiff_t(before.size()) + 1)) {
    return Refuse(args);
  }
  const std::string source = ReadAll(args[before.size()]);
  for (const std::string& line : Lines(source)) {
    if (line.rfind("fail ", 0) == 0) {
      std::fprintf(stderr, "%s\n", line.substr(5).c_str());
      return 1;
    }
  }
  std::ofstream(args.back(), std::ios::binary) << "WMA of " << source;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return IsProbe(argv[0]) ? Probe(args) : Convert(args);
}
