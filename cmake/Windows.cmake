# The Windows program and its tests, cross-built with MinGW-w64. LAME's own
# lame_enc.dll is built beside them by scripts/build-lame.sh.
enable_language(RC)

set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 1252")
add_compile_options(-Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP1252)
add_compile_definitions(WINVER=0x0601 _WIN32_WINNT=0x0601 _WIN32_IE=0x0800)
add_link_options(-static -static-libgcc -static-libstdc++)
# Two builds of one commit in different folders, on different days, make the
# same files: no source path and no link time in the binaries.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
add_link_options(-Wl,--no-insert-timestamp)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_link_options(-Wl,--large-address-aware)
endif()

set(WIN_LIBS comctl32 comdlg32 shell32 shlwapi ole32 user32 gdi32 kernel32)

add_library(calbrune_core STATIC ${CORE_SOURCES} ${CDROM_SOURCES})
target_include_directories(calbrune_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(calbrune_core PUBLIC ${WIN_LIBS})

# The wizard: its frame, pages and resources, without WinMain, so that the
# tests can run it too.
file(GLOB WIZARD_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/Wizard.cpp)
file(GLOB RES_DEPENDS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*)
# The version block takes the project's version: it is kept in one place.
set(VERSION_PATCH ${PROJECT_VERSION_PATCH})
if(NOT VERSION_PATCH)
  set(VERSION_PATCH 0)
endif()
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/calbrune.rc PROPERTIES
                            OBJECT_DEPENDS "${RES_DEPENDS}"
                            COMPILE_DEFINITIONS "VERSION_NUMBERS=${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${VERSION_PATCH},0;VERSION_TEXT=${PROJECT_VERSION}")
add_library(calbrune_wizard STATIC ${WIZARD_SOURCES} ${UI_SOURCES})
target_link_libraries(calbrune_wizard PUBLIC calbrune_core)
set(RES_SOURCES ${CMAKE_SOURCE_DIR}/res/calbrune.rc)
set(APP_SOURCES ${CMAKE_SOURCE_DIR}/app/Main.cpp ${RES_SOURCES})

add_executable(calbrune WIN32 ${APP_SOURCES} ${CD_DEVICE_SOURCES})
target_link_libraries(calbrune PRIVATE calbrune_wizard)

# The same program on the simulated CD machine (set up from CALBRUNE_SIMCD),
# for the wizard's end-to-end tests.
file(GLOB SIM_CD_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/sim/*.cpp)
add_executable(calbrune_simcd WIN32 ${APP_SOURCES} ${SIM_CD_SOURCES})
target_link_libraries(calbrune_simcd PRIVATE calbrune_wizard)

# GoogleTest from the distribution's sources, built with the cross compiler.
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

enable_testing()
include(GoogleTest)

# Wine sees the Linux file system as drive Z:.
string(REPLACE "/" "\\\\" TEST_DATA_WINDOWS "Z:${CMAKE_SOURCE_DIR}/tests/data")
string(REPLACE "/" "\\\\" BUILD_DIR_WINDOWS "Z:${CMAKE_BINARY_DIR}")

# The tests run the real wizard too, with the templates compiled in.
add_executable(calbrune_tests ${TEST_SOURCES} ${RES_SOURCES})
target_link_libraries(calbrune_tests PRIVATE calbrune_wizard gtest_main gmock)
target_compile_definitions(calbrune_tests PRIVATE CALBRUNE_TEST_DATA="${TEST_DATA_WINDOWS}"
  CALBRUNE_BUILD_DIR="${BUILD_DIR_WINDOWS}")
# A folder of its own, so that no lame_enc.dll lies beside the test program
# unless a test puts one there.
set_target_properties(calbrune_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

add_subdirectory(tests/noclose)

if(CMAKE_CROSSCOMPILING_EMULATOR)
  # Run from the test program's own folder, where no lame_enc.dll lies: the
  # build folder holds LAME's, which only the tests that ask for it load.
  gtest_discover_tests(calbrune_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests PROPERTIES TIMEOUT 120)
endif()

# Goes through the wizard of calbrune.exe or calbrune_simcd.exe from another
# process, as a user would: the wizard's end-to-end tests and the demo run it.
add_executable(calbrune_drive tests/tools/WizardDriver.cpp)
target_include_directories(calbrune_drive PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(calbrune_drive PRIVATE user32 gdi32 psapi)
