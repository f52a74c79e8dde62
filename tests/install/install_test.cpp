//===- install_test.cpp - QdPack installed, and used by an author's project --===//
//
// Installs this build as a release engineer would: `cmake --install` into a
// prefix, or the Debian package that cpack makes, unpacked. Then the sample
// project of tests/data/sample_project, an author's own CMake project, finds
// the installation with find_package and builds its package with
// qdpack_add_package; the installed qdpkg must verify it. The script helpers
// that change a script from CMake are checked against the builder's reader.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <set>

#include "e2e/builder_support.h"
#include "package/script.h"

namespace qd::test {
namespace {

namespace fs = std::filesystem;

const fs::path SampleSource = fs::path(QDPACK_SOURCE_DIR) / "tests/data/sample_project";

RunResult CMake(const std::vector<std::string>& args) { return Run(QDPACK_CMAKE, args); }

// An installation in a scratch folder: `prefix` is what an author points
// find_package at.
struct Installation {
  ScratchDir dir;
  fs::path prefix;
  fs::path deb;         // the Debian package, when it came from one
  std::string failure;  // empty when it is there
};

void InstallWithCMake(Installation& installation) {
  installation.prefix = installation.dir / "prefix";
  const RunResult install = CMake({"--install", QDPACK_BINARY_DIR, "--prefix", installation.prefix.string()});
  if (install.exitCode != 0) installation.failure = "cmake --install failed: " + install.out + install.err;
}

void InstallFromDeb(Installation& installation) {
  const RunResult cpack = Run(QDPACK_CPACK, {"-G", "DEB", "--config", QDPACK_BINARY_DIR "/CPackConfig.cmake",
                                             "-B", (installation.dir / "cpack").string()});
  for (const auto& entry : fs::directory_iterator(installation.dir / "cpack"))
    if (entry.path().extension() == ".deb") installation.deb = entry.path();
  if (cpack.exitCode != 0 || installation.deb.empty()) {
    installation.failure = "cpack made no .deb: " + cpack.out + cpack.err;
    return;
  }
  const fs::path root = installation.dir / "root";
  if (test::Run(DpkgDeb.path, {"-x", installation.deb.string(), root.string()}).exitCode != 0)
    installation.failure = "dpkg-deb could not unpack " + installation.deb.string();
  installation.prefix = root / "usr";
}

// The files under `root`, as paths relative to it.
std::set<std::string> FilesUnder(const fs::path& root) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).string());
  return files;
}

// The sample project configured against `installation` in `binary`, and built.
RunResult BuildSample(const Installation& installation, const fs::path& binary,
                      const std::vector<std::string>& definitions = {}) {
  std::vector<std::string> args = {"-S", SampleSource.string(), "-B", binary.string(), "-G", QDPACK_CMAKE_GENERATOR,
                                   "-DCMAKE_MAKE_PROGRAM=" QDPACK_MAKE_PROGRAM,
                                   "-DCMAKE_PREFIX_PATH=" + installation.prefix.string(),
                                   "-DPAYLOAD_DIR=" QDPACK_WIN32_DIR "/examples"};
  args.insert(args.end(), definitions.begin(), definitions.end());
  const RunResult configure = CMake(args);
  if (configure.exitCode != 0) return configure;
  return CMake({"--build", binary.string()});
}

class Installed : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWindowsBuild()) GTEST_SKIP() << "no 32-bit Windows build: an installation would have no stub";
  }
};

TEST_F(Installed, DebianPackageHoldsWhatCMakeInstallPuts) {
  QD_REQUIRE_TOOL(DpkgDeb);
  Installation installed, packaged;
  InstallWithCMake(installed);
  InstallFromDeb(packaged);
  ASSERT_EQ(installed.failure + packaged.failure, "");

  const std::set<std::string> files = FilesUnder(installed.prefix);
  for (const char* name : {"bin/qdpack", "bin/qdpkg", "bin/qdcodec", "share/qdpack/QdPack.exe",
                           "lib/cmake/QdPack/QdPackConfig.cmake", "lib/cmake/QdPack/QdPackConfigVersion.cmake"})
    EXPECT_EQ(files.count(name), 1u) << name;
  EXPECT_EQ(ReadAll(installed.prefix / "share/qdpack/QdPack.exe"), ReadAll(StubSource()));
  EXPECT_EQ(FilesUnder(packaged.prefix), files);

  const RunResult fields = test::Run(DpkgDeb.path, {"-f", packaged.deb.string(), "Package", "Version", "Depends"});
  ASSERT_EQ(fields.exitCode, 0) << fields.err;
  EXPECT_NE(fields.out.find("Package: qdpack\n"), std::string::npos) << fields.out;
  EXPECT_NE(fields.out.find("Version: " QDPACK_VERSION "\n"), std::string::npos) << fields.out;
  EXPECT_NE(fields.out.find("Depends: libc6"), std::string::npos) << fields.out;
}

