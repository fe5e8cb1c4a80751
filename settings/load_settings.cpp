#include "settings/load_settings.h"

#include <cstring>
#include <new>

#include "settings/mxml.h"
#include "settings/read_int32.h"
#include "settings/settings_path.h"

namespace {

constexpr std::int32_t min_process_interval = 0;
constexpr std::int32_t default_pool_size = 5;
constexpr std::int32_t min_pool_size = 1;
// The first buffer's size: a smaller limit would read nothing more.
constexpr std::int32_t min_variable_limit = 2048;

enum class reader_state { at_root = 0, in_setting = 1, in_queue = 2, in_script = 3, in_trace = 4, in_filter = 5 };

// Owns one Expat parser.
class parser_owner {
 public:
  parser_owner() : parser_(XML_ParserCreate(nullptr)) {
    if (parser_ == nullptr) throw std::bad_alloc();
  }
  ~parser_owner() { XML_ParserFree(parser_); }
  parser_owner(const parser_owner&) = delete;
  parser_owner& operator=(const parser_owner&) = delete;

  XML_Parser get() const { return parser_; }

 private:
  XML_Parser parser_;
};

// The parser's user data for one load; the state alone decides, there is no depth count.
struct handler_context {
  XML_Parser parser;
  settings_record& settings;
  reader_state state;
};

bool is(const XML_Char* name, const char* expected) { return std::strcmp(name, expected) == 0; }

bool read_number(const std::string& text, std::int32_t& field) { return read_int32(text, field); }
bool read_number(const std::string& text, std::int64_t& field) { return read_int64(text, field); }

// The rule of the later attributes, all off by default: absent or empty gives 0,
// not a number keeps the field, below 0 becomes 0.
template <class Field>
void read_limit(const XML_Char** attributes, const char* name, Field& field) {
  const std::string value = MXML::attribute(attributes, name);
  if (value.empty())
    field = 0;
  else
    read_number(value, field);
  if (field < 0) field = 0;
}

void read_queue(settings_record& settings, const XML_Char** attributes) {
  const std::string interval = MXML::attribute(attributes, "process_interval");
  if (interval.empty())
    settings.process_interval = 0;
  else
    read_int32(interval, settings.process_interval);
  if (settings.process_interval < min_process_interval) settings.process_interval = min_process_interval;
  read_limit(attributes, "limit", settings.queue_limit);
  read_limit(attributes, "drain_limit", settings.drain_limit);
}

void read_script(settings_record& settings, const XML_Char** attributes) {
  settings.script_path = MXML::attribute(attributes, "path");
  const std::string pool_size = MXML::attribute(attributes, "pool_size");
  if (pool_size.empty())
    settings.pool_size = default_pool_size;
  else
    read_int32(pool_size, settings.pool_size);
  if (settings.pool_size < min_pool_size) settings.pool_size = min_pool_size;
  read_limit(attributes, "time_limit", settings.time_limit);
  read_limit(attributes, "variable_limit", settings.variable_limit);
  if (settings.variable_limit > 0 && settings.variable_limit < min_variable_limit)
    settings.variable_limit = min_variable_limit;
}

void read_trace(settings_record& settings, const XML_Char** attributes) {
  settings.trace_path = MXML::attribute(attributes, "path");
  read_limit(attributes, "max_size", settings.trace_max_size);
}

// "true" or "1" turns it on; anything else, or nothing, leaves it off.
void read_filter(settings_record& settings, const XML_Char** attributes) {
  const std::string value = MXML::attribute(attributes, "fail_open");
  settings.fail_open = value == "true" || value == "1";
}

void start_element(handler_context& context, const XML_Char* name, const XML_Char** attributes) {
  switch (context.state) {
    case reader_state::at_root:
      if (!is(name, "setting")) throw load_exception();
      context.state = reader_state::in_setting;
      return;
    case reader_state::in_setting:
      if (is(name, "queue")) {
        read_queue(context.settings, attributes);
        context.state = reader_state::in_queue;
      } else if (is(name, "script")) {
        read_script(context.settings, attributes);
        context.state = reader_state::in_script;
      } else if (is(name, "trace")) {
        read_trace(context.settings, attributes);
        context.state = reader_state::in_trace;
      } else if (is(name, "filter")) {
        read_filter(context.settings, attributes);
        context.state = reader_state::in_filter;
      }
      return;
    case reader_state::in_queue:
    case reader_state::in_script:
    case reader_state::in_trace:
    case reader_state::in_filter:
      return;
  }
}

void end_element(handler_context& context, const XML_Char* name) {
  if (context.state == reader_state::in_setting && is(name, "setting"))
    context.state = reader_state::at_root;
  else if (context.state == reader_state::in_queue && is(name, "queue"))
    context.state = reader_state::in_setting;
  else if (context.state == reader_state::in_script && is(name, "script"))
    context.state = reader_state::in_setting;
  else if (context.state == reader_state::in_trace && is(name, "trace"))
    context.state = reader_state::in_setting;
  else if (context.state == reader_state::in_filter && is(name, "filter"))
    context.state = reader_state::in_setting;
}

void XMLCALL on_start(void* user_data, const XML_Char* name, const XML_Char** attributes) {
  auto& context = *static_cast<handler_context*>(user_data);
  MXML::call_handler(context.parser, [&] { start_element(context, name, attributes); });
}

void XMLCALL on_end(void* user_data, const XML_Char* name) {
  auto& context = *static_cast<handler_context*>(user_data);
  MXML::call_handler(context.parser, [&] { end_element(context, name); });
}

void XMLCALL ignore_text(void*, const XML_Char*, int) {}

}  // namespace

void load_settings(settings_record& settings, const std::string& path) {
  const parser_owner parser;
  handler_context context{parser.get(), settings, reader_state::at_root};
  XML_SetUserData(parser.get(), &context);
  XML_SetElementHandler(parser.get(), on_start, on_end);
  XML_SetCharacterDataHandler(parser.get(), ignore_text);
  MXML::parse_file(parser.get(), path);
}

void load_settings(settings_record& settings) { load_settings(settings, settings_path()); }
