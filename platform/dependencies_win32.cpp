#include "platform/dependencies.h"

#include <windows.h>

#include <delayimp.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/module_directory.h"
#include "platform/wide_text_win32.h"

namespace platform {

namespace {

constexpr char lua_library[] = "lua51.dll";
constexpr wchar_t lua_library_wide[] = L"lua51.dll";

// The library checked at load; the delay-load helper binds to it and to no
// other, whatever a search by name would find then.
std::atomic<HMODULE> checked_lua{nullptr};

// The reason given back for a library that is there but incomplete; written
// by the loading thread only.
char incomplete_reason[160];

FARPROC WINAPI bind_checked(unsigned reason, PDelayLoadInfo info) {
  if (reason != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr ||
      _stricmp(info->szDll, lua_library) != 0)
    return nullptr;
  return reinterpret_cast<FARPROC>(checked_lua.load());
}

// The file beside the module, or null when it is not there. Its own imports
// are looked for beside it and in the system folder only.
HMODULE load_beside_module() noexcept {
  try {
    std::string path = module_directory();
    if (path.empty()) return nullptr;
    if (path.back() != '\\') path += '\\';  // a drive's root keeps its own
    path += lua_library;
    // The directory comes as UTF-8; the ANSI call would name another file.
    std::wstring wide_path;
    if (!utf8_to_utf16(path, wide_path)) return nullptr;
    return ::LoadLibraryExW(wide_path.c_str(), nullptr,
                            LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  } catch (...) {
    return nullptr;  // out of memory for the path: the other folders may still have it
  }
}

// This module's delay-import record for lua51.dll, or null when it imports the
// library the ordinary way (a test program). The linker leaves the directory
// entry for delay imports empty, so the record is looked for in the image: an
// RVA-based record whose name is lua51.dll and whose tables lie inside it.
const IMAGE_DELAYLOAD_DESCRIPTOR* find_delay_record(const unsigned char* base) noexcept {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const DWORD image_size = nt->OptionalHeader.SizeOfImage;
  const auto inside = [image_size](DWORD rva) { return rva != 0 && rva < image_size; };
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD s = 0; s < nt->FileHeader.NumberOfSections; ++s, ++section) {
    if ((section->Characteristics & IMAGE_SCN_MEM_DISCARDABLE) != 0) continue;
    const DWORD size = section->Misc.VirtualSize < section->SizeOfRawData ? section->Misc.VirtualSize
                                                                          : section->SizeOfRawData;
    for (DWORD at = 0; at + sizeof(IMAGE_DELAYLOAD_DESCRIPTOR) <= size; at += 4) {
      const auto* record =
          reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(base + section->VirtualAddress + at);
      if (record->Attributes.AllAttributes != 1 || !inside(record->DllNameRVA) ||
          !inside(record->ImportNameTableRVA) || !inside(record->ImportAddressTableRVA) ||
          record->DllNameRVA + sizeof lua_library > image_size)
        continue;
      if (_stricmp(reinterpret_cast<const char*>(base + record->DllNameRVA), lua_library) == 0)
        return record;
    }
  }
  return nullptr;
}

// Null when `library` has every function this module takes from lua51.dll, else
// the first one it lacks.
const char* first_missing(HMODULE library) noexcept {
  HMODULE self = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&first_missing), &self))
    return nullptr;
  const auto* base = reinterpret_cast<const unsigned char*>(self);
  const IMAGE_DELAYLOAD_DESCRIPTOR* record = find_delay_record(base);
  if (record == nullptr) return nullptr;
  for (const auto* entry = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + record->ImportNameTableRVA);
       entry->u1.AddressOfData != 0; ++entry) {
    if (IMAGE_SNAP_BY_ORDINAL(entry->u1.Ordinal)) {
      if (::GetProcAddress(library, MAKEINTRESOURCEA(IMAGE_ORDINAL(entry->u1.Ordinal))) == nullptr)
        return "a function by ordinal";
      continue;
    }
    const char* name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + entry->u1.AddressOfData)->Name;
    if (::GetProcAddress(library, name) == nullptr) return name;
  }
  return nullptr;
}

// Null when `library` (held with a reference of our own when `owned`) will
// serve, else the reason; an unfit one of our own is given back.
const char* take(HMODULE library, bool owned) noexcept {
  if (const char* missing = first_missing(library)) {
    if (owned) ::FreeLibrary(library);
    std::snprintf(incomplete_reason, sizeof incomplete_reason, "%s: no function %s", lua_library, missing);
    return incomplete_reason;
  }
  checked_lua.store(library);
  __pfnDliNotifyHook2 = &bind_checked;
  return nullptr;
}

}  // namespace

// The reference taken here is never given back once the library is taken: the
// delay-load helper binds the module's imports to it and keeps it for the
// process anyway.
const char* load_dependencies() noexcept {
  // Already in the process (an earlier load, or another module of the host):
  // Windows hands that one to every later load by this name, Lua C modules'
  // included, so it is the one to use, if it has all we call.
  if (HMODULE present = ::GetModuleHandleW(lua_library_wide)) return take(present, false);
  if (HMODULE beside = load_beside_module()) return take(beside, true);
  // An administrator may have put it in inetsrv or a system folder; never the
  // current directory or PATH, where anyone who can write there plants one.
  if (HMODULE installed = ::LoadLibraryExW(lua_library_wide, nullptr,
                                           LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32))
    return take(installed, true);
  return lua_library;
}

}  // namespace platform
