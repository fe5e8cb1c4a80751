#include "host/log_entry.h"

const std::string_view* log_entry::find(std::string_view name) const noexcept {
  for (const auto& field : fields)
    if (field.name == name) return &field.value;
  return nullptr;
}

void log_entry::clear() noexcept {
  fields.clear();
  if (!made.empty()) made.clear();
}

// A deque's elements stay where they are as it grows, so earlier views hold.
void log_entry::add_copy(std::string_view name, std::string_view value) {
  made.emplace_back(value);
  fields.push_back({name, made.back()});
}
