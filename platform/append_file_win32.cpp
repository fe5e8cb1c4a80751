#include "platform/append_file.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace platform {

namespace {

// UTF-8 to UTF-16; empty when the bytes are not UTF-8.
std::wstring wide(const std::string& text) noexcept {
  try {
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        &out[0], size);
    return out;
  } catch (...) {
    return std::wstring();
  }
}

}  // namespace

bool append_file::open(const std::string& path) noexcept {
  close();
  const std::wstring name = wide(path);
  if (name.empty()) return false;
  // Appending only: every write lands at the end, also beside other writers;
  // its attributes give the size. Others may read, write, rename and delete
  // it meanwhile.
  HANDLE file = CreateFileW(name.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  handle_ = file;
  return true;
}

std::size_t append_file::write(const char* data, std::size_t size) noexcept {
  if (handle_ == nullptr) return 0;
  std::size_t done = 0;
  while (done < size) {
    const std::size_t left = size - done;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(handle_, data + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
  return done;
}

std::int64_t append_file::size() const noexcept {
  LARGE_INTEGER size;
  if (handle_ == nullptr || !GetFileSizeEx(handle_, &size)) return 0;
  return size.QuadPart;
}

void append_file::close() noexcept {
  if (handle_ == nullptr) return;
  CloseHandle(handle_);
  handle_ = nullptr;
}

bool append_file::replace(const std::string& from, const std::string& to) noexcept {
  const std::wstring source = wide(from);
  const std::wstring target = wide(to);
  if (source.empty() || target.empty()) return false;
  // Fails while another handle holds either file without FILE_SHARE_DELETE.
  return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// Windows has no per-process file-size limit.
std::int64_t append_file::size_limit() const noexcept { return INT64_MAX; }

}  // namespace platform
