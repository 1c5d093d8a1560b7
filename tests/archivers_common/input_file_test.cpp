#include "common/input_file.h"

#include <gtest/gtest.h>

#include "common/archive_error.h"
#include "common/archive_input.h"
#include "common/progress.h"
#include "support/temporary_folder.h"
#include "support/thrown.h"

namespace archivers {
namespace {

// Reading across the buffer is exercised by every extraction; here what a reader must never trust.
TEST(InputFile, ReadsPastTheEndAndHugeRequestsAreDamageNotCrashes) {
  TemporaryFolder folder;
  const std::string path = folder / "input";
  writeFile(path, std::string(200003, 'x'));
  FollowedCall call(nullptr);
  InputFile file(path, call);
  const auto resultOf = [](const auto& action) { return thrown<ArchiveError>(action).result(); };
  ASSERT_EQ(file.size(), 200003U);
  file.seek(200001);
  std::uint8_t tail[4];
  EXPECT_EQ(file.read(tail, 4), 2U);
  file.seek(200001);
  EXPECT_EQ(resultOf([&] { file.readExact(tail, 4); }), Result::kCorrupt);
  EXPECT_EQ(resultOf([&] { file.readBytes(std::size_t{1} << 40); }), Result::kCorrupt);
  EXPECT_EQ(resultOf([&] { file.seek(200004); }), Result::kCorrupt);
  // A missing archive is refused through every library in hostile_input_test.cpp.
  EXPECT_EQ(resultOf([&] { InputFile folderInput(folder.path(), call); }), Result::kCannotOpen);
}

// Siblings come from the archive's own folder only, ignoring case with the exact name first, and
// only as regular files.
TEST(FileArchiveInput, SiblingsComeFromItsOwnFolderIgnoringCase) {
  TemporaryFolder folder;
  std::filesystem::create_directories(folder / "set/sub");
  writeFile(folder / "set/a.cab", "a");
  writeFile(folder / "set/part.cab", "lower");
  writeFile(folder / "set/PART.CAB", "upper!");
  writeFile(folder / "secret", "secret");
  FollowedCall call(nullptr);
  FileArchiveInput input(folder / "set/a.cab", call);
  const auto sizeOf = [&](std::string_view name) {
    const std::unique_ptr<ArchiveInput> sibling = input.openSibling(name);
    return sibling == nullptr ? -1 : static_cast<int>(sibling->size());
  };
  EXPECT_EQ(sizeOf("part.cab"), 5);
  EXPECT_EQ(sizeOf("PART.CAB"), 6);
  EXPECT_NE(sizeOf("Part.Cab"), -1);
  EXPECT_EQ(sizeOf("A.CAB"), 1);
  for (const char* refused : {"../secret", "sub", "..", ".", "", "sub/../a.cab", "missing"}) {
    EXPECT_EQ(sizeOf(refused), -1) << refused;
  }
}

}  // namespace
}  // namespace archivers
