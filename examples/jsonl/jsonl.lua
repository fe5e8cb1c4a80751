-- jsonl.lua: writes every request as one JSON object per line ("JSON lines"),
-- ready for jq, a log shipper or a spreadsheet import.
--
--   {"n":0,"status":200,"win32_status":0,"bytes_sent":5120,"bytes_recvd":431,
--    "time_ms":15,"method":"GET","url":"/index.html","query":"",...}
--
-- How the filter runs this file: it loads it into several Lua states, the main
-- state and one per pool slot (pool_size in quillharbor.setting). on_enqueue
-- runs in a pool state on the web server's request thread, many at once: it
-- picks out the fields and makes their JSON text; on_init, on_dequeue and
-- on_term run in the main state, one record at a time and in order, so the
-- file is opened, written and closed there only.

-- Several worker processes at once: IIS runs the filter in every worker
-- process of the application pool, two of them side by side while one is
-- recycled, several in a web garden. Each process writes a file of its own,
-- the process identifier before the extension (requests.4242.jsonl), so that no
-- two processes ever write into one file; a process that starts later with an
-- identifier used before appends to that file. Read them together with
-- `cat requests.*.jsonl` (each line holds its process's record number "n").
--
-- Cost: on_dequeue runs on the filter's one worker thread for every request,
-- so it only writes the record number and the line that on_enqueue made, with
-- one call; on_enqueue looks each value's text up among those it has made.

-- Where the lines go. Use an absolute path: under IIS a relative one is taken
-- from the worker process's working directory (%windir%\system32\inetsrv).
-- URLs and user names are read in their UNICODE_ forms, which hold every
-- character; the plain ones are in the server's code page.
local OUTPUT = "requests.jsonl"

-- The server variables to keep, each named after its JSON key. Adding one
-- means a name here, a table of texts above on_enqueue, and one in its
-- server_variable call and its line.
local METHOD, URL, QUERY = "REQUEST_METHOD", "UNICODE_URL", "QUERY_STRING"
local CLIENT, USER, HOST = "REMOTE_ADDR", "UNICODE_REMOTE_USER", "HTTP_HOST"
local AGENT, REFERER = "HTTP_USER_AGENT", "HTTP_REFERER"

local out -- the open file; exists in the main state only

-- OUTPUT with this process's identifier before its extension.
local function per_process(name)
  local stem, extension = name:match("^(.-)(%.[^./\\]*)$")
  if not stem or stem == "" or stem:match("[/\\]$") then stem, extension = name, "" end
  return ("%s.%d%s"):format(stem, quillharbor_process_id(), extension)
end

function on_init()
  local name = per_process(OUTPUT)
  local err
  out, err = io.open(name, "a")
  if not out then
    ndebug("jsonl.lua: cannot open " .. name .. ": " .. tostring(err))
    return false -- refuses the load: the event log gets code 7
  end
  out:setvbuf("full")
  return true
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

-- The JSON text of a string, without its quotes: s itself when every byte is
-- printable ASCII other than " and \ (one anchored match, not a scan per
-- byte), else escaped byte by byte.
local find, byte, sub, format, concat = string.find, string.byte, string.sub, string.format, table.concat
local PLAIN = "^[]-~ -!#-[]*$" -- the ranges ]..~, space..!, #..[
local function escaped(s)
  if find(s, PLAIN) then return s end
  local parts, i = {}, 1
  while i <= #s do
    local c = byte(s, i)
    if c < 0x80 then
      local ch = sub(s, i, i)
      parts[#parts + 1] = ESCAPES[ch] or (c < 0x20 or c == 0x7F) and format("\\u%04x", c) or ch
      i = i + 1
    else
      local n = utf8_length(s, i)
      if n then
        parts[#parts + 1] = sub(s, i, i + n - 1)
        i = i + n
      else
        parts[#parts + 1] = format("\\u%04x", c)
        i = i + 1
      end
    end
  end
  return concat(parts)
end

-- Values repeat (agents, hosts, clients, the pages of a site, statuses), so
-- each field keeps the text made for a value, with the field's key before it
-- (',"url":"/index.html"'), and on_enqueue looks it up the next time: up to
-- KEEP_VALUES values a field (strings of at most KEEP_BYTES bytes, and
-- numbers), then that field starts afresh, so that a field whose values
-- seldom repeat (bytes sent) does not push out the others'. on_enqueue looks
-- in a field's table itself and calls text_field or number_field only for a
-- value not seen yet. Each state keeps its own.
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

-- Requests come many to a second: the clock's text is made once per second
-- (each state has an os.date of its own, safe on request threads).
local date, now, last_second, logged = os.date, os.time, nil, nil

-- Keys in a fixed order, so that lines compare and diff well. The request
-- thread makes all of the line after "n": the worker is one thread for all
-- requests, and a record of one field costs it and the filter far less to
-- carry than one of fourteen. on_dequeue puts the record number before it.
local new_context, log_numbers = enqueue_context.new, quillharbor_log_numbers
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
  -- When the filter saw the request (when replaying: the replay's time).
  local second = now()
  if second ~= last_second then
    last_second, logged = second, ',"logged":"' .. date("!%Y-%m-%dT%H:%M:%SZ", second) .. '"'
  end
  record.after_n = (status_texts[status] or number_field(status_texts, ',"status":', status)) ..
    (win32_texts[win32] or number_field(win32_texts, ',"win32_status":', win32)) ..
    -- Bytes sent seldom repeat (a page's size changes with its content).
    ',"bytes_sent":' .. (SMALL[sent] or whole_text(sent)) ..
    (recvd_texts[recvd] or number_field(recvd_texts, ',"bytes_recvd":', recvd)) ..
    (ms_texts[ms] or number_field(ms_texts, ',"time_ms":', ms)) ..
    logged ..
    (method_texts[method] or text_field(method_texts, ',"method":"', method)) ..
    (url_texts[url] or text_field(url_texts, ',"url":"', url)) ..
    (query_texts[query] or text_field(query_texts, ',"query":"', query)) ..
    (client_texts[client] or text_field(client_texts, ',"client":"', client)) ..
    (user_texts[user] or text_field(user_texts, ',"user":"', user)) ..
    (host_texts[host] or text_field(host_texts, ',"host":"', host)) ..
    (agent_texts[agent] or text_field(agent_texts, ',"agent":"', agent)) ..
    (referer_texts[referer] or text_field(referer_texts, ',"referer":"', referer)) .. '}\n'
  return true, record
end

-- The record number's text before the line: '{"n":' and all but the last
-- three digits, kept while they stay the same (numbers come in order), and
-- the last three from THREE.
local above_thousands, above_text
function on_dequeue(f, n)
  if n < 1000 or n % 1 ~= 0 then
    out:write('{"n":', tostring(n), f.after_n)
    return
  end
  local above = (n - n % 1000) / 1000
  if above ~= above_thousands then above_thousands, above_text = above, '{"n":' .. tostring(above) end
  -- The pieces go into the file's buffer as they are: joined first, the line
  -- would be copied once more, into a string of its own.
  out:write(above_text, THREE[n % 1000], f.after_n)
end

function on_term()
  -- Runs after the last record has been written; false here makes
  -- TerminateFilter report a failure.
  return out:close()
end
