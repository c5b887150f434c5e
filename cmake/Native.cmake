# Native Linux pieces: the encoder helper behind the Linux lame_enc.dll, and
# the WAV header parser built for fuzzing.
add_compile_options(-Wall -Wextra)
enable_testing()

if(EXISTS ${CMAKE_SOURCE_DIR}/lamedll/native/CMakeLists.txt)
  add_subdirectory(lamedll/native)
endif()

# The WAV header parser under the sanitizers, fed with damaged copies of the
# test files; with clang, also a libFuzzer target to run by hand.
set(FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all)
add_executable(wav_header_fuzz ${CMAKE_SOURCE_DIR}/tests/native/WavHeaderFuzz.cpp
               ${WAV_HEADER_SOURCES})
target_include_directories(wav_header_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(wav_header_fuzz PRIVATE -g ${FUZZ_SANITIZERS})
target_link_options(wav_header_fuzz PRIVATE ${FUZZ_SANITIZERS})
target_compile_definitions(wav_header_fuzz PRIVATE
                           CALBRUNE_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
add_test(NAME wav_header_fuzz COMMAND wav_header_fuzz)

if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(wav_header_libfuzzer EXCLUDE_FROM_ALL
                 ${CMAKE_SOURCE_DIR}/tests/native/WavHeaderFuzz.cpp ${WAV_HEADER_SOURCES})
  target_include_directories(wav_header_libfuzzer PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(wav_header_libfuzzer PRIVATE CALBRUNE_LIBFUZZER)
  target_compile_options(wav_header_libfuzzer PRIVATE -g -fsanitize=fuzzer,address,undefined)
  target_link_options(wav_header_libfuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
