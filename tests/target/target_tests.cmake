# Tests of the target build on emulated cores (part of the stm32g070 preset's CTest run).
set(ORVANE_TARGET_TEST_DIR ${CMAKE_SOURCE_DIR}/tests/target)

# The firmware's target objects as an archive: a test image links only what it calls.
add_library(orvane_fw_archive STATIC ${ORVANE_FW_TARGET_OBJECTS})

# The self-test on QEMU's micro:bit (Cortex-M0): must print exactly the reference lines, which the
# host build prints too (selftest_host_matches_reference in the sim preset).
# Cases, captures and fixtures shared by the test images, with the start-up on QEMU's micro:bit.
add_library(orvane_test_image_base STATIC ${ORVANE_TARGET_TEST_DIR}/selftest.cpp
  ${ORVANE_TARGET_TEST_DIR}/selftest_captures.cpp ${ORVANE_TARGET_TEST_DIR}/qemu_runtime.cpp)
target_include_directories(orvane_test_image_base PUBLIC ${ORVANE_TARGET_TEST_DIR} ${ORVANE_FW_INCLUDES}
  ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0)
target_compile_options(orvane_test_image_base PRIVATE ${ORVANE_WARNINGS})

function(orvane_test_image name)
  add_executable(${name} ${ARGN} ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0/runtime_support.cpp)
  target_compile_options(${name} PRIVATE ${ORVANE_WARNINGS})
  target_link_libraries(${name} PRIVATE orvane_test_image_base orvane_fw_archive)
  target_link_options(${name} PRIVATE ${ORVANE_TARGET_LINK_OPTIONS} -T${ORVANE_TARGET_TEST_DIR}/qemu_microbit.ld)
  set_target_properties(${name} PROPERTIES LINK_DEPENDS ${ORVANE_TARGET_TEST_DIR}/qemu_microbit.ld)
endfunction()

orvane_test_image(orvane-selftest.elf ${ORVANE_TARGET_TEST_DIR}/selftest_image.cpp)
orvane_test_image(orvane-cycles.elf ${ORVANE_TARGET_TEST_DIR}/cycle_cases.cpp)

add_test(NAME selftest_qemu_matches_reference
  COMMAND bash ${ORVANE_TARGET_TEST_DIR}/expect_lines.sh ${ORVANE_TARGET_TEST_DIR}/selftest.expected
          bash ${ORVANE_TARGET_TEST_DIR}/run_qemu.sh $<TARGET_FILE:orvane-selftest.elf>)
set_tests_properties(selftest_qemu_matches_reference PROPERTIES LABELS selftest TIMEOUT 300)

# Instructions and estimated Cortex-M0+ cycles of the cases that run on every reading and frame,
# counted in Unicorn and cross-checked against QEMU's execution trace on one case. The bound is the
# product's promise: one power computation on a full capture within 500 000 cycles (125 ms awake at
# 4 MHz).
add_test(NAME target_cycle_counts
  COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tools/m0_cycles/m0_cycles.py $<TARGET_FILE:orvane-cycles.elf>
          --max computePowerFast=500000 --qemu-cross-check "packet 3")
set_tests_properties(target_cycle_counts PROPERTIES LABELS cycles TIMEOUT 600)

# Worst-case stack depth of the image (thread, SysTick and the priority-0 handlers stacked), from
# the compiler's stack usage and the image's call graph, within the reserved stack less a margin.
add_test(NAME target_stack_depth
  COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tools/stack/stack_depth.py $<TARGET_FILE:orvane-node.elf>
          --margin 1024)
set_tests_properties(target_stack_depth PROPERTIES LABELS stack TIMEOUT 300)

# The image itself on the emulated chip (orvane-emu's core and register fronts, built by the host
# preset: ORVANE_HOST_BUILD): it boots from its reset vector and brings the chip up as the reference
# manual's registers say, answers lines typed in; its fatal-error path ends, whatever stops answering.
set(ORVANE_HOST_BUILD ${CMAKE_SOURCE_DIR}/build/sim CACHE PATH "the host build whose emulator runs the image")
set(ORVANE_EMU_IMAGE_TESTS bash ${CMAKE_SOURCE_DIR}/tests/emu/host_program.sh ${ORVANE_HOST_BUILD}/tests/emu_image_tests
    --image $<TARGET_FILE:orvane-node.elf> --meta ${ORVANE_GEN_DIR}/build_meta.h)
add_test(NAME target_image_boots COMMAND ${ORVANE_EMU_IMAGE_TESTS} --gtest_filter=BootImage.*)
set_tests_properties(target_image_boots PROPERTIES LABELS boot TIMEOUT 300)
add_test(NAME target_fatal_path_ends COMMAND ${ORVANE_EMU_IMAGE_TESTS} --gtest_filter=*FatalPath*)
set_tests_properties(target_fatal_path_ends PROPERTIES LABELS boot TIMEOUT 300)
add_test(NAME target_standby_flags_cleared COMMAND ${ORVANE_EMU_IMAGE_TESTS} --gtest_filter=StandbyImage.*)
set_tests_properties(target_standby_flags_cleared PROPERTIES LABELS boot TIMEOUT 300)

# End-to-end on the image: orvane-emu runs it as an operator, the Vantor or a power cut would.
file(GLOB ORVANE_IMAGE_E2E CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/emu/e2e/*.sh)
list(REMOVE_ITEM ORVANE_IMAGE_E2E ${CMAKE_SOURCE_DIR}/tests/emu/e2e/lib.sh)
foreach(script ${ORVANE_IMAGE_E2E})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME image_${name} COMMAND bash ${script} ${ORVANE_HOST_BUILD} $<TARGET_FILE:orvane-node.elf>
                                      $<TARGET_FILE:orvane-node-field.elf>)
  set_tests_properties(image_${name} PROPERTIES LABELS e2e TIMEOUT 300)
endforeach()
