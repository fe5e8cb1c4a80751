#include "platform/input_file.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <new>
#include <string>

#include "platform/wide_text_win32.h"

namespace platform {

namespace {

// Texts as the run-time library words them; literals, since its strerror
// writes into a buffer that the next call overwrites.
const char* open_failure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "Permission denied";
    default:
      return "Invalid argument";
  }
}

// Only a file on disk: a pipe, the console or another device could block the
// reader or never end. A directory does not open without backup semantics.
bool is_regular_disk_file(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  return ::GetFileType(handle) == FILE_TYPE_DISK &&
         ::GetFileInformationByHandle(handle, &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

input_file::input_file(const char* utf8_path, input_mode mode) noexcept {
  std::wstring path;
  try {
    if (!utf8_to_utf16(utf8_path, path)) {
      failure_ = "Invalid UTF-8 in the file name";
      return;
    }
  } catch (const std::bad_alloc&) {
    failure_ = "Not enough space";
    return;
  }
  // Others may read and write the file meanwhile, as with the run-time library's fopen.
  HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    failure_ = open_failure(::GetLastError());
    return;
  }
  LARGE_INTEGER size{};
  if (!is_regular_disk_file(handle)) {
    failure_ = "Not a regular file";
    ::CloseHandle(handle);
    return;
  }
  if (!::GetFileSizeEx(handle, &size)) {
    failure_ = "Input/output error";
    ::CloseHandle(handle);
    return;
  }
  const bool text = mode == input_mode::text;
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle),
                                   _O_RDONLY | (text ? _O_TEXT : _O_BINARY));
  if (fd == -1) {
    failure_ = "Too many open files";
    ::CloseHandle(handle);
    return;
  }
  // From here the descriptor owns the handle, and then the stream the descriptor.
  stream_ = ::_fdopen(fd, text ? "r" : "rb");
  if (stream_ == nullptr) {
    failure_ = "Not enough space";
    ::_close(fd);
    return;
  }
  size_ = static_cast<std::uint64_t>(size.QuadPart);
}

input_file::~input_file() {
  if (stream_ != nullptr) std::fclose(stream_);
}

// The same file, not a second open by name: nothing can swap it in between.
bool input_file::restart_binary() noexcept {
  if (std::fseek(stream_, 0, SEEK_SET) != 0 || ::_setmode(::_fileno(stream_), _O_BINARY) == -1) {
    failure_ = "Invalid argument";
    return false;
  }
  return true;
}

}  // namespace platform
