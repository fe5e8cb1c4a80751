#include "script/state_slots.h"

#include <cstdio>
#include <cstdlib>

namespace {

void* plain_alloc(void*, void* block, std::size_t, std::size_t size) noexcept {
  if (size == 0) {
    std::free(block);
    return nullptr;
  }
  return std::realloc(block, size);
}

void* forwarding_alloc(void* data, void* block, std::size_t old_size, std::size_t size) {
  const auto* slots = static_cast<const state_slots*>(data);
  return slots->inner(slots->inner_data, block, old_size, size);
}

int report_panic(lua_State* L) {
  std::fprintf(stderr, "PANIC: unprotected error in call to Lua API (%s)\n", lua_tostring(L, -1));
  return 0;
}

}  // namespace

lua_State* new_state_with_slots(state_slots& slots) noexcept {
  lua_State* L = lua_newstate(slots.inner != nullptr ? forwarding_alloc : plain_alloc, &slots);
  if (L != nullptr) lua_atpanic(L, report_panic);
  return L;
}

state_slots* slots_of(lua_State* L) noexcept {
  void* data = nullptr;
  const lua_Alloc allocator = lua_getallocf(L, &data);
  return allocator == plain_alloc || allocator == forwarding_alloc ? static_cast<state_slots*>(data)
                                                                   : nullptr;
}
