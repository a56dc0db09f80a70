// The prebuilt-package road end to end (see package_fixture.h for the stand-ins).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder/package_fixture.h"
#include "catalogue/release.h"
#include "platform/file_ops.h"
#include "platform/progress.h"
#include "support/cancelled_run.h"
#include "support/scratch.h"

namespace launcher::test {
namespace {

TEST_F(BuilderPackageTest, ADiscAndOneButtonMakeAPlayableGame) {
  ASSERT_TRUE(ChooseTheDisc());
  Script("record\nsay progress 1 0 2 0 100\nsay [0.1] loading\nsay [0.2] Game code: 2 functions\n"
         "say progress 1 2 2 100 100\nsay all done\ndll\n");
  std::vector<std::string> flushes;
  const Builder::DiskFlush system = builder->disk_flush;
  builder->disk_flush = {[&](const fs::path& path, std::string& why) {
                           flushes.push_back("files " + PathToUtf8(path));
                           return system.files(path, why);
                         },
                         [&](const fs::path& path, std::string& why) {
                           flushes.push_back("folder " + PathToUtf8(path));
                           return system.folder(path, why);
                         }};
  ASSERT_TRUE(Build()) << err;
  // One flush of what was staged and one of the play folder (see SwapTest for their order).
  EXPECT_EQ(flushes, (std::vector<std::string>{"files " + PathToUtf8(Next()),
                                               "folder " + PathToUtf8(Play())}));

  // The game is in place, with the package's files.
  EXPECT_TRUE(builder->IsGameInPlace());
  EXPECT_EQ(ReadFile(Play() / Exe()), game_bytes);
  EXPECT_EQ(ReadFile(Play() / "Halvorn.dll"), "the game's library");
  EXPECT_EQ(ReadFile(Play() / "bin" / "data.bin"), noise);
  EXPECT_EQ(ReadFile(Play() / "readme.txt"), "read me");
  EXPECT_EQ(ReadFile(Play() / "data" / "level.toml"), "kept: not at the top");
  EXPECT_EQ(ReadFile(Play() / "package.stamp"), published_sha256);
  EXPECT_EQ(Setting("built"), "v1.0");
  EXPECT_FALSE(fs::exists(Next()));
  EXPECT_FALSE(fs::exists(root / "downloads" / kPackage));
  EXPECT_EQ(builder->package_step, 4);

  // What belongs to the player is untouched.
  EXPECT_EQ(ReadFile(Play() / "logs" / "old.log"), "the player's log");
  EXPECT_FALSE(fs::exists(Play() / "logs" / "package.log"));
  EXPECT_EQ(ReadFile(Play() / "settings.toml"), "the player's settings");
  EXPECT_FALSE(fs::exists(Play() / "config.toml"));
  EXPECT_EQ(ReadFile(Play() / "hdd" / "E" / "save.dat"), "the player's save");
  EXPECT_EQ(ReadFile(Play() / "assets" / "Halvorn.iso"), ReadFile(image));
  EXPECT_FALSE(fs::exists(Play() / "assets" / "default.xbe"));
  EXPECT_FALSE(fs::exists(Play() / "compiler"));

  // The game ran once, with "--prepare-code", in the staging folder.
  const std::vector<std::string> runs = TextLines(ReadFile(root / "fake_game_runs.txt"));
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_NE(runs[0].find(Exe() + " --prepare-code in "), std::string::npos) << runs[0];
  EXPECT_EQ(runs[0].substr(runs[0].size() - 5), ".next") << runs[0];

  // The log: banner, the four stages, the game's lines, the timing summary.
  const std::vector<std::string> file = LogFileLines();
  EXPECT_EQ(file.size() >= log.size() ? std::vector<std::string>(file.end() - log.size(), file.end())
                                      : file,
            log);
  ASSERT_GE(log.size(), 12u);
  EXPECT_TRUE(std::regex_match(log[0], std::regex(R"(build started \d{4}-\d\d-\d\d, \d+ logical processors)")))
      << log[0];
  const std::vector<std::string> stages = {"package download", "package unpack",
                                           "compile game code", "replace the game"};
  std::vector<std::string> stage_lines;
  for (const std::string& line : log) {
    if (line.rfind("stage ", 0) == 0) stage_lines.push_back(line);
  }
  ASSERT_EQ(stage_lines.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    // The swap says how much of its time went on putting the new version on the disk.
    const std::string note = i == 3 ? R"( \(\d+\.\d s of it flushing to the disk\))" : "";
    EXPECT_TRUE(std::regex_match(stage_lines[i],
                                 std::regex("stage " + stages[i] + R"(: \d+\.\d s)" + note)))
        << stage_lines[i];
  }
  EXPECT_TRUE(Logged("game: [0.2] Game code: 2 functions"));
  EXPECT_TRUE(Logged("game: all done"));
  EXPECT_FALSE(Logged("game: [0.1] loading"));
  const size_t end = log.size();
  EXPECT_TRUE(std::regex_match(log[end - 5], std::regex(R"(timing: 4 stages, \d+\.\d s in all)")))
      << log[end - 5];
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(std::regex_match(log[end - 4 + i],
                                 std::regex(R"(timing: +\d+\.\d s +\d+\.\d%  )" + stages[i])))
        << log[end - 4 + i];
  }

