# The package as a host developer receives it: installs the build into a fresh prefix, checks
# the layout, builds the consumer project against it with the same toolchain, runs its
# programs under Wine, and checks that cpack's ZIP holds the same files.
# The packaged DLL carries no DWARF: its symbols are in Trevalic.pdb.
# Arguments: BUILD, SOURCE (the consumer project), TOOLCHAIN, EMULATOR, READOBJ (llvm-readobj), WORK.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}")
  endif()
endfunction()

set(expected bin/Trevalic.dll bin/Trevalic.pdb bin/TrevalicHost.exe include/Trevalic.h lib/Trevalic.lib
    lib/libTrevalic.dll.a lib/cmake/Trevalic/TrevalicConfig.cmake lib/cmake/Trevalic/TrevalicConfigVersion.cmake
    share/Trevalic/Hosting.md share/Trevalic/Trevalic.schema.json)

# Sections whose names start with .debug_ (DWARF), read from the section table.
function(check_no_dwarf dll)
  execute_process(COMMAND ${READOBJ} --sections ${dll} RESULT_VARIABLE status OUTPUT_VARIABLE sections)
  if(NOT status EQUAL 0 OR NOT sections MATCHES "Name: \\.text")
    message(FATAL_ERROR "${READOBJ} could not read the sections of ${dll} (${status})")
  endif()
  string(REGEX MATCHALL "Name: \\.debug_[a-z_]*" dwarf "${sections}")
  if(dwarf)
    message(FATAL_ERROR "${dll} carries DWARF:\n  ${dwarf}")
  endif()
endfunction()

list(SORT expected)
file(REMOVE_RECURSE ${WORK})
run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix)
file(GLOB_RECURSE installed RELATIVE ${WORK}/prefix ${WORK}/prefix/*)
list(SORT installed)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed files:\n  ${installed}\nexpected:\n  ${expected}")
endif()

check_no_dwarf(${WORK}/prefix/bin/Trevalic.dll)

run("configuring the consumer" ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/consumer
    -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_PREFIX_PATH=${WORK}/prefix)
run("building the consumer" ${CMAKE_COMMAND} --build ${WORK}/consumer)
foreach(program ConsumerC ConsumerCxx)
  run(${program} ${EMULATOR} ${WORK}/consumer/${program}.exe)
endforeach()

run("cpack" ${CMAKE_CPACK_COMMAND} -G ZIP -B ${WORK}/package --config ${BUILD}/CPackConfig.cmake)
file(GLOB zip ${WORK}/package/*.zip)
get_filename_component(top ${zip} NAME_WLE) # the package's top folder
file(MAKE_DIRECTORY ${WORK}/unzipped)
run("unpacking ${zip}" ${CMAKE_COMMAND} -E chdir ${WORK}/unzipped ${CMAKE_COMMAND} -E tar xf ${zip})
file(GLOB_RECURSE zipped RELATIVE ${WORK}/unzipped/${top} ${WORK}/unzipped/${top}/*)
list(SORT zipped)
if(NOT zipped STREQUAL expected)
  message(FATAL_ERROR "${zip} holds:\n  ${zipped}\nexpected:\n  ${expected}")
endif()
check_no_dwarf(${WORK}/unzipped/${top}/bin/Trevalic.dll)
