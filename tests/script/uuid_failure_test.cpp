// A platform that cannot make UUIDs: this program links its own create_uuid
// in place of the platform's.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/uuid.h"
#include "script/callbacks.h"
#include "script/script_api.h"
#include "script_fixture.h"

bool platform::create_uuid(uuid_fields&) noexcept { return false; }

namespace {

TEST(uuid_failure, throws_domain_error_from_new_uuid_string) {
  try {
    new_uuid_string();
    FAIL();
  } catch (const std::domain_error& e) {
    EXPECT_STREQ(e.what(), "UuidCreate");
  }
}

TEST(uuid_failure, reaches_the_script_as_a_lua_error) {
  opened_script s(
      "function on_init() return select(2, pcall(uuid)) == 'UuidCreate' end\n"
      "function on_term() return uuid() end\n");
  EXPECT_TRUE(run_on_init(s.state()));
  try {
    run_on_term(s.state());
    FAIL();
  } catch (const script_exec_error& e) {
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(e.message, "UuidCreate");
  }
  EXPECT_EQ(lua_gettop(s.L()), 0);
}

}  // namespace