  // Progress: the package steps only go forward, and the last report says "Ready".
  ASSERT_FALSE(statuses.empty());
  EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
  EXPECT_EQ(steps.front(), 1);
  EXPECT_NE(std::find(steps.begin(), steps.end(), 2), steps.end());
  EXPECT_EQ(statuses.back().title, "Ready");
  EXPECT_DOUBLE_EQ(statuses.back().fraction, 1.0);
  auto seen = [this](const std::string& title, const std::string& detail) {
    return std::any_of(statuses.begin(), statuses.end(), [&](const Status& s) {
      return s.title == title && (detail.empty() || s.detail == detail);
    });
  };
  const std::string size = FormatSize(fs::file_size(scratch / "published" / kPackage));
  EXPECT_TRUE(seen("Downloading the game's package", size + " of " + size));
  EXPECT_TRUE(seen("Unpacking the game's package", ""));
  EXPECT_TRUE(seen("Building Halvorn for this PC", "Starting"));
  EXPECT_TRUE(seen("Building Halvorn for this PC", "0 of 2 files"));
  EXPECT_TRUE(seen("Building Halvorn for this PC", "Finishing the build"));
}

TEST_F(BuilderPackageTest, ThePlayersFoldersSurviveAPackageThatSpellsThemOtherwise) {
  PublishGameWith({
      {"././hdd/E/save.dat", "the package's save"},
      {".//logs/package.log", "the package's log"},
      {"././settings.toml", "the package's settings"},
      {"compiler/./work/o.obj", "work"},
  });
  ASSERT_TRUE(ChooseTheDisc());
  Script("dll\n");
  ASSERT_TRUE(Build()) << err;

  EXPECT_EQ(ReadFile(Play() / "hdd" / "E" / "save.dat"), "the player's save");
  EXPECT_EQ(ReadFile(Play() / "logs" / "old.log"), "the player's log");
  EXPECT_FALSE(fs::exists(Play() / "logs" / "package.log"));
  EXPECT_EQ(ReadFile(Play() / "settings.toml"), "the player's settings");
  EXPECT_FALSE(fs::exists(Play() / "compiler"));
}

TEST_F(BuilderPackageTest, AFolderWhereTheStagingStampGoesIsNoStampAndThrowsNothing) {
  PublishGameWith({
      {"package.stamp/x", "not a stamp"},
  });
  ASSERT_TRUE(ChooseTheDisc());
  // The preparation fails, so the staging folder stays with a folder where its stamp goes; the
  // next attempt reads that stamp.
  Script("");
  for (int run = 0; run < 2; ++run) {
    bool built = true;
    EXPECT_NO_THROW(built = Build()) << "run " << run;
    EXPECT_FALSE(built);
    EXPECT_EQ(err, "The build finished without Halvorn.dll, see launcher.log");
  }
}

TEST_F(BuilderPackageTest, AStopDuringTheDownloadResumesWithARangeRequest) {
  ASSERT_TRUE(ChooseTheDisc());
  StopWhen([](const Status& s) { return s.title == "Downloading the game's package" && s.fraction > 0; });
  EXPECT_FALSE(Build());
  ExpectStopped();
  EXPECT_EQ(StageLines("package download"), 1);
  EXPECT_TRUE(std::regex_match(log[1], std::regex(R"(stage package download: \d+\.\d s \(stopped\))")))
      << log[1];
  const fs::path part = root / "downloads" / (kPackage + ".part");
  ASSERT_TRUE(fs::exists(part));
  const uint64_t had = fs::file_size(part);
  EXPECT_GT(had, 0u);
  EXPECT_LT(had, fs::file_size(scratch / "published" / kPackage));

  on_status = nullptr;
  ASSERT_TRUE(Build()) << err;
  const std::vector<std::string> ranges = server.Ranges(kZipPath);
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0], "");
  EXPECT_EQ(ranges[1], "bytes=" + std::to_string(had) + "-");
  EXPECT_EQ(ReadFile(Play() / "bin" / "data.bin"), noise);
  EXPECT_FALSE(fs::exists(part));
}

