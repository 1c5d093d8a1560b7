#include "common/input_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/archive_error.h"

namespace archivers {
namespace {

Result resultOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ArchiveError& error) {
    return error.result();
  }
  return Result::kOk;
}

TEST(InputFile, ReadsSeeksAndReportsTruncation) {
  const std::string path = testing::TempDir() + "input_file_" + std::to_string(getpid());
  std::vector<std::uint8_t> data(200003);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  InputFile file(path);
  ASSERT_EQ(file.size(), data.size());

  // Odd chunk sizes cross buffer boundaries; a chunk past the buffer size reads around it.
  std::vector<std::uint8_t> back;
  for (std::size_t chunk : {1, 13, 65536, 100000, 7}) {
    std::vector<std::uint8_t> part(chunk);
    file.readExact(part.data(), chunk);
    back.insert(back.end(), part.begin(), part.end());
  }
  EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
  EXPECT_EQ(file.tell(), back.size());

  file.seek(5);
  EXPECT_EQ(file.readBytes(3), std::vector<std::uint8_t>(data.begin() + 5, data.begin() + 8));
  file.seek(data.size() - 2);
  std::uint8_t tail[4];
  EXPECT_EQ(file.read(tail, 4), 2U);
  EXPECT_EQ(tail[1], data.back());
  file.seek(data.size() - 2);
  EXPECT_EQ(resultOf([&] { file.readExact(tail, 4); }), Result::kCorrupt);
  EXPECT_EQ(resultOf([&] { file.readBytes(std::size_t{1} << 40); }), Result::kCorrupt);
  EXPECT_EQ(resultOf([&] { file.seek(data.size() + 1); }), Result::kCorrupt);
  std::filesystem::remove(path);

  EXPECT_EQ(resultOf([&] { InputFile missing(path); }), Result::kCannotOpen);
  EXPECT_EQ(resultOf([&] { InputFile folder(testing::TempDir()); }), Result::kCannotOpen);
}

}  // namespace
}  // namespace archivers
