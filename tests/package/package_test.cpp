// The Debian package that CPack makes from this build, as dpkg, lintian and a user see it.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "support/process.h"
#include "support/temporary_folder.h"

namespace fs = std::filesystem;

namespace {

ProcessResult run(const std::vector<std::string>& argv, const std::string& directory = ".") {
  return runProcess(argv, {"PATH=/usr/bin:/bin", "LC_ALL=C"}, directory);
}

class Package : public ::testing::Test {
 protected:
  // One package for all the tests: making it takes seconds.
  static void SetUpTestSuite() {
    scratch_ = new TemporaryFolder;
    const auto made = run({PARVO_CPACK_COMMAND, "--config", PARVO_BINARY_DIR "/CPackConfig.cmake",
                           "-B", *scratch_ / "out"});
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    architecture_ = run({"/usr/bin/dpkg", "--print-architecture"}).output;
    architecture_.pop_back();
    deb_ = *scratch_ / ("out/parvo_1.02.0013_" + architecture_ + ".deb");
    ASSERT_TRUE(fs::exists(deb_)) << made.output;
  }
  static void TearDownTestSuite() { delete scratch_; }

  static inline TemporaryFolder* scratch_ = nullptr;
  static inline std::string architecture_;
  static inline std::string deb_;
};

TEST_F(Package, HoldsTheProgramAndItsFilesUnderUsrOnly) {
  std::string multiarch = run({"/usr/bin/dpkg-architecture", "-qDEB_HOST_MULTIARCH"}).output;
  multiarch.pop_back();
  const std::map<std::string, std::string> expected = {
      {"./usr/bin/parvo", "-rwxr-xr-x"},
      {"./usr/lib/parvo/libcab32.so", "-rw-r--r--"},
      {"./usr/lib/parvo/libparvo-qt.so", "-rw-r--r--"},
      {"./usr/lib/parvo/libtar32.so", "-rw-r--r--"},
      {"./usr/lib/parvo/libunarj32.so", "-rw-r--r--"},
      {"./usr/lib/parvo/libunlha32.so", "-rw-r--r--"},
      {"./usr/lib/parvo/libunzip32.so", "-rw-r--r--"},
      {"./usr/lib/" + multiarch + "/nautilus/extensions-4/libparvo-nautilus.so", "-rw-r--r--"},
      {"./usr/lib/" + multiarch + "/thunarx-3/libparvo-thunar.so", "-rw-r--r--"},
      {"./usr/share/applications/parvo.desktop", "-rw-r--r--"},
      {"./usr/share/doc/parvo/changelog.Debian.gz", "-rw-r--r--"},
      {"./usr/share/doc/parvo/copyright", "-rw-r--r--"},
      {"./usr/share/icons/hicolor/32x32/apps/parvo.png", "-rw-r--r--"},
      {"./usr/share/icons/hicolor/scalable/apps/parvo.svg", "-rw-r--r--"},
      {"./usr/share/kio/servicemenus/parvo-extract.desktop", "-rw-r--r--"},
      {"./usr/share/kio/servicemenus/parvo-pack.desktop", "-rw-r--r--"},
      {"./usr/share/man/man1/parvo.1.gz", "-rw-r--r--"},
      {"./usr/share/nemo/actions/parvo-extract.nemo_action", "-rw-r--r--"},
      {"./usr/share/nemo/actions/parvo-nemo-run", "-rwxr-xr-x"},
      {"./usr/share/nemo/actions/parvo-pack.nemo_action", "-rw-r--r--"},
  };
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

TEST_F(Package, ControlFieldsAreComputedAndThereAreNoScripts) {
  std::istringstream control(run({"/usr/bin/dpkg-deb", "--field", deb_}).output);
  std::map<std::string, std::string> fields;
  for (std::string line; std::getline(control, line);) {
    const std::size_t colon = line.find(": ");
    if (!line.starts_with(' ') && colon != std::string::npos)
      fields[line.substr(0, colon)] = line.substr(colon + 2);
  }
  EXPECT_EQ(fields["Package"], "parvo");
  EXPECT_EQ(fields["Version"], "1.02.0013");
  EXPECT_EQ(fields["Architecture"], architecture_);
  EXPECT_EQ(fields["Recommends"], "fonts-ipafont-gothic");
  // The menu modules use the library of the file manager that loads them: no dependency on any.
  EXPECT_EQ(fields["Enhances"], "nautilus, thunar, nemo, dolphin");
  for (const char* library : {"libnautilus-extension", "libthunarx", "libgtk"})
    EXPECT_EQ(fields["Depends"].find(library), std::string::npos) << fields["Depends"];
  // From the libraries the program loads as well as from the program itself.
  for (const char* library : {"libc6", "libarchive13", "liblhasa0", "libmspack0", "libqt6widgets6"})
    EXPECT_NE(fields["Depends"].find(library), std::string::npos) << fields["Depends"];

  const std::string controlFolder = *scratch_ / "control";
  ASSERT_EQ(run({"/usr/bin/dpkg-deb", "--control", deb_, controlFolder}).exitStatus, 0);
  std::set<std::string> members;
  for (const auto& entry : fs::directory_iterator(controlFolder))
    members.insert(entry.path().filename());
  EXPECT_EQ(members, (std::set<std::string>{"control", "md5sums"}));
}

TEST_F(Package, LintianFindsNothingButTheChangelogName) {
  // A native version (no Debian revision) with changelog.Debian.gz: the one warning accepted.
  const auto checked = run({"/usr/bin/lintian", "--fail-on", "error,warning", "--suppress-tags",
                            "wrong-name-for-changelog-of-native-package", deb_});
  EXPECT_EQ(checked.exitStatus, 0) << "lintian (scripts/setup test installs it):\n"
                                   << checked.output;
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
    const std::size_t start = dynamic.find("Library runpath: [");
    ASSERT_NE(start, std::string::npos) << program;
    const std::size_t open = start + std::strlen("Library runpath: [");
    const std::string runpath = dynamic.substr(open, dynamic.find(']', open) - open);
    EXPECT_EQ(runpath, "$ORIGIN/../lib/parvo:$ORIGIN/../lib") << program;
  }
  const auto parvo = [&](const std::string& path) {
    return runProcess({root + "/usr/bin/parvo", path}, {"HOME=" + home, "LC_ALL=C"});
  };
  EXPECT_EQ(parvo("--version").output, "parvo 1.02.0013\n");
  // The default pack: the self-extracting program, made by the unpacked library alone.
  const auto packed = parvo(*scratch_ / "Photos");
  ASSERT_EQ(packed.exitStatus, 0) << packed.output;
  const auto extracted =
      runProcess({home + "/Desktop/Photos.run", "--dest", *scratch_ / "out"}, {});
  ASSERT_EQ(extracted.exitStatus, 0) << extracted.output;
  EXPECT_EQ(readFile(*scratch_ / "out/trip/day1.txt"), "sunny\n");
}

}  // namespace
