# The end-to-end and stress runs of the 64-bit program under Wine.
add_compile_options(-Wall -Wextra)
enable_testing()

# The 64-bit program with LAME's lame_enc.dll, its wizard driven from outside
# (it needs an X display: scripts/test.sh starts Xvfb).
set(CALBRUNE_WIN64_DIR ${CMAKE_SOURCE_DIR}/build/win64
    CACHE PATH "Build folder of the 64-bit Windows program")
add_test(NAME end_to_end COMMAND ${CMAKE_SOURCE_DIR}/tests/e2e.sh ${CALBRUNE_WIN64_DIR})
set_tests_properties(end_to_end PROPERTIES TIMEOUT 300)

# The WAV job's stress and fault runs through the wizard, short form: a
# batch, a large file, cancels, a full disk (scripts/stress.sh).
add_test(NAME wave_job_stress COMMAND ${CMAKE_SOURCE_DIR}/scripts/stress.sh --short)
set_tests_properties(wave_job_stress PROPERTIES TIMEOUT 300
                     ENVIRONMENT CALBRUNE_STRESS_BUILD=${CALBRUNE_WIN64_DIR})
