#include "script/callbacks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "script/error_text.h"
#include "script_fixture.h"

namespace {

// on_init and on_term -------------------------------------------------------

struct truth_case {
  const char* result;  // the return statement's expression list
  bool truth;
};

class truth_of : public testing::TestWithParam<truth_case> {};

TEST_P(truth_of, first_result) {
  const std::string r = GetParam().result;
  opened_script s("function on_init() return " + r + " end\nfunction on_term() return " + r +
                  " end");
  EXPECT_EQ(run_on_init(s.state()), GetParam().truth);
  EXPECT_EQ(lua_gettop(s.L()), 0);
  EXPECT_EQ(run_on_term(s.state()), GetParam().truth);
  EXPECT_EQ(lua_gettop(s.L()), 0);
}

INSTANTIATE_TEST_SUITE_P(script, truth_of,
                         testing::Values(truth_case{"", false}, truth_case{"nil", false},
                                         truth_case{"false", false},
                                         truth_case{"false, true", false}, truth_case{"true", true},
                                         truth_case{"0", true}, truth_case{"''", true},
                                         truth_case{"{}", true}, truth_case{"print", true}));

TEST(callbacks, a_global_that_is_no_function_fails_with_its_type) {
  opened_script s("on_init = 5\non_term = {}");
  for (auto run : {run_on_init, run_on_term}) {
    try {
      run(s.state());
      FAIL();
    } catch (const script_exec_error& e) {
      EXPECT_EQ(e.code, 2);
      EXPECT_TRUE(e.message == "attempt to call a number value" ||
                  e.message == "attempt to call a table value")
          << e.message;
    }
    EXPECT_EQ(lua_gettop(s.L()), 0);
  }
}

// on_enqueue results --------------------------------------------------------

struct enqueue_case {
  const char* name;
  const char* returns;  // body of on_enqueue after "return"
  bool kept;
  const char* result_error;  // null: no error
  field_map fields;
};

class enqueue_result : public testing::TestWithParam<enqueue_case> {};

TEST_P(enqueue_result, judged_and_copied) {
  const enqueue_case& c = GetParam();
  opened_script s(std::string("function on_enqueue(h) return ") + c.returns + " end");
  fake_server server;
  record* const untouched = reinterpret_cast<record*>(&server);
  record* out = untouched;
  try {
    const bool kept = run_on_enqueue(s.state(), &server.handle, out);
    ASSERT_EQ(c.result_error, nullptr) << "no error for " << c.returns;
    EXPECT_EQ(kept, c.kept);
    if (kept) {
      const std::unique_ptr<record> made(out);
      EXPECT_EQ(made->fields(), c.fields);
    } else {
      EXPECT_EQ(out, untouched);
    }
  } catch (const script_result_error& e) {
    ASSERT_NE(c.result_error, nullptr) << e.message;
    EXPECT_EQ(e.message, c.result_error);
    EXPECT_EQ(out, untouched);
  }
  EXPECT_EQ(lua_gettop(s.L()), 0);
}

const char* const table_expected = "return value: table expected";
const char* const key_expected = "return value: table, that has string key expected";
const char* const value_expected = "return value: table, that has string value expected";

INSTANTIATE_TEST_SUITE_P(
    script, enqueue_result,
    testing::Values(
        enqueue_case{"nothing", "", false, nullptr, {}},
        enqueue_case{"false", "false", false, nullptr, {}},
        enqueue_case{"nil_with_table", "nil, {a = 'b'}", false, nullptr, {}},
        enqueue_case{"false_with_bad_table", "false, {a = {}}", false, nullptr, {}},
        enqueue_case{"table_alone", "{a = 'b'}", false, table_expected, {}},
        enqueue_case{"string_for_table", "true, 'a=b'", false, table_expected, {}},
        enqueue_case{"empty", "true, {}", true, nullptr, {}},
        enqueue_case{"strings",
                     "true, {a = 'x', b = 'y'}, 'ignored'",
                     true,
                     nullptr,
                     {{"a", "x"}, {"b", "y"}}},
        enqueue_case{"array", "1, {'a', 'b'}", true, nullptr, {{"1", "a"}, {"2", "b"}}},
        enqueue_case{"numbers",
                     "true, {n = 200, f = 1.5, big = 1e15, neg = -3, [2.5] = 0}",
                     true,
                     nullptr,
                     {{"n", "200"}, {"f", "1.5"}, {"big", "1e+15"}, {"neg", "-3"}, {"2.5", "0"}}},
        enqueue_case{"nul_cut",
                     "true, {['a\\0b'] = 'c\\0d', e = '\\0'}",
                     true,
                     nullptr,
                     {{"a", "c"}, {"e", ""}}},
        enqueue_case{"raw_walk",
                     "true, setmetatable({a = 'x'}, {__index = error, __newindex = error})",
                     true,
                     nullptr,
                     {{"a", "x"}}},
        enqueue_case{"boolean_value", "true, {a = true}", false, value_expected, {}},
        enqueue_case{"table_value", "true, {a = {}}", false, value_expected, {}},
        enqueue_case{"function_value", "true, {a = print}", false, value_expected, {}},
        enqueue_case{"table_key", "true, {[{}] = 'x'}", false, key_expected, {}},
        enqueue_case{"boolean_key", "true, {[true] = 'x'}", false, key_expected, {}}),
    [](const testing::TestParamInfo<enqueue_case>& info) { return std::string(info.param.name); });

TEST(on_enqueue, equal_texts_of_a_number_and_a_string_key_make_one_field) {
  opened_script s("function on_enqueue() return true, {[1] = 'n', ['1'] = 's'} end");
  fake_server server;
  record* out = nullptr;
  ASSERT_TRUE(run_on_enqueue(s.state(), &server.handle, out));
  const std::unique_ptr<record> made(out);
  ASSERT_EQ(made->fields().size(), 1u);
  const std::string value = made->fields().at("1");
  EXPECT_TRUE(value == "n" || value == "s") << value;
}

TEST(on_enqueue, passes_the_handle_as_light_userdata) {
  opened_script s(
      "function on_enqueue(...) return true, {t = type((...)), n = select('#', ...)} end");
  fake_server server;
  record* out = nullptr;
  ASSERT_TRUE(run_on_enqueue(s.state(), &server.handle, out));
  const std::unique_ptr<record> made(out);
  EXPECT_EQ(made->fields().at("t"), "userdata");
  EXPECT_EQ(made->fields().at("n"), "1");
}

// A script may return one table for every request: each record holds what
// the table held when its on_enqueue returned.
TEST(on_enqueue, a_table_returned_again_leaves_earlier_records_as_they_were) {
  opened_script s(
      "local t, n = {}, 0\n"
      "function on_enqueue() n = n + 1; t.n = n; return true, t end");
  fake_server server;
  record* first = nullptr;
  record* second = nullptr;
  ASSERT_TRUE(run_on_enqueue(s.state(), &server.handle, first));
  const std::unique_ptr<record> first_made(first);
  ASSERT_TRUE(run_on_enqueue(s.state(), &server.handle, second));
  const std::unique_ptr<record> second_made(second);
  EXPECT_EQ(first_made->fields().at("n"), "1");
  EXPECT_EQ(second_made->fields().at("n"), "2");
}

// on_dequeue ----------------------------------------------------------------

std::unique_ptr<record> record_of(const field_map& fields) {
  record_builder builder;
  for (const auto& f : fields) builder.add(f.first, f.second);
  return std::unique_ptr<record>(builder.build());
}

TEST(on_dequeue, receives_a_table_of_strings_and_the_number) {
  opened_script s(
      "function on_dequeue(fields, n)\n"
      "  local parts = {}\n"
      "  for k, v in pairs(fields) do\n"
      "    parts[#parts + 1] = type(k) .. ':' .. k .. '=' .. type(v) .. ':' .. v\n"
      "  end\n"
      "  table.sort(parts)\n"
      "  seen = table.concat(parts, ',') .. ' #' .. type(n) .. ':' .. n ..\n"
      "    ' one:' .. tostring(fields[1]) .. ' str:' .. tostring(fields['1'])\n"
      "end\n");
  for (const std::int32_t number : {0, -5, 2147483647}) {
    run_on_dequeue(s.state(), record_of({{"1", "a"}, {"n", "200"}}).release(), number);
    EXPECT_EQ(s.eval("return seen"), "string:1=string:a,string:n=string:200 #number:" +
                                         std::to_string(number) + " one:nil str:a");
  }
  run_on_dequeue(s.state(), new record, 7);
  EXPECT_EQ(s.eval("return seen"), " #number:7 one:nil str:nil");
}

TEST(on_dequeue, leaves_the_stack_as_it_was_and_empties_it_on_failure) {
  opened_script s("function on_dequeue(f, n) if n < 0 then error('negative') end end");
  lua_pushinteger(s.L(), 99);
  run_on_dequeue(s.state(), record_of({{"a", "b"}}).release(), 1);
  ASSERT_EQ(lua_gettop(s.L()), 1);
  EXPECT_EQ(lua_tointeger(s.L(), 1), 99);
  try {
    run_on_dequeue(s.state(), record_of({{"a", "b"}}).release(), -1);
    FAIL();
  } catch (const script_exec_error& e) {
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(e.message, s.path() + ":1: negative");
  }
  EXPECT_EQ(lua_gettop(s.L()), 0);
}

TEST(records, travel_from_on_enqueue_to_on_dequeue) {
  opened_script pool("function on_enqueue(h) return true, {status = 200, ['k\\0x'] = 'v'} end");
  opened_script main_state("function on_dequeue(f) got = f.status .. '/' .. f.k end");
  fake_server server;
  record* out = nullptr;
  ASSERT_TRUE(run_on_enqueue(pool.state(), &server.handle, out));
  run_on_dequeue(main_state.state(), out, 0);
  EXPECT_EQ(main_state.eval("return got"), "200/v");
}

TEST(records, sort_keys_by_unsigned_bytes_shorter_prefix_first) {
  record_builder builder;
  for (const char* key : {"b", "\xff", "ab", "a", "B", "\x7f"}) builder.add(key, "v");
  builder.add("a", "last");
  const std::unique_ptr<record> r(builder.build());
  std::vector<std::string> keys;
  for (const record::field f : *r) keys.push_back(std::string(f.key));
  EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "ab", "b", "\x7f", "\xff"}));
  EXPECT_EQ(r->fields().at("a"), "last");
}

