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
# The hardware layer's register-level backend: a module of the target build only.
orvane_module(hal_stm32g0 DIRS Drivers/hal/stm32g0 DEPENDS hal hal_common base)

# The image's own memory and string operations: a loop there must stay a loop, not become a call
# of the library function it implements (that is itself).
set_source_files_properties(${CMAKE_SOURCE_DIR}/base/mem_ops.cpp
  ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0/runtime_support.cpp PROPERTIES COMPILE_OPTIONS -fno-tree-loop-distribute-patterns)

# The firmware's modules and the hardware layer, compiled once: both images link them all, the
# self-test images on the emulated core take what they use from the same objects.
orvane_modules_build(DEFAULT_KIND OBJECT OPTIONS ${ORVANE_WARNINGS})
set(ORVANE_FW_TARGET_OBJECTS)
# (The order of the objects decides where the linker puts static data, and so its padding: this one
# packs it as tightly as before the folders became libraries.)
foreach(m core shell console base config measure PacketFL frames frame_print PacketRX llcc68 radio field hal_common hal_stm32g0)
  list(APPEND ORVANE_FW_TARGET_OBJECTS $<TARGET_OBJECTS:orvane_${m}>)
endforeach()
add_library(orvane_fw_target INTERFACE)
target_include_directories(orvane_fw_target INTERFACE ${ORVANE_FW_INCLUDES} ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0)

enable_testing()

# No nosys.specs: nothing provides _sbrk, so any use of the heap fails the link. The C library's
# internal allocator entry points are wrapped (Drivers/hal/stm32g0/runtime_support.cpp): snprintf
# refers to them on a path fixed buffers never take, and they must not pull in malloc.
set(ORVANE_TARGET_LINK_OPTIONS ${ORVANE_MCU_FLAGS} -Os -g -flto -flto-partition=one -fcallgraph-info=su
  --specs=nano.specs -nostartfiles -Wl,--gc-sections
  -Wl,--wrap=_malloc_r,--wrap=_realloc_r,--wrap=_free_r)

# One flashable image from the firmware objects and its application (the shell or the unattended
# cycle); BUDGET is the checked-in size budget of that image, if it has one.
function(orvane_image name app budget)
  add_executable(${name}.elf $<TARGET_OBJECTS:orvane_app_${app}> ${ORVANE_FW_TARGET_OBJECTS})
  target_link_libraries(${name}.elf PRIVATE orvane_fw_target)
  target_compile_options(${name}.elf PRIVATE ${ORVANE_WARNINGS})
  target_link_options(${name}.elf PRIVATE ${ORVANE_TARGET_LINK_OPTIONS} -T${ORVANE_LINKER_SCRIPT}
    -Wl,-Map=${CMAKE_BINARY_DIR}/${name}.map -Wl,--print-memory-usage)
  set_target_properties(${name}.elf PROPERTIES LINK_DEPENDS ${ORVANE_LINKER_SCRIPT})
  set(report ${CMAKE_COMMAND} -DELF=$<TARGET_FILE:${name}.elf> -DNM=${CMAKE_NM} -DSIZE=${CMAKE_SIZE} -DNAME=${name}
             -DBUDGET=${budget} -P ${CMAKE_SOURCE_DIR}/cmake/image_report.cmake)
  add_custom_command(TARGET ${name}.elf POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} -O binary $<TARGET_FILE:${name}.elf> ${CMAKE_BINARY_DIR}/${name}.bin
    COMMAND ${CMAKE_OBJCOPY} -O ihex $<TARGET_FILE:${name}.elf> ${CMAKE_BINARY_DIR}/${name}.hex
    COMMAND ${report}
    COMMENT "${name}: bin, hex, size report and checks")
  # The image checks also run as a test, so 'make test' covers the target build.
  add_test(NAME ${name}_image_checks COMMAND ${report})
endfunction()

# orvane-node: the bench build (the shell); orvane-node-field: the field build (unattended cycle).
orvane_image(orvane-node bench ${CMAKE_SOURCE_DIR}/cmake/image_budget.cmake)
orvane_image(orvane-node-field field "")

# The firmware on emulated cores: the self-test under QEMU, the cycle counts, the boot of the image.
include(${CMAKE_SOURCE_DIR}/tests/target/target_tests.cmake)
