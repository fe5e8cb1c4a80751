# The module's message table: Event Viewer shows an entry's text only when the
# source's EventMessageFile (the module itself) has a message for its
# identifier. windmc turns the .mc file into a table, windres into an object.
find_program(QUILLHARBOR_WINDMC NAMES ${QUILLHARBOR_MINGW_TRIPLE}-windmc windmc REQUIRED)

function(quillharbor_add_event_messages target)
  set(source ${PROJECT_SOURCE_DIR}/platform/event_messages_win32.mc)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/event_messages)
  set(object ${dir}/event_messages_win32.o)
  file(MAKE_DIRECTORY ${dir})
  add_custom_command(OUTPUT ${object}
    COMMAND ${QUILLHARBOR_WINDMC} -h ${dir} -r ${dir} ${source}
    COMMAND ${CMAKE_RC_COMPILER} -I ${dir} -i ${dir}/event_messages_win32.rc -o ${object}
    WORKING_DIRECTORY ${dir}
    DEPENDS ${source}
    COMMENT "Building the event message table"
    VERBATIM)
  target_sources(${target} PRIVATE ${object})
endfunction()