// Keys alike in their first eight bytes are told apart by the rest.
TEST(records, order_keys_alike_in_their_first_eight_bytes) {
  record_builder builder;
  for (const char* key : {"status_b", "status_ab", "status_a\xff", "status", "status_a", "status_ab"})
    builder.add(key, key);
  builder.add("status_a", "last");
  const std::unique_ptr<record> r(builder.build());
  std::vector<std::string> keys;
  for (const record::field f : *r) keys.push_back(std::string(f.key));
  EXPECT_EQ(keys, (std::vector<std::string>{"status", "status_a", "status_ab", "status_a\xff", "status_b"}));
  EXPECT_EQ(r->fields().at("status_a"), "last");
}

TEST(records, an_empty_one_has_no_fields) {
  const std::unique_ptr<record> made(record_builder().build());
  const std::unique_ptr<record> plain(new record);
  EXPECT_TRUE(made->empty());
  EXPECT_EQ(made->begin(), made->end());
  EXPECT_TRUE(plain->fields().empty());
}

TEST(records, cut_texts_at_nul_and_keep_the_last_of_equal_keys) {
  record_builder builder;
  builder.add(std::string("k\0ignored", 9), std::string("v\0ignored", 9));
  builder.add("", "empty key");
  builder.add("k", "later");
  builder.add("x", "");
  const std::unique_ptr<record> r(builder.build());
  EXPECT_EQ(r->fields(), (field_map{{"", "empty key"}, {"k", "later"}, {"x", ""}}));
}

