# ---- Memory ---------------------------------------------------------------------------------
# A framework module whose unload the memory tests watch.
add_library(MemoryProbe SHARED ${PROJECT_SOURCE_DIR}/Trevalic/Src/DllEntry.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/Modules/MemoryProbe.cpp)
target_link_libraries(MemoryProbe PRIVATE ZelkorAll)
target_link_options(MemoryProbe PRIVATE -Wl,--entry=ModuleEntryPoint)
set_target_properties(MemoryProbe PROPERTIES PREFIX "")
add_dependencies(AllocTest MemoryProbe)

# ---- Strings --------------------------------------------------------------------------------
# String-table entries that the resource tests of UnicodeStringTest load.
target_sources(UnicodeStringTest PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/UnicodeStringTest.rc)

# ---- Errors: TEMPORARY stand-ins ------------------------------------------------------------
# Until per-thread data, resource modules and message display are merged, the framework library
# finds stand-ins for their headers (Tests/ErrorsInterim/README.txt). Each folder is used only
# while the real header is missing, so merging the real code retires it.
if(NOT EXISTS ${PROJECT_SOURCE_DIR}/Zelkor/Inc/ThreadData.h)
  target_include_directories(Zelkor PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/ErrorsInterim/Start)
endif()
if(NOT EXISTS ${PROJECT_SOURCE_DIR}/Zelkor/Inc/MessageHandlers.h)
  target_include_directories(Zelkor PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/ErrorsInterim/Display)
endif()
# ---- Per-thread data, start-up and resource modules -----------------------------------------
# Helper modules: a framework module whose start-up can be made to fail, two message modules
# that share a message name, and a module with icons but no message lookup.
add_library(StartupProbe SHARED ${PROJECT_SOURCE_DIR}/Trevalic/Src/DllEntry.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/Modules/StartupProbe.cpp)
target_link_libraries(StartupProbe PRIVATE ZelkorAll)
target_link_options(StartupProbe PRIVATE -Wl,--entry=ModuleEntryPoint)

add_library(MessageModuleA SHARED Modules/MessageModule.cpp Modules/MessageModuleA.rc)
target_compile_definitions(MessageModuleA PRIVATE MESSAGE_MODULE_A)
add_library(MessageModuleB SHARED Modules/MessageModule.cpp Modules/MessageModuleB.rc)
add_library(IconModule SHARED Modules/IconModule.cpp Modules/IconModule.rc)
set_target_properties(StartupProbe MessageModuleA MessageModuleB IconModule PROPERTIES PREFIX "")

add_dependencies(StartupTest StartupProbe)
add_dependencies(ResourceInfoTest MessageModuleA MessageModuleB IconModule)
