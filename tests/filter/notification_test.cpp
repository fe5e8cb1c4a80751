#include <algorithm>
#include <map>
#include <sstream>
#include <thread>

#include "tests/filter/filter_fixture.h"

namespace {

using notification_test = filter_fixture;

std::string script_with_enqueue(const std::string& body) {
  return "function on_init() return true end\n"
         "function on_enqueue(h)\n" + body + "\nend\n"
         "function on_dequeue(fields, n) ndebug('dequeue') end\n"
         "function on_term() return true end\n";
}

struct enqueue_outcome {
  const char* name;
  const char* body;
  std::vector<std::string> traces;  // after unload, on_dequeue's lines included
};

class enqueue_outcome_test : public filter_fixture,
                             public ::testing::WithParamInterface<enqueue_outcome> {};

TEST_P(enqueue_outcome_test, gives_its_trace_line_or_silence) {
  ASSERT_EQ(load(script_with_enqueue(GetParam().body)), TRUE);
  fake_request request;
  EXPECT_EQ(notify(request), static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  EXPECT_EQ(traces(), GetParam().traces);
}

INSTANTIATE_TEST_SUITE_P(
    outcomes, enqueue_outcome_test,
    ::testing::Values(
        enqueue_outcome{"kept", "return true, {}", {"dequeue"}},
        enqueue_outcome{"nil", "return nil, {}", {}},
        enqueue_outcome{"false", "return false", {}},
        enqueue_outcome{"nothing", "", {}},
        enqueue_outcome{"bare_number", "return 1",
                        {"error: on_enqueue message:return value: table expected"}},
        enqueue_outcome{"table_only", "return {}",
                        {"error: on_enqueue message:return value: table expected"}},
        enqueue_outcome{"bad_value", "return true, {a = true}",
                        {"error: on_enqueue message:return value: table, that has string value "
                         "expected"}},
        enqueue_outcome{"raises", "error('bad', 0)", {"error: on_enqueue code:2 message:bad"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(notification_test, other_notifications_never_reach_the_script) {
  ASSERT_EQ(load(script_with_enqueue("ndebug('enqueue') return false")), TRUE);
  fake_request request;
  EXPECT_EQ(module->http_filter_proc(&request.context, SF_NOTIFY_SEND_RESPONSE, &request.log),
            static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  EXPECT_TRUE(traces().empty());
}

TEST_F(notification_test, the_record_carries_what_on_enqueue_read_from_the_request) {
  ASSERT_EQ(load(R"(
    function on_init() return true end
    function on_enqueue(h)
      local c = enqueue_context.new(h)
      return true, {url = c:server_variable("URL"), status = c:http_status(),
                    sent = c:bytes_sent(), missing = c:server_variable("NO_SUCH")}
    end
    function on_dequeue(f, n)
      ndebug(n .. " " .. f.url .. " " .. f.status .. " " .. f.sent .. " [" .. f.missing .. "]")
    end
    function on_term() ndebug("term") return true end
  )"), TRUE);
  fake_request request;
  request.set_variable("URL", "/index.html");
  request.log.dwHttpStatus = 404;
  request.log.dwBytesSent = 4294967295u;
  notify(request);
  notify(request);
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  EXPECT_EQ(traces(), (std::vector<std::string>{"0 /index.html 404 4294967295 []",
                                                "1 /index.html 404 4294967295 []", "term"}));
}

TEST_F(notification_test, a_failing_on_enqueue_leaves_its_state_in_service) {
  ASSERT_EQ(load(script_with_enqueue(
      "calls = (calls or 0) + 1 if calls == 1 then error('first', 0) end return true, {}")),
            TRUE);
  fake_request request;
  notify(request);
  notify(request);
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  EXPECT_EQ(traces(),
            (std::vector<std::string>{"error: on_enqueue code:2 message:first", "dequeue"}));
}

// Many request threads at once: every kept record reaches on_dequeue exactly
// once, each thread's records in the order it sent them, all before on_term.
void run_many_threads(filter_fixture& f, loaded_module& module, int threads, int per_thread) {
  std::vector<std::thread> senders;
  for (int t = 0; t < threads; ++t) {
    senders.emplace_back([&module, t, per_thread] {
      for (int i = 0; i < per_thread; ++i) {
        fake_request request;
        request.set_variable("THREAD", std::to_string(t));
        request.set_variable("SEQ", std::to_string(i));
        module.http_filter_proc(&request.context, SF_NOTIFY_LOG, &request.log);
      }
    });
  }
  for (auto& sender : senders) sender.join();
  (void)f;
}

const char* const ordering_script = R"(
function on_init() return true end
function on_enqueue(h)
  local c = enqueue_context.new(h)
  local seq = tonumber(c:server_variable("SEQ"))
  if seq % 7 == 3 then return false end  -- some notifications are not kept
  return true, {thread = c:server_variable("THREAD"), seq = seq}
end
function on_dequeue(f, n) ndebug(f.thread .. " " .. f.seq .. " " .. n) end
function on_term() ndebug("term") return true end
)";

void expect_ordered_delivery(const std::vector<std::string>& lines, int threads, int per_thread) {
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "term");
  std::map<int, int> next_seq;
  int expected_number = 0;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    std::istringstream in(lines[i]);
    int thread = -1, seq = -1, number = -1;
    in >> thread >> seq >> number;
    ASSERT_EQ(number, expected_number++) << lines[i];
    int& want = next_seq[thread];
    while (want % 7 == 3) ++want;
    ASSERT_EQ(seq, want) << "thread " << thread;
    ++want;
  }
  int kept_per_thread = 0;
  for (int i = 0; i < per_thread; ++i) kept_per_thread += i % 7 != 3;
  EXPECT_EQ(expected_number, threads * kept_per_thread);
}

TEST_F(notification_test, records_from_many_threads_with_one_pool_state) {
  ASSERT_EQ(load(ordering_script, 1), TRUE);
  run_many_threads(*this, *module, 4, 500);
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  expect_ordered_delivery(traces(), 4, 500);
}

TEST_F(notification_test, records_from_many_threads_with_more_pool_states_than_threads) {
  ASSERT_EQ(load(ordering_script, 8), TRUE);
  run_many_threads(*this, *module, 4, 500);
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  expect_ordered_delivery(traces(), 4, 500);
}

TEST_F(notification_test, records_still_queued_at_unload_reach_on_dequeue_before_on_term) {
  // A pause after each record keeps most of them queued when unload begins.
  ASSERT_EQ(load(ordering_script, 2, 1), TRUE);
  run_many_threads(*this, *module, 2, 50);
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  expect_ordered_delivery(traces(), 2, 50);
}

}  // namespace

namespace {

// Messages of 1 MiB, in every place a script's text reaches an outlet: each
// keeps its first 4096 bytes and says how many it left out.
struct huge_case {
  const char *name, *init, *enqueue, *dequeue;
  const char* trace_head;
  const char* event_head;  // null: the load succeeds
};

class huge_text_test : public filter_fixture, public ::testing::WithParamInterface<huge_case> {};

TEST_P(huge_text_test, is_cut_where_it_enters_with_the_count_left_out) {
  const huge_case& c = GetParam();
  const std::string cut = std::string(4096, 'x') + "... [1044480 more bytes]";
  const BOOL loaded = load(std::string("big = string.rep('x', 1048576)\n") +
                           "function on_init() " + c.init + " end\n" +
                           "function on_enqueue(h) " + c.enqueue + " end\n" +
                           "function on_dequeue(f, n) " + c.dequeue + " end\n" +
                           "function on_term() return true end\n");
  if (c.event_head == nullptr) {
    ASSERT_EQ(loaded, TRUE);
    fake_request request;
    notify(request);
    EXPECT_EQ(module->terminate_filter(0), TRUE);
  } else {
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0].text, c.event_head + cut);
  }
  EXPECT_EQ(traces(), std::vector<std::string>{c.trace_head + cut});
}

INSTANTIATE_TEST_SUITE_P(
    places, huge_text_test,
    ::testing::Values(
        huge_case{"on_enqueue", "return true", "error(big, 0)", "",
                  "error: on_enqueue code:2 message:", nullptr},
        huge_case{"on_dequeue", "return true", "return true, {}", "error(big, 0)",
                  "error: on_dequeue code:2 message:", nullptr},
        huge_case{"ndebug", "return true", "ndebug(big .. '\\0tail') return false", "", "",
                  nullptr},
        huge_case{"on_init", "error(big, 0)", "", "",
                  "quillharbor failed to load (script on_init() error) code:2 message:",
                  "quillharbor failed to load (script on_init() error) code:2 message:"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
