#include "script/bounded_match.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <lua.hpp>

#include "platform/own_stack.h"
#include "script/stack_reserve.h"
#include "script/time_limit.h"

// The matcher follows Lua 5.1's step for step, so that every pattern means
// what it means to the library, errors included; only the two bounds differ.

namespace {

constexpr char escape = '%';
constexpr char specials[] = "^$*+?.([%-";
constexpr int max_captures = LUA_MAXCAPTURES;
constexpr std::ptrdiff_t unfinished = -1;
constexpr std::ptrdiff_t position = -2;
// Matcher steps between two looks at the clock.
constexpr int steps_per_look = 1024;

struct match_state {
  const char* src_init;
  const char* src_end;
  lua_State* L;
  const char* stack_floor;  // the recursion stops above it; null: no own stack
  int steps_left;
  int level;
  struct {
    const char* init;
    std::ptrdiff_t len;
  } capture[max_captures];
};

int uchar(char c) { return static_cast<unsigned char>(c); }

void start(match_state& ms, lua_State* L, const char* s, std::size_t length) {
  ms.L = L;
  ms.src_init = s;
  ms.src_end = s + length;
  ms.steps_left = steps_per_look;
  const std::size_t left = platform::own_stack_left();
  const char* here = static_cast<const char*>(__builtin_frame_address(0));
  ms.stack_floor = left == SIZE_MAX ? nullptr : left < stack_reserve ? here : here - (left - stack_reserve);
}

// Once per step of the matcher: the two bounds.
void step(match_state* ms) {
  if (ms->stack_floor != nullptr && static_cast<const char*>(__builtin_frame_address(0)) < ms->stack_floor)
    luaL_error(ms->L, "pattern too complex for the stack");
  if (--ms->steps_left == 0) {
    ms->steps_left = steps_per_look;
    if (time_limit_passed(ms->L)) raise_time_limit(ms->L);
  }
}

int check_capture(match_state* ms, int l) {
  l -= '1';
  if (l < 0 || l >= ms->level || ms->capture[l].len == unfinished)
    return luaL_error(ms->L, "invalid capture index");
  return l;
}

int capture_to_close(match_state* ms) {
  int level = ms->level;
  for (level--; level >= 0; level--)
    if (ms->capture[level].len == unfinished) return level;
  return luaL_error(ms->L, "invalid pattern capture");
}

const char* class_end(match_state* ms, const char* p) {
  switch (*p++) {
    case escape:
      if (*p == '\0') luaL_error(ms->L, "malformed pattern (ends with '%%')");
      return p + 1;
    case '[':
      if (*p == '^') p++;
      do {  // look for the ']'
        if (*p == '\0') luaL_error(ms->L, "malformed pattern (missing ']')");
        if (*(p++) == escape && *p != '\0') p++;  // an escape such as %]
      } while (*p != ']');
      return p + 1;
    default:
      return p;
  }
}

bool match_class(int c, int cl) {
  bool res;
  switch (std::tolower(cl)) {
    case 'a': res = std::isalpha(c); break;
    case 'c': res = std::iscntrl(c); break;
    case 'd': res = std::isdigit(c); break;
    case 'l': res = std::islower(c); break;
    case 'p': res = std::ispunct(c); break;
    case 's': res = std::isspace(c); break;
    case 'u': res = std::isupper(c); break;
    case 'w': res = std::isalnum(c); break;
    case 'x': res = std::isxdigit(c); break;
    case 'z': res = c == 0; break;
    default: return cl == c;
  }
  return std::isupper(cl) ? !res : res;
}

// `p` at the '[', `ec` at the ']'.
bool match_bracket_class(int c, const char* p, const char* ec) {
  bool sig = true;
  if (*(p + 1) == '^') {
    sig = false;
    p++;
  }
  while (++p < ec) {
    if (*p == escape) {
      p++;
      if (match_class(c, uchar(*p))) return sig;
    } else if (*(p + 1) == '-' && p + 2 < ec) {
      p += 2;
      if (uchar(*(p - 2)) <= c && c <= uchar(*p)) return sig;
    } else if (uchar(*p) == c) {
      return sig;
    }
  }
  return !sig;
}

bool single_match(int c, const char* p, const char* ep) {
  switch (*p) {
    case '.': return true;
    case escape: return match_class(c, uchar(*(p + 1)));
    case '[': return match_bracket_class(c, p, ep - 1);
    default: return uchar(*p) == c;
  }
}

const char* match(match_state* ms, const char* s, const char* p);

const char* match_balance(match_state* ms, const char* s, const char* p) {
  if (*p == '\0' || *(p + 1) == '\0') luaL_error(ms->L, "unbalanced pattern");
  if (s >= ms->src_end || *s != *p) return nullptr;
  const char b = *p;
  const char e = *(p + 1);
  int open = 1;
  while (++s < ms->src_end) {
    if (*s == e) {
      if (--open == 0) return s + 1;
    } else if (*s == b) {
      open++;
    }
  }
  return nullptr;
}

const char* max_expand(match_state* ms, const char* s, const char* p, const char* ep) {
  std::ptrdiff_t i = 0;
  while (s + i < ms->src_end && single_match(uchar(*(s + i)), p, ep)) i++;
  // The most repetitions first, one fewer at a time.
  for (; i >= 0; i--) {
    if (const char* res = match(ms, s + i, ep + 1)) return res;
  }
  return nullptr;
}

const char* min_expand(match_state* ms, const char* s, const char* p, const char* ep) {
  for (;;) {
    if (const char* res = match(ms, s, ep + 1)) return res;
    if (s < ms->src_end && single_match(uchar(*s), p, ep))
      s++;
    else
      return nullptr;
  }
}

const char* start_capture(match_state* ms, const char* s, const char* p, std::ptrdiff_t what) {
  const int level = ms->level;
  if (level >= max_captures) luaL_error(ms->L, "too many captures");
  ms->capture[level].init = s;
  ms->capture[level].len = what;
  ms->level = level + 1;
  const char* res = match(ms, s, p);
  if (res == nullptr) ms->level--;
  return res;
}

const char* end_capture(match_state* ms, const char* s, const char* p) {
  const int l = capture_to_close(ms);
  ms->capture[l].len = s - ms->capture[l].init;
  const char* res = match(ms, s, p);
  if (res == nullptr) ms->capture[l].len = unfinished;
  return res;
}

const char* match_capture(match_state* ms, const char* s, int l) {
  l = check_capture(ms, l);
  const auto len = static_cast<std::size_t>(ms->capture[l].len);
  if (static_cast<std::size_t>(ms->src_end - s) >= len && std::memcmp(ms->capture[l].init, s, len) == 0)
    return s + len;
  return nullptr;
}

const char* match(match_state* ms, const char* s, const char* p) {
  step(ms);
  for (;;) {  // the loop stands for the library's tail calls
    switch (*p) {
      case '(':
        if (*(p + 1) == ')') return start_capture(ms, s, p + 2, position);
        return start_capture(ms, s, p + 1, unfinished);
      case ')':
        return end_capture(ms, s, p + 1);
      case '\0':
        return s;
      case '$':
        if (*(p + 1) == '\0') return s == ms->src_end ? s : nullptr;
        break;
      case escape:
        if (*(p + 1) == 'b') {
          s = match_balance(ms, s, p + 2);
          if (s == nullptr) return nullptr;
          p += 4;
          continue;
        }
        if (*(p + 1) == 'f') {
          p += 2;
          if (*p != '[') luaL_error(ms->L, "missing '[' after '%%f' in pattern");
          const char* ep = class_end(ms, p);
          const char previous = s == ms->src_init ? '\0' : *(s - 1);
          const char current = s < ms->src_end ? *s : '\0';
          if (match_bracket_class(uchar(previous), p, ep - 1) || !match_bracket_class(uchar(current), p, ep - 1))
            return nullptr;
          p = ep;
          continue;
        }
        if (std::isdigit(uchar(*(p + 1)))) {
          s = match_capture(ms, s, uchar(*(p + 1)));
          if (s == nullptr) return nullptr;
          p += 2;
          continue;
        }
        break;
      default:
        break;
    }
    // A single item, maybe with a repetition.
    const char* ep = class_end(ms, p);
    const bool m = s < ms->src_end && single_match(uchar(*s), p, ep);
    switch (*ep) {
      case '?':
        if (m) {
          if (const char* res = match(ms, s + 1, ep + 1)) return res;
        }
        p = ep + 1;
        continue;
      case '*':
        return max_expand(ms, s, p, ep);
      case '+':
        return m ? max_expand(ms, s + 1, p, ep) : nullptr;
      case '-':
        return min_expand(ms, s, p, ep);
      default:
        if (!m) return nullptr;
        s++;
        p = ep;
        continue;
    }
  }
}

void push_one_capture(match_state* ms, int i, const char* s, const char* e) {
  if (i >= ms->level) {
    if (i != 0) luaL_error(ms->L, "invalid capture index");
    lua_pushlstring(ms->L, s, static_cast<std::size_t>(e - s));  // the whole match
    return;
  }
  const std::ptrdiff_t l = ms->capture[i].len;
  if (l == unfinished) luaL_error(ms->L, "unfinished capture");
  if (l == position)
    lua_pushinteger(ms->L, ms->capture[i].init - ms->src_init + 1);
  else
    lua_pushlstring(ms->L, ms->capture[i].init, static_cast<std::size_t>(l));
}

int push_captures(match_state* ms, const char* s, const char* e) {
  const int levels = ms->level == 0 && s != nullptr ? 1 : ms->level;
  luaL_checkstack(ms->L, levels, "too many captures");
  for (int i = 0; i < levels; i++) push_one_capture(ms, i, s, e);
  return levels;
}

std::ptrdiff_t relative_position(std::ptrdiff_t pos, std::size_t len) {
  if (pos < 0) pos += static_cast<std::ptrdiff_t>(len) + 1;
  return pos >= 0 ? pos : 0;
}

// The library's plain search.
const char* find_plain(const char* s, std::size_t ls, const char* p, std::size_t lp) {
  if (lp == 0) return s;
  if (lp > ls) return nullptr;
  const char* const last = s + (ls - lp);
  for (; s <= last; s++) {
    s = static_cast<const char*>(std::memchr(s, *p, static_cast<std::size_t>(last - s) + 1));
    if (s == nullptr) return nullptr;
    if (std::memcmp(s + 1, p + 1, lp - 1) == 0) return s;
  }
  return nullptr;
}

int find_or_match(lua_State* L, bool find) {
  std::size_t ls = 0;
  std::size_t lp = 0;
  const char* s = luaL_checklstring(L, 1, &ls);
  const char* p = luaL_checklstring(L, 2, &lp);
  std::ptrdiff_t init = relative_position(luaL_optinteger(L, 3, 1), ls) - 1;
  if (init < 0) init = 0;
  else if (static_cast<std::size_t>(init) > ls) init = static_cast<std::ptrdiff_t>(ls);
  if (find && (lua_toboolean(L, 4) || std::strpbrk(p, specials) == nullptr)) {
    if (const char* found = find_plain(s + init, ls - static_cast<std::size_t>(init), p, lp)) {
      lua_pushinteger(L, found - s + 1);
      lua_pushinteger(L, static_cast<lua_Integer>(found - s + static_cast<std::ptrdiff_t>(lp)));
      return 2;
    }
  } else {
    match_state ms;
    const bool anchor = *p == '^';
    if (anchor) p++;
    const char* s1 = s + init;
    start(ms, L, s, ls);
    do {
      ms.level = 0;
      if (const char* res = match(&ms, s1, p)) {
        if (!find) return push_captures(&ms, s1, res);
        lua_pushinteger(L, s1 - s + 1);
        lua_pushinteger(L, res - s);
        return push_captures(&ms, nullptr, nullptr) + 2;
      }
    } while (s1++ < ms.src_end && !anchor);
  }
  lua_pushnil(L);
  return 1;
}

// Upvalues as the library's iterator has them: subject, pattern, position.
int gmatch_next(lua_State* L) {
  std::size_t ls = 0;
  const char* s = lua_tolstring(L, lua_upvalueindex(1), &ls);
  const char* p = lua_tostring(L, lua_upvalueindex(2));
  match_state ms;
  start(ms, L, s, ls);
  for (const char* src = s + static_cast<std::size_t>(lua_tointeger(L, lua_upvalueindex(3))); src <= ms.src_end;
       src++) {
    ms.level = 0;
    if (const char* e = match(&ms, src, p)) {
      lua_Integer next = e - s;
      if (e == src) next++;  // an empty match: on by one at least
      lua_pushinteger(L, next);
      lua_replace(L, lua_upvalueindex(3));
      return push_captures(&ms, src, e);
    }
  }
  return 0;
}

void add_replacement_text(match_state* ms, luaL_Buffer* b, const char* s, const char* e) {
  std::size_t l = 0;
  const char* news = lua_tolstring(ms->L, 3, &l);
  for (std::size_t i = 0; i < l; i++) {
    if (news[i] != escape) {
      luaL_addchar(b, news[i]);
      continue;
    }
    i++;  // past the escape; at the end, its NUL, as the library does
    if (!std::isdigit(uchar(news[i]))) {
      luaL_addchar(b, news[i]);
    } else if (news[i] == '0') {
      luaL_addlstring(b, s, static_cast<std::size_t>(e - s));
    } else {
      push_one_capture(ms, news[i] - '1', s, e);
      luaL_addvalue(b);
    }
  }
}

void add_value(match_state* ms, luaL_Buffer* b, const char* s, const char* e) {
  lua_State* L = ms->L;
  switch (lua_type(L, 3)) {
    case LUA_TNUMBER:
    case LUA_TSTRING:
      add_replacement_text(ms, b, s, e);
      return;
    case LUA_TFUNCTION: {
      lua_pushvalue(L, 3);
      const int n = push_captures(ms, s, e);
      lua_call(L, n, 1);
      break;
    }
    case LUA_TTABLE:
      push_one_capture(ms, 0, s, e);
      lua_gettable(L, 3);
      break;
    default:
      break;
  }
  if (!lua_toboolean(L, -1)) {  // nil or false keeps the original text
    lua_pop(L, 1);
    lua_pushlstring(L, s, static_cast<std::size_t>(e - s));
  } else if (!lua_isstring(L, -1)) {
    luaL_error(L, "invalid replacement value (a %s)", luaL_typename(L, -1));
  }
  luaL_addvalue(b);
}

}  // namespace

