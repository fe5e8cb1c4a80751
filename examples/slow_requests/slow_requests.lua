-- slow_requests.lua: writes one line for each request that took longer than
-- THRESHOLD_MS, with what is needed to find it again:
--
--   2026-12-08T10:15:02Z  2873 ms  500  GET /api/export?format=csv  192.0.2.7  "curl/8.5.0"
--
-- Fast requests are dropped already in on_enqueue (return false), on the web
-- server's request thread, so they cost no queueing at all.

-- Requests slower than this many milliseconds are written.
local THRESHOLD_MS = 1000
-- Where the lines go; an absolute path under IIS.
local OUTPUT = "slow_requests.log"

local out    -- the open file; in the main state only
local count = 0

function on_init()
  local err
  out, err = io.open(OUTPUT, "a")
  if not out then
    ndebug("slow_requests.lua: cannot open " .. OUTPUT .. ": " .. tostring(err))
    return false
  end
  return true
end

function on_enqueue(handle)
  local ctx = enqueue_context.new(handle)
  local ms = ctx:process_time()
  if ms <= THRESHOLD_MS then
    return false -- not kept: nothing is queued
  end
  return true, {
    ms = ms,
    status = ctx:http_status(),
    method = ctx:server_variable("REQUEST_METHOD"),
    url = ctx:server_variable("URL"),
    query = ctx:server_variable("QUERY_STRING"),
    client = ctx:server_variable("REMOTE_ADDR"),
    agent = ctx:server_variable("HTTP_USER_AGENT"),
    -- os.time() is safe on request threads, os.date is not (one shared C
    -- library buffer): the time is made readable in on_dequeue.
    seen = os.time(),
  }
end

function on_dequeue(f)
  count = count + 1
  local target = f.url
  if f.query ~= "" then target = target .. "?" .. f.query end
  local seen = os.date("!%Y-%m-%dT%H:%M:%SZ", tonumber(f.seen))
  out:write(string.format("%s %6s ms  %s  %s %s  %s  %q\n",
                          seen, f.ms, f.status, f.method, target, f.client, f.agent))
  out:flush() -- one line at a time: the file is worth watching while it grows
end

function on_term()
  -- ndebug writes one trace line: the debugger output under IIS, the
  -- replay's "trace" lines when replaying.
  ndebug(string.format("slow_requests.lua: %d requests over %d ms written to %s",
                       count, THRESHOLD_MS, OUTPUT))
  return out:close()
end
