-- slow_requests.lua: writes one line for each request that took longer than
-- THRESHOLD_MS, with what is needed to find it again:
--
--   2026-12-08T10:15:02Z  2873 ms  500  GET /api/export?format=csv  192.0.2.7  "curl/8.5.0"
--
-- Fast requests are dropped already in on_enqueue (return false), on the web
-- server's request thread, so they cost no queueing at all.
--
-- Several worker processes at once (a recycle's overlap, a web garden, every
-- pool that runs the filter): each process writes a file of its own, the
-- process identifier before the extension (slow_requests.4242.log), so that no
-- two processes write into one file; a later process that is given an
-- identifier used before appends to that file.

-- Requests slower than this many milliseconds are written.
local THRESHOLD_MS = 1000
-- Where the lines go; an absolute path under IIS.
local OUTPUT = "slow_requests.log"
-- The server variables written, in one place.
local VARIABLES = {
  method = "REQUEST_METHOD", url = "UNICODE_URL", query = "QUERY_STRING",
  client = "REMOTE_ADDR", agent = "HTTP_USER_AGENT",
}

local out    -- the open file; in the main state only
local count = 0
local written_to = OUTPUT -- the file's name with the process identifier

-- OUTPUT with this process's identifier before its extension.
local function per_process(name)
  local stem, extension = name:match("^(.-)(%.[^./\\]*)$")
  if not stem or stem == "" or stem:match("[/\\]$") then stem, extension = name, "" end
  return ("%s.%d%s"):format(stem, quillharbor_process_id(), extension)
end

function on_init()
  written_to = per_process(OUTPUT)
  local err
  out, err = io.open(written_to, "a")
  if not out then
    ndebug("slow_requests.lua: cannot open " .. written_to .. ": " .. tostring(err))
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
    method = ctx:server_variable(VARIABLES.method),
    url = ctx:server_variable(VARIABLES.url),
    query = ctx:server_variable(VARIABLES.query),
    client = ctx:server_variable(VARIABLES.client),
    agent = ctx:server_variable(VARIABLES.agent),
    -- os.time() is safe on request threads, os.date is not (one shared C
    -- library buffer): the time is made readable in on_dequeue.
    seen = os.time(),
  }
end

-- Slow requests come in bursts: the clock's text is made once per second.
local last_seen, last_seen_text
function on_dequeue(f)
  count = count + 1
  local target = f.url
  if f.query ~= "" then target = target .. "?" .. f.query end
  if f.seen ~= last_seen then
    last_seen, last_seen_text = f.seen, os.date("!%Y-%m-%dT%H:%M:%SZ", tonumber(f.seen))
  end
  local seen = last_seen_text
  out:write(string.format("%s %6s ms  %s  %s %s  %s  %q\n",
                          seen, f.ms, f.status, f.method, target, f.client, f.agent))
  out:flush() -- one line at a time: the file is worth watching while it grows
end

function on_term()
  -- ndebug writes one trace line: the debugger output under IIS, the
  -- replay's "trace" lines when replaying.
  ndebug(string.format("slow_requests.lua: %d requests over %d ms written to %s",
                       count, THRESHOLD_MS, written_to))
  return out:close()
end
