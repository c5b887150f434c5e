# Copies the native helper beside lame_enc.dll when it has been built.
if(EXISTS "${SOURCE}")
  file(COPY "${SOURCE}" DESTINATION "${DESTINATION}")
else()
  message(STATUS "lame_enc_helper not built yet: ${SOURCE}")
endif()
