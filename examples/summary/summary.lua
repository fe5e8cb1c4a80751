-- summary.lua: counts what the web server served and writes one report when
-- the filter unloads: requests per status, bytes in and out, the slowest URLs.
--
-- on_enqueue runs on the web server's request threads, in one of several pool
-- states, and so keeps nothing itself: it only picks out the fields. The
-- counting happens in on_dequeue, which runs in the main state, one record at
-- a time, and the report is written by on_term in that same state.
--
-- Several worker processes at once: IIS runs the filter in every worker
-- process of the pool, two side by side while one is recycled, several in a
-- web garden, and ends idle ones (after 20 minutes by default). Each process
-- counts only what it served and writes one report of its own when it ends:
-- a REPORT file gets the process identifier before its extension
-- (summary.4242.txt), so that no process replaces another's report. Add the
-- reports up to see the whole site.

-- Where the report goes: "-" for standard output (what the replay shows), or
-- an absolute file path (under IIS standard output leads nowhere), written
-- per process as said above.
local REPORT = "-"
-- The server variable the URLs come from.
local URL_VARIABLE = "UNICODE_URL"
-- How many of the slowest URLs the report lists.
local SLOWEST = 10

local requests, bytes_sent, bytes_recvd = 0, 0, 0
local by_status = {}  -- "200" -> count
local by_url = {}     -- url -> { count, total_ms, max_ms }

function on_init()
  return true
end

function on_enqueue(handle)
  local ctx = enqueue_context.new(handle)
  -- The log record's five numbers in one call; the second, win32_status, is not kept.
  local status, _, sent, recvd, ms = quillharbor_log_numbers(ctx)
  return true, {
    status = status,
    sent = sent,
    recvd = recvd,
    ms = ms,
    url = ctx:server_variable(URL_VARIABLE),
  }
end

-- Every field arrives as a string.
function on_dequeue(fields)
  requests = requests + 1
  bytes_sent = bytes_sent + (tonumber(fields.sent) or 0)
  bytes_recvd = bytes_recvd + (tonumber(fields.recvd) or 0)
  by_status[fields.status] = (by_status[fields.status] or 0) + 1
  local ms = tonumber(fields.ms) or 0
  local url = by_url[fields.url]
  if not url then
    url = { count = 0, total_ms = 0, max_ms = 0 }
    by_url[fields.url] = url
  end
  url.count = url.count + 1
  url.total_ms = url.total_ms + ms
  if ms > url.max_ms then url.max_ms = ms end
end

local function megabytes(n)
  return string.format("%.1f MB", n / 1e6)
end

local function report_lines()
  local lines = {}
  local function add(...) lines[#lines + 1] = string.format(...) end

  add("quillharbor summary: %d requests", requests)
  add("  bytes sent %s, received %s", megabytes(bytes_sent), megabytes(bytes_recvd))

  add("")
  add("requests per status")
  local statuses = {}
  for status in pairs(by_status) do statuses[#statuses + 1] = status end
  table.sort(statuses, function(a, b) return tonumber(a) < tonumber(b) end)
  for _, status in ipairs(statuses) do
    local count = by_status[status]
    add("  %-6s %8d  %5.1f%%", status, count, 100 * count / requests)
  end

  add("")
  add("slowest URLs by average time")
  local urls = {}
  for name, u in pairs(by_url) do
    urls[#urls + 1] = { name = name, average = u.total_ms / u.count, count = u.count, max = u.max_ms }
  end
  table.sort(urls, function(a, b)
    if a.average ~= b.average then return a.average > b.average end
    return a.name < b.name
  end)
  add("  %9s %9s %8s  %s", "avg ms", "max ms", "requests", "url")
  for i = 1, math.min(SLOWEST, #urls) do
    local u = urls[i]
    add("  %9.1f %9d %8d  %s", u.average, u.max, u.count, u.name)
  end
  return lines
end

-- REPORT with this process's identifier before its extension.
local function per_process(name)
  local stem, extension = name:match("^(.-)(%.[^./\\]*)$")
  if not stem or stem == "" or stem:match("[/\\]$") then stem, extension = name, "" end
  return ("%s.%d%s"):format(stem, quillharbor_process_id(), extension)
end

function on_term()
  local out = io.stdout
  if REPORT ~= "-" then
    -- Appended: a later process given the same identifier adds its report.
    local name, err = per_process(REPORT), nil
    out, err = io.open(name, "a")
    if not out then
      ndebug("summary.lua: cannot write " .. name .. ": " .. tostring(err))
      return false -- TerminateFilter then reports the failure in a trace line
    end
  end
  out:write(table.concat(report_lines(), "\n"), "\n")
  if out == io.stdout then
    out:flush()
    return true
  end
  return out:close()
end