TEST_F(BuilderPackageTest, AStopDuringTheUnpackMakesTheStagingFolderAgain) {
  ASSERT_TRUE(ChooseTheDisc());
  StopWhen([](const Status& s) { return s.title == "Unpacking the game's package" && s.fraction > 0; });
  EXPECT_FALSE(Build());
  ExpectStopped();
  EXPECT_EQ(StageLines("package unpack"), 1);
  EXPECT_TRUE(fs::exists(Next()));
  EXPECT_FALSE(fs::exists(Next() / "package.stamp"));
  EXPECT_TRUE(fs::exists(root / "downloads" / kPackage));  // kept for the next unpack
  WriteFile(Next() / "left over", "from the stopped unpack");

  // The next run unpacks afresh (its code preparation is stopped, to look at the staging).
  Script("say progress 1 1 4 10 100\nwait\n");
  StopWhen([](const Status& s) { return s.title == "Building Halvorn for this PC" && s.detail != "Starting"; });
  EXPECT_FALSE(Build());
  ExpectStopped();
  EXPECT_EQ(StageLines("package unpack"), 1);
  EXPECT_EQ(StageLines("package download"), 1);
  EXPECT_EQ(server.Count(kZipPath), 1);  // the complete zip was not fetched again
  EXPECT_FALSE(fs::exists(Next() / "left over"));
  EXPECT_EQ(ReadFile(Next() / "package.stamp"), published_sha256);
  EXPECT_EQ(ReadFile(Next() / "bin" / "data.bin"), noise);
  EXPECT_FALSE(fs::exists(root / "downloads" / kPackage));
}

TEST_F(BuilderPackageTest, AStopDuringTheCodePreparationSkipsTheUnpackNextTime) {
  ASSERT_TRUE(ChooseTheDisc());
  Script("say progress 1 1 4 10 100\nwait\n");
  StopWhen([](const Status& s) { return s.title == "Building Halvorn for this PC" && s.detail != "Starting"; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Build());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));  // not the game's 60 s
  ExpectStopped();
  EXPECT_TRUE(std::regex_match(StageLine("compile game code"),
                               std::regex(R"(stage compile game code: \d+\.\d s \(stopped\))")))
      << StageLine("compile game code");
  EXPECT_EQ(ReadFile(Next() / "package.stamp"), published_sha256);
  // As a run ended between the staging stamp and the removal of the download leaves it.
  MakePackage(root / "downloads" / kPackage);

  on_status = nullptr;
  fs::remove(root / "fake_game.txt");
  ASSERT_TRUE(Build()) << err;
  EXPECT_EQ(StageLines("package unpack"), 0);
  EXPECT_EQ(StageLines("compile game code"), 1);
  EXPECT_EQ(server.Count(kZipPath), 1);  // the staging folder holds it: no download either
  EXPECT_FALSE(fs::exists(root / "downloads" / kPackage));
  EXPECT_EQ(ReadFile(Play() / "package.stamp"), published_sha256);
  EXPECT_TRUE(builder->IsGameInPlace());
}

