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

# The same for the check of a drive's table of contents.
add_executable(toc_fuzz ${CMAKE_SOURCE_DIR}/tests/native/TocFuzz.cpp ${CMAKE_SOURCE_DIR}/cdrom/TocCheck.cpp)
target_include_directories(toc_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(toc_fuzz PRIVATE -g ${FUZZ_SANITIZERS})
target_link_options(toc_fuzz PRIVATE ${FUZZ_SANITIZERS})
add_test(NAME toc_fuzz COMMAND toc_fuzz)

# And for what lame_enc.dll makes of its helper's answers.
add_executable(stream_plan_fuzz ${CMAKE_SOURCE_DIR}/tests/native/StreamPlanFuzz.cpp
               ${CMAKE_SOURCE_DIR}/lamedll/StreamPlan.cpp)
target_include_directories(stream_plan_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(stream_plan_fuzz PRIVATE -g ${FUZZ_SANITIZERS})
target_link_options(stream_plan_fuzz PRIVATE ${FUZZ_SANITIZERS})
add_test(NAME stream_plan_fuzz COMMAND stream_plan_fuzz)

# With clang, libFuzzer targets of all three, for scripts/fuzz.sh.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  foreach(target wav_header toc stream_plan)
    add_executable(${target}_libfuzzer EXCLUDE_FROM_ALL)
    target_include_directories(${target}_libfuzzer PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(${target}_libfuzzer PRIVATE CALBRUNE_LIBFUZZER)
    target_compile_options(${target}_libfuzzer PRIVATE -g -fsanitize=fuzzer,address,undefined)
    target_link_options(${target}_libfuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  endforeach()
  target_sources(wav_header_libfuzzer PRIVATE ${CMAKE_SOURCE_DIR}/tests/native/WavHeaderFuzz.cpp
                 ${WAV_HEADER_SOURCES})
  target_sources(toc_libfuzzer PRIVATE ${CMAKE_SOURCE_DIR}/tests/native/TocFuzz.cpp
                 ${CMAKE_SOURCE_DIR}/cdrom/TocCheck.cpp)
  target_sources(stream_plan_libfuzzer PRIVATE ${CMAKE_SOURCE_DIR}/tests/native/StreamPlanFuzz.cpp
                 ${CMAKE_SOURCE_DIR}/lamedll/StreamPlan.cpp)
endif()

# The jobs of the 64-bit program under Wine with the Linux lame_enc.dll; the
# MP3 files are decoded and compared here.
find_package(GTest REQUIRED)
set(CALBRUNE_WIN64_DIR ${CMAKE_SOURCE_DIR}/build/win64
    CACHE PATH "Build folder of the 64-bit Windows program")
add_executable(job_end_to_end_tests ${CMAKE_SOURCE_DIR}/tests/native/JobEndToEndTest.cpp)
target_include_directories(job_end_to_end_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(job_end_to_end_tests PRIVATE GTest::gtest_main)
target_compile_definitions(job_end_to_end_tests PRIVATE
  CALBRUNE_WIN64_DIR="${CALBRUNE_WIN64_DIR}" WINE_RUN="${CMAKE_SOURCE_DIR}/scripts/wine-run.sh")
include(GoogleTest)
gtest_discover_tests(job_end_to_end_tests PROPERTIES TIMEOUT 120)

# The wizard of the 64-bit program driven by calbrune_drive under Wine; needs
# an X display (scripts/test.sh starts Xvfb).
add_executable(wizard_end_to_end_tests ${CMAKE_SOURCE_DIR}/tests/native/WizardEndToEndTest.cpp)
target_include_directories(wizard_end_to_end_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(wizard_end_to_end_tests PRIVATE GTest::gtest_main)
target_compile_definitions(wizard_end_to_end_tests PRIVATE
  CALBRUNE_WIN64_DIR="${CALBRUNE_WIN64_DIR}" WINE_RUN="${CMAKE_SOURCE_DIR}/scripts/wine-run.sh")
gtest_discover_tests(wizard_end_to_end_tests PROPERTIES TIMEOUT 180)

# A corpus of WAV files made with sox and ffmpeg or edited by hand, converted
# in one job of the 64-bit program under Wine.
add_executable(wav_corpus_tests ${CMAKE_SOURCE_DIR}/tests/native/WavCorpusTest.cpp)
target_include_directories(wav_corpus_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(wav_corpus_tests PRIVATE GTest::gtest_main)
target_compile_definitions(wav_corpus_tests PRIVATE
  CALBRUNE_WIN64_DIR="${CALBRUNE_WIN64_DIR}" WINE_RUN="${CMAKE_SOURCE_DIR}/scripts/wine-run.sh")
gtest_discover_tests(wav_corpus_tests PROPERTIES TIMEOUT 120)

# The WAV job's stress and fault runs, short form: a batch, a large file,
# cancels, a full disk, sources gone, a helper killed (scripts/stress.sh).
add_test(NAME wave_job_stress COMMAND ${CMAKE_SOURCE_DIR}/scripts/stress.sh --short)
set_tests_properties(wave_job_stress PROPERTIES TIMEOUT 240
                     ENVIRONMENT CALBRUNE_STRESS_BUILD=${CALBRUNE_WIN64_DIR})
