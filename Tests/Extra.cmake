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