TEST_F(BuilderPackageTest, APackageBesideTheLauncherIsUsedAndKept) {
  ASSERT_TRUE(ChooseTheDisc());
  const fs::path beside = scratch / kPackage;  // the root's parent: the launcher's folder
  MakePackage(beside);
  server.Serve("/api/repos/owner/halvorn/releases/latest", R"({"tag_name": "v9.0"})");

  Script("say progress 1 1 4 10 100\nwait\n");
  StopWhen([](const Status& s) { return s.title == "Building Halvorn for this PC" && s.detail != "Starting"; });
  EXPECT_FALSE(Build());
  EXPECT_TRUE(Logged("package beside the launcher: " + PathToUtf8(beside)));
  EXPECT_EQ(StageLines("package download"), 0);
  EXPECT_EQ(StageLines("package unpack"), 1);
  EXPECT_EQ(server.TotalCount(), 0);
  int64_t ticks = 0;
  ASSERT_TRUE(LastWriteTicks(beside, ticks));
  const std::string stamp = std::to_string(fs::file_size(beside)) + " " + std::to_string(ticks);
  EXPECT_EQ(ReadFile(Next() / "package.stamp"), stamp);

  // The same zip again: the staging folder still holds it.
  EXPECT_FALSE(Build());
  EXPECT_EQ(StageLines("package unpack"), 0);

  // A zip with a new last-write time is unpacked afresh.
  fs::last_write_time(beside, fs::last_write_time(beside) + std::chrono::hours(1));
  on_status = nullptr;
  fs::remove(root / "fake_game.txt");
  ASSERT_TRUE(Build()) << err;
  EXPECT_EQ(StageLines("package unpack"), 1);
  EXPECT_EQ(server.TotalCount(), 0);
  EXPECT_TRUE(fs::exists(beside));
  ASSERT_TRUE(LastWriteTicks(beside, ticks));
  EXPECT_EQ(ReadFile(Play() / "package.stamp"),
            std::to_string(fs::file_size(beside)) + " " + std::to_string(ticks));
  EXPECT_EQ(Setting("built"), "v1.0");
}

TEST_F(BuilderPackageTest, AnInstallOfTheSamePackageAgainFetchesItAgain) {
  ASSERT_TRUE(ChooseTheDisc());
  ASSERT_TRUE(Build()) << err;
  fs::remove(Play() / "Halvorn.dll");  // something broke the game
  EXPECT_FALSE(builder->IsGameInPlace());
  ASSERT_TRUE(Build()) << err;
  EXPECT_EQ(server.Count(kZipPath), 2);
  EXPECT_TRUE(builder->IsGameInPlace());
  EXPECT_EQ(builder->package_step, 4);
}

TEST_F(BuilderPackageTest, AChosenCopyWhosePlayFolderWentIsLinkedAgainBeforeTheDownload) {
  ASSERT_TRUE(ChooseTheDisc());
  fs::remove_all(Play());  // launcher.json still names the disc image
  bool linked_at_download = false;
  on_status = [&](const Status& s) {
    if (s.title == "Downloading the game's package" && s.fraction == 0) {
      linked_at_download = fs::is_regular_file(Play() / "assets" / "Halvorn.iso");
    }
  };
  ASSERT_TRUE(Build()) << err;
  EXPECT_TRUE(linked_at_download);
  EXPECT_EQ(ReadFile(Play() / "assets" / "Halvorn.iso"), ReadFile(image));
  EXPECT_TRUE(builder->IsGameInPlace());
}

// A copy of the image cut short (by a kill, under an older launcher that wrote it straight under
// its name) is made again before the build uses it; so is one the player's image has outgrown.
TEST_F(BuilderPackageTest, ACopyOfTheImageOfAnotherSizeIsCopiedAgain) {
  platform.refuse_hard_links = true;
  ASSERT_TRUE(ChooseTheDisc());
  const fs::path copy = Play() / "assets" / "Halvorn.iso";
  const std::string whole = ReadFile(image);
  for (const std::string& cut : {whole.substr(0, whole.size() / 2), whole + "more"}) {
    SCOPED_TRACE(cut.size());
    WriteFile(copy, cut);
    WriteFile(Play() / "assets" / "Halvorn.iso.tmp", "what a killed copy left");
    ASSERT_TRUE(Build()) << err;
    EXPECT_TRUE(Logged("copying " + PathToUtf8(image) + " to " + PathToUtf8(copy)));
    EXPECT_EQ(ReadFile(copy), whole);
    EXPECT_FALSE(fs::exists(Play() / "assets" / "Halvorn.iso.tmp"));
  }
}

TEST_F(BuilderPackageTest, ALostCopyFailsBeforeAnythingIsDownloaded) {
  ASSERT_TRUE(ChooseTheDisc());
  const struct {
    const char* name;
    std::string image;  // what is left at the image's path; "" when nothing
    std::string error;
  } cases[] = {
      {"the image is gone", "",
       "Your copy of the game is no longer at " + PathToUtf8(image) + ": choose it again."},
      {"the image is another file", "not a disc", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Play() / "assets");
    fs::remove(image);
    if (!c.image.empty()) WriteFile(image, c.image);
    EXPECT_FALSE(Build());
    if (!c.error.empty()) ExpectFailedWith(c.error);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(server.TotalCount(), 0);
  }
}

