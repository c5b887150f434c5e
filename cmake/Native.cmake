# Native Linux pieces: the encoder helper behind the Linux lame_enc.dll, and
# the WAV header parser built for fuzzing.
add_compile_options(-Wall -Wextra)
enable_testing()

if(EXISTS ${CMAKE_SOURCE_DIR}/lamedll/native/CMakeLists.txt)
  add_subdirectory(lamedll/native)
endif()
