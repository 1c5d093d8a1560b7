// The Debian package that CPack makes from this build, as dpkg and a user see it.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "support/process.h"
#include "support/temporary_folder.h"

namespace {

ProcessResult run(const std::vector<std::string>& argv) {
  return runProcess(argv, {"PATH=/usr/bin:/bin", "LC_ALL=C"});
}

class Package : public ::testing::Test {
 protected:
  // One package for all the tests: making it takes seconds.
  static void SetUpTestSuite() {
    scratch_ = new TemporaryFolder;
    const auto made = run({PARVO_CPACK_COMMAND, "--config", PARVO_BINARY_DIR "/CPackConfig.cmake",
                           "-B", *scratch_ / "out"});
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    std::string architecture = run({"/usr/bin/dpkg", "--print-architecture"}).output;
    architecture.pop_back();
    deb_ = *scratch_ / ("out/parvo_1.02.0013_" + architecture + ".deb");
    ASSERT_TRUE(fs::exists(deb_)) << made.output;
  }
  static void TearDownTestSuite() { delete scratch_; }

  static inline TemporaryFolder* scratch_ = nullptr;
  static inline std::string deb_;
};

TEST_F(Package, HoldsTheProgramAndItsFilesUnderUsrOnly) {
  std::string multiarch = run({"/usr/bin/dpkg-architecture", "-qDEB_HOST_MULTIARCH"}).output;
  multiarch.pop_back();
  std::map<std::string, std::string> expected;
  for (const std::string& path : std::initializer_list<std::string>{
           "lib/parvo/libcab32.so", "lib/parvo/libparvo-qt.so", "lib/parvo/libtar32.so",
           "lib/parvo/libunarj32.so", "lib/parvo/libunlha32.so", "lib/parvo/libunzip32.so",
           "lib/" + multiarch + "/nautilus/extensions-4/libparvo-nautilus.so",
           "lib/" + multiarch + "/thunarx-3/libparvo-thunar.so", "share/applications/parvo.desktop",
           "share/doc/parvo/changelog.Debian.gz", "share/doc/parvo/copyright",
           "share/icons/hicolor/32x32/apps/parvo.png",
           "share/icons/hicolor/scalable/apps/parvo.svg",
           "share/kio/servicemenus/parvo-extract.desktop",
           "share/kio/servicemenus/parvo-pack.desktop", "share/man/man1/parvo.1.gz",
           "share/nemo/actions/parvo-extract.nemo_action",
           "share/nemo/actions/parvo-pack.nemo_action"})
    expected["./usr/" + path] = "-rw-r--r--";
  for (const char* program : {"./usr/bin/parvo", "./usr/share/nemo/actions/parvo-nemo-run"})
    expected[program] = "-rwxr-xr-x";
  std::istringstream listing(run({"/usr/bin/dpkg-deb", "--contents", deb_}).output);
  std::map<std::string, std::string> files;
  for (std::string mode, owner, size, date, time, path;
       listing >> mode >> owner >> size >> date >> time >> path;) {
    EXPECT_TRUE(path.starts_with("./usr/") || path == "./") << path;
    EXPECT_EQ(owner, "root/root") << path;
    if (!mode.starts_with('d')) files[path] = mode;
  }
  EXPECT_EQ(files, expected);
}

TEST_F(Package, ControlFieldsAreComputedNoScriptsAndLintianPasses) {
  const auto field = [](const char* name) {
    return run({"/usr/bin/dpkg-deb", "--field", deb_, name}).output;
  };
  EXPECT_EQ(field("Recommends"), "fonts-ipafont-gothic\n");
  // The menu modules use the library of the file manager that loads them: no dependency on any.
  const std::string depends = field("Depends");
  for (const char* library : {"libnautilus-extension", "libthunarx", "libgtk"})
    EXPECT_EQ(depends.find(library), std::string::npos) << depends;
  // From the libraries the program loads as well as from the program itself.
  for (const char* library : {"libc6", "libarchive13", "liblhasa0", "libmspack0", "libqt6widgets6"})
    EXPECT_NE(depends.find(library), std::string::npos) << depends;
  EXPECT_EQ(run({"/bin/sh", "-c", "dpkg-deb --ctrl-tarfile \"$0\" | tar -t | sort", deb_}).output,
            "./control\n./md5sums\n");
  // A native version (no Debian revision) with changelog.Debian.gz: the one warning accepted.
  const auto checked = run({"/usr/bin/lintian", "--fail-on", "error,warning", "--suppress-tags",
                            "wrong-name-for-changelog-of-native-package", deb_});
  EXPECT_EQ(checked.exitStatus, 0) << checked.output;
}

TEST_F(Package, UnpackedProgramFindsItsLibrariesAndRuns) {
  const std::string root = *scratch_ / "root";
  ASSERT_EQ(run({"/usr/bin/dpkg", "--extract", deb_, root}).exitStatus, 0);
  const std::string home = *scratch_ / "home";
  writeFile(*scratch_ / "Photos/trip/day1.txt", "sunny\n");
  // No LD_LIBRARY_PATH: the program's RUNPATH leads to /usr/lib/parvo, and neither it nor the
  // build tree's has an empty entry, which the loader would search as the current folder.
  for (const std::string& program :
       {root + "/usr/bin/parvo", std::string(PARVO_BINARY_DIR "/bin/parvo")}) {
    const std::string dynamic = run({"/usr/bin/readelf", "--dynamic", program}).output;
    EXPECT_NE(dynamic.find("Library runpath: [$ORIGIN/../lib/parvo:$ORIGIN/../lib]"),
              std::string::npos)
        << dynamic;
  }
  // The default pack: the self-extracting program, made by the unpacked library alone.
  const auto packed =
      runProcess({root + "/usr/bin/parvo", *scratch_ / "Photos"}, {"HOME=" + home, "LC_ALL=C"});
  ASSERT_EQ(packed.exitStatus, 0) << packed.output;
  const auto extracted =
      runProcess({home + "/Desktop/Photos.run", "--dest", *scratch_ / "out"}, {});
  ASSERT_EQ(extracted.exitStatus, 0) << extracted.output;
  EXPECT_EQ(readFile(*scratch_ / "out/trip/day1.txt"), "sunny\n");
}

}  // namespace