TEST_F(BuilderPackageTest, ADevelopmentLauncherTakesTheLatestRelease) {
  game.launcher_version = "dev";
  MakeBuilder();
  ASSERT_TRUE(ChooseTheDisc());
  const std::string path = "/owner/halvorn/releases/download/v2.5/" + kPackage;
  Publish(scratch / "published" / kPackage, "", path);
  server.Serve("/api/repos/owner/halvorn/releases/latest", R"({"tag_name": "v2.5", "assets": []})");
  ASSERT_TRUE(Build()) << err;
  EXPECT_EQ(server.Count(path), 1);
  EXPECT_EQ(Setting("built"), "dev");
}

TEST_F(BuilderPackageTest, ADescriptionWithoutSizeDownloadsWithAnIndeterminateBar) {
  ASSERT_TRUE(ChooseTheDisc());
  Publish(scratch / "published" / kPackage,
          nlohmann::json{{"sha256", Sha256File(scratch / "published" / kPackage)}}.dump());
  ASSERT_TRUE(Build()) << err;
  std::vector<Status> downloads;
  for (const Status& s : statuses) {
    if (s.title == "Downloading the game's package" && !s.detail.empty()) downloads.push_back(s);
  }
  ASSERT_FALSE(downloads.empty());
  for (const Status& s : downloads) {
    EXPECT_DOUBLE_EQ(s.fraction, -1);
    EXPECT_TRUE(std::regex_match(s.detail, std::regex(R"(\d+ MB of 0 MB)"))) << s.detail;
  }
}

TEST_F(BuilderPackageTest, TheRepositoryLosesOnlyALowerCaseGitEnding) {
  ASSERT_TRUE(ChooseTheDisc());
  const struct {
    std::string repo;
    std::string path;
  } cases[] = {
      {"/owner/halvorn", "/owner/halvorn/releases/download/v1.0/"},
      {"/owner/halvorn.GIT", "/owner/halvorn.GIT/releases/download/v1.0/"},
  };
  for (const auto& c : cases) {
    game.repo = server.Url(c.repo);
    MakeBuilder();
    Publish(scratch / "published" / kPackage, "", c.path + kPackage);
    ASSERT_TRUE(Build()) << err;
    EXPECT_EQ(server.Count(c.path + kPackage + ".json"), 1) << c.repo;
  }
}

TEST_F(BuilderPackageTest, EarlyFailuresSayWhatIsMissing) {
  ASSERT_TRUE(Build() == false);
  ExpectFailedWith("Choose the game first.");
  EXPECT_EQ(log.size(), 3u);  // banner, timing summary of no stage, the reason
  EXPECT_EQ(log[1], "timing: 0 stages, 0.0 s in all");

  game.package.clear();
  game.packages = {{"ffffffffffffffffffffffffffffffffffffffff", "other.zip"}};
  MakeBuilder();
  ASSERT_TRUE(ChooseTheDisc());
  EXPECT_FALSE(Build());
  ExpectFailedWith("No package is known for this copy of the game: choose it again.");
  EXPECT_EQ(server.TotalCount(), 0);
}

TEST_F(BuilderPackageTest, DevelopmentLauncherWithoutAReleaseCannotFindThePackage) {
  game.launcher_version = "dev";
  MakeBuilder();
  ASSERT_TRUE(ChooseTheDisc());
  server.Status("/api/repos/owner/halvorn/releases/latest", 404);
  EXPECT_FALSE(Build());
  Release release;
  std::string lookup;
  ASSERT_FALSE(FetchLatestRelease(*http, game, release, lookup));
  ExpectFailedWith("Could not find the game's package: " + lookup + ".");
}

TEST_F(BuilderPackageTest, DescriptionProblemsNameTheTag) {
  ASSERT_TRUE(ChooseTheDisc());
  server.Status(kZipPath + ".json", 404);
  EXPECT_FALSE(Build());
  EXPECT_EQ(err.rfind("Could not find the game's package for v1.0: ", 0), 0u) << err;
  EXPECT_GT(err.size(), std::string("Could not find the game's package for v1.0: ").size());
  ExpectFailedWith(err);

  for (const char* description :
       {"[1]", "{\"size\": 10}", "{\"sha256\": 5}", "not json", "{\"sha256\": \"ab\""}) {
    SCOPED_TRACE(description);
    server.Serve(kZipPath + ".json", description);
    EXPECT_FALSE(Build());
    ExpectFailedWith("The package's description for v1.0 could not be read.");
  }
  EXPECT_EQ(server.Count(kZipPath), 0);
}

