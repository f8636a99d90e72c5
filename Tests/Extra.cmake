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
