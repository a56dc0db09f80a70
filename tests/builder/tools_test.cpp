// Loading the toolchain description and installing tools, against a server of the test's own
// that plays the tools' hosts.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "builder_fixture.h"
#include "platform/progress.h"
#include "support/file_tree.h"
#include "support/http_server.h"
#include "support/scratch.h"
#include "support/tar_writer.h"
#include "support/zip_writer.h"

namespace launcher::test {
namespace {
namespace fs = std::filesystem;

// A zip holding the given entries, as bytes.
std::string ZipBytes(const fs::path& scratch_file, const std::vector<ZipEntry>& entries) {
  WriteZip(scratch_file, entries);
  return ReadFile(scratch_file);
}

// A toolchain.json element.
std::string ToolJson(const std::string& id, uint64_t size, bool optional = false) {
  return R"({"id": ")" + id + R"(", "url": "http://127.0.0.1:1/)" + id + R"(.zip", "sha256": ")" +
         std::string(64, 'a') + R"(", "size": )" + std::to_string(size) +
         (optional ? R"(, "optional": true})" : "}");
}

class ToolsTest : public BuilderTest {
 protected:
  void SetUp() override {
    game.toolchain = server.Url("/toolchain.json");
    MakeBuilder();
  }

  // Serves `bytes` under /files/<name> and returns its FileRef.
  FileRef Publish(const std::string& name, const std::string& bytes) {
    server.Serve("/files/" + name, bytes);
    return FileRef{name, server.Url("/files/" + name), Sha256Of(bytes), bytes.size()};
  }

  Tool ZipTool(const std::string& id, const std::vector<FileRef>& files) {
    Tool tool;
    tool.id = id;
    tool.title = "Tool " + id;
    tool.kind = "zip";
    tool.sha256 = std::string(64, 'c') + " bin/";
    tool.files = files;
    return tool;
  }

  bool Install(const Tool& tool) {
    err.clear();
    log.clear();
    statuses.clear();
    return builder->InstallTool(tool, err);
  }

  bool Load(bool microsoft = false) {
    err.clear();
    log.clear();
    return builder->LoadToolchain(toolchain, err, microsoft);
  }

  fs::path Stamp(const std::string& id) { return root / "tools" / id / ".launcher-stamp"; }

  HttpServer server;
  Toolchain toolchain;
  std::string err;
};

// --- Loading the toolchain --------------------------------------------------------------------

TEST_F(ToolsTest, AFetchedDescriptionIsSavedAsSentAndSummarised) {
  // Four tools of 100 MB in all; the optional one (30 MB) counts in the number, not the size.
  const std::string text = "{\"tools\": [" + ToolJson("a", 20u << 20) + ", " +
                           ToolJson("b", 30u << 20, true) + ", " + ToolJson("c", 25u << 20) + ", " +
                           ToolJson("d", 25u << 20) + "]}\r\n";
  server.Serve("/toolchain.json", text);
  ASSERT_TRUE(Load()) << err;
  EXPECT_EQ(ReadFile(root / "toolchain.json"), text);
  ASSERT_EQ(toolchain.tools.size(), 4u);
  EXPECT_TRUE(toolchain.tools[1].optional);
  EXPECT_EQ(log, std::vector<std::string>{"tools: 4, 70 MB to download at most"});
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.front().title, "Looking up the build tools");
  EXPECT_EQ(statuses.front().fraction, -1);

  // A second load starts from an empty toolchain rather than appending.
  ASSERT_TRUE(Load()) << err;
  EXPECT_EQ(toolchain.tools.size(), 4u);
}

TEST_F(ToolsTest, AnUnreadableFetchedDescriptionStillReplacesTheSavedOne) {
  WriteFile(root / "toolchain.json", "{\"tools\": [" + ToolJson("a", 1) + "]}");
  server.Serve("/toolchain.json", "not json");
  EXPECT_FALSE(Load());
  EXPECT_EQ(err, "toolchain.json is not readable");
  EXPECT_EQ(ReadFile(root / "toolchain.json"), "not json");
}

