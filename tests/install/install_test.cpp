//===- install_test.cpp - QdPack installed, and used by an author's project --===//
//
// Installs this build as a release engineer would: `cmake --install` into a
// prefix, and the Debian package that cpack makes, unpacked. The sample
// project of tests/data/sample_project, an author's own CMake project, finds
// an installation with find_package and builds its package with
// qdpack_add_package; the installed qdpkg must verify it. The helpers that
// read and change a script from CMake are checked against the builder's reader.
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

RunResult CMake(const std::vector<std::string>& args) { return test::Run(QDPACK_CMAKE, args); }

// The files under `root`, as paths relative to it.
std::set<std::string> FilesUnder(const fs::path& root) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).string());
  return files;
}

// Two installations of this build: `prefix` by cmake --install, and
// `debPrefix`, the /usr of the .deb unpacked.
class Installed : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWindowsBuild()) GTEST_SKIP() << "no 32-bit Windows build: an installation would have no stub";
    QD_REQUIRE_TOOL(DpkgDeb);
    const RunResult install = CMake({"--install", QDPACK_BINARY_DIR, "--prefix", prefix.string()});
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    const RunResult cpack = test::Run(QDPACK_CPACK, {"-G", "DEB", "--config", QDPACK_BINARY_DIR "/CPackConfig.cmake",
                                                     "-B", (dir / "cpack").string()});
    ASSERT_EQ(cpack.exitCode, 0) << cpack.out << cpack.err;
    for (const auto& entry : fs::directory_iterator(dir / "cpack"))
      if (entry.path().extension() == ".deb") deb = entry.path();
    ASSERT_EQ(test::Run(DpkgDeb.path, {"-x", deb.string(), (dir / "root").string()}).exitCode, 0) << deb;
  }

  ScratchDir dir;
  fs::path prefix = dir / "prefix";
  fs::path deb;
  fs::path debPrefix = dir / "root/usr";
};

// The sample project configured against the installation at `prefix` in `binary`, and built.
RunResult BuildSample(const fs::path& prefix, const fs::path& binary, std::vector<std::string> args = {}) {
  args.insert(args.end(), {"-S", SampleSource.string(), "-B", binary.string(), "-G", QDPACK_CMAKE_GENERATOR,
                           "-DCMAKE_MAKE_PROGRAM=" QDPACK_MAKE_PROGRAM, "-DCMAKE_PREFIX_PATH=" + prefix.string(),
                           "-DPAYLOAD_DIR=" QDPACK_WIN32_DIR "/examples"});
  const RunResult configure = CMake(args);
  return configure.exitCode != 0 ? configure : CMake({"--build", binary.string()});
}

TEST_F(Installed, DebianPackageHoldsWhatCMakeInstallPuts) {
  const std::set<std::string> files = FilesUnder(prefix);
  for (const char* name : {"bin/qdpack", "bin/qdpkg", "bin/qdcodec", "share/qdpack/QdPack.exe",
                           "lib/cmake/QdPack/QdPackConfig.cmake", "lib/cmake/QdPack/QdPackConfigVersion.cmake"})
    EXPECT_EQ(files.count(name), 1u) << name;
  EXPECT_EQ(ReadAll(prefix / "share/qdpack/QdPack.exe"), ReadAll(StubSource()));
  EXPECT_EQ(FilesUnder(debPrefix), files);

  const RunResult fields = test::Run(DpkgDeb.path, {"-f", deb.string(), "Package", "Version", "Depends"});
  EXPECT_EQ(fields.out.substr(0, fields.out.find("Depends: libc6")),
            "Package: qdpack\nVersion: " QDPACK_VERSION "\n") << fields.out;
}

TEST_F(Installed, AnAuthorsProjectBuildsAPackageThatVerifies) {
  QD_REQUIRE_TOOL(Openssl);
  QD_REQUIRE_TOOL(Osslsigncode);
  const RunResult certificate = test::Run(Openssl.path, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                                         "-subj", "/CN=QdPack test signer", "-keyout",
                                                         (dir / "k.pem").string(), "-out", (dir / "c.pem").string()});
  ASSERT_EQ(certificate.exitCode, 0) << certificate.err;
  const std::string sample = ReadText(SampleSource / "SetupQd.ini");

  const struct {
    const char* name;
    const fs::path& prefix;
    bool signing;
    std::string from, to;  // the change to the sample's packing list; `from` empty: none
    bool builds;
    const char* buildSays;
    const char* verifySays = "verified: every check holds";
  } cases[] = {
      {"cmake --install", prefix, false, "", "", true, "Package of SetupQd.ini"},
      {"signed", prefix, true, "", "", true, "Package of SetupQd.ini", "certificate table"},
      {"the .deb", debPrefix, false, "", "", true, "Package of SetupQd.ini"},
      {"a missing source is dropped from the copy", prefix, false, "File02",
       "File03 = notes.txt, payload\\missing.txt\nFile02", true, "payload\\missing.txt not found"},
      {"the builder's failure line", prefix, false, "OutputName", "Output", false, "Output filename directive missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir work;
    std::vector<std::string> args;
    if (c.signing) args = {"-DSIGNING_CERT=" + (dir / "c.pem").string(), "-DSIGNING_KEY=" + (dir / "k.pem").string()};
    fs::path list = SampleSource / "SetupQd.ini";
    std::string written = sample;
    if (!c.from.empty()) {
      list = work / "SetupQd.ini";
      WriteText(list, written.replace(written.find(c.from), c.from.size(), c.to));
      args.push_back("-DSAMPLE_SCRIPT=" + list.string());
    }
    const fs::path binary = work / "build";
    const RunResult build = BuildSample(c.prefix, binary, args);
    EXPECT_NE((build.out + build.err).find(c.buildSays), std::string::npos) << build.out << build.err;
    EXPECT_EQ(ReadText(list), written) << "the author's list changed";
    EXPECT_FALSE(fs::exists(binary / "logfile.txt")) << "the builder's log stays in the working folder";
    const fs::path record = binary / "update.qdpack/package.txt";
    const fs::path package = binary / "update/Update2_05_07d.exe";
    EXPECT_EQ(build.exitCode == 0, c.builds) << build.out << build.err;
    if (!c.builds) {
      EXPECT_FALSE(fs::exists(record) || fs::exists(package)) << "a failed build leaves no package";
      continue;
    }
    EXPECT_EQ(ReadText(record), package.string() + "\n");
    EXPECT_EQ(ReadScriptValue(script::In, script::QdFileName, (binary / "update.qdpack/SetupQd.ini").string()),
              (c.prefix / "share/qdpack/QdPack.exe").string());
    const RunResult verify = test::Run((c.prefix / "bin/qdpkg").string(), {"verify", package.string()});
    EXPECT_EQ(verify.exitCode, 0) << verify.out;
    EXPECT_NE(verify.out.find(c.verifySays), std::string::npos) << verify.out;
    EXPECT_NE(verify.out.find("the script and 2 files"), std::string::npos) << verify.out;
  }
}

