// The installed launcher as the desktop's own lookups see it.
#include <gtest/gtest.h>

#include "support/process.h"
#include "support/temporary_folder.h"

namespace {

// Installed into ~/.local, which lookups take first, Parvo becomes the default opener of nothing
// (a double click would pack a folder or unpack an archive onto the desktop): the file manager
// and archive tool already there stay the defaults even when the user never chose one.
TEST(InstalledLauncher, LeavesTheDefaultOpenersAsTheyWere) {
  TemporaryFolder folder;
  const std::string local = folder / "local", system = folder / "system";
  ASSERT_EQ(runProcess({PARVO_CMAKE_COMMAND, "--install", PARVO_BINARY_DIR, "--prefix", local}, {})
                .exitStatus,
            0);
  const std::string types[] = {"inode/directory", "application/zip",
                               "application/x-lzh-compressed"};
  writeFile(system + "/applications/files.desktop",
            "[Desktop Entry]\nType=Application\nName=Files\nExec=true %U\nMimeType=" + types[0] +
                ";" + types[1] + ";" + types[2] + ";\n");
  const std::vector<std::string> environment = {"XDG_DATA_HOME=" + local + "/share",
                                                "XDG_DATA_DIRS=" + system,
                                                "XDG_CONFIG_HOME=" + folder / "config",
                                                "XDG_CONFIG_DIRS=" + folder / "config",
                                                "HOME=" + folder / "home",
                                                "PATH=" + local + "/bin:/usr/bin:/bin",
                                                "LC_ALL=C.UTF-8"};
  for (const std::string& applications :
       {local + "/share/applications", system + "/applications"}) {
    ASSERT_EQ(
        runProcess({"/usr/bin/update-desktop-database", applications}, environment).exitStatus, 0);
  }
  for (const std::string& type : types) {
    const std::string answer = runProcess({"/usr/bin/gio", "mime", type}, environment).output;
    EXPECT_TRUE(answer.substr(0, answer.find('\n')).ends_with(": files.desktop")) << answer;
  }
}

}  // namespace
