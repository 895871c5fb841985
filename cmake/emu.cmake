# The emulated chip (emu/, host build): the image itself from its reset vector on libunicorn's
# Cortex-M0+, with register fronts over the simulated board's devices. The fronts read the target
# backend's register definitions (reg_*.h, written from the reference manual), so the target's
# device header comes before the simulated board's in their include path.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)

file(GLOB ORVANE_EMU_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/emu/*.cpp)
add_library(orvane_emu STATIC ${ORVANE_EMU_SOURCES})
target_include_directories(orvane_emu BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/emu ${CMAKE_SOURCE_DIR}/Drivers/hal/stm32g0)
target_compile_options(orvane_emu PUBLIC "SHELL:-include ${CMAKE_SOURCE_DIR}/emu/chip_registers.h")
target_link_libraries(orvane_emu PUBLIC orvane_sim_board PkgConfig::UNICORN)
target_compile_options(orvane_emu PRIVATE ${ORVANE_WARNINGS})

# orvane-emu runs the bench image of the target build unless told otherwise (--image).
add_executable(orvane-emu ${CMAKE_SOURCE_DIR}/emu/app/orvane_emu_main.cpp)
target_link_libraries(orvane-emu PRIVATE orvane_emu orvane_vantor_sim)
target_compile_options(orvane-emu PRIVATE ${ORVANE_WARNINGS})
target_compile_definitions(orvane-emu PRIVATE
  ORVANE_EMU_DEFAULT_IMAGE="${CMAKE_SOURCE_DIR}/build/stm32g070/orvane-node.elf")
