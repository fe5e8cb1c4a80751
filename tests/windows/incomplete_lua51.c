/* A lua51.dll with one function of the interpreter's and none of the rest, as
 * a stripped or foreign build would be. */
__declspec(dllexport) int lua_gettop(void* state) {
  (void)state;
  return 0;
}
