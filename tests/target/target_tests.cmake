# Tests of the target build on emulated cores (part of the stm32g070 preset's CTest run).
set(ORVANE_TARGET_TEST_DIR ${CMAKE_SOURCE_DIR}/tests/target)

# The firmware's target objects as an archive: a test image links only what it calls.
add_library(orvane_fw_archive STATIC $<TARGET_OBJECTS:orvane_fw_target>)

# The self-test on QEMU's micro:bit (Cortex-M0): must print exactly the reference lines, which the
# host build prints too (selftest_host_matches_reference in the sim preset).
add_executable(orvane-selftest.elf ${ORVANE_TARGET_TEST_DIR}/selftest.cpp ${ORVANE_TARGET_TEST_DIR}/selftest_captures.cpp
  ${ORVANE_TARGET_TEST_DIR}/qemu_runtime.cpp ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0/runtime_support.cpp)
target_include_directories(orvane-selftest.elf PRIVATE ${ORVANE_TARGET_TEST_DIR} ${ORVANE_FW_INCLUDES}
  ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0)
target_compile_options(orvane-selftest.elf PRIVATE ${ORVANE_WARNINGS})
target_link_libraries(orvane-selftest.elf PRIVATE orvane_fw_archive)
target_link_options(orvane-selftest.elf PRIVATE ${ORVANE_TARGET_LINK_OPTIONS} -T${ORVANE_TARGET_TEST_DIR}/qemu_microbit.ld)
set_target_properties(orvane-selftest.elf PROPERTIES LINK_DEPENDS ${ORVANE_TARGET_TEST_DIR}/qemu_microbit.ld)

add_test(NAME selftest_qemu_matches_reference
  COMMAND bash ${ORVANE_TARGET_TEST_DIR}/expect_lines.sh ${ORVANE_TARGET_TEST_DIR}/selftest.expected
          bash ${ORVANE_TARGET_TEST_DIR}/run_qemu.sh $<TARGET_FILE:orvane-selftest.elf>)
set_tests_properties(selftest_qemu_matches_reference PROPERTIES LABELS selftest TIMEOUT 300)
