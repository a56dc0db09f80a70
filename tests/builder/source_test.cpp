// The build environment, git's progress lines, the git steps of fetching the source (with a
// stand-in git that records what it was asked) and the XBE files in the source tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder/git_progress.h"
#include "builder_fixture.h"
#include "catalogue/toolchain.h"
#include "platform/sha.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) { return PathToUtf8(path); }

// --- Small helpers ----------------------------------------------------------------------------

TEST(NewestSubfolder, ComparesNamesAsTextAndSkipsFiles) {
  ScratchDir dir;
  EXPECT_EQ(NewestSubfolder(dir / "missing"), fs::path());
  EXPECT_EQ(NewestSubfolder(dir.path()), fs::path());
  fs::create_directories(dir / "14.44.35207");
  fs::create_directories(dir / "14.9.1");
  WriteFile(dir / "9.txt", "a file sorts last but is no folder");
  EXPECT_EQ(NewestSubfolder(dir.path()), dir / "14.9.1");
}

TEST(JoinStrings, PutsTheSeparatorOnlyBetween) {
  EXPECT_EQ(JoinStrings(';', {}), "");
  EXPECT_EQ(JoinStrings(';', {fs::path("a")}), "a");
  EXPECT_EQ(JoinStrings(':', {fs::path("a"), fs::path("b c"), fs::path("d")}), "a:b c:d");
}