TEST_F(BuilderPackageTest, FailedFetchesSayWhatTheServerDidAndWhenToPressAgain) {
  ASSERT_TRUE(ChooseTheDisc());
  const std::string description = kZipPath + ".json";
  const std::string server_hint =
      " (the server has a fault of its own; press the button again later)";
  const std::string reach_hint =
      " (the server could not be reached; press the button again to carry on)";
  const std::string refused_hint =
      " (the server refuses the download for now: press the button again later)";
  const std::string busy_hint =
      " (the server has had too many requests: wait a few minutes, then press the button "
      "again)";
  const std::string unpublished_hint =
      " (this version's package is not published yet: press the button again later)";
  const std::string find = "Could not find the game's package for v1.0: the server answered ";
  const std::string fetch = "Could not fetch the game's package for v1.0: the server answered ";
  const std::string download = "Could not download the game's package: the server answered ";
  const struct {
    std::string path;  // the answer that fails
    int status;
    std::string expected;
  } cases[] = {
      {description, 404, find + "404 for " + server.Url(description) + unpublished_hint + "."},
      {description, 503, fetch + "503 for " + server.Url(description) + server_hint + "."},
      // A refusal or a rate limit is no missing file.
      {description, 403, fetch + "403 for " + server.Url(description) + refused_hint + "."},
      {description, 429, fetch + "429 for " + server.Url(description) + busy_hint + "."},
      // Another status keeps the transport's text alone.
      {description, 401, fetch + "401 for " + server.Url(description) + "."},
      {kZipPath, 500, download + "500 for " + server.Url(kZipPath) + server_hint + "."},
      {kZipPath, 404, download + "404 for " + server.Url(kZipPath) + unpublished_hint + "."},
      {kZipPath, 403, download + "403 for " + server.Url(kZipPath) + refused_hint + "."},
      {kZipPath, 429, download + "429 for " + server.Url(kZipPath) + busy_hint + "."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + std::to_string(c.status));
    Publish(scratch / "published" / kPackage);
    server.Status(c.path, c.status);
    EXPECT_FALSE(Build());
    ExpectFailedWith(c.expected);
  }

  // The hints name the button of the page that started the install.
  Publish(scratch / "published" / kPackage);
  server.Status(kZipPath, 429);
  builder->retry_button = "\"Update\" again";
  EXPECT_FALSE(Build());
  EXPECT_TRUE(
      err.ends_with(" (the server has had too many requests: wait a few minutes, then "
                    "press \"Update\" again)."))
      << err;
  builder->retry_button = kSameButton;

  // A server that is not there.
  std::string gone;
  {
    HttpServer closed;
    gone = closed.Url("/owner/halvorn.git");
  }
  game.repo = gone;
  MakeBuilder();
  EXPECT_FALSE(Build());
  EXPECT_EQ(err.rfind("Could not fetch the game's package for v1.0: the request failed (", 0), 0u)
      << err;
  EXPECT_TRUE(err.ends_with(reach_hint + ".")) << err;

  // An address that no request can go to is no missing package either.
  game.repo = "halvorn.example/owner/halvorn.git";
  MakeBuilder();
  EXPECT_FALSE(Build());
  ExpectFailedWith(
      "Could not fetch the game's package for v1.0: bad address "
      "halvorn.example/owner/halvorn/releases/download/v1.0/" +
      kPackage + ".json" + reach_hint + ".");
}

TEST_F(BuilderPackageTest, TheReleaseLookupSaysWhyNoTagWasFound) {
  game.launcher_version = "dev";
  const std::string latest = "/api/repos/owner/halvorn/releases/latest";
  const struct {
    const char* name;
    Reply answer;
    std::string expected;
  } cases[] = {
      {"a release without a tag",
       [] {
         Reply r;
         r.body = R"({"tag_name": ""})";
         return r;
       }(),
       "Could not find the game's package: no published release."},
      {"the rate limit",
       [] {
         Reply r;
         r.status = 429;
         return r;
       }(),
       "Could not fetch the game's package: the server answered 429 for " + server.Url(latest) +
           " (the server has had too many requests: wait a few minutes, then press the button "
           "again)."},
      {"a refusal",
       [] {
         Reply r;
         r.status = 403;
         return r;
       }(),
       "Could not fetch the game's package: the server answered 403 for " + server.Url(latest) +
           " (the server refuses the download for now: press the button again later)."},
  };
  MakeBuilder();
  ASSERT_TRUE(ChooseTheDisc());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.Route(latest, c.answer);
    EXPECT_FALSE(Build());
    ExpectFailedWith(c.expected);
  }
  EXPECT_EQ(server.Count(kZipPath + ".json"), 0);
}

