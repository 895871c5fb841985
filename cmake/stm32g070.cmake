# Target build: Cortex-M0+ image for the STM32G070 with our own register-level hardware layer.
set(ORVANE_MCU_FLAGS -mcpu=cortex-m0plus -mthumb)
# Link-time optimisation: the image is optimised for size as a whole (it must fit 64 KiB with
# everything the node does). -fcallgraph-info=su at the link gives each function's stack usage as
# linked (IMAGE.ltrans*.ci), for the stack-depth check.
# -g: debug information only (no effect on the code), so that the size report can tell which source
# each function of the optimised whole came from.
add_compile_options(${ORVANE_MCU_FLAGS} -Os -g -flto -ffunction-sections -fdata-sections
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions> $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>
  $<$<COMPILE_LANGUAGE:CXX>:-fno-threadsafe-statics> $<$<COMPILE_LANGUAGE:CXX>:-fno-use-cxa-atexit>)

set(ORVANE_LINKER_SCRIPT ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0/stm32g070_flash.ld)
file(GLOB ORVANE_HAL_TARGET_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0/*.cpp ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0/*.c
  ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0/*.S)

# The firmware's objects, compiled once: the image links them all, the self-test images on the
# emulated core take what they use from the same objects.
add_library(orvane_fw_target OBJECT ${ORVANE_FW_SOURCES} ${ORVANE_HAL_TARGET_SOURCES})
target_include_directories(orvane_fw_target PUBLIC ${ORVANE_FW_INCLUDES} ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0)
target_compile_options(orvane_fw_target PRIVATE ${ORVANE_WARNINGS})
add_dependencies(orvane_fw_target build_meta)

add_executable(orvane-node.elf $<TARGET_OBJECTS:orvane_fw_target>)
set_target_properties(orvane-node.elf PROPERTIES LINKER_LANGUAGE CXX)
# No nosys.specs: nothing provides _sbrk, so any use of the heap fails the link. The C library's
# internal allocator entry points are wrapped (Drivers/hal/stm32g0/runtime_support.cpp): snprintf
# refers to them on a path fixed buffers never take, and they must not pull in malloc.
set(ORVANE_TARGET_LINK_OPTIONS ${ORVANE_MCU_FLAGS} -Os -g -flto -flto-partition=one -fcallgraph-info=su
  --specs=nano.specs -nostartfiles -Wl,--gc-sections
  -Wl,--wrap=_malloc_r,--wrap=_realloc_r,--wrap=_free_r)
target_link_options(orvane-node.elf PRIVATE ${ORVANE_TARGET_LINK_OPTIONS} -T${ORVANE_LINKER_SCRIPT}
  -Wl,-Map=${CMAKE_BINARY_DIR}/orvane-node.map -Wl,--print-memory-usage)
set_target_properties(orvane-node.elf PROPERTIES LINK_DEPENDS ${ORVANE_LINKER_SCRIPT})

add_custom_command(TARGET orvane-node.elf POST_BUILD
  COMMAND ${CMAKE_OBJCOPY} -O binary $<TARGET_FILE:orvane-node.elf> ${CMAKE_BINARY_DIR}/orvane-node.bin
  COMMAND ${CMAKE_OBJCOPY} -O ihex $<TARGET_FILE:orvane-node.elf> ${CMAKE_BINARY_DIR}/orvane-node.hex
  COMMAND ${CMAKE_COMMAND} -DELF=$<TARGET_FILE:orvane-node.elf> -DNM=${CMAKE_NM} -DSIZE=${CMAKE_SIZE}
          -DBUDGET=${CMAKE_SOURCE_DIR}/cmake/image_budget.cmake -P ${CMAKE_SOURCE_DIR}/cmake/image_report.cmake
  COMMENT "image: bin, hex, size report and checks")

# The image checks also run as a test, so 'make test' covers the target build.
enable_testing()
add_test(NAME firmware_image_checks
  COMMAND ${CMAKE_COMMAND} -DELF=$<TARGET_FILE:orvane-node.elf> -DNM=${CMAKE_NM} -DSIZE=${CMAKE_SIZE}
          -DBUDGET=${CMAKE_SOURCE_DIR}/cmake/image_budget.cmake -P ${CMAKE_SOURCE_DIR}/cmake/image_report.cmake)

# The firmware on emulated cores: the self-test under QEMU, the cycle counts, the boot of the image.
include(${CMAKE_SOURCE_DIR}/tests/target/target_tests.cmake)
