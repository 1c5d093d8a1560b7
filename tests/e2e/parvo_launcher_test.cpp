// The installed launcher as the desktop's own lookups see it.

#include "support/peer_tool.h"
#include "support/temporary_folder.h"

namespace {

// Parvo is offered under Open With for the five archive types and never for folders. It sets no
// default: the package's exact file list (tests/package) holds no mimeapps.list.
TEST(InstalledLauncher, OffersArchivesAndNeverFolders) {
  TemporaryFolder folder;
  const std::string installed = PARVO_INSTALLED "/share";
  const std::vector<std::string> environment = {"XDG_DATA_HOME=" + folder / "home/.local/share",
                                                "XDG_DATA_DIRS=" + installed,
                                                "XDG_CONFIG_HOME=" + folder / "config",
                                                "XDG_CONFIG_DIRS=" + folder / "xdg",
                                                "HOME=" + folder / "home",
                                                "PATH=" PARVO_INSTALLED "/bin:/usr/bin:/bin",
                                                "LC_ALL=C.UTF-8"};
  // What the README's install step and the package's trigger run. The lookups offer only what
  // PATH can run.
  ASSERT_NO_FATAL_FAILURE(
      runTool({"update-desktop-database", installed + "/applications"}, folder.path()));
  for (const char* type : {"application/vnd.ms-cab-compressed", "application/x-lha",
                           "application/zip", "application/x-tar", "application/x-arj"}) {
    const std::string answer = runProcess({"/usr/bin/gio", "mime", type}, environment).output;
    EXPECT_NE(answer.find("\tparvo.desktop\n"), std::string::npos) << answer;
  }
  const std::string folders =
      runProcess({"/usr/bin/gio", "mime", "inode/directory"}, environment).output;
  EXPECT_EQ(folders.find("parvo.desktop"), std::string::npos) << folders;
}

}  // namespace