TEST_F(BuilderPackageTest, AStopEndsAFetchThatGetsNoAnswer) {
  ASSERT_TRUE(ChooseTheDisc());
  Reply silent;
  silent.silent = true;
  for (const std::string& path : {kZipPath + ".json", kZipPath}) {
    SCOPED_TRACE(path);
    Publish(scratch / "published" / kPackage);
    server.Route(path, silent);
    server.ClearRecords();
    bool built = true;
    const auto stop_to_end =
        test::RunAndStop([&] { built = Build(); }, builder->cancel,
                         [&] { return server.Count(path) > 0; }, std::chrono::milliseconds(300));
    ASSERT_TRUE(stop_to_end.has_value());
    EXPECT_LT(*stop_to_end, std::chrono::seconds(5));
    EXPECT_FALSE(built);
    EXPECT_EQ(err, kCancelled);
  }
}

TEST_F(BuilderPackageTest, ADamagedDownloadFailsWithTheDownloadersText) {
  ASSERT_TRUE(ChooseTheDisc());
  Publish(scratch / "published" / kPackage,
          nlohmann::json{{"sha256", std::string(64, '0')}}.dump());
  EXPECT_FALSE(Build());
  ExpectFailedWith("Could not download the game's package: the download of " + kPackage +
                   " failed its check (checksum).");
}

TEST_F(BuilderPackageTest, AZipThatIsNotAZipFailsWithTheUnpackersText) {
  ASSERT_TRUE(ChooseTheDisc());
  WriteFile(scratch / kPackage, "not a zip");
  EXPECT_FALSE(Build());
  ExpectFailedWith("cannot open " + PathToUtf8(scratch / kPackage) + " as a zip");
}

TEST_F(BuilderPackageTest, CodePreparationFailuresKeepTheGamesWords) {
  ASSERT_TRUE(ChooseTheDisc());
  const struct {
    std::string script;
    std::string err;
  } cases[] = {
      {"say failed first\nsay failed the disc is not readable\nexit 3\n",
       "the disc is not readable"},
      {"say something went wrong\nexit 3\n", "The game's code could not be built, see launcher.log"},
      {"exit 0\n", "The build finished without Halvorn.dll, see launcher.log"},
  };
  int unpacks = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    Script(c.script);
    EXPECT_FALSE(Build());
    ExpectFailedWith(c.err);
    unpacks += StageLines("package unpack");
    EXPECT_FALSE(builder->IsGameInPlace());
  }
  EXPECT_EQ(unpacks, 1);  // after the first run the staging folder holds the package
  EXPECT_EQ(server.Count(kZipPath), 1);
}

// The package decides what its entries are: a folder where it has a file gives way whole.
TEST_F(BuilderPackageTest, AFolderWhereThePackageHasAFileIsReplaced) {
  ASSERT_TRUE(ChooseTheDisc());
  WriteFile(Play() / "readme.txt" / "inside", "a folder where the package has a file");
  ASSERT_TRUE(Build()) << err;
  EXPECT_EQ(ReadFile(Play() / "readme.txt"), "read me");
  EXPECT_FALSE(fs::exists(Play() / ".aside"));
  EXPECT_TRUE(builder->IsGameInPlace());
}

