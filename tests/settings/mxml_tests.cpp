#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "settings/mxml.h"
#include "tests/settings/recording_parser.h"
#include "tests/settings/test_files.h"

namespace {

constexpr int no_elements = XML_ERROR_NO_ELEMENTS;

// Bytes a CRLF line end reaches the parser as: 1 where the C runtime's text
// mode folds it, 2 where files are read as they are.
int crlf_length() {
  const std::string path = write_test_file("crlf.txt", "\r\n");
  std::FILE* file = std::fopen(path.c_str(), "r");
  char buffer[4];
  const int length = static_cast<int>(std::fread(buffer, 1, sizeof buffer, file));
  std::fclose(file);
  return length;
}

std::vector<std::string> tags(const recording_parser& parser) {
  std::vector<std::string> result;
  for (const auto& e : parser.events) result.push_back(e.tag);
  return result;
}

MXML::SyntaxException rejection_of(const std::string& path) {
  recording_parser parser;
  try {
    MXML::parse_file(parser.get(), path);
  } catch (const MXML::SyntaxException& e) {
    return e;
  }
  ADD_FAILURE() << "accepted " << path;
  return MXML::SyntaxException(0, 0, 0, 0);
}

// A document of exactly `size` bytes whose last byte closes the root's end tag.
std::string document_of_size(std::size_t size) {
  const std::string head = "<r><!--", tail = "--></r>";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

TEST(parse_file, chunks_are_final_exactly_when_short) {
  // 4096 bytes: the end tag arrives in a non-final chunk, so a 0-byte final
  // chunk must follow for the parse to finish; 4097: the '>' is a final chunk.
  for (const std::size_t size : {4095u, 4096u, 4097u, 8192u, 8193u}) {
    SCOPED_TRACE(size);
    recording_parser parser;
    MXML::parse_file(parser.get(), write_test_file("chunks.xml", document_of_size(size)));
    ASSERT_EQ(tags(parser), (std::vector<std::string>{"<r", "</r"}));
    EXPECT_EQ(parser.events[1].final_chunk, size % 4096 != 0);
    EXPECT_EQ(parser.events[1].byte_index, static_cast<long long>(size) - 4);
    EXPECT_TRUE(parser.finished());
  }
}

TEST(parse_file, unreadable_or_empty_files_read_as_no_document) {
  const std::string missing = test_directory() + "/missing.xml";
  const std::string empty = write_test_file("empty.xml", "");
  const std::string directory = test_directory();
  for (const std::string& path : {missing, empty, directory}) {
    SCOPED_TRACE(path);
    const MXML::SyntaxException e = rejection_of(path);
    EXPECT_EQ(e.code, no_elements);
    EXPECT_EQ(e.line, 1);
    EXPECT_EQ(e.column, 0);
    EXPECT_EQ(e.byte_index, -1);
    EXPECT_STREQ(e.what(), "");
  }
}

TEST(parse_file, rejections_carry_the_parsers_position) {
  const std::string padding = "<!--" + std::string(5000, 'x') + "-->";
  struct {
    const char* name;
    std::string bytes;
    int code, line, column, byte_index;
  } const cases[] = {
      {"mismatched tag, LF", "<a>\n<b>\n</a>", XML_ERROR_TAG_MISMATCH, 3, 2, 10},
      {"mismatched tag, CRLF", "<a>\r\n<b>\r\n</a>", XML_ERROR_TAG_MISMATCH, 3, 2,
       8 + 2 * crlf_length()},
      {"junk after document element", "<a/><b/>", XML_ERROR_JUNK_AFTER_DOC_ELEMENT, 1, 4, 4},
      {"ends inside a tag", "<a><b", XML_ERROR_UNCLOSED_TOKEN, 1, 3, 3},
      {"unclosed root", "<a>", no_elements, 1, 3, 3},
      {"unknown encoding", "<?xml version='1.0' encoding='KOI8-R'?><a/>", XML_ERROR_UNKNOWN_ENCODING, 1, 30, 30},
      {"error in a later chunk", "<a>" + padding + "\n<</a>", XML_ERROR_INVALID_TOKEN, 2, 1,
       static_cast<int>(3 + padding.size() + 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const MXML::SyntaxException e = rejection_of(write_test_file("bad.xml", c.bytes));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.line, c.line);
    EXPECT_EQ(e.column, c.column);
    EXPECT_EQ(e.byte_index, c.byte_index);
  }
}

TEST(parse_file, handler_exception_passes_unchanged_and_ends_the_parse) {
  struct handler_failure {
    int id;
  };
  recording_parser parser;
  const handler_failure* thrown = nullptr;
  parser.on_start = [&](const std::string& name) {
    if (name != "b") return;
    try {
      throw handler_failure{42};
    } catch (const handler_failure& f) {
      thrown = &f;
      throw;
    }
  };
  // <b/> is empty: Expat would still report its end after the stop.
  const std::string path = write_test_file("throws.xml", "<a><b/><c/></a>");
  try {
    MXML::parse_file(parser.get(), path);
    FAIL() << "the handler's exception was lost";
  } catch (const handler_failure& f) {
    EXPECT_EQ(&f, thrown);
    EXPECT_EQ(f.id, 42);
  }
  EXPECT_EQ(tags(parser), (std::vector<std::string>{"<a", "<b"}));
}

// Where the platform lists a process's open files, none may be left behind.
TEST(parse_file, closes_the_file_on_every_path) {
  const std::filesystem::path open_files = "/proc/self/fd";
  if (!std::filesystem::is_directory(open_files)) GTEST_SKIP() << "open files cannot be listed here";
  const auto count_open = [&] {
    const std::filesystem::directory_iterator files(open_files);
    return std::distance(begin(files), end(files));
  };
  const auto before = count_open();
  for (const char* doc : {"<a/>", "<a>", "<a><throw/></a>"}) {
    recording_parser parser;
    parser.on_start = [](const std::string& name) {
      if (name == "throw") throw 7;
    };
    try {
      MXML::parse_file(parser.get(), write_test_file("closed.xml", doc));
    } catch (const MXML::SyntaxException&) {
    } catch (int) {
    }
  }
  EXPECT_EQ(count_open(), before);
}

TEST(parse_file, hostile_entity_expansion_is_rejected) {
  std::string doc = "<!DOCTYPE r [<!ENTITY e0 'lol'>";
  for (int i = 1; i < 10; ++i) {
    doc += "<!ENTITY e" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k) doc += "&e" + std::to_string(i - 1) + ";";
    doc += "'>";
  }
  doc += "]><r a='&e9;'>&e9;</r>";
  const MXML::SyntaxException e = rejection_of(write_test_file("laughs.xml", doc));
  EXPECT_EQ(e.code, XML_ERROR_AMPLIFICATION_LIMIT_BREACH);
}

TEST(attribute, matches_whole_names_exactly) {
  const XML_Char* list[] = {"pathname", "a", "Pool_Size", "8", "x:path", "b", "empty", "", "path", "c", nullptr};
  const XML_Char* none[] = {nullptr};
  struct {
    const XML_Char** attributes;
    const char* name;
    const char* value;
  } const cases[] = {
      {list, "path", "c"},     {list, "pathname", "a"}, {list, "pool_size", ""}, {list, "pat", ""},
      {list, "empty", ""},     {list, "Pool_Size", "8"}, {none, "path", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(MXML::attribute(c.attributes, c.name), c.value) << c.name;
}

}  // namespace