TEST_F(Installed, PackageIsBuiltAgainWhenAListedSourceChanges) {
  const fs::path binary = dir / "build";
  ASSERT_EQ(BuildSample(prefix, binary).exitCode, 0);
  EXPECT_EQ(CMake({"--build", binary.string()}).out.find("Package of"), std::string::npos);
  const fs::path source = binary / "payload/setup.exe";
  fs::last_write_time(source, fs::last_write_time(source) + std::chrono::seconds(10));
  EXPECT_NE(CMake({"--build", binary.string()}).out.find("Package of"), std::string::npos);
}

// The CMake package reads and changes an author's script only through these
// helpers: they must find what the builder's own reader finds, and set what it reads.
TEST(ScriptHelpers, ReadAndSetWhatTheBuildersReaderReads) {
  const char* const scripts[] = {
      ("[in]\r\n  qdfilename =  \"QdPack.exe\"  \r\nOther=1\r\n[Out]\r\nOutputName=out\\Update%s.exe\r\n"
       "[Files]\r\nFile01=engine.dll,build\\engine.dll\r\n"),
      "[In]\r\nOther=1\r\n\r\n[Out]\r\nOutputName=x%s.exe\r\n",                      // key missing
      "[Out]\r\nOutputName=x%s.exe",                                                  // section missing, no line end
      "[In]\r\nOther=1\r\n[Files]\r\nFile01=a,b\r\n[IN]\r\nQdFileName=late.exe\r\n",  // only the first [In] counts
      "[In]\rQdFileName=a.exe\r[Out]\nOutputName=o%s.exe\n",                         // CR alone and LF alone
      "; QdFileName = c.exe\r\n[In] ; the stub\r\n; QdFileName=d.exe\r\nQdFileName\r\nQdFileName=e.exe\r\n",
      "\xEF\xBB\xBF[In]\r\nQdFileName=a.exe\r\n[Out]\r\nOutputName='q%s.exe'\r\n",    // UTF-8 with its mark
      "[In]\r\nQdFileName=@none\r\n",
  };
  const std::pair<std::string, std::string> probes[] = {
      {"In", "QdFileName"}, {"In", "Other"}, {"Out", "OutputName"}, {"Files", "File01"}};
  const std::string stub = "/opt/qd pack/share/qdpack/QdPack.exe";
  ScratchDir dir;
  const fs::path in = dir / "in.ini", out = dir / "out";
  // The helper's answer (with `value`: the script with it set) lands in `out`.
  const auto helper = [&](const std::string& section, const std::string& key, const char* value = nullptr) {
    std::vector<std::string> args = {"-DHELPERS=" QDPACK_SOURCE_DIR "/cmake/package/QdPackScript.cmake",
                                     "-DSCRIPT=" + in.string(), "-DOUT=" + out.string(), "-DSECTION=" + section,
                                     "-DKEY=" + key};
    if (value) args.push_back(std::string("-DVALUE=") + value);
    args.insert(args.end(), {"-P", QDPACK_SOURCE_DIR "/tests/data/script_helpers.cmake"});
    return CMake(args);
  };
  const auto read = [](const fs::path& path, const std::string& section, const std::string& key) {
    const std::string value = ReadScriptValue(section, key, path.string());
    return IsAbsent(value) ? std::string() : value;
  };
  for (const char* text : scripts) {
    SCOPED_TRACE(text);
    WriteText(in, text);
    for (const auto& [section, key] : probes) {
      ASSERT_EQ(helper(section, key).exitCode, 0);
      EXPECT_EQ(ReadText(out), read(in, section, key)) << key;
    }
    ASSERT_EQ(helper("In", "QdFileName", stub.c_str()).exitCode, 0);
    for (const auto& [section, key] : probes)
      EXPECT_EQ(read(out, section, key), key == "QdFileName" ? stub : read(in, section, key)) << key;
  }

  WriteText(in, Utf16(u"[In]\r\nQdFileName=a.exe\r\n"));
  const RunResult utf16 = helper("In", "QdFileName");
  EXPECT_NE(utf16.exitCode, 0);
  EXPECT_NE(utf16.err.find("UTF-16"), std::string::npos) << utf16.err;
}

}  // namespace
}  // namespace qd::test