// A swap that the start could not finish (the game still held a file, say) is finished before
// the staging folder is made afresh, so that .aside never sits beside a half-unpacked package,
// which the next start would put in place.
TEST_F(BuilderPackageTest, ASwapLeftUnfinishedIsFinishedBeforeTheNextUnpack) {
  ASSERT_TRUE(ChooseTheDisc());
  ASSERT_TRUE(Build()) << err;
  // The same package staged once more, its swap ended once the stamp and the game had moved.
  fs::create_directories(Next());
  for (const std::string& entry :
       {Exe(), std::string("Halvorn.dll"), std::string("package.stamp"), std::string("bin"),
        std::string("readme.txt"), std::string("data")}) {
    fs::copy(Play() / entry, Next() / entry, fs::copy_options::recursive);
  }
  fs::create_directories(Play() / ".aside");
  for (const std::string& entry : {std::string("package.stamp"), Exe()}) {
    fs::rename(Play() / entry, Play() / ".aside" / entry);
    fs::rename(Next() / entry, Play() / entry);
  }
  EXPECT_FALSE(builder->IsGameInPlace());

  bool aside_while_unpacking = false;
  on_status = [&](const Status& s) {
    if (s.title == "Unpacking the game's package") {
      aside_while_unpacking = aside_while_unpacking || fs::exists(Play() / ".aside");
    }
  };
  ASSERT_TRUE(Build()) << err;
  EXPECT_EQ(StageLines("package unpack"), 1);
  EXPECT_FALSE(aside_while_unpacking);
  EXPECT_FALSE(fs::exists(Play() / ".aside"));
  EXPECT_FALSE(fs::exists(Next()));
  EXPECT_EQ(ReadFile(Play() / "bin" / "data.bin"), noise);
  EXPECT_TRUE(builder->IsGameInPlace());
}

TEST_F(BuilderPackageTest, ThePackageIsFoundForTheChosenCopy) {
  game.package = "fallback.zip";
  game.packages = {{xbe_sha1, "Halvorn-eu.zip"}};
  MakeBuilder();
  EXPECT_EQ(builder->FindPackage(), "fallback.zip");  // nothing chosen yet
  ASSERT_TRUE(ChooseTheDisc());
  EXPECT_EQ(builder->FindPackage(), "Halvorn-eu.zip");

  // The recorded digest in capitals, and none at all (the copy is hashed again).
  std::string upper = xbe_sha1;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  builder->SetSetting("game_sha1", upper);
  EXPECT_EQ(builder->FindPackage(), "Halvorn-eu.zip");
  auto settings = nlohmann::json::parse(ReadFile(root / "launcher.json"));
  settings.erase("game_sha1");
  WriteFile(root / "launcher.json", settings.dump());
  EXPECT_EQ(builder->FindPackage(), "Halvorn-eu.zip");

  builder->SetSetting("game_sha1", std::string(40, 'e'));
  EXPECT_EQ(builder->FindPackage(), "fallback.zip");
}

TEST(BuilderMapPackageEntryTest, ThePlayersFoldersAndUnsafeNamesAreLeftOut) {
  const struct {
    const char* entry;
    const char* mapped;
  } cases[] = {
      {"./bin/x.dll", "bin/x.dll"},
      {"bin/x.dll", "bin/x.dll"},
      {"Halvorn.exe", "Halvorn.exe"},
      {"config/settings.toml", "config/settings.toml"},
      {".toml", ".toml"},
      {"Bin/X.DLL", "Bin/X.DLL"},
      {"HDD/E/x", ""},
      {"Logs/a.txt", ""},
      {"assets/default.xbe", ""},
      {"screenshots/a.png", ""},
      {"Captures/a.mp4", ""},
      {"compiler/work/o.obj", ""},
      {"./hdd/x", ""},
      {"../x", ""},
      {"a/../../x", ""},
      {"a..b", ""},
      {"/x", ""},
      {"C:x", ""},
      {"settings.toml", ""},
      {"Game.TOML", ""},
      {"", ""},
      {"./", ""},
      {"hdd", "hdd"},
      {"compiler/other.txt", "compiler/other.txt"},
      {"bin/", "bin/"},
      // The player's folders and top-level settings in every spelling the unpacker accepts.
      {"././hdd/E/save.dat", ""},
      {"./hdd/", ""},
      {"././/hdd/", ""},
      {".//screenshots/a.png", ""},
      {"captures/./a.mp4", ""},
      {"a/./../hdd/x", ""},
      {"./Assets/./default.xbe", ""},
      {"logs//a.txt", ""},
      {"compiler//work/o.obj", ""},
      {"compiler/./work/o.obj", ""},
      {"././settings.toml", ""},
      {"././/.\\game.toml", ""},
      {"hdd\\E\\save.dat", ""},
      {".\\hdd\\E", ""},
      {"\\x", ""},
      {"hdd./E/save.dat", ""},
      {"hdd /E/save.dat", ""},
      {"./././", ""},
      {"././bin//x.dll", "bin/x.dll"},
      {"bin\\x.dll", "bin/x.dll"},
      {"./config/settings.toml", "config/settings.toml"},
  };
  for (const auto& c : cases) EXPECT_EQ(MapPackageEntry(c.entry), c.mapped) << c.entry;
}

}  // namespace
}  // namespace launcher::test
