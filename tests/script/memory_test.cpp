// States whose allocator runs out at a chosen size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <memory>

#include "script/callbacks.h"
#include "script/script_state_alloc.h"
#include "script_fixture.h"

namespace {

struct budget {
  std::size_t used = 0;
  std::size_t limit = std::numeric_limits<std::size_t>::max();
};

void* budget_alloc(void* ud, void* block, std::size_t old_size, std::size_t new_size) {
  auto* b = static_cast<budget*>(ud);
  if (new_size == 0) {
    std::free(block);
    b->used -= old_size;
    return nullptr;
  }
  if (new_size > old_size && b->used - old_size + new_size > b->limit) return nullptr;
  void* moved = std::realloc(block, new_size);
  if (moved != nullptr) b->used = b->used - old_size + new_size;
  return moved;
}

// A state over a budget, closed at the end of the test.
class budget_state {
 public:
  budget_state(const std::string& source, std::size_t limit) : file_(source) {
    budget_.limit = limit;
    open_script_state_with_allocator(state_, file_.path(), budget_alloc, &budget_);
  }
  ~budget_state() {
    if (state_.L != nullptr) lua_close(state_.L);
  }
  budget_state(const budget_state&) = delete;
  budget_state& operator=(const budget_state&) = delete;
  script_state& state() { return state_; }
  budget& memory() { return budget_; }

 private:
  temp_script file_;
  budget budget_;
  script_state state_;
};

const char* const script =
    "function on_init() local t = {} for i = 1, 1e6 do t[i] = {i} end return true end\n"
    "function on_dequeue(f) end\n"
    "function on_term() return true end\n";

// Every limit below what a state needs fails with code 1 while the libraries
// and the API are set up, then with code 2 while the script loads and runs.
TEST(memory, exhausted_while_opening_gives_code_1_then_2) {
  int last_code = 1;
  std::size_t limit = 0;
  for (;; limit += 256) {
    try {
      budget_state s(script, limit);
      break;
    } catch (const script_load_error& e) {
      ASSERT_GE(e.code, last_code) << "at " << limit;
      ASSERT_LE(e.code, 2);
      last_code = e.code;
    }
  }
  EXPECT_EQ(last_code, 2);
  EXPECT_GT(limit, 0u);
}

TEST(memory, exhausted_in_a_callback_gives_code_4_and_the_state_recovers) {
  budget_state s(script, std::numeric_limits<std::size_t>::max());
  s.memory().limit = s.memory().used + 64 * 1024;
  try {
    run_on_init(s.state());
    FAIL();
  } catch (const script_exec_error& e) {
    EXPECT_EQ(e.code, 4);
    EXPECT_EQ(e.message, "not enough memory");
  }
  EXPECT_EQ(lua_gettop(s.state().L), 0);
  lua_gc(s.state().L, LUA_GCCOLLECT, 0);
  EXPECT_TRUE(run_on_term(s.state()));
}

TEST(memory, exhausted_while_building_the_on_dequeue_table_still_destroys_the_record) {
  budget_state s(script, std::numeric_limits<std::size_t>::max());
  s.memory().limit = s.memory().used + 16 * 1024;
  record_builder builder;
  for (int i = 0; i < 10000; ++i) builder.add("key" + std::to_string(i), "value");
  std::unique_ptr<record> big(builder.build());
  try {
    run_on_dequeue(s.state(), big.release(), 0);
    FAIL();
  } catch (const script_exec_error& e) {
    EXPECT_EQ(e.code, 4);
    EXPECT_EQ(e.message, "not enough memory");
  }
  EXPECT_EQ(lua_gettop(s.state().L), 0);
  lua_gc(s.state().L, LUA_GCCOLLECT, 0);
  run_on_dequeue(s.state(), new record, 1);
  EXPECT_TRUE(run_on_term(s.state()));
}

}  // namespace
