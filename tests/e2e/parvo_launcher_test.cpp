// The installed launcher as the desktop's own lookups see it.
#include <gtest/gtest.h>

#include "support/process.h"
#include "support/temporary_folder.h"

namespace {

const std::string kFolder = "inode/directory";
const std::string kArchiveTypes[] = {"application/vnd.ms-cab-compressed", "application/x-lha",
                                     "application/zip", "application/x-tar", "application/x-arj"};

struct Install {
  const char* name;
  bool intoHome;  // the README's ~/.local install, else as the package lies under /usr
};

struct DefaultSet {
  const char* name;
  std::string (*mimeappsList)(const TemporaryFolder&);  // empty: no default set anywhere
};

const DefaultSet kDefaults[] = {
    {"none", [](const TemporaryFolder&) { return std::string(); }},
    {"by the user", [](const TemporaryFolder& f) { return f / "config/mimeapps.list"; }},
    {"by the system", [](const TemporaryFolder& f) { return f / "xdg/mimeapps.list"; }},
    {"by the distribution",
     [](const TemporaryFolder& f) { return f / "system/applications/mimeapps.list"; }},
};

// gio's answer for a type: its default application, and whether Parvo is offered at all.
struct Lookup {
  std::string defaultApplication;
  bool offersParvo = false;
};

Lookup lookUp(const std::string& type, const std::vector<std::string>& environment) {
  const std::string answer = runProcess({"/usr/bin/gio", "mime", type}, environment).output;
  Lookup lookup;
  const std::string firstLine = answer.substr(0, answer.find('\n'));
  if (const std::size_t colon = firstLine.rfind(": "); colon != std::string::npos)
    lookup.defaultApplication = firstLine.substr(colon + 2);
  lookup.offersParvo = answer.find("\tparvo.desktop\n") != std::string::npos;
  return lookup;
}

// Parvo offers itself under Open With for the five archive types and never for folders. Where
// anyone has set a default for an archive type, installing Parvo leaves it; a folder opens in
// the file manager whatever is set.
TEST(InstalledLauncher, OffersArchivesAndLeavesEveryDefaultAsItWas) {
  for (const Install install : {Install{"~/.local", true}, Install{"/usr", false}}) {
    for (const DefaultSet& defaults : kDefaults) {
      SCOPED_TRACE(std::string(install.name) + ", default set " + defaults.name);
      TemporaryFolder folder;
      const std::string prefix = install.intoHome ? folder / "local" : folder / "usr";
      const std::string system = folder / "system";
      ASSERT_EQ(
          runProcess({PARVO_CMAKE_COMMAND, "--install", PARVO_BINARY_DIR, "--prefix", prefix}, {})
              .exitStatus,
          0);
      std::string archiveTypes;
      for (const std::string& type : kArchiveTypes) archiveTypes += type + ";";
      writeFile(system + "/applications/files.desktop",
                "[Desktop Entry]\nType=Application\nName=Files\nExec=true %U\nMimeType=" + kFolder +
                    ";\n");
      writeFile(system + "/applications/archiver.desktop",
                "[Desktop Entry]\nType=Application\nName=Archiver\nExec=true %U\nMimeType=" +
                    archiveTypes + "\n");
      if (const std::string list = defaults.mimeappsList(folder); !list.empty()) {
        std::string lines = "[Default Applications]\n";
        for (const std::string& type : kArchiveTypes) lines += type + "=archiver.desktop;\n";
        writeFile(list, lines);
      }
      const std::string installed = prefix + "/share", emptyHome = folder / "home-data";
      const std::vector<std::string> environment = {
          "XDG_DATA_HOME=" + (install.intoHome ? installed : emptyHome),
          "XDG_DATA_DIRS=" + (install.intoHome ? system : installed + ":" + system),
          "XDG_CONFIG_HOME=" + folder / "config",
          "XDG_CONFIG_DIRS=" + folder / "xdg",
          "HOME=" + folder / "home",
          "PATH=" + prefix + "/bin:/usr/bin:/bin",
          "LC_ALL=C.UTF-8"};
      // What the README's install step and the package's trigger run.
      for (const std::string& applications :
           {prefix + "/share/applications", system + "/applications"}) {
        ASSERT_EQ(
            runProcess({"/usr/bin/update-desktop-database", applications}, environment).exitStatus,
            0);
      }
      const Lookup folderLookup = lookUp(kFolder, environment);
      EXPECT_EQ(folderLookup.defaultApplication, "files.desktop");
      EXPECT_FALSE(folderLookup.offersParvo);
      for (const std::string& type : kArchiveTypes) {
        const Lookup archive = lookUp(type, environment);
        EXPECT_TRUE(archive.offersParvo) << type;
        if (defaults.mimeappsList(folder).empty()) continue;
        EXPECT_EQ(archive.defaultApplication, "archiver.desktop") << type;
      }
    }
  }
}

}  // namespace