// What the sample project's packing list becomes for one case.
struct ScriptChange {
  std::string from, to;  // `from` empty: the list as it is
};

TEST_F(Installed, AnAuthorsProjectBuildsAPackageThatVerifies) {
  QD_REQUIRE_TOOL(DpkgDeb);
  QD_REQUIRE_TOOL(Openssl);
  QD_REQUIRE_TOOL(Osslsigncode);
  Installation installed, packaged;
  InstallWithCMake(installed);
  InstallFromDeb(packaged);
  ASSERT_EQ(installed.failure + packaged.failure, "");
  ScratchDir keys;
  const RunResult certificate = test::Run(Openssl.path, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                                   "-subj", "/CN=QdPack test signer", "-keyout", (keys / "k.pem").string(),
                                                   "-out", (keys / "c.pem").string()});
  ASSERT_EQ(certificate.exitCode, 0) << certificate.err;
  const std::vector<std::string> signing = {"-DSIGNING_CERT=" + (keys / "c.pem").string(),
                                            "-DSIGNING_KEY=" + (keys / "k.pem").string()};
  const std::string script = ReadText(SampleSource / "SetupQd.ini");

  const struct {
    const char* name;
    const Installation& installation;
    bool signing = false;
    ScriptChange change;
    bool builds;
    const char* buildSays;
    const char* verifySays = "verified: every check holds";
  } cases[] = {
      {"cmake --install", installed, false, {}, true, "Package of"},
      {"signed", installed, true, {}, true, "Package of", "certificate table"},
      {"the .deb", packaged, false, {}, true, "Package of"},
      {"a missing source is dropped, and the author's list stays as written", installed, false,
       {"File02", "File03 = notes.txt, payload\\missing.txt\nFile02"}, true, "payload\\missing.txt not found"},
      {"the builder's failure line reaches the author", installed, false, {"OutputName", "Output"}, false,
       "Output filename directive missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir work;
    std::vector<std::string> definitions = c.signing ? signing : std::vector<std::string>{};
    const fs::path list = work / "SetupQd.ini";
    if (!c.change.from.empty()) {
      std::string changed = script;
      changed.replace(changed.find(c.change.from), c.change.from.size(), c.change.to);
      WriteText(list, changed);
      definitions.push_back("-DSAMPLE_SCRIPT=" + list.string());
    }
    const std::string written = c.change.from.empty() ? script : ReadText(list);
    const fs::path binary = work / "build";
    const RunResult build = BuildSample(c.installation, binary, definitions);
    const std::string said = build.out + build.err;
    EXPECT_NE(said.find(c.buildSays), std::string::npos) << said;
    EXPECT_EQ(ReadText(c.change.from.empty() ? SampleSource / "SetupQd.ini" : list), written);
    EXPECT_FALSE(fs::exists(binary / "logfile.txt")) << "the builder's log stays in the working folder";
    const fs::path record = binary / "update.qdpack/package.txt";
    if (!c.builds) {
      EXPECT_NE(build.exitCode, 0);
      EXPECT_FALSE(fs::exists(record));
      EXPECT_FALSE(fs::exists(binary / "update/Update2_05_07d.exe")) << "a failed build leaves no package";
      continue;
    }
    ASSERT_EQ(build.exitCode, 0) << said;
    // The copy of the list names the installation's stub, and the record the package.
    const std::string copy = (binary / "update.qdpack/SetupQd.ini").string();
    EXPECT_EQ(ReadScriptValue(script::In, script::QdFileName, copy), (c.installation.prefix / "share/qdpack/QdPack.exe").string());
    std::string package = ReadText(record);
    package.pop_back();
    EXPECT_EQ(package, (binary / "update/Update2_05_07d.exe").string());
    const RunResult verify = test::Run((c.installation.prefix / "bin/qdpkg").string(), {"verify", package});
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
    EXPECT_NE(verify.out.find(c.verifySays), std::string::npos) << verify.out;
    EXPECT_NE(verify.out.find("the script and 2 files"), std::string::npos) << verify.out;
  }
}

