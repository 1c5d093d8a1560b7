#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/process.h"

// Runs a peer tool from /usr/bin or /bin in folder, with HOME there and a UTF-8 locale. The test
// fails with the command and everything the tool printed when it does not succeed.
inline void runTool(std::vector<std::string> argv, const std::filesystem::path& folder) {
  ASSERT_TRUE(std::filesystem::is_directory(folder)) << "no folder " << folder << " to run in";
  std::string command;
  for (const std::string& argument : argv) command += argument + " ";
  for (const char* bin : {"/usr/bin/", "/bin/"}) {
    if (std::filesystem::exists(bin + argv[0])) {
      argv[0] = bin + argv[0];
      break;
    }
  }
  std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8",
                                          "HOME=" + folder.string()};
  // The libraries read stored local times in the caller's zone; the tools write in the same one.
  if (const char* zone = std::getenv("TZ")) environment.push_back(std::string("TZ=") + zone);
  const ProcessResult result = runProcess(argv, environment, folder.string());
  ASSERT_EQ(result.exitStatus, 0) << "in " << folder << ": " << command << "\n" << result.output;
}

// A shell command line (pipes, redirections) run the same way.
inline void runShell(const std::string& line, const std::filesystem::path& folder) {
  runTool({"sh", "-c", line}, folder);
}