TEST_F(ToolsTest, FallsBackToTheSavedCopyThenToTheBuiltInOne) {
  server.Status("/toolchain.json", 404);
  const std::string saved = "{\"tools\": [" + ToolJson("saved", 1) + "]}";
  const std::string builtin = "{\"tools\": [" + ToolJson("builtin", 1) + "]}";
  struct Case {
    const char* name;
    bool has_saved;
    bool has_builtin;
    const char* tool;       // the tool loaded; "" when the load fails
    const char* log_words;  // how the log line ends
  };
  const Case cases[] = {
      {"saved wins over built-in", true, true, "saved", "), the last one is used"},
      {"saved without built-in", true, false, "saved", "), the last one is used"},
      {"built-in", false, true, "builtin", "), the launcher's own is used"},
      {"nothing", false, false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    fs::remove(root / "toolchain.json", ec);
    if (c.has_saved) WriteFile(root / "toolchain.json", saved);
    builder->builtin_toolchain = c.has_builtin ? builtin : "";
    const bool loaded = Load();
    if (*c.tool == '\0') {
      EXPECT_FALSE(loaded);
      EXPECT_TRUE(err.starts_with("Could not download the list of build tools: ")) << err;
      EXPECT_GT(err.size(), std::string("Could not download the list of build tools: ").size());
      EXPECT_FALSE(fs::exists(root / "toolchain.json"));
      continue;
    }
    ASSERT_TRUE(loaded) << err;
    ASSERT_EQ(toolchain.tools.size(), 1u);
    EXPECT_EQ(toolchain.tools[0].id, c.tool);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].starts_with("toolchain.json could not be fetched (")) << log[0];
    EXPECT_TRUE(log[0].ends_with(c.log_words)) << log[0];
    EXPECT_EQ(log[1], "tools: 1, 0 MB to download at most");
    // A fall-back copy is never written over the saved one.
    EXPECT_EQ(ReadFile(root / "toolchain.json"), c.has_saved ? saved : "");
  }
}

TEST_F(ToolsTest, MicrosoftPackagesThatCannotBeResolvedFailTheLoad) {
  server.Serve("/toolchain.json", "{\"tools\": [" + ToolJson("a", 1) + "]}");
  ASSERT_TRUE(Load(false)) << err;
  EXPECT_FALSE(Load(true));
  EXPECT_EQ(err, "toolchain.json has no msvc or sdk entry");
  EXPECT_FALSE(Logged("tools: 1, 0 MB to download at most"));
}

// --- Installing a tool ------------------------------------------------------------------------