TEST_F(Installed, PackageIsBuiltAgainWhenAListedSourceChanges) {
  Installation installed;
  InstallWithCMake(installed);
  ASSERT_EQ(installed.failure, "");
  ScratchDir work;
  const fs::path binary = work / "build";
  ASSERT_EQ(BuildSample(installed, binary).exitCode, 0);

  const RunResult unchanged = CMake({"--build", binary.string()});
  EXPECT_EQ(unchanged.out.find("Package of"), std::string::npos) << unchanged.out;
  const fs::path source = binary / "payload/setup.exe";
  fs::last_write_time(source, fs::last_write_time(source) + std::chrono::seconds(10));
  const RunResult changed = CMake({"--build", binary.string()});
  EXPECT_NE(changed.out.find("Package of"), std::string::npos) << changed.out;
}

// The CMake package changes an author's script only through these helpers;
// they must find what the builder's own reader finds, and set what it reads.
TEST(ScriptHelpers, ReadAndSetWhatTheBuildersReaderReads) {
  const char* const scripts[] = {
      "[in]\r\n  qdfilename =  \"QdPack.exe\"  \r\nOther=1\r\n[Out]\r\nOutputName=out\\Update%s.exe\r\n"
      "[Files]\r\nFile01=engine.dll,build\\engine.dll\r\n",
      "[In]\r\nOther=1\r\n\r\n[Out]\r\nOutputName=x%s.exe\r\n",          // key missing before another section
      "[Out]\r\nOutputName=x%s.exe",                                      // section missing, no last line end
      "[In]\r\nOther=1\r\n[Files]\r\nFile01=a,b\r\n[IN]\r\nQdFileName=late.exe\r\n",  // only the first [In] counts
      "[In]\rQdFileName=a.exe\r[Out]\nOutputName=o%s.exe\n",             // CR alone and LF alone end lines
      "; QdFileName = c.exe\r\n[In] ; the stub\r\n; QdFileName=d.exe\r\nQdFileName\r\nQdFileName=e.exe\r\n",
      "\xEF\xBB\xBF[In]\r\nQdFileName=a.exe\r\n[Out]\r\nOutputName='q%s.exe'\r\n",  // UTF-8 with its mark
      "[In]\r\nQdFileName=@none\r\n",
  };
  const std::pair<std::string_view, std::string_view> probes[] = {
      {script::In, script::QdFileName}, {script::In, "Other"}, {script::Out, script::OutputName},
      {script::Files, "File01"}};
  const std::string stub = "/opt/qd pack/share/qdpack/QdPack.exe";
  const std::string helpers = QDPACK_SOURCE_DIR "/cmake/package/QdPackScript.cmake";
  const std::string runner = QDPACK_SOURCE_DIR "/tests/data/script_helpers.cmake";
  ScratchDir dir;
  const auto read = [&](const fs::path& path, std::string_view section, std::string_view key) {
    const std::string value = ReadScriptValue(section, key, path.string());
    return IsAbsent(value) ? std::string() : value;
  };
  for (const char* text : scripts) {
    SCOPED_TRACE(text);
    WriteText(dir / "in.ini", text);
    const std::vector<std::string> common = {"-DHELPERS=" + helpers, "-DSCRIPT=" + (dir / "in.ini").string(),
                                             "-DOUT=" + (dir / "out").string()};
    for (const auto& [section, key] : probes) {
      std::vector<std::string> args = common;
      args.insert(args.end(), {"-DSECTION=" + std::string(section), "-DKEY=" + std::string(key), "-P", runner});
      ASSERT_EQ(CMake(args).exitCode, 0);
      EXPECT_EQ(ReadText(dir / "out"), read(dir / "in.ini", section, key)) << key;
    }
    std::vector<std::string> args = common;
    args.insert(args.end(), {"-DSECTION=In", "-DKEY=QdFileName", "-DVALUE=" + stub, "-P", runner});
    ASSERT_EQ(CMake(args).exitCode, 0);
    for (const auto& [section, key] : probes)
      EXPECT_EQ(read(dir / "out", section, key),
                key == script::QdFileName ? stub : read(dir / "in.ini", section, key)) << key;
  }

  WriteText(dir / "in.ini", Utf16(u"[In]\r\nQdFileName=a.exe\r\n"));
  const RunResult utf16 = CMake({"-DHELPERS=" + helpers, "-DSCRIPT=" + (dir / "in.ini").string(), "-DSECTION=In",
                                 "-DKEY=QdFileName", "-DOUT=" + (dir / "out").string(), "-P", runner});
  EXPECT_NE(utf16.exitCode, 0);
  EXPECT_NE(utf16.err.find("UTF-16"), std::string::npos) << utf16.err;
}

}  // namespace
}  // namespace qd::test
