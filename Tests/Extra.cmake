# ---- Paths and message display --------------------------------------------------------------
# TEMPORARY: stand-ins for pieces of other facilities not merged yet. They come before
# Zelkor/Inc on the include path (Errors.h and Zelkor.h extend main's); remove a stand-in as
# soon as its real header is on main, and the whole folder when all are.
target_include_directories(Zelkor BEFORE PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/Interim)
target_sources(Zelkor PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Interim/Interim.cpp)

# Hosts for the message-display suite: one program, built three times with a different
# "MessageHandler" value in its version resource (HOST_HANDLER 0: none).
foreach(variant Plain EventLog MessageBox)
  add_executable(MessageHost${variant} ${CMAKE_CURRENT_SOURCE_DIR}/MessageHost.cpp
                                       ${CMAKE_CURRENT_SOURCE_DIR}/MessageHost.rc)
  target_compile_definitions(MessageHost${variant} PRIVATE HOST_HANDLER_${variant})
  target_link_options(MessageHost${variant} PRIVATE -municode)
  target_link_libraries(MessageHost${variant} PRIVATE ZelkorAll)
  add_dependencies(MessageHandlersTest MessageHost${variant})
endforeach()
