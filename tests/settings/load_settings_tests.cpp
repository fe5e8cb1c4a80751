#include <gtest/gtest.h>

#include <string>

#include "settings/load_settings.h"
#include "settings/mxml.h"
#include "tests/settings/test_files.h"

namespace {

enum class outcome { loaded, not_settings, syntax };

struct loaded_record {
  int process_interval;
  int pool_size;
  std::string script_path;
};

outcome load_from(const std::string& bytes, settings_record& record) {
  const std::string path = write_test_file("quillharbor.setting", bytes);
  try {
    load_settings(record, path);
  } catch (const load_exception& e) {
    EXPECT_STREQ(e.what(), "only \"setting\" could exist at root");
    return outcome::not_settings;
  } catch (const MXML::SyntaxException&) {
    return outcome::syntax;
  }
  return outcome::loaded;
}

struct document_case {
  const char* name;
  std::string bytes;
  outcome expected;
  loaded_record record;
};

void check(const document_case& c) {
  SCOPED_TRACE(c.name);
  settings_record record;
  EXPECT_EQ(load_from(c.bytes, record), c.expected);
  EXPECT_EQ(record.process_interval, c.record.process_interval);
  EXPECT_EQ(record.pool_size, c.record.pool_size);
  EXPECT_EQ(record.script_path, c.record.script_path);
}

std::string in_root(const std::string& body) { return "<setting>" + body + "</setting>"; }

TEST(load_settings, follows_the_reader_states) {
  const document_case cases[] = {
      {"complete file",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<setting>\n  <queue process_interval=\"100\"/>\n"
       "  <script path=\"C:\\scripts\\log.lua\" pool_size=\"8\"/>\n</setting>\n",
       outcome::loaded, {100, 8, "C:\\scripts\\log.lua"}},
      {"empty root", "<setting/>", outcome::loaded, {0, 5, ""}},
      {"root attributes are not read", "<setting process_interval='3' pool_size='4' path='p'/>", outcome::loaded,
       {0, 5, ""}},
      {"comments, text, instructions and doctype ignored",
       "<!DOCTYPE setting><?pi x?><setting>text<!-- <queue process_interval='1'/> --><?pi?>"
       "<queue process_interval='2'>text</queue></setting>",
       outcome::loaded, {2, 5, ""}},
      {"inside another element of the root", in_root("<other><queue process_interval='7'/><script path='s'/></other>"),
       outcome::loaded, {7, 5, "s"}},
      {"children of queue ignored", in_root("<queue process_interval='1'><script path='x' pool_size='9'/></queue>"),
       outcome::loaded, {1, 5, ""}},
      {"no depth count: an inner queue's end leaves the queue",
       in_root("<queue process_interval='1'><queue process_interval='2'/><script path='x' pool_size='9'/></queue>"),
       outcome::loaded, {1, 9, "x"}},
      {"children of script ignored",
       in_root("<script path='a' pool_size='3'><queue process_interval='4'/><script path='b'/></script>"),
       outcome::loaded, {0, 3, "a"}},
      {"end of queue returns to the root's content",
       in_root("<queue process_interval='1'></queue><script path='s' pool_size='2'/><queue process_interval='6'/>"),
       outcome::loaded, {6, 2, "s"}},
      {"unpaired end tags change nothing",
       in_root("<queue process_interval='4'><setting/><script/></queue><script path='s'><queue/></script>"),
       outcome::loaded, {4, 5, "s"}},
      {"nested setting ends the root's content",
       in_root("<queue process_interval='3'/><setting></setting><script path='s'/>"), outcome::not_settings,
       {3, 5, ""}},
      {"names are case-sensitive", in_root("<Queue process_interval='9'/><script Path='p' Pool_Size='2'/>"),
       outcome::loaded, {0, 5, ""}},
      {"prefixed names are other names",
       in_root("<x:queue xmlns:x='urn:q' process_interval='9'/><script x:path='p' xmlns:x='urn:q'/>"),
       outcome::loaded, {0, 5, ""}},
      {"capitalised root", "<Setting><queue process_interval='9'/></Setting>", outcome::not_settings, {0, 5, ""}},
      {"prefixed root", "<x:setting xmlns:x='urn:s'><queue process_interval='9'/></x:setting>",
       outcome::not_settings, {0, 5, ""}},
      {"other root", "<queue process_interval='9'/>", outcome::not_settings, {0, 5, ""}},
      {"later script without path empties it", in_root("<script path='a' pool_size='3'/><script/>"), outcome::loaded,
       {0, 5, ""}},
      {"later queue without interval resets it",
       in_root("<queue process_interval='8'/><queue Process_Interval='7'/>"), outcome::loaded, {0, 5, ""}},
      {"last occurrence wins", in_root("<script path='a' pool_size='3'/><script path='b' pool_size='4'/>"),
       outcome::loaded, {0, 4, "b"}},
      {"values before a syntax error stay",
       in_root("<queue process_interval='7'/><script path='a' pool_size='3'/><oops>"), outcome::syntax,
       {7, 3, "a"}},
      {"junk after the document element", "<setting/><queue process_interval='1'/>", outcome::syntax, {0, 5, ""}},
      {"empty file", "", outcome::syntax, {0, 5, ""}},
  };
  for (const auto& c : cases) check(c);
}

TEST(load_settings, reads_numbers_like_a_classic_stream) {
  const std::string earlier = "<queue process_interval='40'/><script path='p' pool_size='7'/>";
  const auto interval = [&](const std::string& v) { return in_root(earlier + "<queue process_interval='" + v + "'/>"); };
  const auto pool = [&](const std::string& v) { return in_root(earlier + "<script path='p' pool_size='" + v + "'/>"); };
  const document_case cases[] = {
      {"negative interval", interval("-5"), outcome::loaded, {0, 7, "p"}},
      {"trailing unit", interval("250ms"), outcome::loaded, {250, 7, "p"}},
      {"no digits keeps the value", interval("abc"), outcome::loaded, {40, 7, "p"}},
      {"no digits without an earlier queue", in_root("<queue process_interval='abc'/>"), outcome::loaded, {0, 5, ""}},
      {"just out of range", interval("2147483648"), outcome::loaded, {40, 7, "p"}},
      {"far out of range", interval("-99999999999999999999"), outcome::loaded, {40, 7, "p"}},
      {"largest", interval("2147483647"), outcome::loaded, {2147483647, 7, "p"}},
      {"smallest, then the limit", interval("-2147483648"), outcome::loaded, {0, 7, "p"}},
      {"empty interval", interval(""), outcome::loaded, {0, 7, "p"}},
      {"leading spaces", interval("  12"), outcome::loaded, {12, 7, "p"}},
      {"leading tab and line feed", interval("&#9;&#10;13"), outcome::loaded, {13, 7, "p"}},
      {"leading zero is decimal", interval("010"), outcome::loaded, {10, 7, "p"}},
      {"sign apart from digits", interval("- 5"), outcome::loaded, {40, 7, "p"}},
      {"zero pool", pool("0"), outcome::loaded, {40, 1, "p"}},
      {"negative pool", pool("-3"), outcome::loaded, {40, 1, "p"}},
      {"plus sign", pool("+8"), outcome::loaded, {40, 8, "p"}},
      {"hexadecimal reads its 0", pool("0x10"), outcome::loaded, {40, 1, "p"}},
      {"not a number keeps the value", pool("x"), outcome::loaded, {40, 7, "p"}},
      {"not a number without an earlier script", in_root("<script pool_size='x'/>"), outcome::loaded, {0, 5, ""}},
      {"spaces only keep the value", pool("   "), outcome::loaded, {40, 7, "p"}},
      {"sign only keeps the value", pool("-"), outcome::loaded, {40, 7, "p"}},
      {"empty pool", pool(""), outcome::loaded, {40, 5, "p"}},
      {"trailing space", pool("9 "), outcome::loaded, {40, 9, "p"}},
  };
  for (const auto& c : cases) check(c);
}

TEST(load_settings, hands_the_path_bytes_on_unchanged) {
  const document_case cases[] = {
      {"UTF-8 bytes", in_root("<script path='C:\\donn\xC3\xA9" "es\\\xE6\x97\xA5.lua'/>"), outcome::loaded,
       {0, 5, "C:\\donn\xC3\xA9" "es\\\xE6\x97\xA5.lua"}},
      {"references resolved", in_root("<script path='a&amp;b&#xE9;&#x1F600;'/>"), outcome::loaded,
       {0, 5, "a&b\xC3\xA9\xF0\x9F\x98\x80"}},
      {"Latin-1 document arrives as UTF-8",
       "<?xml version='1.0' encoding='ISO-8859-1'?>" + in_root("<script path='\xE9'/>"), outcome::loaded,
       {0, 5, "\xC3\xA9"}},
      {"spaces kept", in_root("<script path=' a b '/>"), outcome::loaded, {0, 5, " a b "}},
  };
  for (const auto& c : cases) check(c);
}

TEST(load_settings, value_spanning_chunks_is_read_whole) {
  const std::string head = "<setting><!--";
  const std::string filler(4096 - head.size() - 3 - 18, 'x');  // the path starts 4 bytes before the boundary
  const std::string doc = head + filler + "--><script path='abcdefgh' pool_size='12345'/></setting>";
  settings_record record;
  ASSERT_EQ(load_from(doc, record), outcome::loaded);
  EXPECT_EQ(record.script_path, "abcdefgh");
  EXPECT_EQ(record.pool_size, 12345);
}

TEST(load_settings, failures_leave_the_record_and_a_later_load_builds_on_it) {
  settings_record record;
  ASSERT_EQ(load_from(in_root("<queue process_interval='5'/><script path='s' pool_size='2'/>"), record),
            outcome::loaded);
  settings_record missing = record;
  EXPECT_THROW(load_settings(missing, test_directory() + "/absent.setting"), MXML::SyntaxException);
  EXPECT_EQ(missing.pool_size, 2);
  ASSERT_EQ(load_from("<setting/>", record), outcome::loaded);
  EXPECT_EQ(record.process_interval, 5);
  EXPECT_EQ(record.pool_size, 2);
  EXPECT_EQ(record.script_path, "s");
}

}  // namespace
