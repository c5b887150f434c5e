# Native Linux pieces: the fuzz targets, and the end-to-end and stress runs of
# the 64-bit program under Wine.
add_compile_options(-Wall -Wextra)
enable_testing()

# The readers of outside input, each under the sanitizers fed with damaged
# copies of real inputs (a smoke in CTest) and, with clang, as a libFuzzer
# target for scripts/fuzz.sh: the WAV header and a drive's table of contents.
set(FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all)
function(add_fuzz_target name define)
  set(sources ${CMAKE_SOURCE_DIR}/tests/native/Fuzz.cpp ${ARGN})
  add_executable(${name}_fuzz ${sources})
  target_compile_options(${name}_fuzz PRIVATE -g ${FUZZ_SANITIZERS})
  target_link_options(${name}_fuzz PRIVATE ${FUZZ_SANITIZERS})
  add_test(NAME ${name}_fuzz COMMAND ${name}_fuzz)
  set(targets ${name}_fuzz)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(${name}_libfuzzer EXCLUDE_FROM_ALL ${sources})
    target_compile_definitions(${name}_libfuzzer PRIVATE CALBRUNE_LIBFUZZER)
    target_compile_options(${name}_libfuzzer PRIVATE -g -fsanitize=fuzzer,address,undefined)
    target_link_options(${name}_libfuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
    list(APPEND targets ${name}_libfuzzer)
  endif()
  foreach(target ${targets})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE ${define} CALBRUNE_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
  endforeach()
endfunction()
add_fuzz_target(wav_header FUZZ_WAV ${WAV_HEADER_SOURCES})
add_fuzz_target(toc FUZZ_TOC ${CMAKE_SOURCE_DIR}/cdrom/TocCheck.cpp)

# The 64-bit program with LAME's lame_enc.dll, its wizard driven from outside
# (it needs an X display: scripts/test.sh starts Xvfb).
set(CALBRUNE_WIN64_DIR ${CMAKE_SOURCE_DIR}/build/win64
    CACHE PATH "Build folder of the 64-bit Windows program")
add_test(NAME end_to_end COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e.sh ${CALBRUNE_WIN64_DIR})
set_tests_properties(end_to_end PROPERTIES TIMEOUT 300)

# The WAV job's stress and fault runs through the wizard, short form: a
# batch, a large file, cancels, a full disk, sources gone (scripts/stress.sh).
add_test(NAME wave_job_stress COMMAND ${CMAKE_SOURCE_DIR}/scripts/stress.sh --short)
set_tests_properties(wave_job_stress PROPERTIES TIMEOUT 300
                     ENVIRONMENT CALBRUNE_STRESS_BUILD=${CALBRUNE_WIN64_DIR})
