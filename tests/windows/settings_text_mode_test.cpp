// The settings file is read in text mode: each CR LF pair reaches the parser as
// one LF, and a Ctrl-Z ends the input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/load_settings.h"
#include "settings/mxml.h"
#include "tests/settings/recording_parser.h"
#include "tests/settings/test_files.h"

namespace {

TEST(settings_text_mode, positions_count_a_crlf_pair_as_one_byte) {
  recording_parser parser;
  try {
    MXML::parse_file(parser.get(), write_test_file("crlf.xml", "<a>\r\n<b>\r\n</a>"));
    FAIL() << "a mismatched tag was accepted";
  } catch (const MXML::SyntaxException& e) {
    EXPECT_EQ(e.code, XML_ERROR_TAG_MISMATCH);
    EXPECT_EQ(e.line, 3);
    EXPECT_EQ(e.column, 2);
    EXPECT_EQ(e.byte_index, 10);  // "<a>\n<b>\n" before it, as the parser saw it
  }
}

TEST(settings_text_mode, chunks_hold_4096_bytes_after_folding) {
  // 4100 bytes on disk, 4090 after folding ten CR LF pairs: one final chunk.
  std::string document = "<r>";
  for (int i = 0; i < 10; ++i) document += "\r\n";
  document += "<!--" + std::string(4100 - document.size() - 4 - 7, 'x') + "--></r>";
  ASSERT_EQ(document.size(), 4100u);
  recording_parser parser;
  MXML::parse_file(parser.get(), write_test_file("folded.xml", document));
  EXPECT_EQ(parser.events, (std::vector<recording_parser::event>{{"<r", true, 0}, {"</r", true, 4086}}));
}

TEST(settings_text_mode, ctrl_z_ends_the_input) {
  {
    SCOPED_TRACE("what follows a Ctrl-Z is never parsed");
    recording_parser parser;
    MXML::parse_file(parser.get(), write_test_file("eof.xml", "<a/>\r\n\x1a<junk \xff"));
    ASSERT_EQ(parser.events.size(), 2u);
    EXPECT_EQ(parser.events[1].tag, "</a");
    EXPECT_TRUE(parser.events[1].final_chunk);
  }
  {
    SCOPED_TRACE("a Ctrl-Z inside the root cuts the document short");
    recording_parser parser;
    try {
      MXML::parse_file(parser.get(), write_test_file("cut.xml", "<a>\x1a</a>"));
      FAIL() << "a cut document was accepted";
    } catch (const MXML::SyntaxException& e) {
      EXPECT_EQ(e.code, XML_ERROR_NO_ELEMENTS);
    }
  }
}

TEST(settings_text_mode, a_settings_file_saved_by_a_windows_editor_loads) {
  const std::string path = write_test_file(
      "quillharbor.setting",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<setting>\r\n"
      "  <queue process_interval=\"100\"/>\r\n"
      "  <script path=\"C:\\scripts\\log.lua\" pool_size=\"8\"/>\r\n</setting>\r\n\x1a\x1a\x1a");
  settings_record settings;
  load_settings(settings, path);
  EXPECT_EQ(settings.process_interval, 100);
  EXPECT_EQ(settings.pool_size, 8);
  EXPECT_EQ(settings.script_path, "C:\\scripts\\log.lua");
}

}  // namespace