TEST_F(ToolsTest, InstallsAZipToolOnceAndKnowsItByItsStamp) {
  const std::string zip = ZipBytes(
      scratch / "t.zip",
      {{"tool-1.0/bin/tool", "program", false, true, 0755}, {"tool-1.0/doc/readme", "read me"}});
  Tool tool = ZipTool("t", {Publish("tool%201.0.zip", zip)});
  tool.files[0].name = "tool 1.0.zip";
  tool.strip = 1;
  tool.keep = {"bin/"};
  ASSERT_TRUE(Install(tool)) << err;

  const fs::path folder = root / "tools" / "t";
  EXPECT_EQ(FilesUnder(folder), (std::map<std::string, std::string>{
                                    {".launcher-stamp", tool.sha256}, {"bin/tool", "program"}}));
  EXPECT_FALSE(fs::exists(root / "downloads" / "t"));
  EXPECT_EQ(log, (std::vector<std::string>{"download " + server.Url("/files/tool%201.0.zip"),
                                           "unpack tool 1.0.zip",
                                           "Tool t ready in " + PathToUtf8(folder)}));
  bool downloading = false;
  bool unpacking = false;
  for (const Status& status : statuses) {
    downloading = downloading || status.title == "Downloading Tool t";
    unpacking = unpacking || status.title == "Unpacking Tool t";
  }
  EXPECT_TRUE(downloading);
  EXPECT_TRUE(unpacking);

  // Installed: no request, no report, no log line.
  server.ClearRecords();
  ASSERT_TRUE(Install(tool)) << err;
  EXPECT_EQ(server.TotalCount(), 0);
  EXPECT_TRUE(statuses.empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(ToolsTest, AStampThatDiffersInAnyByteReinstallsFromScratch) {
  const std::string zip = ZipBytes(scratch / "t.zip", {{"bin/tool", "program"}});
  const Tool tool = ZipTool("t", {Publish("t.zip", zip)});
  for (const std::string& stamp :
       {tool.sha256 + "\n", tool.sha256 + "\r\n", std::string(""), std::string(64, 'c')}) {
    SCOPED_TRACE("stamp of " + std::to_string(stamp.size()) + " bytes");
    WriteFile(Stamp("t"), stamp);
    WriteFile(root / "tools" / "t" / "leftover", "from the old version");
    server.ClearRecords();
    ASSERT_TRUE(Install(tool)) << err;
    EXPECT_EQ(server.Count("/files/t.zip"), 1);
    EXPECT_EQ(ReadFile(Stamp("t")), tool.sha256);
    EXPECT_FALSE(fs::exists(root / "tools" / "t" / "leftover"));
  }
}

TEST_F(ToolsTest, AStopInTheThirdFileResumesItAndSkipsTheFirstTwo) {
  std::vector<FileRef> files;
  std::vector<std::string> zips;
  for (const char* name : {"one", "two", "three"}) {
    zips.push_back(
        ZipBytes(scratch / (std::string(name) + ".zip"),
                 {{std::string(name) + ".txt", std::string(200000, name[0]), false, false}}));
    files.push_back(Publish(std::string(name) + ".zip", zips.back()));
  }
  // The third file stalls part-way and the player presses Stop once its first bytes are in.
  Reply stalled;
  stalled.body = zips[2];
  stalled.stall_after = 100000;
  server.Route("/files/three.zip", stalled);
  const uint64_t first_two = files[0].size + files[1].size;
  on_status = [&](const Status& status) {
    if (status.title == "Downloading Tool t" &&
        status.fraction * static_cast<double>(first_two + files[2].size) > first_two) {
      builder->cancel = true;
    }
  };
  const Tool tool = ZipTool("t", files);
  EXPECT_FALSE(Install(tool));
  EXPECT_EQ(err, "Could not download three.zip: cancelled");
  EXPECT_FALSE(fs::exists(Stamp("t")));
  const std::string part = ReadFile(root / "downloads" / "t" / "three.zip.part");
  ASSERT_GT(part.size(), 0u);

  server.ReleaseStalls();
  server.ClearRecords();
  server.Serve("/files/three.zip", zips[2]);
  on_status = nullptr;
  builder->cancel = false;
  ASSERT_TRUE(Install(tool)) << err;
  EXPECT_EQ(server.Count("/files/one.zip"), 0);
  EXPECT_EQ(server.Count("/files/two.zip"), 0);
  ASSERT_EQ(server.Count("/files/three.zip"), 1);
  EXPECT_EQ(server.Ranges("/files/three.zip")[0], "bytes=" + std::to_string(part.size()) + "-");
  EXPECT_EQ(ReadFile(root / "tools" / "t" / "three.txt"), std::string(200000, 't'));
  EXPECT_EQ(ReadFile(root / "tools" / "t" / "one.txt"), std::string(200000, 'o'));

  // The bar runs over the tool's whole size, files already there counted whole.
  const uint64_t total = files[0].size + files[1].size + files[2].size;
  for (const Status& status : statuses) {
    if (status.title != "Downloading Tool t") continue;
    EXPECT_GE(status.fraction, static_cast<double>(files[0].size + files[1].size) / total);
    EXPECT_LE(status.fraction, 1.0);
    EXPECT_TRUE(status.detail.ends_with(" of " + FormatSize(total))) << status.detail;
  }
}

TEST_F(ToolsTest, UnpacksByKind) {
  TarWriter tar;
  tar.Folder("pkg-1/");
  tar.File("pkg-1/bin/tool", "from the tar");
  tar.File("pkg-1/share/extra", "left out");
  const std::string xz = XzCompress(tar.Finish());
  const std::string zip = ZipBytes(
      scratch / "k.zip", {{"pkg-1/bin/tool", "from the zip"}, {"pkg-1/share/extra", "left out"}});
  const std::string vsix =
      ZipBytes(scratch / "k.vsix", {{"extension.vsixmanifest", "manifest"},
                                    {"Contents/pkg-1/bin/tool", "from the vsix"},
                                    {"Contents/pkg-1/share/x", "left out"}});
  struct Case {
    const char* kind;
    const std::string& bytes;
    const char* content;
  };
  const Case cases[] = {{"tar.xz", xz, "from the tar"},
                        {"zip", zip, "from the zip"},
                        {"vsix", vsix, "from the vsix"},
                        {"something new", zip, "from the zip"}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    const std::string id = "k" + std::to_string(n++);
    Tool tool = ZipTool(id, {Publish(id + ".bin", c.bytes)});
    tool.kind = c.kind;
    tool.strip = 1;
    tool.keep = {"bin/"};
    ASSERT_TRUE(Install(tool)) << err;
    EXPECT_EQ(FilesUnder(root / "tools" / id),
              (std::map<std::string, std::string>{{".launcher-stamp", tool.sha256},
                                                  {"bin/tool", c.content}}));
  }
}

TEST_F(ToolsTest, FailuresKeepTheDownloadsAndLeaveNoStamp) {
  const std::string zip = ZipBytes(scratch / "bad.zip", {{"bin/tool", "program"}});
  const std::string not_a_zip = "this is not a zip archive at all";
  struct Case {
    const char* name;
    FileRef file;
    const char* error_start;
  };
  FileRef wrong_digest = Publish("digest.zip", zip);
  wrong_digest.sha256 = std::string(64, '0');
  FileRef missing = Publish("missing.zip", zip);
  server.Status("/files/missing.zip", 404);
  const Case cases[] = {
      {"not an archive", Publish("damaged.zip", not_a_zip), "cannot open "},
      {"wrong digest", wrong_digest, "Could not download digest.zip: "},
      {"missing file", missing, "Could not download missing.zip: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Tool tool = ZipTool(c.name, {c.file});
    EXPECT_FALSE(Install(tool));
    EXPECT_TRUE(err.starts_with(c.error_start)) << err;
    EXPECT_FALSE(fs::exists(Stamp(c.name)));
    EXPECT_TRUE(fs::is_directory(root / "downloads" / c.name));
  }
}

TEST_F(ToolsTest, AStopDuringADownloadNamesTheFile) {
  const std::string zip =
      ZipBytes(scratch / "s.zip", {{"big.bin", std::string(3 << 20, 'x'), false, false}});
  const Tool tool = ZipTool("s", {Publish("s.zip", zip)});
  // The transfer stalls part-way, so the stop falls inside it.
  Reply stalled;
  stalled.body = zip;
  stalled.stall_after = 100000;
  server.Route("/files/s.zip", stalled);
  on_status = [this](const Status& status) {
    if (status.title == "Downloading Tool s") builder->cancel = true;
  };
  EXPECT_FALSE(Install(tool));
  EXPECT_EQ(err, "Could not download s.zip: cancelled");

  // Stopped while unpacking: "cancelled" alone.
  server.ReleaseStalls();
  server.Serve("/files/s.zip", zip);
  builder->cancel = false;
  on_status = [this](const Status& status) {
    if (status.title == "Unpacking Tool s") builder->cancel = true;
  };
  EXPECT_FALSE(Install(tool));
  EXPECT_EQ(err, kCancelled);
  EXPECT_FALSE(fs::exists(Stamp("s")));
}

}  // namespace
}  // namespace launcher::test
