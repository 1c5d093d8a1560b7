#include "libarchive/utf8_thread_locale.h"

#include "common/archive_error.h"

namespace archivers {

namespace {

locale_t newUtf8Locale() {
  for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    if (locale_t locale = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0))) return locale;
  }
  throw ArchiveError(Result::kInternal, "no UTF-8 locale is installed");
}

}  // namespace

Utf8ThreadLocale::Utf8ThreadLocale() : utf8_(newUtf8Locale()), previous_(uselocale(utf8_)) {}

Utf8ThreadLocale::~Utf8ThreadLocale() {
  uselocale(previous_);
  freelocale(utf8_);
}

}  // namespace archivers
