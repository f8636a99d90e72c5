# ---- Paths and message display --------------------------------------------------------------
# TEMPORARY: stand-ins for the errors, registry, version and per-thread pieces until those
# facilities are merged. They come before Zelkor/Inc on the include path (Errors.h and Zelkor.h
# extend the first minimal ones) and step aside by themselves once the real headers are there;
# then delete this block and the Tests/Interim folder.
if(NOT EXISTS ${PROJECT_SOURCE_DIR}/Zelkor/Inc/RegistryKey.h OR NOT EXISTS ${PROJECT_SOURCE_DIR}/Zelkor/Inc/ThreadData.h)
  target_include_directories(Zelkor BEFORE PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/Interim)
  target_sources(Zelkor PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Interim/Interim.cpp)
endif()

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
