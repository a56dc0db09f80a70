// "Build the game again" over a game in place: whatever becomes of the new package, the game the
// player had goes on playing until the new one has replaced it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <string>

#include "app/app.h"
#include "app_fixture.h"
#include "platform/file_ops.h"
#include "platform/progress.h"
#include "support/http_server.h"
#include "support/scratch.h"
#include "support/zip_writer.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

const std::string kZipPath = "/owner/halvorn/releases/download/v1.0/Halvorn-windows.zip";
const std::string kOldLibrary = "the old game's library";

class RebuildJobTest : public AppTest {
 protected:
  void SetUp() override {
    app.game.package = "Halvorn-windows.zip";
    app.game.repo = server.Url("/owner/halvorn.git");
    MakeBuilder();
    // The chosen disc image's copy in play/assets, and an installed game.
    const fs::path play = app.builder->PlayFolder();
    WriteFile(play / "assets" / "Halvorn.iso", "the disc");
    app.builder->SetSetting("game", PathToUtf8(scratch / "gone" / "Halvorn.iso"));
    WriteFile(play / ("Halvorn" + app.platform->ExeSuffix()), "the old game");
    WriteFile(play / "Halvorn.dll", kOldLibrary);
    ASSERT_TRUE(app.builder->IsGameInPlace());
  }

  // Publishes `zip_bytes` as the package, with a description that matches them.
  void Publish(const std::string& zip_bytes) {
    server.Serve(kZipPath, zip_bytes);
    server.Serve(kZipPath + ".json",
                 nlohmann::json{{"sha256", Sha256Of(zip_bytes)}, {"size", zip_bytes.size()}}.dump());
  }

  HttpServer server;
};

TEST_F(RebuildJobTest, AStoppedOrFailedRebuildLeavesTheGamePlayable) {
  const fs::path zip = scratch / "published.zip";
  WriteZip(zip, {{"Halvorn" + app.platform->ExeSuffix(), ReadFile(TestProgram("fake_game")), false,
                  true, 0755}});
  const struct {
    const char* name;
    std::string published;                       // "" publishes nothing
    std::function<bool(const Status&)> stop_at;  // null: never stopped
    std::string error;                           // its beginning
  } cases[] = {
      {"no package published", "", nullptr, "Could not find the game's package for v1.0: "},
      // The Game page, where the outcome shows, has no button for a game in place.
      {"stopped during the download", ReadFile(zip),
       [](const Status& s) { return s.title == "Downloading the game's package"; },
       "Stopped. Press \"Build the game again\" on Manage to carry on where it left off."},
      {"a package that is no zip", "not a zip", nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.Remove(kZipPath);
    server.Remove(kZipPath + ".json");
    if (!c.published.empty()) Publish(c.published);
    const auto store = StoreStatus(app);
    app.builder->status_callback = [&](const Status& status) {
      if (c.stop_at && c.stop_at(status)) app.builder->cancel = true;
      store(status);
    };
    std::string error;
    EXPECT_FALSE(RebuildJob(app)(error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_TRUE(app.builder->IsGameInPlace());
    EXPECT_FALSE(app.builder->BuiltOldWay());
    EXPECT_EQ(ReadFile(app.builder->PlayFolder() / "Halvorn.dll"), kOldLibrary);
  }
}

TEST_F(RebuildJobTest, AFailureThatAsksForTheButtonNamesIt) {
  std::string gone;
  {
    HttpServer closed;
    gone = closed.Url("/owner/halvorn.git");
  }
  app.game.repo = gone;
  MakeBuilder();
  std::string error;
  EXPECT_FALSE(RebuildJob(app)(error));
  EXPECT_TRUE(error.ends_with("(the server could not be reached; press \"Build the game again\" "
                              "on Manage to carry on).")) << error;
  EXPECT_EQ(error.find("the button"), std::string::npos) << error;
}

TEST_F(RebuildJobTest, AFinishedRebuildPutsTheNewGameInPlace) {
  const fs::path zip = scratch / "published.zip";
  WriteZip(zip, {{"Halvorn" + app.platform->ExeSuffix(), ReadFile(TestProgram("fake_game")), false,
                  true, 0755}});
  Publish(ReadFile(zip));
  std::string error;
  ASSERT_TRUE(RebuildJob(app)(error)) << error;
  EXPECT_TRUE(app.builder->IsGameInPlace());
  // The fake game's code preparation writes the new library.
  EXPECT_EQ(ReadFile(app.builder->PlayFolder() / "Halvorn.dll"), "the game's library");
  EXPECT_EQ(ReadFile(app.builder->PlayFolder() / "assets" / "Halvorn.iso"), "the disc");
}

}  // namespace
}  // namespace launcher::test
