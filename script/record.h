// One kept notification: an ordered map from byte string to byte string.
#pragma once

#include <map>
#include <string>

// Keys sort by unsigned bytes, shorter prefix first; no key or value holds a
// NUL. Made by run_on_enqueue, destroyed by run_on_dequeue; one owner at a time.
class record {
 public:
  using map_type = std::map<std::string, std::string>;

  // Stores the pair, replacing the value of an equal key.
  void set(std::string key, std::string value) { fields_[std::move(key)] = std::move(value); }
  const map_type& fields() const { return fields_; }

 private:
  map_type fields_;
};