TEST(ReadGitProgress, TurnsProgressLinesIntoDetailAndFraction) {
  struct Case {
    const char* line;
    bool progress;
    const char* detail;
    double fraction;
  };
  const Case cases[] = {
      {"Receiving objects:  45% (450/1000), 1.20 MiB | 2.00 MiB/s", true, "Receiving objects",
       0.45},
      {"Resolving deltas: 100% (12/12), done.", true, "Resolving deltas", 1.0},
      {"remote: Compressing objects:  50% (5/10)", true, "remote", 0.5},
      {"Updating files:  7.5% (3/40)", true, "Updating files", 0.075},
      {"50% of it", true, "50% of it", 0.5},     // no colon: the whole line is the detail
      {"abc%", true, "abc%", 0.0},               // no number before the sign reads as 0
      {"size: 12ab% done", true, "size", 0.12},  // the number's longest prefix
      {"x: inf%", true, "x", 0.0},               // only digits make a number
      {"at 3.%", true, "at 3.%", 0.03},
      {"%", false, "", 0},
      {"5%", false, "", 0},  // the sign at index 1
      {"Cloning into 'source'...", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string detail = "unchanged";
    double fraction = -7;
    ASSERT_EQ(ReadGitProgress(c.line, detail, fraction), c.progress);
    if (!c.progress) {
      EXPECT_EQ(detail, "unchanged");
      EXPECT_EQ(fraction, -7);
      continue;
    }
    EXPECT_EQ(detail, c.detail);
    EXPECT_DOUBLE_EQ(fraction, c.fraction);
  }
}

// --- The build environment --------------------------------------------------------------------

class BuildEnvironmentTest : public BuilderTest {
 protected:
  void SetUp() override { MakeBuilder(); }

  fs::path Tools() { return root / "tools"; }
  fs::path Kits() { return Tools() / "winsdk" / "Windows Kits" / "10"; }
  std::string Sep() { return std::string(1, platform.PathListSeparator()); }

  std::string ToolPath(const std::string& version) {
    return Utf8(Tools() / "llvm" / "bin") + Sep() + Utf8(Tools() / "cmake" / "bin") + Sep() +
           Utf8(Tools() / "ninja") + Sep() + Utf8(Tools() / "git" / "cmd") + Sep() +
           Utf8(Kits() / "bin" / version / "x64");
  }
};

TEST_F(BuildEnvironmentTest, WithoutMsvcOnlyPathAndGitsSettings) {
  platform.env["PATH"] = "inherited";
  Toolchain toolchain;
  toolchain.sdk_version = "10.0.26100.0";
  EXPECT_EQ(builder->BuildEnvironment(toolchain),
            (std::map<std::string, std::string>{{"PATH", ToolPath("") + Sep() + "inherited"},
                                                {"GIT_CONFIG_COUNT", "1"},
                                                {"GIT_CONFIG_KEY_0", "safe.directory"},
                                                {"GIT_CONFIG_VALUE_0", "*"}}));

  // An empty inherited PATH leaves no separator at the end.
  platform.env["PATH"] = "";
  EXPECT_EQ(builder->BuildEnvironment(toolchain)["PATH"], ToolPath(""));
}

TEST_F(BuildEnvironmentTest, MsvcAndTheSdkVersionFolders) {
  platform.env["PATH"] = "";
  const fs::path msvc_root = Tools() / "msvc" / "VC" / "Tools" / "MSVC";
  fs::create_directories(msvc_root / "14.44.35207");
  fs::create_directories(msvc_root / "14.9.0");  // sorts last as text
  fs::create_directories(Kits() / "Include" / "10.0.22621.0");
  fs::create_directories(Kits() / "Include" / "10.0.26100.0");
  fs::create_directories(Kits() / "Include" / "10.0.19041.0");
  struct Case {
    const char* sdk_version;  // what the toolchain names
    const char* used;         // the version folder used
  };
  const Case cases[] = {{"10.0.22621.0", "10.0.22621.0"},
                        {"10.0.99999.0", "10.0.26100.0"},  // missing: the greatest one
                        {"", "10.0.26100.0"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sdk_version);
    Toolchain toolchain;
    toolchain.sdk_version = c.sdk_version;
    const std::string v = c.used;
    const fs::path m = msvc_root / "14.9.0";
    const fs::path include = Kits() / "Include" / v;
    const fs::path lib = Kits() / "Lib" / v;
    EXPECT_EQ(builder->BuildEnvironment(toolchain),
              (std::map<std::string, std::string>{
                  {"PATH", ToolPath(v)},
                  {"GIT_CONFIG_COUNT", "1"},
                  {"GIT_CONFIG_KEY_0", "safe.directory"},
                  {"GIT_CONFIG_VALUE_0", "*"},
                  {"INCLUDE", Utf8(m / "include") + Sep() + Utf8(include / "ucrt") + Sep() +
                                  Utf8(include / "shared") + Sep() + Utf8(include / "um") + Sep() +
                                  Utf8(include / "winrt") + Sep() + Utf8(include / "cppwinrt")},
                  {"LIB", Utf8(m / "lib" / "x64") + Sep() + Utf8(lib / "ucrt" / "x64") + Sep() +
                              Utf8(lib / "um" / "x64")},
                  {"VCToolsInstallDir", Utf8(m) + "\\"},
                  {"WindowsSdkDir", Utf8(Kits()) + "\\"},
                  {"WindowsSDKVersion", v + "\\"}}));
  }
}

// --- git, with a stand-in in tools/git/cmd ----------------------------------------------------

class GitTest : public BuilderTest {
 protected:
  void SetUp() override {
    game.repo = "https://example.invalid/owner/halvorn.git";
    game.branch = "main";
    MakeBuilder();
  }

  // Puts the stand-in git where the toolchain's own git goes.
  void InstallFakeGit() {
    const fs::path git = root / "tools" / "git" / "cmd" / ("git" + platform.ExeSuffix());
    fs::create_directories(git.parent_path());
    fs::copy_file(TestProgram("fake_git"), git, fs::copy_options::overwrite_existing);
  }

  // The stand-in's calls so far, one per element, arguments joined with '|'.
  std::vector<std::string> Calls() { return TextLines(ReadFile(root / "git_calls.txt")); }

  std::string Source() { return Utf8(root / "source"); }

  std::string err;
};

TEST_F(GitTest, RunsTheToolchainsGitInTheBuildEnvironment) {
  InstallFakeGit();
  std::string out;
  EXPECT_EQ(builder->Git({"fetch", "--progress", "origin"}, &out, err), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(Calls(), std::vector<std::string>{"fetch|--progress|origin"});

  // Each line once, with a line feed, whether git ended it with CR or LF.
  EXPECT_EQ(out,
            "remote: Counting objects:  10% (1/10)\nReceiving objects:  50% (1/2)\n"
            "Receiving objects: 100% (2/2), done.\n");
  EXPECT_TRUE(Logged("git: Receiving objects:  50% (1/2)"));
  std::vector<std::pair<std::string, double>> reports;
  for (const Status& status : statuses) {
    EXPECT_EQ(status.title, "Downloading the game's source");
    reports.emplace_back(status.detail, status.fraction);
  }
  EXPECT_EQ(reports, (std::vector<std::pair<std::string, double>>{
                         {"remote", 0.1}, {"Receiving objects", 0.5}, {"Receiving objects", 1.0}}));

  // What the child saw: the separator of this system, the tools first, git's settings.
  const std::vector<std::string> env = TextLines(ReadFile(root / "git_env.txt"));
  ASSERT_FALSE(env.empty());
  const std::string path_start =
      "PATH=" + Utf8(root / "tools" / "llvm" / "bin") + platform.PathListSeparator() +
      Utf8(root / "tools" / "cmake" / "bin") + platform.PathListSeparator();
  EXPECT_TRUE(env[0].starts_with(path_start)) << env[0];
  EXPECT_EQ(std::vector<std::string>(env.begin() + 1, env.end()),
            (std::vector<std::string>{"GIT_CONFIG_COUNT=1", "GIT_CONFIG_KEY_0=safe.directory",
                                      "GIT_CONFIG_VALUE_0=*"}));
}

TEST_F(GitTest, AFailureNamesTheCommandAndItsCode) {
  InstallFakeGit();
  WriteFile(root / "git_fail.txt", "describe");
  EXPECT_EQ(builder->Git({"describe", "--tags"}, nullptr, err), 128);
  EXPECT_EQ(err, "git describe failed (128), see launcher.log");
  EXPECT_TRUE(Logged("git: fatal: describe failed on purpose"));

  // A stopped run.
  err.clear();
  builder->cancel = true;
  EXPECT_EQ(builder->Git({"status"}, nullptr, err), -1);
  EXPECT_EQ(err, "git status failed (-1), see launcher.log");
}

TEST_F(GitTest, FetchSourceClonesOnceThenFetchesTheWantedRevision) {
  InstallFakeGit();
  struct Case {
    const char* launcher_version;
    std::vector<std::string> first;   // calls when there is no clone yet
    std::vector<std::string> second;  // calls once the clone is there
  };
  const std::string s = Source();
  const Case cases[] = {
      {"v1.2",
       {"clone|--progress|--branch|v1.2|" + game.repo + "|" + s,
        "-C|" + s + "|submodule|update|--init|--recursive|--progress"},
       {"-C|" + s + "|fetch|--progress|--force|origin|refs/tags/v1.2:refs/tags/v1.2",
        "-C|" + s + "|reset|--hard|v1.2",
        "-C|" + s + "|submodule|update|--init|--recursive|--progress"}},
      {"dev",
       {"clone|--progress|--branch|main|" + game.repo + "|" + s,
        "-C|" + s + "|submodule|update|--init|--recursive|--progress"},
       {"-C|" + s + "|fetch|--progress|origin|main", "-C|" + s + "|reset|--hard|origin/main",
        "-C|" + s + "|submodule|update|--init|--recursive|--progress"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.launcher_version);
    game.launcher_version = c.launcher_version;
    MakeBuilder();
    std::error_code ec;
    fs::remove_all(root / "source", ec);
    fs::remove(root / "git_calls.txt", ec);
    // What an interrupted first clone left: no .git, so it goes.
    WriteFile(root / "source" / "half-cloned.txt", "partial");

    ASSERT_TRUE(builder->FetchSource(err)) << err;
    EXPECT_EQ(Calls(), c.first);
    EXPECT_FALSE(fs::exists(root / "source" / "half-cloned.txt"));
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front().title, "Downloading the game's source");
    EXPECT_EQ(statuses.front().fraction, -1);

    fs::remove(root / "git_calls.txt", ec);
    ASSERT_TRUE(builder->FetchSource(err)) << err;
    EXPECT_EQ(Calls(), c.second);
  }
}

TEST_F(GitTest, FetchSourceStopsAtTheFirstFailure) {
  InstallFakeGit();
  game.launcher_version = "dev";
  MakeBuilder();
  fs::create_directories(root / "source" / ".git");
  WriteFile(root / "git_fail.txt", "fetch");
  EXPECT_FALSE(builder->FetchSource(err));
  EXPECT_EQ(err, "git -C failed (128), see launcher.log");  // git's first argument
  EXPECT_EQ(Calls().size(), 1u);

  WriteFile(root / "git_fail.txt", "clone");
  fs::remove_all(root / "source");
  fs::remove(root / "git_calls.txt");
  EXPECT_FALSE(builder->FetchSource(err));
  EXPECT_EQ(err, "git clone failed (128), see launcher.log");
  EXPECT_EQ(Calls().size(), 1u);
}

// --- The XBE files in the source tree ---------------------------------------------------------

class PutGameXbeTest : public BuilderTest {
 protected:
  void SetUp() override {
    xbe = "XBEH" + std::string(100, 'd');
    Sha1 sha1;
    sha1.Update(reinterpret_cast<const uint8_t*>(xbe.data()), xbe.size());
    game.releases = {{sha1.FinalHex(), "Europe"}};
    game.xbes = {"default.xbe", "bonus.xbe"};
    copy = scratch / "Halvorn disc";
    WriteFile(copy / "default.xbe", xbe);
    WriteFile(copy / "bonus.xbe", "bonus bytes");
    WriteFile(copy / "Media" / "a.wav", "wav");
    WriteFile(copy / "extra.xbe", "extra bytes");
    fs::create_directories(root);
    MakeBuilder();
  }

  fs::path Assets() { return root / "source" / "assets"; }

  std::string xbe;
  fs::path copy;
  std::string err;
};

TEST_F(PutGameXbeTest, WritesEachListedXbeOnceItsBytesDiffer) {
  builder->SetSetting("game", Utf8(copy));
  ASSERT_TRUE(builder->PutGameXbe(err)) << err;
  EXPECT_EQ(ReadFile(Assets() / "default.xbe"), xbe);
  EXPECT_EQ(ReadFile(Assets() / "bonus.xbe"), "bonus bytes");
  EXPECT_FALSE(fs::exists(Assets() / "extra.xbe"));
  EXPECT_TRUE(Logged("xbe written to " + Utf8(Assets() / "default.xbe")));

  // Unchanged bytes are neither written nor logged; changed ones are replaced.
  log.clear();
  WriteFile(Assets() / "bonus.xbe", "stale");
  const auto written = fs::last_write_time(Assets() / "default.xbe");
  ASSERT_TRUE(builder->PutGameXbe(err)) << err;
  EXPECT_EQ(log, std::vector<std::string>{"xbe written to " + Utf8(Assets() / "bonus.xbe")});
  EXPECT_EQ(ReadFile(Assets() / "bonus.xbe"), "bonus bytes");
  EXPECT_EQ(fs::last_write_time(Assets() / "default.xbe"), written);
}

TEST_F(PutGameXbeTest, AReleaseWithItsOwnListUsesIt) {
  game.release_xbes = {{game.releases.begin()->first, {"default.xbe", "extra.xbe"}}};
  MakeBuilder();
  builder->SetSetting("game", Utf8(copy));
  ASSERT_TRUE(builder->PutGameXbe(err)) << err;
  EXPECT_EQ(ReadFile(Assets() / "extra.xbe"), "extra bytes");
  EXPECT_FALSE(fs::exists(Assets() / "bonus.xbe"));
}

TEST_F(PutGameXbeTest, Failures) {
  EXPECT_FALSE(builder->PutGameXbe(err));
  EXPECT_EQ(err, "Choose the game first.");

  // The recorded copy has gone: the identification's own sentence.
  builder->SetSetting("game", Utf8(scratch / "gone"));
  EXPECT_FALSE(builder->PutGameXbe(err));
  EXPECT_EQ(err, IdentifyGameCopy(game, scratch / "gone").message);
  EXPECT_FALSE(err.empty());

  // A listed XBE the copy lacks: the reader's error; the ones before it stay written.
  game.xbes = {"default.xbe", "missing.xbe"};
  MakeBuilder();
  builder->SetSetting("game", Utf8(copy));
  EXPECT_FALSE(builder->PutGameXbe(err));
  EXPECT_NE(err.find("missing.xbe"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(Assets() / "default.xbe"), xbe);

  // A name that would lead out of the assets folder is refused before anything is read.
  game.xbes = {"../escape.xbe"};
  WriteFile(scratch / "escape.xbe", "outside");
  MakeBuilder();
  builder->SetSetting("game", Utf8(copy));
  EXPECT_FALSE(builder->PutGameXbe(err));
  EXPECT_EQ(err, "The game description names an XBE outside the game's folder: ../escape.xbe");
  EXPECT_FALSE(fs::exists(root / "source" / "escape.xbe"));
}

}  // namespace
}  // namespace launcher::test
