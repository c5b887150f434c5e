# Native Linux pieces: the encoder helper behind the Linux lame_enc.dll, the
# fuzz targets, and the end-to-end tests of the 64-bit program under Wine.
add_compile_options(-Wall -Wextra)
enable_testing()

# The readers of outside input, each under the sanitizers fed with damaged
# copies of real inputs (a smoke in CTest) and, with clang, as a libFuzzer
# target for scripts/fuzz.sh: the WAV header, a drive's table of contents,
# and what lame_enc.dll makes of its helper's answers.
set(FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all)
function(add_fuzz_target name driver)
  add_executable(${name}_fuzz ${CMAKE_SOURCE_DIR}/tests/native/${driver} ${ARGN})
  target_compile_options(${name}_fuzz PRIVATE -g ${FUZZ_SANITIZERS})
  target_link_options(${name}_fuzz PRIVATE ${FUZZ_SANITIZERS})
  add_test(NAME ${name}_fuzz COMMAND ${name}_fuzz)
  set(targets ${name}_fuzz)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(${name}_libfuzzer EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/native/${driver} ${ARGN})
    target_compile_definitions(${name}_libfuzzer PRIVATE CALBRUNE_LIBFUZZER)
    target_compile_options(${name}_libfuzzer PRIVATE -g -fsanitize=fuzzer,address,undefined)
    target_link_options(${name}_libfuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
    list(APPEND targets ${name}_libfuzzer)
  endif()
  foreach(target ${targets})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE CALBRUNE_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
  endforeach()
endfunction()
add_fuzz_target(wav_header WavHeaderFuzz.cpp ${WAV_HEADER_SOURCES})
add_fuzz_target(toc TocFuzz.cpp ${CMAKE_SOURCE_DIR}/cdrom/TocCheck.cpp)

# The 64-bit program under Wine with the Linux lame_enc.dll, its wizard driven
# by calbrune_drive (it needs an X display: scripts/test.sh starts Xvfb), and
# its MP3 files decoded and compared here.
find_package(GTest REQUIRED)
include(GoogleTest)
set(CALBRUNE_WIN64_DIR ${CMAKE_SOURCE_DIR}/build/win64
    CACHE PATH "Build folder of the 64-bit Windows program")
add_executable(wizard_end_to_end_tests ${CMAKE_SOURCE_DIR}/tests/native/WizardEndToEndTest.cpp)
target_include_directories(wizard_end_to_end_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(wizard_end_to_end_tests PRIVATE GTest::gtest_main)
target_compile_definitions(wizard_end_to_end_tests PRIVATE
  CALBRUNE_WIN64_DIR="${CALBRUNE_WIN64_DIR}" WINE_RUN="${CMAKE_SOURCE_DIR}/scripts/wine-run.sh")
gtest_discover_tests(wizard_end_to_end_tests PROPERTIES TIMEOUT 180)

# The WAV job's stress and fault runs, short form: a batch, a large file,
# cancels, a full disk, sources gone, a helper killed (scripts/stress.sh).
add_test(NAME wave_job_stress COMMAND ${CMAKE_SOURCE_DIR}/scripts/stress.sh --short)
set_tests_properties(wave_job_stress PROPERTIES TIMEOUT 240
                     ENVIRONMENT CALBRUNE_STRESS_BUILD=${CALBRUNE_WIN64_DIR})
