# ---- Paths and message display --------------------------------------------------------------
# TEMPORARY: stand-ins for pieces of other facilities not merged yet; the real headers in
# Zelkor/Inc come first on the include path. Remove with the Tests/Interim folder.
target_include_directories(Zelkor PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/Interim)
target_sources(Zelkor PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Interim/Interim.cpp)
