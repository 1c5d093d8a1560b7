// The stub is linked statically, where functions that load the system's modules at run time
// (iconv's conversion modules, the name service behind getpwuid) can load ones built for another
// C library version and crash the process. The link wraps them so they fail cleanly instead:
// - the stub only reads cabinets Parvo wrote, whose names are ASCII or flagged UTF-8, so it needs
//   no CP932 decoding, and the name decoding keeps undecodable bytes as they are;
// - a home folder comes from HOME alone; without it there is no Trash, and a file that would
//   have gone there is not replaced.
#include <iconv.h>
#include <pwd.h>

#include <cerrno>

extern "C" iconv_t __wrap_iconv_open(const char*, const char*) {
  errno = EINVAL;
  return reinterpret_cast<iconv_t>(-1);
}

extern "C" passwd* __wrap_getpwuid(uid_t) {
  errno = ENOENT;
  return nullptr;
}
