// Round trip through the cabinet writer: the fuzz bytes describe a tree (folders, files, links to
// files packed beside them, names with non-ASCII letters and dots, contents short and long enough
// to span blocks), which `Cab -a` packs; libmspack then reads the cabinet back and every name and
// byte must match the tree.
#include <fcntl.h>
#include <mspack.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern "C" int32_t Cab(int32_t window, const char* commandLine, char* output, int32_t size);

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
  static const char* const kPieces[] = {"a", "b", "Z", ".", "-", " ", "0", "\xE6\x97\xA5"};
  std::string name;
  for (int length = 1 + bytes.next() % 6; length > 0; --length) name += kPieces[bytes.next() % 8];
  return name == "." || name == ".." ? name + "x" : name;
}

const fs::path& workFolder() {
  static const fs::path folder = [] {
    std::string pattern = "/tmp/fuzz_cab_writer-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
  }();
  return folder;
}

void check(bool condition) {
  if (!condition) std::abort();
}

// What libmspack reads back: stored name ('\' turned to '/') to bytes.
std::map<std::string, std::string> readBack(const std::string& cabinet) {
  std::map<std::string, std::string> files;
  mscab_decompressor* decompressor = mspack_create_cab_decompressor(nullptr);
  mscabd_cabinet* opened = decompressor->open(decompressor, cabinet.c_str());
  check(opened != nullptr);
  const std::string extracted = (workFolder() / "member").string();
  for (mscabd_file* file = opened->files; file != nullptr; file = file->next) {
    check(decompressor->extract(decompressor, file, extracted.c_str()) == MSPACK_ERR_OK);
    std::string name = file->filename;
    std::replace(name.begin(), name.end(), '\\', '/');
    std::ifstream stream(extracted, std::ios::binary);
    files[name] = std::string(std::istreambuf_iterator<char>(stream), {});
  }
  decompressor->close(decompressor, opened);
  mspack_destroy_cab_decompressor(decompressor);
  return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes(data, size);
  const fs::path tree = workFolder() / "tree";
  fs::remove_all(tree);
  fs::create_directories(tree);
  std::vector<std::string> folders = {""};
  std::map<std::string, std::string> expected;
  for (int entries = 0; entries < 48 && !bytes.empty(); ++entries) {
    const std::uint8_t kind = bytes.next() % 4;
    const std::string& parent = folders[bytes.next() % folders.size()];
    const std::string path = (parent.empty() ? "" : parent + "/") + nameFrom(bytes);
    if (fs::exists(fs::symlink_status(tree / path))) continue;
    if (kind == 0) {
      fs::create_directory(tree / path);
      folders.push_back(path);
    } else if (kind == 3 && !expected.empty()) {
      auto target = expected.begin();
      std::advance(target, bytes.next() % expected.size());
      fs::create_symlink(tree / target->first, tree / path);
      expected[path] = target->second;
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
    }
  }

  const std::string cabinet = (workFolder() / "packed.cab").string();
  fs::remove(cabinet);
  const fs::path previous = fs::current_path();
  fs::current_path(tree);
  char output[256] = {};
  const std::string command = "-a -r -ml:21 \"" + cabinet + "\" *.*";
  const int32_t result = Cab(0, command.c_str(), output, sizeof output);
  fs::current_path(previous);
  if (expected.empty()) {
    check(result == 4 && !fs::exists(cabinet));
    return 0;
  }
  check(result == 0);
  check(readBack(cabinet) == expected);
  return 0;
}
