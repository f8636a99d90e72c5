# ---- Per-thread data, start-up and resource modules -----------------------------------------
# TEMPORARY: stand-ins for pieces of other facilities not merged yet; the real headers in
# Zelkor/Inc come first on the include path. Remove with the Tests/StartInterim folder.
target_include_directories(Zelkor PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/StartInterim)
