#pragma once

#include <cstddef>

namespace parvo {

// Asks for an archive's password in a window in the progress window's style: 1 with the password
// in buffer (NUL-terminated), 0 when the user cancelled (キャンセル, Escape, the close box) or
// stopRequested(context) answered non-zero, -1 without a display.
int askQtPassword(const char* archiveName, bool again, char* buffer, std::size_t size,
                  int (*stopRequested)(void*), void* context);

// Ends the application a prompt started, once the call that asked is done: the prompts of one call
// share it, each window then a new one of the same connection.
void endQtPasswordPrompts();

}  // namespace parvo
