#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalogue/builtin_texts.h"
#include "catalogue/toolchain.h"
#include "platform/http.h"
#include "platform/progress.h"
#include "support/cancelled_run.h"
#include "support/http_server.h"

namespace launcher {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using json = nlohmann::json;

constexpr const char* kVersion = "14.44.17.14";
constexpr const char* kSdkPackage = "Win11SDK_10.0.26100";

std::string Sha(char c) { return std::string(64, c); }

// Whether a manifest element is the package `id` (without throwing on odd elements).
bool IsPackage(const json& package, const std::string& id) {
  return package.is_object() && package.contains("id") && package.at("id") == id;
}

// A payload as the Visual Studio manifest lists it (its digests in capitals).
json Payload(const std::string& file_name, uint64_t size, char digest = 'A') {
  return {{"fileName", file_name},
          {"sha256", Sha(digest)},
          {"size", size},
          {"url", "https://download.visualstudio.microsoft.com/download/pr/1234/" + file_name}};
}

// One payload goes in as json::array({...}): {x} of one JSON value is that value itself with
// some compilers (clang) and an array of it with others (GCC).
json Package(const std::string& id, json payloads, const char* chip = nullptr,
             const char* language = nullptr) {
  json package = {{"id", id}, {"version", "14.44.35207"}, {"type", "Vsix"},
                  {"payloads", std::move(payloads)}};
  if (chip != nullptr) package["chip"] = chip;
  if (language != nullptr) package["language"] = language;
  return package;
}

std::string CrtName(const std::string& part) {
  return std::string("Microsoft.VC.") + kVersion + ".CRT." + part + ".base";
}

// The channel as Visual Studio publishes it: a few items, one of them the manifest's.
json Channel(const std::string& manifest_url) {
  return {
      {"manifestVersion", "1.1"},
      {"info",
       {{"id", "VisualStudio/17.14.5+36212.18"},
        {"buildVersion", "17.14.36212.18"},
        {"productDisplayVersion", "17.14.5"}}},
      {"channelItems",
       {{{"id", "Microsoft.VisualStudio.Channels.Release"},
         {"version", "17.14.36212.18"},
         {"type", "ChannelInfo"},
         {"localizedResources", {{{"language", "en-us"}, {"title", "Visual Studio 2022"}}}}},
        {{"id", "Microsoft.VisualStudio.Manifests.VisualStudio"},
         {"version", "17.14.36212.18"},
         {"type", "Manifest"},
         {"payloads",
          {{{"fileName", "VisualStudio.vsman"},
            {"sha256", Sha('B')},
            {"size", 31415926},
            {"url", manifest_url}}}}},
        {{"id", "Microsoft.VisualStudio.Product.BuildTools"},
         {"version", "17.14.36212.18"},
         {"type", "ChannelProduct"}}}},
  };
}

const std::vector<std::string>& SdkMsis() {
  static const std::vector<std::string> msis = [] {
    const json document = json::parse(BuiltInToolchainJson(), nullptr, false);
    return document["sdk"]["msis"].get<std::vector<std::string>>();
  }();
  return msis;
}

// A manifest that holds every package the built-in toolchain.json names, among others.
json Manifest() {
  json sdk_payloads = json::array();
  sdk_payloads.push_back(Payload("Installers\\0123456789abcdef0123456789abcdef.cab", 70, 'C'));
  for (size_t i = 0; i < SdkMsis().size(); ++i) {
    sdk_payloads.push_back(Payload("Installers\\" + SdkMsis()[i], 1000 + i, 'D'));
  }
  sdk_payloads.push_back(Payload("Installers\\fedcba9876543210fedcba9876543210.cab", 80, 'E'));
  sdk_payloads.push_back(Payload("winsdksetup.exe", 5, 'F'));
  json sdk = Package(kSdkPackage, sdk_payloads);
  sdk["type"] = "Exe";
  return {
      {"manifestVersion", "1.1"},
      {"engineVersion", "3.14.2075.50697"},
      {"info", {{"id", "VisualStudio/17.14.5+36212.18"}}},
      {"signers", json::array()},
      {"packages",
       {Package("Microsoft.VisualStudio.Component.CoreEditor", json::array()),
        Package(CrtName("Headers"), json::array({Payload(CrtName("Headers") + ".vsix", 100)})),
        Package(CrtName("x64.Desktop"),
                json::array({Payload(CrtName("x64.Desktop") + ".vsix", 200)}), "x64"),
        Package(CrtName("x64.Store"), json::array({Payload(CrtName("x64.Store") + ".vsix", 300)}),
                "x64"),
        Package(CrtName("Source"), json::array({Payload(CrtName("Source") + ".vsix", 400)}),
                nullptr, "neutral"),
        sdk}},
  };
}

// The Visual Studio channel and manifest served from 127.0.0.1.
class MicrosoftPackages : public ::testing::Test {
 protected:
  void SetUp() override {
    http_ = CreateHttp();
    toolchain_json_ = json::parse(BuiltInToolchainJson(), nullptr, false);
    toolchain_json_["msvc"]["channel"] = server_.Url("/channel");
    ServeChannel(Channel(server_.Url("/manifest.vsman")));
    ServeManifest(Manifest());
  }

