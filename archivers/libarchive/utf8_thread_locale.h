#pragma once

#include <locale.h>

namespace archivers {

// Switches the calling thread to a UTF-8 character type for its lifetime. libarchive converts
// member names into the thread's locale, so this keeps our names UTF-8 whatever the caller set.
class Utf8ThreadLocale {
 public:
  // Throws ArchiveError(kInternal) when the system has no UTF-8 locale at all.
  Utf8ThreadLocale();
  Utf8ThreadLocale(const Utf8ThreadLocale&) = delete;
  Utf8ThreadLocale& operator=(const Utf8ThreadLocale&) = delete;
  ~Utf8ThreadLocale();

 private:
  locale_t utf8_;
  locale_t previous_;
};

}  // namespace archivers
