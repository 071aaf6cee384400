// What File is on every system: the sole owner of one handle, handed on by
// moving and closed by its destructor. Opening, closing and the I/O itself
// are the system's (posix.cpp, win32.cpp).
#include "platform/platform.h"

namespace tvx::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

}  // namespace tvx::platform
