-- syslog.lua: ships every request to the farm's log collector as one RFC 5424
-- syslog message whose text is a JSON object, over TCP (octet-counted frames,
-- RFC 6587) or UDP. rsyslog, syslog-ng, Fluent Bit, Vector, Logstash and
-- Graylog all take it.
--
--   <134>1 2026-12-07T10:00:00.123Z web01 quillharbor - request - {"n":0,"status":200,...}
--
-- PROCID is "-" (Lua cannot tell the process id); MSGID is "request" for a
-- request and "dropped" for the message that reports lost ones; structured
-- data is "-"; the JSON object holds the record number "n" (counted from 0 at
-- each load, so a gap shows a loss) and the same fields as examples/jsonl.
--
-- on_enqueue picks the fields and makes their JSON text on the request thread,
-- and touches no socket. The network work is done by the worker in
-- on_dequeue, which keeps messages and sends them in batches, one send per
-- batch: when BATCH_SIZE are held, or when the oldest has waited
-- BATCH_AGE_MS. There is no timer: a quiet server sends what it holds with the
-- next record, or when the filter unloads (on_term, within TERM_TIMEOUT).
--
-- When the collector is away or slow, connects and sends give up after short
-- timeouts, the next attempt waits (BACKOFF_MIN doubling up to BACKOFF_MAX),
-- and at most MAX_BUFFERED messages are kept: the oldest beyond are dropped and
-- counted. When a connection is back the count goes first, as a "dropped"
-- message {"dropped":K}, and once it is sent a trace line says
-- "syslog.lua: dropped K messages". Messages still held when on_term gives up
-- are dropped and reported by a trace line alone.
--
-- What is delivered: a message is retired once the kernel has taken all of its
-- bytes; it is never sent twice (at most once). Before each send the script
-- checks that the collector has not closed the connection; if it closes it
-- after that check, the bytes of that last send are lost without being
-- counted. A message cut by a failed send is sent again whole on the next
-- connection. UDP tells nothing of delivery at all.

-- Settings ------------------------------------------------------------------
local COLLECTOR_HOST = "127.0.0.1"   -- an address or a name (resolved when connecting)
local COLLECTOR_PORT = 514
local PROTOCOL = "tcp"               -- "tcp" or "udp"
local HOSTNAME = nil                 -- nil: this machine's name
local FACILITY = 16                  -- 16 local0 ... 23 local7; 1 user
local SEVERITY = 6                   -- 6 informational, 5 notice, 4 warning
local BATCH_SIZE = 200               -- messages per send
local BATCH_AGE_MS = 1000            -- longest a held message waits for more (while records come)
local MAX_BUFFERED = 10000           -- messages held while the collector is away
local CONNECT_TIMEOUT = 0.5          -- seconds
local SEND_TIMEOUT = 0.5             -- seconds one send may block
local BACKOFF_MIN, BACKOFF_MAX = 0.5, 30 -- seconds between attempts while it is away
local TERM_TIMEOUT = 5               -- seconds on_term may spend sending what is held
-- LuaSocket: the distribution's on Linux; in the folder that the Windows build
-- installs it lies in lua\ beside quillharbor.dll, two levels above this file.
local LUA_DIR = (debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "") .. "../../lua/"
package.path, package.cpath = LUA_DIR .. "?.lua;" .. package.path, LUA_DIR .. "?.dll;" .. package.cpath
-- ----------------------------------------------------------------------------

local have_socket, socket = pcall(require, "socket")

-- The server variables sent, by their JSON names. Adding one means a line
-- here, a name and a table of texts above on_enqueue, and two lines in it.
local VARIABLES = {
  method = "REQUEST_METHOD", url = "UNICODE_URL", query = "QUERY_STRING",
  client = "REMOTE_ADDR", user = "UNICODE_REMOTE_USER", host = "HTTP_HOST",
  agent = "HTTP_USER_AGENT", referer = "HTTP_REFERER",
}

