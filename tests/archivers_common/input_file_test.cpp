#include "common/input_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/archive_error.h"
#include "support/thrown.h"

namespace archivers {
namespace {

// Reading across the buffer is exercised by every extraction; here what a reader must never trust.
TEST(InputFile, ReadsPastTheEndAndHugeRequestsAreDamageNotCrashes) {
  const std::string path = testing::TempDir() + "input_file_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary) << std::string(200003, 'x');
  InputFile file(path);
  const auto resultOf = [](const auto& action) { return thrown<ArchiveError>(action).result(); };
  ASSERT_EQ(file.size(), 200003U);
  file.seek(200001);
  std::uint8_t tail[4];
  EXPECT_EQ(file.read(tail, 4), 2U);
  file.seek(200001);
  EXPECT_EQ(resultOf([&] { file.readExact(tail, 4); }), Result::kCorrupt);
  EXPECT_EQ(resultOf([&] { file.readBytes(std::size_t{1} << 40); }), Result::kCorrupt);
  EXPECT_EQ(resultOf([&] { file.seek(200004); }), Result::kCorrupt);
  std::filesystem::remove(path);

  EXPECT_EQ(resultOf([&] { InputFile missing(path); }), Result::kCannotOpen);
  EXPECT_EQ(resultOf([&] { InputFile folder(testing::TempDir()); }), Result::kCannotOpen);
}

}  // namespace
}  // namespace archivers
