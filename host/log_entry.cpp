#include "host/log_entry.h"

const std::string* log_entry::find(std::string_view name) const noexcept {
  for (const auto& field : fields)
    if (field.first == name) return &field.second;
  return nullptr;
}
