#include "tests/filter/filter_fixture.h"

namespace {

struct unload_case {
  const char* name;
  const char* on_term;
  BOOL result;
};

class unload_test : public filter_fixture, public ::testing::WithParamInterface<unload_case> {};

TEST_P(unload_test, closes_every_state_and_reports_on_term) {
  const auto closed = dir.path() / "closed";
  ASSERT_EQ(load(std::string("guard = newproxy(true)\n"
                             "getmetatable(guard).__gc = function()\n"
                             "  local f = io.open('") + closed.generic_string() +
                     "', 'a') f:write('x') f:close()\n"
                     "end\n"
                     "function on_init() return true end\n" +
                     GetParam().on_term,
                 2),
            TRUE);
  EXPECT_EQ(module->terminate_filter(0), GetParam().result);
  EXPECT_EQ(dir.read("closed"), "xxx");
  // A second unload finds nothing loaded.
  EXPECT_EQ(module->terminate_filter(0), FALSE);
  EXPECT_EQ(events().size(), 1u);  // unload writes no event
}

INSTANTIATE_TEST_SUITE_P(
    on_term, unload_test,
    ::testing::Values(unload_case{"true", "function on_term() return 0 end", TRUE},
                      unload_case{"missing", "", FALSE},
                      unload_case{"false", "function on_term() return false end", FALSE},
                      unload_case{"raises", "function on_term() error('x') end", FALSE}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