int bounded_find(lua_State* L) { return find_or_match(L, true); }

int bounded_match(lua_State* L) { return find_or_match(L, false); }

int bounded_gmatch(lua_State* L) {
  luaL_checkstring(L, 1);
  luaL_checkstring(L, 2);
  lua_settop(L, 2);
  lua_pushinteger(L, 0);
  lua_pushcclosure(L, gmatch_next, 3);
  return 1;
}

int bounded_gsub(lua_State* L) {
  std::size_t srcl = 0;
  const char* src = luaL_checklstring(L, 1, &srcl);
  const char* p = luaL_checkstring(L, 2);
  const int tr = lua_type(L, 3);
  const int max_s = luaL_optint(L, 4, static_cast<int>(srcl + 1));
  const bool anchor = *p == '^';
  if (anchor) p++;
  luaL_argcheck(L, tr == LUA_TNUMBER || tr == LUA_TSTRING || tr == LUA_TFUNCTION || tr == LUA_TTABLE, 3,
                "string/function/table expected");
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  match_state ms;
  start(ms, L, src, srcl);
  int n = 0;
  while (n < max_s) {
    ms.level = 0;
    const char* e = match(&ms, src, p);
    if (e != nullptr) {
      n++;
      add_value(&ms, &b, src, e);
    }
    if (e != nullptr && e > src)
      src = e;  // past a non-empty match
    else if (src < ms.src_end)
      luaL_addchar(&b, *src++);
    else
      break;
    if (anchor) break;
  }
  luaL_addlstring(&b, src, static_cast<std::size_t>(ms.src_end - src));
  luaL_pushresult(&b);
  lua_pushinteger(L, n);
  return 2;
}
