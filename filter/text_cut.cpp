#include "filter/text_cut.h"


namespace {

// Where `text` is cut: at `limit`, moved back off UTF-8 continuation bytes so
// that a character is kept whole or left out whole.
std::size_t cut_point(std::string_view text, std::size_t limit) noexcept {
  std::size_t at = limit;
  const std::size_t lowest = limit > 3 ? limit - 3 : 0;
  while (at > lowest && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  return at;
}

}  // namespace

void write_cut(std::ostream& out, std::string_view text, std::size_t limit) {
  if (text.size() <= limit) {
    out << text;
    return;
  }
  const std::size_t at = cut_point(text, limit);
  out << text.substr(0, at) << "... [" << text.size() - at << " more bytes]";
}

std::string cut_text(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  const std::size_t at = cut_point(text, limit);
  std::string cut(text.substr(0, at));
  cut += "... [" + std::to_string(text.size() - at) + " more bytes]";
  return cut;
}
