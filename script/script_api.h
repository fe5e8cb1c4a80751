// What every script state offers the script besides the standard libraries
// and lfs: ndebug, uuid, quillharbor_process_id, quillharbor_log_numbers and the
// enqueue_context type.
#pragma once

#include <string>

struct lua_State;

// Installs the globals ndebug, uuid, quillharbor_process_id, quillharbor_log_numbers and
// enqueue_context and the objects' metatable. Raises Lua errors: call it under protection.
void register_script_api(lua_State* L);

// A new UUID as 32 lowercase hexadecimal digits, no hyphens. Throws
// std::domain_error("UuidCreate") when the platform cannot make one. Any thread.
std::string new_uuid_string();
