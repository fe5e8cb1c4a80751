// Reads the settings file into the settings record.
#pragma once

#include <stdexcept>
#include <string>

#include "settings/settings_record.h"

// The document's root is not "setting".
struct load_exception : std::domain_error {
  load_exception() : std::domain_error("only \"setting\" could exist at root") {}
};

// Applies the file at `path` to `settings`, element by element, on top of what
// it holds. Throws MXML::SyntaxException when the file cannot be read as XML,
// load_exception when its root is not "setting"; std::bad_alloc passes on.
void load_settings(settings_record& settings, const std::string& path);

// The same for the file at settings_path().
void load_settings(settings_record& settings);