-- JSON ------------------------------------------------------------------------
-- ", \ and control characters are escaped. Valid UTF-8 (no overlong forms, no
-- surrogates, nothing above U+10FFFF) passes as it is; any other byte is
-- written as \u00XX, read as Latin-1, so that the payload is always valid.
local ESCAPES = { ['"'] = '\\"', ["\\"] = "\\\\", ["\b"] = "\\b", ["\f"] = "\\f",
                  ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t" }

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

-- The JSON text of a string without its quotes: s itself when every byte is
-- printable ASCII other than " and \ (one anchored match), else escaped.
local find, byte, sub, format, concat, floor = string.find, string.byte, string.sub,
  string.format, table.concat, math.floor
local PLAIN = "^[]-~ -!#-[]*$" -- the ranges ]..~, space..!, #..[
local function escaped(s)
  if find(s, PLAIN) then return s end
  local parts, i = {}, 1
  while i <= #s do
    local c = byte(s, i)
    local n = c >= 0x80 and utf8_length(s, i)
    if n then
      parts[#parts + 1] = sub(s, i, i + n - 1)
      i = i + n
    else
      local ch = sub(s, i, i)
      parts[#parts + 1] = ESCAPES[ch] or (c < 0x20 or c >= 0x7F) and format("\\u%04x", c) or ch
      i = i + 1
    end
  end
  return concat(parts)
end

-- Values repeat (agents, hosts, clients, pages, statuses), so each field
-- keeps the text made for a value, with the field's key before it
-- (',"url":"/index.html"'), and on_enqueue looks it up the next time: up to
-- KEEP_VALUES values a field (strings of at most KEEP_BYTES bytes, and
-- numbers), then that field starts afresh, so that a field whose values
-- seldom repeat does not push out the others'. on_enqueue looks in a field's
-- table itself and calls text_field or number_field only for a value not seen
-- yet. Each state keeps its own.
local KEEP_VALUES, KEEP_BYTES = 512, 256
local kept = {} -- a field's table -> how many values it holds
local function field()
  local texts = {}
  kept[texts] = 0
  return texts
end
local function remember(texts, value, made)
  local count = kept[texts]
  if count >= KEEP_VALUES then
    for key in pairs(texts) do texts[key] = nil end
    count = 0
  end
  texts[value] = made
  kept[texts] = count + 1
  return made
end
local function text_field(texts, key, s)
  local made = key .. escaped(s) .. '"'
  if #s > KEEP_BYTES then return made end
  return remember(texts, s, made)
end

-- A number's text as tostring makes it, for whole numbers below 10^9 (the log
-- record's numbers) from two tables made at load: tostring itself costs more
-- than the rest of a request. SMALL: 0 -> "0" ... 999 -> "999"; THREE: 0 ->
-- "000" ... 999 -> "999".
local SMALL, THREE = {}, {}
do
  local digit = {}
  for i = 0, 9 do digit[i] = tostring(i) end
  for i = 0, 999 do
    local hundreds, tens, ones = (i - i % 100) / 100, (i % 100 - i % 10) / 10, i % 10
    THREE[i] = digit[hundreds] .. digit[tens] .. digit[ones]
    SMALL[i] = i >= 100 and THREE[i] or i >= 10 and digit[tens] .. digit[ones] or digit[ones]
  end
end
local function whole_text(x)
  if x < 0 or x >= 1e9 or x % 1 ~= 0 then return tostring(x) end
  if x < 1000 then return SMALL[x] end
  local low = x % 1000
  local high = (x - low) / 1000
  if high < 1000 then return SMALL[high] .. THREE[low] end
  local middle = high % 1000
  return SMALL[(high - middle) / 1000] .. THREE[middle] .. THREE[low]
end
local function number_field(texts, key, x) return remember(texts, x, key .. whole_text(x)) end

local status_texts, win32_texts, recvd_texts, ms_texts = field(), field(), field(), field()
local method_texts, url_texts, query_texts, client_texts = field(), field(), field(), field()
local user_texts, host_texts, agent_texts, referer_texts = field(), field(), field(), field()

-- The request thread makes the JSON object after its "n", the keys in a fixed
-- order: the worker is one thread for all requests, and a record of two fields
-- costs it and the filter far less to carry than one of fourteen.
local gettime = have_socket and socket.gettime
local new_context, log_numbers = enqueue_context.new, quillharbor_log_numbers
local METHOD, URL, QUERY, CLIENT = VARIABLES.method, VARIABLES.url, VARIABLES.query, VARIABLES.client
local USER, HOST, AGENT, REFERER = VARIABLES.user, VARIABLES.host, VARIABLES.agent, VARIABLES.referer
-- The table returned: the filter copies it before on_enqueue's state runs
-- anything else, so one table serves every request and none is made and
-- collected per request.
local record = {}
function on_enqueue(handle)
  local ctx = new_context(handle)
  -- One call for the log record's five numbers, one for all the names (one
  -- value each, "" when the request had none).
  local status, win32, sent, recvd, ms = log_numbers(ctx)
  local method, url, query, client, user, host, agent, referer = ctx:server_variable(
    METHOD, URL, QUERY, CLIENT, USER, HOST, AGENT, REFERER)
  -- When the filter saw the request, with milliseconds; formatted later.
  record.logged = gettime and format("%.3f", gettime()) or os.time()
  record.after_n = (status_texts[status] or number_field(status_texts, ',"status":', status)) ..
    (win32_texts[win32] or number_field(win32_texts, ',"win32_status":', win32)) ..
    -- Bytes sent seldom repeat (a page's size changes with its content).
    ',"bytes_sent":' .. (SMALL[sent] or whole_text(sent)) ..
    (recvd_texts[recvd] or number_field(recvd_texts, ',"bytes_recvd":', recvd)) ..
    (ms_texts[ms] or number_field(ms_texts, ',"time_ms":', ms)) ..
    (method_texts[method] or text_field(method_texts, ',"method":"', method)) ..
    (url_texts[url] or text_field(url_texts, ',"url":"', url)) ..
    (query_texts[query] or text_field(query_texts, ',"query":"', query)) ..
    (client_texts[client] or text_field(client_texts, ',"client":"', client)) ..
    (user_texts[user] or text_field(user_texts, ',"user":"', user)) ..
    (host_texts[host] or text_field(host_texts, ',"host":"', host)) ..
    (agent_texts[agent] or text_field(agent_texts, ',"agent":"', agent)) ..
    (referer_texts[referer] or text_field(referer_texts, ',"referer":"', referer)) .. '}'
  return true, record
end

-- The record number's text in two pieces, without a new string for each: the
-- last three digits from THREE, the rest kept while they stay the same
-- (numbers come in order).
local above_thousands, above_text
local function record_number(n)
  if n < 1000 or n % 1 ~= 0 then return "", tostring(n) end
  local above = (n - n % 1000) / 1000
  if above ~= above_thousands then above_thousands, above_text = above, tostring(above) end
  return above_text, THREE[n % 1000]
end

-- Messages ----------------------------------------------------------------------
local header_tail -- " HOSTNAME quillharbor - "
local PRI_VERSION = "<" .. FACILITY * 8 + SEVERITY .. ">1 "
local MILLIS = {} -- ".000Z" ... ".999Z", made once
for i = 0, 999 do MILLIS[i] = format(".%03dZ", i) end
-- The header up to the message's text: "<134>1 2026-12-07T10:00:00.123Z host
-- quillharbor - request - ". Its clock changes once a millisecond at most, so
-- the last one made is kept, and its date once a second.
local date, stamp_second, stamp_text = os.date, nil, nil
local head_msgid, head_second, head_ms, head_text

local function header(msgid, seconds)
  local whole = floor(seconds)
  local ms = floor((seconds - whole) * 1000)
  if ms == head_ms and whole == head_second and msgid == head_msgid then return head_text end
  if whole ~= stamp_second then
    stamp_second, stamp_text = whole, date("!%Y-%m-%dT%H:%M:%S", whole)
  end
  head_msgid, head_second, head_ms = msgid, whole, ms
  head_text = PRI_VERSION .. stamp_text .. (MILLIS[ms] or format(".%03dZ", ms)) .. header_tail ..
    msgid .. " - "
  return head_text
end

local LENGTHS = {} -- the octet counts' text, made once for each length
-- The message whose text is a .. b .. c .. d, made in one concatenation (its
-- bytes are copied once, not once more for the text alone).
local function message(msgid, seconds, a, b, c, d)
  local head = header(msgid, seconds)
  if PROTOCOL == "udp" then return head .. a .. b .. c .. d end
  local length = #head + #a + #b + #c + #d
  local count = LENGTHS[length]
  if not count then
    count = length .. " "
    LENGTHS[length] = count
  end
  return count .. head .. a .. b .. c .. d -- octet counting
end

-- The buffer: held[first..last], oldest first. notice[i] is the count that a
-- "dropped" message at i reports. head_sent bytes of held[first] went out on
-- the current connection.
local held, notice, first, last, head_sent = {}, {}, 1, 0, 0
local held_since          -- when the oldest held message came
local dropped = 0         -- dropped and not yet reported in a sent message
local conn, next_attempt, backoff = nil, 0, BACKOFF_MIN

local function now() return socket.gettime() end

local function drop_oldest()
  local victim = first
  -- A message half sent on a live connection must finish: drop the next one.
  if head_sent > 0 then victim = first + 1 end
  if notice[victim] then
    dropped = dropped + notice[victim] -- its count goes into the next notice
    notice[victim] = nil
  else
    dropped = dropped + 1
  end
  if victim ~= first then
    held[victim], notice[victim] = held[first], notice[first]
  end
  held[first], notice[first] = nil, nil
  first = first + 1
end

local function hold(m)
  if first > last then held_since = now() end
  last = last + 1
  held[last] = m
  while last - first + 1 > MAX_BUFFERED do drop_oldest() end
end

local function retire()
  if notice[first] then
    ndebug("syslog.lua: dropped " .. notice[first] .. " messages")
    notice[first] = nil
  end
  held[first] = nil
  first = first + 1
  head_sent = 0
  if first > last then held_since = nil end
end

local function disconnect()
  if conn then conn:close() end
  conn, head_sent = nil, 0
end

local function fail(err)
  -- A timeout keeps a TCP connection: the rest of a message goes on it later.
  if err ~= "timeout" or PROTOCOL == "udp" then disconnect() end
  next_attempt = now() + backoff
  backoff = math.min(backoff * 2, BACKOFF_MAX)
end

-- Collectors never write on a syslog connection: a readable one has been
-- closed (or reset) by the collector, and what went into it may be lost.
local function collector_closed()
  local readable = socket.select({ conn }, nil, 0)
  if not readable[conn] then return false end
  conn:settimeout(0)
  local _, err = conn:receive(65536)
  conn:settimeout(SEND_TIMEOUT)
  return err == "closed"
end

local function connect()
  local c, err = PROTOCOL == "udp" and socket.udp() or socket.tcp()
  if not c then return fail(err) end
  c:settimeout(CONNECT_TIMEOUT)
  local ok
  if PROTOCOL == "udp" then ok, err = c:setpeername(COLLECTOR_HOST, COLLECTOR_PORT)
  else ok, err = c:connect(COLLECTOR_HOST, COLLECTOR_PORT) end
  if not ok then
    c:close()
    return fail(err)
  end
  c:settimeout(SEND_TIMEOUT)
  conn, head_sent, backoff = c, 0, BACKOFF_MIN
  if dropped > 0 then -- the count goes first
    first = first - 1
    held[first] = message("dropped", now(), '{"dropped":', tostring(dropped), "}", "")
    notice[first] = dropped
    dropped = 0
    held_since = held_since or now()
  end
end

-- Sends what is held, BATCH_SIZE messages per send; false when some is left.
local function send_held()
  if now() < next_attempt then return false end
  if not conn then
    connect()
    if not conn then return false end
  elseif PROTOCOL == "tcp" and collector_closed() then
    disconnect()
    connect()
    if not conn then return false end
  end
  while first <= last do
    if PROTOCOL == "udp" then
      local ok, err = conn:send(held[first])
      if not ok then fail(err) return false end
      retire()
    else
      local upto = math.min(last, first + BATCH_SIZE - 1)
      local data = table.concat(held, "", first, upto)
      local sent, err, partial = conn:send(data, head_sent + 1)
      local taken = sent or partial or head_sent
      while first <= upto and #held[first] <= taken do
        taken = taken - #held[first]
        retire()
      end
      head_sent = taken
      if not sent then fail(err) return false end
    end
  end
  backoff = BACKOFF_MIN
  return true
end

-- Callbacks ---------------------------------------------------------------------
function on_init()
  if not have_socket then
    ndebug("syslog.lua: cannot load LuaSocket: " .. tostring(socket))
    return false -- refuses the load: the event log gets code 7
  end
  local name = HOSTNAME or socket.dns.gethostname() or "-"
  name = name:gsub("[^!-~]", "_"):sub(1, 255)
  header_tail = " " .. (name == "" and "-" or name) .. " quillharbor - "
  return true
end

-- The last "logged" text read, and its number: records come many to a millisecond.
local last_logged, last_seconds
function on_dequeue(fields, n)
  local logged = fields.logged
  if logged ~= last_logged then last_logged, last_seconds = logged, tonumber(logged) end
  local above, digits = record_number(n)
  hold(message("request", last_seconds or now(), '{"n":', above, digits, fields.after_n))
  if last - first + 1 >= BATCH_SIZE or (now() - held_since) * 1000 >= BATCH_AGE_MS then
    send_held()
  end
end

function on_term()
  local deadline = now() + TERM_TIMEOUT
  next_attempt = 0 -- one attempt at once, whatever the backoff
  while first <= last and now() < deadline do
    next_attempt = math.min(next_attempt, deadline)
    if not send_held() then socket.sleep(math.max(0, math.min(next_attempt, deadline) - now())) end
  end
  local left = 0
  for i = first, last do left = left + (notice[i] or 1) end
  disconnect()
  if dropped + left > 0 then
    ndebug("syslog.lua: dropped " .. (dropped + left) .. " messages (collector unreachable at unload)")
  end
  return true
end