  void ServeChannel(const json& channel) { server_.Serve("/channel", channel.dump()); }
  void ServeManifest(const json& manifest) { server_.Serve("/manifest.vsman", manifest.dump()); }

  bool Resolve() { return Resolve(toolchain_json_.dump(4)); }
  bool Resolve(const std::string& text) {
    return ResolveMicrosoftPackages(*http_, text, toolchain_, error_);
  }

  // Resolving fails with `message` and leaves the toolchain as it was.
  void ExpectFailure(const std::string& message) {
    toolchain_.tools.assign(1, Tool());
    toolchain_.tools[0].id = "llvm";
    toolchain_.sdk_version = "before";
    EXPECT_FALSE(Resolve());
    EXPECT_EQ(error_, message);
    ASSERT_EQ(toolchain_.tools.size(), 1u);
    EXPECT_EQ(toolchain_.tools[0].id, "llvm");
    EXPECT_EQ(toolchain_.sdk_version, "before");
  }

  test::HttpServer server_;
  std::unique_ptr<Http> http_;
  json toolchain_json_;
  Toolchain toolchain_;
  std::string error_;
};

TEST_F(MicrosoftPackages, ResolvesTheBuiltInPackages) {
  toolchain_.tools.assign(1, Tool());
  ASSERT_TRUE(Resolve()) << error_;
  ASSERT_EQ(toolchain_.tools.size(), 3u);
  EXPECT_EQ(toolchain_.sdk_version, "10.0.26100.0");

  const Tool& msvc = toolchain_.tools[1];
  EXPECT_EQ(msvc.id, "msvc");
  EXPECT_EQ(msvc.title, "Microsoft C++ libraries 14.44.17.14");
  EXPECT_EQ(msvc.kind, "vsix");
  EXPECT_EQ(msvc.sha256, "14.44.17.14");
  EXPECT_EQ(msvc.strip, 0);
  EXPECT_THAT(msvc.keep, IsEmpty());
  EXPECT_FALSE(msvc.optional);
  EXPECT_THAT(msvc.cabs, IsEmpty());
  ASSERT_EQ(msvc.files.size(), 4u);
  const char* parts[] = {"Headers", "x64.Desktop", "x64.Store", "Source"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(msvc.files[i].name, CrtName(parts[i]) + ".vsix");
    EXPECT_EQ(msvc.files[i].url, "https://download.visualstudio.microsoft.com/download/pr/1234/" +
                                     CrtName(parts[i]) + ".vsix");
    EXPECT_EQ(msvc.files[i].sha256, Sha('a'));  // lower-cased
    EXPECT_EQ(msvc.files[i].size, 100u * (i + 1));
  }
  EXPECT_EQ(msvc.TotalSize(), 1000u);

  const Tool& sdk = toolchain_.tools[2];
  EXPECT_EQ(sdk.id, "winsdk");
  EXPECT_EQ(sdk.title, "Windows SDK 10.0.26100.0");
  EXPECT_EQ(sdk.kind, "msi");
  ASSERT_EQ(sdk.files.size(), SdkMsis().size());
  std::string stamp = kSdkPackage;
  for (size_t i = 0; i < SdkMsis().size(); ++i) {
    EXPECT_EQ(sdk.files[i].name, SdkMsis()[i]);  // the folder part before '\' is dropped
    EXPECT_EQ(sdk.files[i].sha256, Sha('d'));
    EXPECT_EQ(sdk.files[i].size, 1000u + i);
    stamp += " " + SdkMsis()[i];
  }
  EXPECT_EQ(sdk.sha256, stamp);
  ASSERT_EQ(sdk.cabs.size(), 2u);  // winsdksetup.exe is dropped
  EXPECT_EQ(sdk.cabs[0].name, "0123456789abcdef0123456789abcdef.cab");
  EXPECT_EQ(sdk.cabs[1].name, "fedcba9876543210fedcba9876543210.cab");
  EXPECT_EQ(sdk.cabs[1].size, 80u);
  EXPECT_EQ(server_.Count("/channel"), 1);
  EXPECT_EQ(server_.Count("/manifest.vsman"), 1);
}

TEST_F(MicrosoftPackages, OnlyX64AndUsEnglishPackagesAreChosen) {
  json manifest = Manifest();
  json& packages = manifest["packages"];
  const std::string headers = CrtName("Headers");
  // Listed before the right ones: built for Arm, or in another language.
  packages.insert(packages.begin(),
                  Package(headers, json::array({Payload("arm.vsix", 1, 'B')}), "arm64"));
  packages.insert(packages.begin(),
                  Package(headers, json::array({Payload("ja.vsix", 2, 'B')}), nullptr, "ja-JP"));
  packages.insert(packages.begin(),
                  Package(CrtName("x64.Store"), json::array({Payload("x86.vsix", 3, 'B')}), "x86",
                          "en-US"));
  // The chip in capitals and the language in any case still count.
  for (json& package : packages) {
    if (IsPackage(package, CrtName("x64.Desktop"))) package["chip"] = "X64";
    if (IsPackage(package, CrtName("Source"))) package["language"] = "EN-us";
  }
  ServeManifest(manifest);
  ASSERT_TRUE(Resolve()) << error_;
  const Tool& msvc = toolchain_.tools[0];
  ASSERT_EQ(msvc.files.size(), 4u);
  EXPECT_EQ(msvc.files[0].size, 100u);
  EXPECT_EQ(msvc.files[1].size, 200u);
  EXPECT_EQ(msvc.files[2].size, 300u);
  EXPECT_EQ(msvc.files[3].size, 400u);
}

TEST_F(MicrosoftPackages, OfTwoIdsEqualInAnyCaseTheEarlierIsUsed) {
  json manifest = Manifest();
  json& packages = manifest["packages"];
  std::string upper = CrtName("Headers");
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  packages.insert(packages.begin(), Package(upper, json::array({Payload("early.vsix", 7)})));
  ServeManifest(manifest);
  ASSERT_TRUE(Resolve()) << error_;
  EXPECT_EQ(toolchain_.tools[0].files[0].size, 7u);
  EXPECT_EQ(toolchain_.tools[0].files[0].name, CrtName("Headers") + ".vsix");
}

TEST_F(MicrosoftPackages, EveryPayloadOfAPackageIsAFileUnderThePackagesName) {
  json manifest = Manifest();
  for (json& package : manifest["packages"]) {
    if (IsPackage(package, CrtName("Source"))) {
      package["payloads"] = {Payload("a.vsix", 1), Payload("b.vsix", 2)};
    }
  }
  ServeManifest(manifest);
  ASSERT_TRUE(Resolve()) << error_;
  const Tool& msvc = toolchain_.tools[0];
  ASSERT_EQ(msvc.files.size(), 5u);
  EXPECT_EQ(msvc.files[3].name, CrtName("Source") + ".vsix");
  EXPECT_EQ(msvc.files[4].name, CrtName("Source") + ".vsix");
  EXPECT_EQ(msvc.files[4].size, 2u);
}

TEST_F(MicrosoftPackages, InstallersNamedTwiceCountOnce) {
  toolchain_json_["sdk"]["msis"] = {"One.msi", "ONE.MSI"};
  json manifest = Manifest();
  for (json& package : manifest["packages"]) {
    if (IsPackage(package, kSdkPackage)) {
      package["payloads"] = {Payload("Installers\\one.msi", 1), Payload("x.CAB", 2)};
    }
  }
  ServeManifest(manifest);
  ASSERT_TRUE(Resolve()) << error_;
  const Tool& sdk = toolchain_.tools[1];
  ASSERT_EQ(sdk.files.size(), 1u);
  EXPECT_EQ(sdk.files[0].name, "one.msi");
  EXPECT_EQ(sdk.sha256, std::string(kSdkPackage) + " one.msi");
  ASSERT_EQ(sdk.cabs.size(), 1u);  // ".cab" in any case
  EXPECT_EQ(sdk.cabs[0].name, "x.CAB");
}

TEST_F(MicrosoftPackages, AnInstallerOfferedTwiceMakesTheCountsDiffer) {
  toolchain_json_["sdk"]["msis"] = {"One.msi", "ONE.MSI"};
  json manifest = Manifest();
  for (json& package : manifest["packages"]) {
    if (IsPackage(package, kSdkPackage)) {
      package["payloads"] = {Payload("a\\one.msi", 1), Payload("b/One.msi", 2)};
    }
  }
  ServeManifest(manifest);
  ExpectFailure("the Windows SDK package lacks some of its installers (2 of 1)");
}

TEST_F(MicrosoftPackages, AFileNameThatIsNotAPlainNameIsRefused) {
  const std::string refused = "the Visual Studio manifest gives a file name that is not a plain "
                              "file name: ";
  {
    SCOPED_TRACE("a cabinet on a drive");
    json manifest = Manifest();
    for (json& package : manifest["packages"]) {
      if (IsPackage(package, kSdkPackage)) package["payloads"].push_back(Payload("C:x.cab", 1));
    }
    ServeManifest(manifest);
    ExpectFailure(refused + "\"C:x.cab\"");
  }
  {
    SCOPED_TRACE("an installer named \"..\"");
    toolchain_json_["sdk"]["msis"] = json::array({".."});
    json manifest = Manifest();
    for (json& package : manifest["packages"]) {
      if (IsPackage(package, kSdkPackage)) {
        package["payloads"] = json::array({Payload("Installers\\..", 1)});
      }
    }
    ServeManifest(manifest);
    ExpectFailure(refused + "\"..\"");
    toolchain_json_ = json::parse(BuiltInToolchainJson(), nullptr, false);
    toolchain_json_["msvc"]["channel"] = server_.Url("/channel");
  }
  {
    SCOPED_TRACE("a package name with a folder");
    toolchain_json_["msvc"]["packages"].push_back("../elsewhere");
    json manifest = Manifest();
    manifest["packages"].push_back(Package("../elsewhere", json::array({Payload("p.vsix", 1)})));
    ServeManifest(manifest);
    ExpectFailure(refused + "\"../elsewhere.vsix\"");
  }
}

TEST_F(MicrosoftPackages, MissingInstallers) {
  json manifest = Manifest();
  for (json& package : manifest["packages"]) {
    if (IsPackage(package, kSdkPackage)) {
      json& payloads = package["payloads"];
      payloads.erase(payloads.begin() + 3);
      payloads.erase(payloads.begin() + 3);
    }
  }
  ServeManifest(manifest);
  ExpectFailure("the Windows SDK package lacks some of its installers (8 of 10)");
}

TEST_F(MicrosoftPackages, MissingPackages) {
  {
    json manifest = Manifest();
    manifest["packages"].erase(3);  // x64.Store
    ServeManifest(manifest);
    SCOPED_TRACE("msvc package");
    ExpectFailure("the Visual Studio manifest has no Microsoft.VC.14.44.17.14.CRT.x64.Store.base");
  }
  {
    json manifest = Manifest();
    manifest["packages"].erase(5);  // the SDK
    ServeManifest(manifest);
    SCOPED_TRACE("sdk package");
    ExpectFailure("the Visual Studio manifest has no Win11SDK_10.0.26100");
  }
  {
    json manifest = Manifest();
    manifest["packages"][2]["chip"] = "arm64";  // x64.Desktop, but not for x64 any more
    ServeManifest(manifest);
    SCOPED_TRACE("filtered out");
    ExpectFailure(
        "the Visual Studio manifest has no Microsoft.VC.14.44.17.14.CRT.x64.Desktop.base");
  }
}

TEST_F(MicrosoftPackages, ToolchainWithoutItsEntries) {
  json no_sdk = toolchain_json_;
  no_sdk.erase("sdk");
  json no_msvc = toolchain_json_;
  no_msvc.erase("msvc");
  for (const std::string& text : {no_sdk.dump(), no_msvc.dump(), std::string("[]"),
                                 std::string("not json"), std::string(""), std::string("{}")}) {
    SCOPED_TRACE(text.substr(0, 40));
    toolchain_.tools.clear();
    EXPECT_FALSE(Resolve(text));
    EXPECT_EQ(error_, "toolchain.json has no msvc or sdk entry");
    EXPECT_THAT(toolchain_.tools, IsEmpty());
  }
  EXPECT_EQ(server_.TotalCount(), 0);
}

TEST_F(MicrosoftPackages, ChannelThatCannotBeFetched) {
  server_.Status("/channel", 500);
  toolchain_.tools.clear();
  EXPECT_FALSE(Resolve());
  EXPECT_THAT(error_, StartsWith("Visual Studio channel: "));
  EXPECT_GT(error_.size(), std::string("Visual Studio channel: ").size());
  EXPECT_THAT(toolchain_.tools, IsEmpty());
}

TEST_F(MicrosoftPackages, ChannelsThatListNoManifest) {
  json wrong_case = Channel(server_.Url("/manifest.vsman"));
  wrong_case["channelItems"][1]["id"] = "microsoft.visualstudio.manifests.visualstudio";
  json no_payloads = Channel(server_.Url("/manifest.vsman"));
  no_payloads["channelItems"][1].erase("payloads");
  json empty_payloads = Channel(server_.Url("/manifest.vsman"));
  empty_payloads["channelItems"][1]["payloads"] = json::array();
  json empty_url = Channel("");
  json no_url = Channel(server_.Url("/manifest.vsman"));
  no_url["channelItems"][1]["payloads"][0].erase("url");
  json payloads_not_array = Channel(server_.Url("/manifest.vsman"));
  payloads_not_array["channelItems"][1]["payloads"] = {{"url", server_.Url("/manifest.vsman")}};
  const std::string channels[] = {
      wrong_case.dump(), no_payloads.dump(),  empty_payloads.dump(),     empty_url.dump(),
      no_url.dump(),     "not json",          "[]",                      "{}",
      R"({"channelItems": {}})", R"({"channelItems": [1, "x", null]})", payloads_not_array.dump(),
  };
  for (const std::string& channel : channels) {
    SCOPED_TRACE(channel.substr(0, 200));
    server_.Serve("/channel", channel);
    ExpectFailure("the Visual Studio channel lists no package manifest");
  }
  EXPECT_EQ(server_.Count("/manifest.vsman"), 0);
}

TEST_F(MicrosoftPackages, TheLastManifestItemOfTheChannelCounts) {
  json channel = Channel(server_.Url("/old.vsman"));
  json later = channel["channelItems"][1];
  later["payloads"][0]["url"] = server_.Url("/manifest.vsman");
  channel["channelItems"].push_back(later);
  json empty = later;
  empty["payloads"] = json::array();  // gives no URL, so the one before stays
  channel["channelItems"].push_back(empty);
  ServeChannel(channel);
  ASSERT_TRUE(Resolve()) << error_;
  EXPECT_EQ(server_.Count("/old.vsman"), 0);
  EXPECT_EQ(server_.Count("/manifest.vsman"), 1);
}

TEST_F(MicrosoftPackages, ManifestThatCannotBeFetchedOrRead) {
  server_.Status("/manifest.vsman", 404);
  toolchain_.tools.clear();
  EXPECT_FALSE(Resolve());
  EXPECT_THAT(error_, StartsWith("Visual Studio manifest: "));
  EXPECT_GT(error_.size(), std::string("Visual Studio manifest: ").size());
  EXPECT_THAT(toolchain_.tools, IsEmpty());

  for (const std::string& manifest :
       {std::string("not json"), std::string("[]"), std::string("{}"),
        std::string(R"({"package": []})"), std::string(R"({"packages": {}})"), std::string("")}) {
    SCOPED_TRACE(manifest);
    server_.Serve("/manifest.vsman", manifest);
    ExpectFailure("the Visual Studio manifest is not readable");
  }
}

TEST_F(MicrosoftPackages, AStopEndsAFetchThatGetsNoAnswerAsAStop) {
  test::Reply silent;
  silent.silent = true;
  for (const std::string path : {"/channel", "/manifest.vsman"}) {
    SCOPED_TRACE(path);
    ServeChannel(Channel(server_.Url("/manifest.vsman")));
    ServeManifest(Manifest());
    server_.Route(path, silent);
    server_.ClearRecords();
    toolchain_.tools.clear();
    std::atomic<bool> cancel{false};
    bool resolved = true;
    const auto stop_to_end = test::RunAndStop(
        [&] {
          resolved =
              ResolveMicrosoftPackages(*http_, toolchain_json_.dump(), toolchain_, error_, &cancel);
        },
        cancel, [&] { return server_.Count(path) > 0; }, std::chrono::milliseconds(300));
    ASSERT_TRUE(stop_to_end.has_value());
    EXPECT_LT(*stop_to_end, std::chrono::seconds(5));
    EXPECT_FALSE(resolved);
    EXPECT_EQ(error_, kCancelled);
    EXPECT_THAT(toolchain_.tools, IsEmpty());
  }
}

TEST_F(MicrosoftPackages, OddManifestEntriesNeverThrow) {
  json manifest = Manifest();
  json& packages = manifest["packages"];
  packages.insert(packages.begin(), json(42));
  packages.insert(packages.begin(), json("text"));
  packages.insert(packages.begin(), json{{"id", 7}, {"chip", false}});
  for (json& package : packages) {
    if (IsPackage(package, CrtName("Headers"))) {
      package["payloads"].push_back(json{{"fileName", 5}, {"size", -1}, {"sha256", {1}}});
      package["payloads"].push_back("not an object");
    }
  }
  ServeManifest(manifest);
  ASSERT_TRUE(Resolve()) << error_;
  const Tool& msvc = toolchain_.tools[0];
  ASSERT_EQ(msvc.files.size(), 6u);
  EXPECT_EQ(msvc.files[1].url, "");
  EXPECT_EQ(msvc.files[1].sha256, "");
  EXPECT_EQ(msvc.files[1].size, 0u);
}

TEST_F(MicrosoftPackages, VersionFillsEveryPlaceholder) {
  toolchain_json_["msvc"]["version"] = "1.2";
  toolchain_json_["msvc"]["packages"] = {"A.{v}.{v}", "{v}"};
  json manifest = Manifest();
  manifest["packages"].push_back(Package("a.1.2.1.2", json::array({Payload("x", 1)})));
  manifest["packages"].push_back(Package("1.2", json::array({Payload("y", 2)})));
  ServeManifest(manifest);
  ASSERT_TRUE(Resolve()) << error_;
  const Tool& msvc = toolchain_.tools[0];
  EXPECT_EQ(msvc.sha256, "1.2");
  EXPECT_EQ(msvc.title, "Microsoft C++ libraries 1.2");
  ASSERT_EQ(msvc.files.size(), 2u);
  EXPECT_EQ(msvc.files[0].name, "A.1.2.1.2.vsix");
  EXPECT_EQ(msvc.files[1].name, "1.2.vsix");
}

TEST(ParsePayloads, ReadsEachPayload) {
  const json package = {
      {"payloads",
       {{{"fileName", "Installers\\sub\\A.msi"}, {"url", "u1"}, {"sha256", "AbC"}, {"size", 5}},
        {{"fileName", "dir/b.cab"}},
        {{"fileName", "c:\\x/y\\z.cab"}},
        json::object()}}};
  std::vector<FileRef> files(1);
  ParsePayloads(package, files);
  ASSERT_EQ(files.size(), 5u);
  EXPECT_EQ(files[1].name, "A.msi");
  EXPECT_EQ(files[1].url, "u1");
  EXPECT_EQ(files[1].sha256, "abc");
  EXPECT_EQ(files[1].size, 5u);
  EXPECT_EQ(files[2].name, "b.cab");
  EXPECT_EQ(files[2].url, "");
  EXPECT_EQ(files[3].name, "z.cab");
  EXPECT_EQ(files[4].name, "");
  EXPECT_EQ(files[4].size, 0u);

  std::vector<FileRef> none;
  ParsePayloads(json::object(), none);
  ParsePayloads(json{{"payloads", "x"}}, none);
  ParsePayloads(json::array(), none);
  EXPECT_THAT(none, IsEmpty());
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(FindCabNames, ThirtyTwoLowercaseHexDigitsBeforeDotCab) {
  const std::string name = "0123456789abcdef0123456789abcdef.cab";
  const std::string other = "ffffffffffffffffffffffffffffffff.cab";
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"empty", "", {}},
      {"the name alone", name, {name}},
      {"inside other bytes", std::string("\0\x01zz", 4) + name + std::string("\0\xff", 2), {name}},
      {"twice, and once in capitals",
       name + "x" + name + "-0123456789ABCDEF0123456789ABCDEF.cab", {name}},
      {"sorted", other + name, {name, other}},
      {"31 digits", "g" + name.substr(1), {}},
      {"capital letter among the digits", "0123456789abcdeF0123456789abcdef.cab", {}},
      {"upper-case suffix", "0123456789abcdef0123456789abcdef.CAB", {}},
      {"another form", "Cab1.cab ProductCab.cab", {}},
      {"longer run of digits: the last 32", "aa" + name, {name}},
      {"too close to the start", name.substr(1), {}},
      {"cut short", name.substr(0, 35), {}},
      {"back to back", name + "0123456789abcdef0123456789abcdef.cab",
       {name}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindCabNames(Bytes(c.bytes)), c.names) << c.what;
  }
}

}  // namespace
}  // namespace launcher
