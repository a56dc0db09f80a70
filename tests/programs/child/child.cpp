// A child process for the platform tests. Its arguments are commands, carried out in order:
//   out TEXT        write TEXT to standard output (\r, \n, \t and \\ stand for those bytes)
//   err TEXT        the same to standard error
//   fill N C        write N copies of the character C to standard output
//   sleep MS        sleep MS milliseconds (standard input is never read)
//   env NAME        print every environment entry whose name is NAME in any case, one a line
//   env-prefix P    print every environment entry whose name begins with P in any case, in the
//                   order of the environment
//   cwd             print the current folder
//   args            print every following argument between [ and ], one a line, and stop
//   spawn FILE N A… start this program with the N arguments A…, write its process ID to FILE,
//                   and go on with the commands after them
//   close-output    close standard output and standard error
//   new-session     leave the process group for a new session (POSIX; nothing on Windows)
//   lock FOLDER     take the launcher's lock on FOLDER and write "locked", "held elsewhere" or
//                   "failed: " + why as a line; a lock taken is held until the program ends
//   exit CODE       end with the exit code CODE
// Every write is flushed at once. Without arguments it plays a game started by the launcher:
// it writes "started.txt" (its current folder) where it runs, waits at most 20 s until a file
// "stop" appears there, then writes "ended.txt" and ends. When the first argument is no command
// it plays a tool such as msiexec: it writes its arguments, one a line, to the file named by
// LAUNCHER_TEST_FAKE_RECORD and ends with the exit code in LAUNCHER_TEST_FAKE_EXIT (0 without
// it).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "os.h"
#include "platform/folder_lock.h"
#include "platform/platform.h"

namespace {
namespace fs = std::filesystem;

std::string Unescape(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes.push_back(text[i]);
      continue;
    }
    const char next = text[++i];
    bytes.push_back(next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next);
  }
  return bytes;
}

void Write(std::FILE* stream, const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Whether the entry's name is `name` (or, with `prefix`, begins with it), in any case.
bool NameMatches(const std::string& entry, const std::string& name, bool prefix) {
  const std::size_t equals = entry.find('=', 1);
  if (equals == std::string::npos || equals < name.size()) return false;
  if (!prefix && equals != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (Lower(entry[i]) != Lower(name[i])) return false;
  }
  return true;
}

int PlayGame() {
  std::ofstream(fs::path("started.txt"), std::ios::binary) << launcher::PathToUtf8(fs::current_path());
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists("stop") && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::ofstream(fs::path("ended.txt"), std::ios::binary) << "ended";
  return 0;
}

int PlayTool(const std::vector<std::string>& args) {
  if (const char* record = std::getenv("LAUNCHER_TEST_FAKE_RECORD")) {
    std::ofstream out(launcher::PathFromUtf8(record), std::ios::binary);
    for (const std::string& arg : args) out << arg << '\n';
  }
  const char* code = std::getenv("LAUNCHER_TEST_FAKE_EXIT");
  return code != nullptr ? std::atoi(code) : 0;
}

const std::set<std::string> kCommands = {"out", "err",  "fill",  "sleep",        "env", "env-prefix",
                                         "cwd", "args", "spawn", "close-output", "new-session",
                                         "lock", "exit"};

int RunCommands(const std::vector<std::string>& args) {
  launcher::FolderLock lock;
  std::size_t i = 0;
  auto next = [&]() -> std::string { return i < args.size() ? args[i++] : std::string(); };
  while (i < args.size()) {
    const std::string command = next();
    if (command == "out") {
      Write(stdout, Unescape(next()));
    } else if (command == "err") {
      Write(stderr, Unescape(next()));
    } else if (command == "fill") {
      const std::size_t count = std::stoul(next());
      const std::string c = next();
      Write(stdout, std::string(count, c.empty() ? 'x' : c[0]));
    } else if (command == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(next())));
    } else if (command == "env" || command == "env-prefix") {
      const std::string name = next();
      for (const std::string& entry : child::Environment()) {
        if (NameMatches(entry, name, command == "env-prefix")) Write(stdout, entry + "\n");
      }
    } else if (command == "cwd") {
      Write(stdout, launcher::PathToUtf8(fs::current_path()) + "\n");
    } else if (command == "args") {
      while (i < args.size()) Write(stdout, "[" + next() + "]\n");
    } else if (command == "spawn") {
      const std::string pid_file = next();
      const std::size_t count = std::stoul(next());
      std::vector<std::string> grandchild(args.begin() + long(i), args.begin() + long(i + count));
      i += count;
      const std::uint64_t pid = child::StartSelf(grandchild);
      if (pid == 0) return 99;
      std::ofstream(launcher::PathFromUtf8(pid_file), std::ios::binary) << pid;
    } else if (command == "close-output") {
      child::CloseOutput();
    } else if (command == "new-session") {
      child::NewSession();
    } else if (command == "lock") {
      std::string error;
      switch (lock.Take(launcher::PathFromUtf8(next()), error)) {
        case launcher::FolderLock::Outcome::kHeld: Write(stdout, "locked\n"); break;
        case launcher::FolderLock::Outcome::kHeldElsewhere: Write(stdout, "held elsewhere\n"); break;
        case launcher::FolderLock::Outcome::kFailed: Write(stdout, "failed: " + error + "\n"); break;
      }
    } else if (command == "exit") {
      return std::atoi(next().c_str());
    } else {
      Write(stderr, "child: unknown command " + command + "\n");
      return 98;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  child::UseBinaryOutput();
  const std::vector<std::string> args = child::Arguments(argc, argv);
  if (args.empty()) return PlayGame();
  if (kCommands.count(args[0]) == 0) return PlayTool(args);
  return RunCommands(args);
}
