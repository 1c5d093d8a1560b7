// The installed launcher as the desktop's own lookups see it.
#include <gtest/gtest.h>

#include "support/process.h"
#include "support/temporary_folder.h"

namespace {

// Parvo is offered under Open With for the five archive types and never for folders, installed
// into ~/.local (which lookups take first) or as the package lies under /usr: the one install is
// shown to the lookups as either. A default the distribution set for an archive type, which every
// other place a default is set in comes before, stays the default; a folder opens in the file
// manager whatever is set.
TEST(InstalledLauncher, OffersArchivesAndLeavesEveryDefaultAsItWas) {
  const std::string archiveTypes[] = {"application/vnd.ms-cab-compressed", "application/x-lha",
                                      "application/zip", "application/x-tar", "application/x-arj"};
  for (const bool intoHome : {true, false}) {
    SCOPED_TRACE(intoHome ? "~/.local" : "/usr");
    TemporaryFolder folder;
    const std::string prefix = PARVO_INSTALLED, system = folder / "system";
    std::string declared, chosen = "[Default Applications]\n";
    for (const std::string& type : archiveTypes) {
      declared += type + ";";
      chosen += type + "=archiver.desktop;\n";
    }
    const std::string entry = "[Desktop Entry]\nType=Application\nExec=true %U\nName=";
    writeFile(system + "/applications/files.desktop", entry + "Files\nMimeType=inode/directory;\n");
    writeFile(system + "/applications/archiver.desktop", entry + "Archiver\nMimeType=" + declared);
    writeFile(system + "/applications/mimeapps.list", chosen);
    const std::string installed = prefix + "/share";
    const std::vector<std::string> environment = {
        "XDG_DATA_HOME=" + (intoHome ? installed : folder / "home/.local/share"),
        "XDG_DATA_DIRS=" + (intoHome ? system : installed + ":" + system),
        "XDG_CONFIG_HOME=" + folder / "config",
        "XDG_CONFIG_DIRS=" + folder / "xdg",
        "HOME=" + folder / "home",
        "PATH=" + prefix + "/bin:/usr/bin:/bin",
        "LC_ALL=C.UTF-8"};
    // What the README's install step and the package's trigger run.
    for (const std::string& applications : {installed + "/applications", system + "/applications"})
      ASSERT_EQ(
          runProcess({"/usr/bin/update-desktop-database", applications}, environment).exitStatus,
          0);
    // gio's answer: "Default application for 'TYPE': ID", then the applications, one a line.
    const auto lookUp = [&](const std::string& type) {
      return runProcess({"/usr/bin/gio", "mime", type}, environment).output;
    };
    const std::string folders = lookUp("inode/directory");
    EXPECT_TRUE(folders.substr(0, folders.find('\n')).ends_with(": files.desktop")) << folders;
    EXPECT_EQ(folders.find("parvo.desktop"), std::string::npos) << folders;
    for (const std::string& type : archiveTypes) {
      const std::string archives = lookUp(type);
      EXPECT_NE(archives.find("\tparvo.desktop\n"), std::string::npos) << archives;
      EXPECT_TRUE(archives.substr(0, archives.find('\n')).ends_with(": archiver.desktop"))
          << archives;
    }
  }
}

}  // namespace
