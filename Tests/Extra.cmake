# ---- Strings --------------------------------------------------------------------------------
# String-table entries that the resource tests of UnicodeStringTest load.
target_sources(UnicodeStringTest PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Support/UnicodeStringTest.rc)

# ---- Per-thread data, start-up and resource modules -----------------------------------------
# Helper modules: a framework module whose start-up can be made to fail, two message modules
# that share a message name, and a module with icons but no message lookup.
add_library(StartupProbe SHARED ${PROJECT_SOURCE_DIR}/Trevalic/Src/DllEntry.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/Modules/StartupProbe.cpp)
target_link_libraries(StartupProbe PRIVATE ZelkorAll ZelkorWarnings)
target_link_options(StartupProbe PRIVATE -Wl,--entry=ModuleEntryPoint)

add_library(MessageModuleA SHARED Modules/MessageModule.cpp Modules/MessageModuleA.rc)
target_compile_definitions(MessageModuleA PRIVATE MESSAGE_MODULE_A)
add_library(MessageModuleB SHARED Modules/MessageModule.cpp Modules/MessageModuleB.rc)
add_library(IconModule SHARED Modules/IconModule.cpp Modules/IconModule.rc)
set_target_properties(StartupProbe MessageModuleA MessageModuleB IconModule PROPERTIES PREFIX "")
foreach(module MessageModuleA MessageModuleB IconModule)
  target_link_libraries(${module} PRIVATE ZelkorWarnings)
endforeach()

add_dependencies(StartupTest StartupProbe)
add_dependencies(ResourceInfoTest MessageModuleA MessageModuleB IconModule)

# ---- Paths and message display --------------------------------------------------------------
# Hosts for the message-display suite: one program, built three times with a different
# "MessageHandler" value in its version resource (HOST_HANDLER 0: none).
foreach(variant Plain EventLog MessageBox)
  add_executable(MessageHost${variant} ${CMAKE_CURRENT_SOURCE_DIR}/Hosts/MessageHost.cpp
                                       ${CMAKE_CURRENT_SOURCE_DIR}/Hosts/MessageHost.rc)
  target_compile_definitions(MessageHost${variant} PRIVATE HOST_HANDLER_${variant})
  target_link_options(MessageHost${variant} PRIVATE -municode)
  target_link_libraries(MessageHost${variant} PRIVATE ZelkorAll ZelkorWarnings)
  add_dependencies(MessageHandlersTest MessageHost${variant})
endforeach()

# ---- Catalogue ------------------------------------------------------------------------------
# The export suite frees the document the BSTR export returns. An independent parser reads the
# document in the host program's schema check (TrevalicHost.schema).
if(TARGET TrevalicExportTest)
  target_link_libraries(TrevalicExportTest PRIVATE oleaut32)
  # The expiry text follows the machine's time zone; run those cases again outside UTC.
  add_test(NAME TrevalicExport.OutsideUtc COMMAND TrevalicExportTest --gtest_filter=TrevalicExport.Document*)
  set_tests_properties(TrevalicExport.OutsideUtc PROPERTIES ENVIRONMENT TEST_TZ=Europe/Berlin TIMEOUT 120
                                                            LABELS TrevalicExportTest)
endif()
if(TARGET TimeTest)
  add_test(NAME Time.OutsideUtc COMMAND TimeTest --gtest_filter=Time.*)
  set_tests_properties(Time.OutsideUtc PROPERTIES ENVIRONMENT TEST_TZ=Europe/Berlin TIMEOUT 120 LABELS TimeTest)
endif()
# A spoiled registrations file must stop the configuration with a clear message.
add_test(NAME TrevalicRegistrations.Forms
         COMMAND ${CMAKE_COMMAND} -DCHECKER=${PROJECT_SOURCE_DIR}/cmake/TrevalicRegistrations.cmake
                 -DGOOD=${PROJECT_SOURCE_DIR}/Trevalic/DevelopmentRegistrations.txt
                 -DWORK=${CMAKE_CURRENT_BINARY_DIR}/RegistrationsCheck
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/Checks/TrevalicRegistrationsCheck.cmake)