// Past the builder's room on the stack, in pairs and in bytes, and with
// replaced keys spread through the table.
TEST(records, many_and_long_fields_match_a_map_built_alongside) {
  record_builder builder;
  field_map expected;
  for (int i = 0; i < 300; ++i) {
    const std::string key = "key" + std::to_string(i % 200);
    const std::string value = std::string(static_cast<std::size_t>(i % 7) * 40, 'a' + i % 26) + std::to_string(i);
    builder.add(key, value);
    expected[key] = value;
  }
  const std::unique_ptr<record> r(builder.build());
  EXPECT_EQ(r->size(), expected.size());
  EXPECT_EQ(r->fields(), expected);
}

// Whole numbers take a shortcut past the formatter; the text must stay the
// interpreter's own at both ends of the shortcut and beside it.
TEST(records, numbers_read_as_the_interpreter_writes_them) {
  const double huge = std::numeric_limits<double>::max();
  for (double n : {0.0, -0.0, 1.0, -1.0, 200.0, 4294967295.0, -2147483648.0, 99999999999999.0,
                   -99999999999999.0, 1e14, -1e14, 123456789012345.0, 1.5, -0.25, 1e-7, 3.0e20,
                   huge, -huge, std::nan(""), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()}) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.14g", n);
    char text[number_text_size];
    const std::size_t length = number_text(n, text);
    EXPECT_EQ(std::string(text, length), expected) << "for " << expected;
  }
}

}  // namespace
