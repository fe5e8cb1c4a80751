-- jsonl.lua: writes every request as one JSON object per line ("JSON lines"),
-- ready for jq, a log shipper or a spreadsheet import.
--
--   {"n":0,"status":200,"win32_status":0,"bytes_sent":5120,"bytes_recvd":431,
--    "time_ms":15,"method":"GET","url":"/index.html","query":"",...}
--
-- How the filter runs this file: it loads it into several Lua states, the main
-- state and one per pool slot (pool_size in quillharbor.setting). on_enqueue
-- runs in a pool state on the web server's request thread, so it only picks
-- out the fields and returns at once; on_init, on_dequeue and on_term run in
-- the main state, one record at a time and in order, so the file is opened,
-- written and closed there only.

-- Where the lines go. Use an absolute path: under IIS a relative one is taken
-- from the worker process's working directory (usually C:\Windows\System32).
local OUTPUT = "requests.jsonl"

-- The server variables to keep, and the JSON names they get.
local VARIABLES = {
  { "REQUEST_METHOD", "method" },
  { "URL", "url" },
  { "QUERY_STRING", "query" },
  { "REMOTE_ADDR", "client" },
  { "REMOTE_USER", "user" },
  { "HTTP_HOST", "host" },
  { "HTTP_USER_AGENT", "agent" },
  { "HTTP_REFERER", "referer" },
}

-- The numbers of the log record; on_dequeue receives every field as a string,
-- so these names are written back as JSON numbers.
local NUMBERS = { "status", "win32_status", "bytes_sent", "bytes_recvd", "time_ms" }

local out -- the open file; exists in the main state only

function on_init()
  local err
  out, err = io.open(OUTPUT, "a")
  if not out then
    ndebug("jsonl.lua: cannot open " .. OUTPUT .. ": " .. tostring(err))
    return false -- refuses the load: the event log gets code 7
  end
  out:setvbuf("full")
  return true
end

function on_enqueue(handle)
  local ctx = enqueue_context.new(handle)
  local fields = {
    status = ctx:http_status(),
    win32_status = ctx:win32_status(),
    bytes_sent = ctx:bytes_sent(),
    bytes_recvd = ctx:bytes_recvd(),
    time_ms = ctx:process_time(),
    -- When the filter saw the request (when replaying: the replay's time).
    -- os.time() is safe here; os.date is not: it shares one C library buffer
    -- between all request threads, so the text is made in on_dequeue.
    logged = os.time(),
  }
  for _, v in ipairs(VARIABLES) do
    fields[v[2]] = ctx:server_variable(v[1]) -- "" when the request had none
  end
  return true, fields
end

-- JSON needs ", \ and control characters escaped, and valid UTF-8. Bytes that
-- are not UTF-8 (old logs are often Latin-1) are written as \u00XX, i.e. read
-- as Latin-1, so that one odd byte never makes a line unreadable.
local ESCAPES = { ['"'] = '\\"', ["\\"] = "\\\\", ["\b"] = "\\b", ["\f"] = "\\f",
                  ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t" }

-- The length of the valid UTF-8 sequence at i, or nil: no overlong forms, no
-- surrogates, nothing above U+10FFFF.
local function utf8_length(s, i)
  local c, c2 = s:byte(i, i + 1)
  local n, low, high = nil, 0x80, 0xBF
  if c >= 0xC2 and c <= 0xDF then n = 2
  elseif c >= 0xE0 and c <= 0xEF then
    n = 3
    if c == 0xE0 then low = 0xA0 elseif c == 0xED then high = 0x9F end
  elseif c >= 0xF0 and c <= 0xF4 then
    n = 4
    if c == 0xF0 then low = 0x90 elseif c == 0xF4 then high = 0x8F end
  else
    return nil
  end
  if not c2 or c2 < low or c2 > high then return nil end
  for k = i + 2, i + n - 1 do
    local b = s:byte(k)
    if not b or b < 0x80 or b > 0xBF then return nil end
  end
  return n
end

local function json_string(s)
  -- Most values need no escape at all.
  if not s:find('[%c"\\\128-\255]') then return '"' .. s .. '"' end
  local parts, i = {}, 1
  while i <= #s do
    local c = s:byte(i)
    if c < 0x80 then
      local ch = s:sub(i, i)
      parts[#parts + 1] = ESCAPES[ch] or (c < 0x20 or c == 0x7F) and string.format("\\u%04x", c) or ch
      i = i + 1
    else
      local n = utf8_length(s, i)
      if n then
        parts[#parts + 1] = s:sub(i, i + n - 1)
        i = i + n
      else
        parts[#parts + 1] = string.format("\\u%04x", c)
        i = i + 1
      end
    end
  end
  return '"' .. table.concat(parts) .. '"'
end

-- Keys in a fixed order, so that lines compare and diff well.
local ORDER = { "status", "win32_status", "bytes_sent", "bytes_recvd", "time_ms", "logged" }
for _, v in ipairs(VARIABLES) do ORDER[#ORDER + 1] = v[2] end
local IS_NUMBER = {}
for _, name in ipairs(NUMBERS) do IS_NUMBER[name] = true end

function on_dequeue(fields, n)
  fields.logged = os.date("!%Y-%m-%dT%H:%M:%SZ", tonumber(fields.logged))
  local parts = { '"n":' .. string.format("%d", n) }
  for _, key in ipairs(ORDER) do
    local value = fields[key]
    if value ~= nil then
      if IS_NUMBER[key] and tonumber(value) then
        parts[#parts + 1] = json_string(key) .. ":" .. value
      else
        parts[#parts + 1] = json_string(key) .. ":" .. json_string(value)
      end
    end
  end
  out:write("{", table.concat(parts, ","), "}\n")
end

function on_term()
  -- Runs after the last record has been written; false here makes
  -- TerminateFilter report a failure.
  return out:close()
end
