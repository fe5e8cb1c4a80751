// Files for the settings tests, in one fresh directory per test program.
#pragma once

#include <string>

// The program's own temporary directory, created on first use and removed at exit.
const std::string& test_directory();

// Writes `bytes` unchanged to `name` in test_directory(); returns the full path.
std::string write_test_file(const std::string& name, const std::string& bytes);
