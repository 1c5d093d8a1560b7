// The libarchive functions the readers call, resolved on first use. libarchive brings a dozen
// libraries with it (ICU's data among them) whose loading would cost every ZIP extraction a few
// milliseconds, although only the archives our own reader leaves alone need it; so the library is
// not linked but opened here the first time one of these functions is called.
#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/archive_error.h"

namespace archivers {
namespace {

constexpr char kLibrary[] = "libarchive.so.13";

void* library() {
  static void* const handle = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    throw ArchiveError(Result::kInternal, std::string("cannot load ") + kLibrary +
                                              (reason ? ": " + std::string(reason) : ""));
  }
  return handle;
}

template <typename Function>
Function symbol(const char* name) {
  void* address = ::dlsym(library(), name);
  if (address == nullptr) {
    throw ArchiveError(Result::kInternal, std::string("libarchive lacks ") + name);
  }
  return reinterpret_cast<Function>(address);
}

}  // namespace
}  // namespace archivers

#define PARVO_LIBARCHIVE_CALL(name, ...)                                \
  static const auto real = archivers::symbol<decltype(&::name)>(#name); \
  return real(__VA_ARGS__)

extern "C" {

struct archive* archive_read_new(void) {
  PARVO_LIBARCHIVE_CALL(archive_read_new);
}
int archive_read_free(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_free, a);
}
int archive_read_support_filter_bzip2(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_filter_bzip2, a);
}
int archive_read_support_filter_compress(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_filter_compress, a);
}
int archive_read_support_filter_gzip(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_filter_gzip, a);
}
int archive_read_support_filter_lz4(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_filter_lz4, a);
}
int archive_read_support_filter_lzip(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_filter_lzip, a);
}
int archive_read_support_filter_lzma(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_filter_lzma, a);
}
int archive_read_support_filter_uu(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_filter_uu, a);
}
int archive_read_support_filter_xz(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_filter_xz, a);
}
int archive_read_support_filter_zstd(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_filter_zstd, a);
}
int archive_read_support_format_empty(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_format_empty, a);
}
int archive_read_support_format_tar(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_format_tar, a);
}
int archive_read_support_format_zip_seekable(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_format_zip_seekable, a);
}
int archive_read_support_format_zip_streamable(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_support_format_zip_streamable, a);
}
int archive_read_set_callback_data(struct archive* a, void* data) {
  PARVO_LIBARCHIVE_CALL(archive_read_set_callback_data, a, data);
}
int archive_read_set_read_callback(struct archive* a, archive_read_callback* callback) {
  PARVO_LIBARCHIVE_CALL(archive_read_set_read_callback, a, callback);
}
int archive_read_set_seek_callback(struct archive* a, archive_seek_callback* callback) {
  PARVO_LIBARCHIVE_CALL(archive_read_set_seek_callback, a, callback);
}
int archive_read_set_skip_callback(struct archive* a, archive_skip_callback* callback) {
  PARVO_LIBARCHIVE_CALL(archive_read_set_skip_callback, a, callback);
}
int archive_read_open(struct archive* a, void* data, archive_open_callback* open,
                      archive_read_callback* read, archive_close_callback* close) {
  PARVO_LIBARCHIVE_CALL(archive_read_open, a, data, open, read, close);
}
int archive_read_set_passphrase_callback(struct archive* a, void* data,
                                         archive_passphrase_callback* callback) {
  PARVO_LIBARCHIVE_CALL(archive_read_set_passphrase_callback, a, data, callback);
}
int archive_read_open1(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_open1, a);
}
int archive_read_next_header(struct archive* a, struct archive_entry** entry) {
  PARVO_LIBARCHIVE_CALL(archive_read_next_header, a, entry);
}
int archive_read_data_block(struct archive* a, const void** block, size_t* size,
                            la_int64_t* offset) {
  PARVO_LIBARCHIVE_CALL(archive_read_data_block, a, block, size, offset);
}
int archive_read_has_encrypted_entries(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_read_has_encrypted_entries, a);
}
int archive_format(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_format, a);
}
const char* archive_error_string(struct archive* a) {
  PARVO_LIBARCHIVE_CALL(archive_error_string, a);
}
void archive_set_error(struct archive* a, int error, const char* format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  PARVO_LIBARCHIVE_CALL(archive_set_error, a, error, "%s", text);
}
__LA_MODE_T archive_entry_filetype(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_filetype, entry);
}
__LA_MODE_T archive_entry_perm(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_perm, entry);
}
const char* archive_entry_pathname(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_pathname, entry);
}
const char* archive_entry_hardlink(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_hardlink, entry);
}
const char* archive_entry_symlink(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_symlink, entry);
}
int archive_entry_is_encrypted(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_is_encrypted, entry);
}
time_t archive_entry_mtime(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_mtime, entry);
}
int archive_entry_mtime_is_set(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_mtime_is_set, entry);
}
la_int64_t archive_entry_size(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_size, entry);
}
int archive_entry_size_is_set(struct archive_entry* entry) {
  PARVO_LIBARCHIVE_CALL(archive_entry_size_is_set, entry);
}

}  // extern "C"
