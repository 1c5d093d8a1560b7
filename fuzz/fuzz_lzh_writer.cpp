// Round trip through the LZH writer: the fuzz bytes describe a tree (folders, empty ones too,
// files, links to files packed beside them, names with CP932 and non-CP932 letters, a 0x5C trail
// byte and dots, contents short and long enough to span blocks), which `Unlha a -rx` packs; the
// library then extracts the archive into a fresh folder and every name and byte must match.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern "C" int32_t Unlha(int32_t window, const char* commandLine, char* output, int32_t size);

namespace {

namespace fs = std::filesystem;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return position_ == size_; }
  std::uint8_t next() { return position_ < size_ ? data_[position_++] : 0; }
  std::string take(std::size_t count) {
    count = std::min(count, size_ - position_);
    std::string bytes(reinterpret_cast<const char*>(data_ + position_), count);
    position_ += count;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

std::string nameFrom(Bytes& bytes) {
  // 日, 表 (CP932 95 5C), é and an emoji that CP932 cannot hold.
  static const char* const kPieces[] = {
      "a", "b", "Z", ".", "-", " ", "\xE6\x97\xA5", "\xE8\xA1\xA8", "\xC3\xA9", "\xF0\x9F\x98\x80"};
  std::string name;
  for (int length = 1 + bytes.next() % 6; length > 0; --length) name += kPieces[bytes.next() % 10];
  return name == "." || name == ".." ? name + "x" : name;
}

const fs::path& workFolder() {
  static const fs::path folder = [] {
    std::string pattern = "/tmp/fuzz_lzh_writer-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
  }();
  return folder;
}

void check(bool condition) {
  if (!condition) std::abort();
}

// What the library extracts: every entry by path, "<dir>" for a folder.
std::map<std::string, std::string> readBack(const std::string& archive) {
  const fs::path out = workFolder() / "out";
  fs::remove_all(out);
  char output[256] = {};
  const std::string command = "e -rxy \"" + archive + "\" \"" + out.string() + "/\"";
  check(Unlha(0, command.c_str(), output, sizeof output) == 0);
  std::map<std::string, std::string> entries;
  if (!fs::exists(out)) return entries;  // an archive of no members makes no folder
  for (const auto& item : fs::recursive_directory_iterator(out)) {
    const std::string path = item.path().lexically_relative(out).string();
    if (item.is_directory()) {
      entries[path] = "<dir>";
    } else {
      std::ifstream stream(item.path(), std::ios::binary);
      entries[path] = std::string(std::istreambuf_iterator<char>(stream), {});
    }
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes(data, size);
  const fs::path tree = workFolder() / "tree";
  fs::remove_all(tree);
  fs::create_directories(tree);
  std::vector<std::string> folders = {""};
  std::map<std::string, std::string> expected;
  std::vector<std::string> files;
  for (int entries = 0; entries < 48 && !bytes.empty(); ++entries) {
    const std::uint8_t kind = bytes.next() % 4;
    const std::string& parent = folders[bytes.next() % folders.size()];
    const std::string path = (parent.empty() ? "" : parent + "/") + nameFrom(bytes);
    if (fs::exists(fs::symlink_status(tree / path))) continue;
    if (kind == 0) {
      fs::create_directory(tree / path);
      folders.push_back(path);
      expected[path] = "<dir>";
    } else if (kind == 3 && !files.empty()) {
      const std::string target = files[bytes.next() % files.size()];
      fs::create_symlink(tree / target, tree / path);
      expected[path] = expected[target];
      files.push_back(path);
    } else {
      std::string contents = bytes.take(bytes.next() | (bytes.next() << 8));
      // Long repetitive contents cross block boundaries without needing long inputs.
      if (kind == 2 && !contents.empty()) {
        const std::size_t length = 1024 * (1 + bytes.next() % 128);
        while (contents.size() < length) contents += contents;
        contents.resize(length);
      }
      std::ofstream(tree / path, std::ios::binary) << contents;
      expected[path] = contents;
      files.push_back(path);
    }
  }

  const std::string archive = (workFolder() / "packed.lzh").string();
  fs::remove(archive);
  const fs::path previous = fs::current_path();
  fs::current_path(tree);
  char output[256] = {};
  const std::string command = "a -rx \"" + archive + "\" *.*";
  const int32_t result = Unlha(0, command.c_str(), output, sizeof output);
  fs::current_path(previous);
  check(result == 0);
  check(readBack(archive) == expected);
  return 0;
}
