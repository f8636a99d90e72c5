# --- UnicodeStringTest: string-table entries loaded by the resource tests ---
if(TARGET UnicodeStringTest)
  target_sources(UnicodeStringTest PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/UnicodeStringTest.rc)
endif()
# --- end UnicodeStringTest ---
