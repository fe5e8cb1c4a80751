# What an administrator copies to the server: the module, with the settings file
# it reads beside itself, a sample of that file and the example scripts. On
# Windows the folder is flat and holds lua51.dll too, which the module loads
# from beside itself.
if(WIN32)
  set(default_install_dir .)
else()
  set(default_install_dir lib/quillharbor)
endif()
set(QUILLHARBOR_INSTALL_DIR ${default_install_dir} CACHE STRING
    "Folder under the install prefix for the module, its settings file and the examples")

install(TARGETS quillharbor LIBRARY DESTINATION ${QUILLHARBOR_INSTALL_DIR})
if(WIN32)
  install(FILES ${QUILLHARBOR_LUA_DLL} DESTINATION ${QUILLHARBOR_INSTALL_DIR})
  # LuaSocket; examples\syslog finds it two levels up from itself.
  install(DIRECTORY ${QUILLHARBOR_LUA_MODULES}/ DESTINATION ${QUILLHARBOR_INSTALL_DIR}/lua)
endif()
install(FILES deploy/quillharbor.setting DESTINATION ${QUILLHARBOR_INSTALL_DIR})
install(DIRECTORY examples/ DESTINATION ${QUILLHARBOR_INSTALL_DIR}/examples)
