// Platform on POSIX systems: the child process runner with a reaper per run, msiextract (checked
// against msiinfo's File table) for Windows Installer packages, a directory symbolic link for
// the folder link, link(2), and a detached child in its own session for the game.
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <system_error>

#include "platform/archive_file.h"
#include "platform/msi_file_table.h"
#include "platform/platform.h"
#include "platform/platform_detail.h"
#include "platform/process_posix.h"

extern char** environ;

namespace launcher {
namespace fs = std::filesystem;
namespace {

// LastErrorText for the error number `code`, whatever happened to errno since it was set.
std::string ErrorText(const std::string& text, int code) {
  errno = code;
  return LastErrorText(text.c_str());
}

bool ReadChildError(int fd, int& code) {
  for (;;) {
    const ssize_t got = read(fd, &code, sizeof code);
    if (got < 0 && errno == EINTR) continue;
    return got == ssize_t(sizeof code);
  }
}

void WriteChildError(int fd) {
  const int code = errno;
  const ssize_t ignored = write(fd, &code, sizeof code);
  (void)ignored;
}

// The long names of the files in the package's File table, read with msitools' msiinfo; false
// when the table cannot be read.
bool ReadMsiFileNames(const fs::path& package, std::vector<std::string>& names) {
  std::vector<std::string> lines;
  const int code = RunProcess({"msiinfo", "export", package.string(), "File"}, {}, {},
                              [&](const std::string& line) { lines.push_back(line); }, nullptr);
  return code == 0 && ParseMsiFileTable(lines, names);
}

// Whether a file of each name in the File table was written (as many of a name as the table
// has); the log names every file that is missing.
bool AllFilesWritten(const fs::path& package, std::map<std::string, int> written,
                     std::ofstream& log) {
  std::vector<std::string> names;
  if (!ReadMsiFileNames(package, names)) {
    log << "msiinfo cannot read the package's File table\n";
    return false;
  }
  bool all = true;
  for (const std::string& name : names) {
    if (written[name]-- > 0) continue;
    log << "msiextract did not write " << name << "\n";
    all = false;
  }
  return all;
}

class PosixPlatform : public Platform {
 public:
  int Run(const std::vector<std::string>& args, const fs::path& cwd,
          const std::map<std::string, std::string>& env, const LineSink& sink,
          const std::atomic<bool>* cancel) override {
    return RunProcess(args, cwd, env, sink, cancel);
  }

  // msiextract writes every file it unpacks as a path below the target, one per line, and exits
  // 0 for a package that does not exist, and for one whose cabinet lacks files (it writes the
  // rest). So a package counts as unpacked only when every file of its File table, read with
  // msiinfo, was written.
  bool ExtractMsi(const fs::path& msi, const fs::path& target, std::string& error) override {
    std::error_code ec;
    const fs::path package = fs::absolute(msi, ec);
    const fs::path folder = fs::absolute(target, ec);
    const fs::path log_path = MsiLogPath(package, folder);
    fs::create_directories(log_path.parent_path(), ec);
    std::ofstream log(log_path, std::ios::binary | std::ios::trunc);
    std::map<std::string, int> written;  // file name -> how many were written
    const int code = RunProcess(
        {"msiextract", "-C", folder.string(), package.string()}, package.parent_path(), {},
        [&](const std::string& line) {
          log << line << '\n';
          if (fs::is_regular_file(folder / line, ec)) ++written[line.substr(line.rfind('/') + 1)];
        },
        nullptr);
    if (code == 0) {
      if (!fs::is_regular_file(package, ec)) {
        log << "the package does not exist\n";
      } else if (written.empty()) {
        log << "msiextract unpacked no file\n";
      } else if (AllFilesWritten(package, written, log)) {
        return true;
      }
    }
    error = MsiExtractError(package, "msiextract", code, log_path);
    return false;
  }

  bool LinkFolder(const fs::path& link, const fs::path& target, std::string& error) override {
    if (symlink(target.c_str(), link.c_str()) == 0) return true;
    const int code = errno;
    error = LinkFolderError(
        ErrorText("cannot link " + PathToUtf8(link) + " to " + PathToUtf8(target), code) + "\n");
    return false;
  }

  bool HardLink(const fs::path& link, const fs::path& existing) override {
    return ::link(existing.c_str(), link.c_str()) == 0;
  }

  // Two forks: the middle process starts a new session, forks the game and ends at once, so the
  // game belongs to no process of the launcher (never left as a zombie, never killed with the
  // launcher's process group). A pipe closed on exec brings back the error of a failed start.
  bool StartGame(const fs::path& exe, const fs::path& cwd, std::string& error) override {
    std::error_code ec;
    std::string program = fs::absolute(exe, ec).string();
    const std::string folder = cwd.string();
    char* argv[] = {program.data(), nullptr};
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return Fail(error, errno);

    const pid_t middle = fork();
    if (middle < 0) {
      const int code = errno;
      close(report[0]);
      close(report[1]);
      return Fail(error, code);
    }
    if (middle == 0) StartDetached(program.c_str(), argv, folder.c_str(), report);

    close(report[1]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int code = 0;
    const bool failed = ReadChildError(report[0], code);
    close(report[0]);
    if (failed) return Fail(error, code);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return Fail(error, ECHILD);
    return true;
  }

  std::string ExeSuffix() override { return ""; }

  char PathListSeparator() override { return ':'; }

  std::string GetEnv(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? value : "";
  }

 private:
  static bool Fail(std::string& error, int code) {
    error = ErrorText("Could not start the game", code);
    return false;
  }

  // Runs in the forked middle process: only calls that are safe after fork in a threaded program.
  [[noreturn]] static void StartDetached(const char* program, char* const argv[],
                                         const char* folder, const int report[2]) {
    close(report[0]);
    if (setsid() < 0) {
      WriteChildError(report[1]);
      _exit(1);
    }
    const pid_t game = fork();
    if (game < 0) {
      WriteChildError(report[1]);
      _exit(1);
    }
    if (game > 0) _exit(0);

    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &default_action, nullptr);
    if (folder[0] != '\0' && chdir(folder) != 0) {
      WriteChildError(report[1]);
      _exit(127);
    }
    // Only the standard streams pass to the game, like a start without inherited handles.
    close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    execve(program, argv, environ);
    WriteChildError(report[1]);
    _exit(127);
  }
};

}  // namespace

std::unique_ptr<Platform> CreatePlatform() { return std::make_unique<PosixPlatform>(); }

}  // namespace launcher