# ---- Message log ----------------------------------------------------------------------------
# The log lands beside the framework's module; each test copies this host into a folder of its
# own, so tests running in parallel never share a log.
add_executable(MessageLogHost ${CMAKE_CURRENT_SOURCE_DIR}/Hosts/MessageLogHost.cpp)
target_link_options(MessageLogHost PRIVATE -municode)
target_link_libraries(MessageLogHost PRIVATE ZelkorAll ZelkorWarnings)
add_dependencies(MessageLogTest MessageLogHost)
# Records carry local time; outside UTC a record stamped in UTC shows.
add_test(NAME MessageLog.OutsideUtc COMMAND MessageLogTest --gtest_filter=MessageLog.RecordsOnly*)
set_tests_properties(MessageLog.OutsideUtc PROPERTIES ENVIRONMENT TEST_TZ=Europe/Berlin TIMEOUT 120 LABELS MessageLogTest)

# ---- Host integration -----------------------------------------------------------------------
# On the build machine: the document against its JSON Schema with Debian's python3-jsonschema,
# the host program's views and bad command lines, and the installed package used by a consumer.
# The images are read with Debian's LLVM tools (llvm-14).
find_program(TREVALIC_READOBJ llvm-readobj-14)
find_program(TREVALIC_PDBUTIL llvm-pdbutil-14)
if(NOT TREVALIC_READOBJ OR NOT TREVALIC_PDBUTIL)
  message(FATAL_ERROR "The image checks need llvm-readobj-14 and llvm-pdbutil-14 (apt-get install llvm-14)")
endif()
find_program(TREVALIC_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(TREVALIC_PYTHON3 python3)
execute_process(COMMAND ${TREVALIC_PYTHON3} -I -c "import jsonschema; jsonschema.Draft202012Validator"
                RESULT_VARIABLE jsonschema_missing OUTPUT_QUIET ERROR_QUIET)
if(jsonschema_missing)
  message(FATAL_ERROR "The schema test needs python3 with jsonschema (apt-get install python3-jsonschema)")
endif()
foreach(mode schema cli)
  add_test(NAME TrevalicHost.${mode}
           COMMAND ${TREVALIC_PYTHON3} -I ${CMAKE_CURRENT_SOURCE_DIR}/Checks/TrevalicHostCheck.py ${mode}
                   --emulator ${CMAKE_CROSSCOMPILING_EMULATOR} --bin ${CMAKE_BINARY_DIR}/bin
                   --schema ${PROJECT_SOURCE_DIR}/docs/Trevalic.schema.json
                   --work ${CMAKE_CURRENT_BINARY_DIR}/TrevalicHost.${mode})
  set_tests_properties(TrevalicHost.${mode} PROPERTIES TIMEOUT 300 LABELS TrevalicHost)
endforeach()
# The consumer is built with the toolchain file of this build, wherever it was named from.
file(REAL_PATH "${CMAKE_TOOLCHAIN_FILE}" toolchain BASE_DIRECTORY ${CMAKE_BINARY_DIR})
if(NOT EXISTS "${toolchain}")
  file(REAL_PATH "${CMAKE_TOOLCHAIN_FILE}" toolchain BASE_DIRECTORY ${PROJECT_SOURCE_DIR})
endif()
add_test(NAME TrevalicPackage.Consumer
         COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/Checks/HostPackage
                 -DTOOLCHAIN=${toolchain} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR} -DREADOBJ=${TREVALIC_READOBJ}
                 -DWORK=${CMAKE_CURRENT_BINARY_DIR}/TrevalicPackage -P ${CMAKE_CURRENT_SOURCE_DIR}/Checks/HostPackageCheck.cmake)
set_tests_properties(TrevalicPackage.Consumer PROPERTIES TIMEOUT 600)

# ---- The shipped image ----------------------------------------------------------------------
# The Windows version in the PE headers against the one the documents state, and the program
# database against its DLL, read with Debian's LLVM tools (found above).
add_test(NAME TrevalicImage.WindowsVersion
         COMMAND ${TREVALIC_PYTHON3} -I ${CMAKE_CURRENT_SOURCE_DIR}/Checks/TrevalicImageCheck.py windows
                 --readobj ${TREVALIC_READOBJ} --docs ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/Hosting.md
                 -- $<TARGET_FILE:Trevalic> $<TARGET_FILE:TrevalicHost>)
add_test(NAME TrevalicImage.ProgramDatabase
         COMMAND ${TREVALIC_PYTHON3} -I ${CMAKE_CURRENT_SOURCE_DIR}/Checks/TrevalicImageCheck.py pdb
                 --readobj ${TREVALIC_READOBJ} --pdbutil ${TREVALIC_PDBUTIL}
                 --def ${PROJECT_SOURCE_DIR}/Trevalic/Src/Trevalic.def -- $<TARGET_FILE:Trevalic> $<TARGET_FILE_DIR:Trevalic>/Trevalic.pdb)
