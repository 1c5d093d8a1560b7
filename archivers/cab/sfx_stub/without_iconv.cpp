// The stub is linked statically. There iconv_open would load the system's conversion modules with
// dlopen, and modules of another C library version can crash the process. The stub only reads
// cabinets Parvo wrote, whose names are ASCII or flagged UTF-8, so it needs no CP932 decoding:
// iconv_open fails (the link wraps it), and the name decoding keeps undecodable bytes as they are.
#include <iconv.h>

#include <cerrno>

extern "C" iconv_t __wrap_iconv_open(const char*, const char*) {
  errno = EINVAL;
  return reinterpret_cast<iconv_t>(-1);
}
