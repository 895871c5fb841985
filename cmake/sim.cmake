# Host build: the firmware linked against the simulated board, plus every test.
enable_testing()

option(ORVANE_LIBFUZZER "Build the fuzz targets with clang's libFuzzer (and ASan/UBSan)" OFF)
if(ORVANE_LIBFUZZER)
  # Undefined behaviour stops the run like a crash, so the fuzzer keeps the input that caused it.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(ORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# The firmware: identical sources to the target; only its entry point is renamed so that the
# simulator's own main can start (and restart) it. Its modules are object libraries: every firmware
# object is linked, as in the target image, so the board finds the interrupt handlers and callbacks
# it calls by name. The value types and the frame codecs are ordinary libraries besides: the
# receiving node and the tests of pure logic link them alone.
set(ORVANE_PURE_MODULES base frames llcc68)
orvane_modules_build(DEFAULT_KIND OBJECT STATIC ${ORVANE_PURE_MODULES}
  OPTIONS ${ORVANE_WARNINGS} -fno-exceptions -fno-rtti)
set_source_files_properties(${CMAKE_SOURCE_DIR}/Core/Src/main.cpp
  PROPERTIES COMPILE_DEFINITIONS "main=orvane_firmware_main")
add_library(orvane_fw INTERFACE)
foreach(m ${ORVANE_FW_MODULES})
  if(m IN_LIST ORVANE_PURE_MODULES)
    target_link_libraries(orvane_fw INTERFACE orvane_${m})
  else()
    get_target_property(type orvane_${m} TYPE)
    if(type STREQUAL "OBJECT_LIBRARY")
      target_sources(orvane_fw INTERFACE $<TARGET_OBJECTS:orvane_${m}>)
    endif()
  endif()
endforeach()
target_include_directories(orvane_fw INTERFACE ${ORVANE_FW_INCLUDES})
# The hardware layer's common part goes with the firmware, as in the image.
target_sources(orvane_fw INTERFACE $<TARGET_OBJECTS:orvane_hal_common>)

# The simulated board, part by part. Each part is a library with the parts it uses; what needs the
# firmware's headers (the board its records) says so; the front end's clamp is made from the clamp's
# calibration curves, which are values (base/).
function(orvane_sim_part name)
  cmake_parse_arguments(P "" "" "SOURCES;USES;SEES" ${ARGN})
  add_library(${name} STATIC ${P_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/sim)
  target_link_libraries(${name} PUBLIC ${P_USES})
  foreach(m ${P_SEES})
    target_include_directories(${name} PUBLIC $<TARGET_PROPERTY:orvane_${m},INTERFACE_INCLUDE_DIRECTORIES>)
  endforeach()
  target_compile_options(${name} PRIVATE ${ORVANE_WARNINGS})
  if(ORVANE_LIBFUZZER)
    # The board is the fuzzed code's surroundings, not under test: without coverage hooks its event
    # stepping costs what it costs elsewhere. ASan and UBSan stay (the hardware layer and the DMA
    # reach into the firmware's buffers), but the dynamic type check of every call on a device
    # object (vptr) does not: it only looks at the board's own classes (the firmware has no RTTI
    # to check) and cost a tenth of a polling HAL call.
    target_compile_options(${name} PRIVATE -fno-sanitize=fuzzer-no-link,vptr)
  endif()
endfunction()
# The rooms without a board: clock and events, interrupts, resets and the state folder, pins, SPI.
orvane_sim_part(orvane_sim_rooms SEES hal wiring SOURCES
  sim/scheduler.cpp sim/interrupt_controller.cpp sim/reset_state.cpp sim/state_store.cpp sim/gpio_model.cpp
  sim/spi_bus.cpp)
# The run's records: energy account, event log, VCD.
orvane_sim_part(orvane_sim_records SOURCES sim/energy_account.cpp sim/event_log.cpp sim/vcd_writer.cpp)
# The world around the node's inputs: the mains, the clamp and the front end.
orvane_sim_part(orvane_sim_front_end USES orvane_sim_rooms orvane_base SOURCES sim/analog_frontend.cpp)
# The medium, and the same medium shared by many programs through orvane-air (sim/AIR.md): its
# protocol, a participant's link and the air's server.
orvane_sim_part(orvane_sim_air USES orvane_sim_rooms SOURCES
  sim/radio_medium.cpp sim/air_protocol.cpp sim/air_link.cpp sim/air_server.cpp)
# The devices: each reaches the board only through what it may ask of it (sim/device_host.h).
orvane_sim_part(orvane_sim_devices USES orvane_sim_rooms orvane_sim_front_end orvane_sim_air SEES hal wiring SOURCES
  sim/adc_model.cpp sim/air_script.cpp sim/dma_model.cpp sim/flash_model.cpp sim/llcc68_model.cpp sim/power_cut.cpp
  sim/rtc_model.cpp sim/systick_model.cpp sim/tim6_model.cpp sim/uart_model.cpp)
# The command line: its parsing and checks.
orvane_sim_part(orvane_sim_options USES orvane_sim_devices SOURCES
  sim/options.cpp sim/radio_options.cpp sim/trace_options.cpp)
# The board: the core's time on its rooms, the devices it owns, the console, the run trace.
file(GLOB ORVANE_BOARD_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
foreach(part orvane_sim_rooms orvane_sim_records orvane_sim_front_end orvane_sim_air orvane_sim_devices orvane_sim_options)
  get_target_property(taken ${part} SOURCES)
  foreach(src ${taken})
    list(REMOVE_ITEM ORVANE_BOARD_SOURCES ${CMAKE_SOURCE_DIR}/${src})
  endforeach()
endforeach()
find_package(Threads REQUIRED)
orvane_sim_part(orvane_sim_board SOURCES ${ORVANE_BOARD_SOURCES} SEES hal wiring config
  USES orvane_sim_rooms orvane_sim_records orvane_sim_front_end orvane_sim_air orvane_sim_devices orvane_sim_options
       Threads::Threads ${CMAKE_DL_LIBS})
if(NOT APPLE)
  target_link_libraries(orvane_sim_board PUBLIC util)  # openpty
endif()
# The hardware layer's host backend, on the board.
file(GLOB ORVANE_SIM_HAL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/Drivers/hal/sim/*.cpp)
orvane_sim_part(orvane_sim_hal SOURCES ${ORVANE_SIM_HAL_SOURCES} USES orvane_sim_board SEES base hal_common)
# Everything of the simulated board, with every firmware folder in sight (the tests reach both).
add_library(orvane_board INTERFACE)
target_link_libraries(orvane_board INTERFACE orvane_sim_hal orvane_sim_board)
target_include_directories(orvane_board INTERFACE ${ORVANE_FW_INCLUDES})

# The tests link the bench application, as orvane-sim does.
set(ORVANE_SIM_LIBS orvane_fw orvane_app_bench orvane_board)

# The receiving node (vantor/): ordinary host C++ on the frame codecs, SQLite or PostgreSQL (libpq)
# and a JSON library; never the firmware's board code. Its layers are folders, each a library that
# names the layers it uses and sees only their headers (vantor/VANTOR.md, "Layers"):
#   store    the store's interface and its SQLite and PostgreSQL backends
#   core     uplink decoding, the decisions, settings, activity, the outputs' subscription
#   outputs  MQTT, the HTTP server, API and pages, plots and JSON records
#   ports    the radios the core hears through (the simulated medium inside orvane-sim)
#   app      the vantor command: its CLI and `vantor listen`
find_package(SQLite3 REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(CLI11 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)
pkg_check_modules(LIBMOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
function(orvane_vantor_layer name dir)
  cmake_parse_arguments(L "" "" "SOURCES;USES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/vantor/${dir}/*.cpp)
  add_library(${name} STATIC ${sources} ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/vantor/${dir})
  target_link_libraries(${name} PUBLIC ${L_USES})
  target_compile_options(${name} PRIVATE ${ORVANE_WARNINGS})
endfunction()
orvane_vantor_layer(orvane_vantor_store store USES orvane_frames SQLite::SQLite3 PkgConfig::LIBPQ)
orvane_vantor_layer(orvane_vantor_core core USES orvane_vantor_store orvane_frames)
# The activity rule is the field node's own cycle (field/field_node.h, values only).
target_include_directories(orvane_vantor_core PUBLIC ${CMAKE_SOURCE_DIR}/field)
# The dashboard's pages, built into the program (vantor/outputs/web_assets.h).
set(ORVANE_WEB_FILES index.html app.js style.css)
list(TRANSFORM ORVANE_WEB_FILES PREPEND ${CMAKE_SOURCE_DIR}/vantor/outputs/web/ OUTPUT_VARIABLE ORVANE_WEB_SOURCES)
string(REPLACE ";" "," ORVANE_WEB_LIST "${ORVANE_WEB_FILES}")
add_custom_command(OUTPUT ${ORVANE_GEN_DIR}/web_assets.cpp
  COMMAND ${CMAKE_COMMAND} -DSRC_DIR=${CMAKE_SOURCE_DIR}/vantor/outputs/web -DFILES=${ORVANE_WEB_LIST}
          -DOUT_FILE=${ORVANE_GEN_DIR}/web_assets.cpp -P ${CMAKE_SOURCE_DIR}/cmake/embed_web.cmake
  DEPENDS ${ORVANE_WEB_SOURCES} ${CMAKE_SOURCE_DIR}/cmake/embed_web.cmake
  COMMENT "the dashboard's pages")
orvane_vantor_layer(orvane_vantor_outputs outputs SOURCES ${ORVANE_GEN_DIR}/web_assets.cpp
  USES orvane_vantor_core orvane_vantor_store PkgConfig::LIBMOSQUITTO PkgConfig::HTTPLIB
       nlohmann_json::nlohmann_json Threads::Threads)
# The capture plot reads the capture's layout (measure/ADCParam.h, values only).
target_include_directories(orvane_vantor_outputs PUBLIC ${CMAKE_SOURCE_DIR}/measure)
# The CLI without a radio: the registry, the queue, the plots, `serve`.
add_library(orvane_vantor_cli STATIC ${CMAKE_SOURCE_DIR}/vantor/app/cli.cpp)
target_include_directories(orvane_vantor_cli PUBLIC ${CMAKE_SOURCE_DIR}/vantor/app)
target_link_libraries(orvane_vantor_cli PUBLIC orvane_vantor_outputs orvane_vantor_core orvane_vantor_store CLI11::CLI11)
target_compile_options(orvane_vantor_cli PRIVATE ${ORVANE_WARNINGS})
# Everything of the Vantor that needs no radio.
add_library(orvane_vantor INTERFACE)
target_link_libraries(orvane_vantor INTERFACE orvane_vantor_cli)

# Its ports: the simulated medium and orvane-air. Inside orvane-sim it starts on the board.
add_library(orvane_vantor_ports STATIC ${CMAKE_SOURCE_DIR}/vantor/ports/sim_endpoint.cpp
  ${CMAKE_SOURCE_DIR}/vantor/ports/faults.cpp)
target_include_directories(orvane_vantor_ports PUBLIC ${CMAKE_SOURCE_DIR}/vantor/ports)
target_link_libraries(orvane_vantor_ports PUBLIC orvane_vantor_core orvane_sim_air)
target_compile_options(orvane_vantor_ports PRIVATE ${ORVANE_WARNINGS})
# The packet forwarder's UDP protocol: the gateway port and the simulated gateway both speak it.
add_library(orvane_gateway_protocol STATIC ${CMAKE_SOURCE_DIR}/vantor/ports/gateway/gateway_protocol.cpp)
target_include_directories(orvane_gateway_protocol PUBLIC ${CMAKE_SOURCE_DIR}/vantor/ports/gateway)
target_link_libraries(orvane_gateway_protocol PUBLIC nlohmann_json::nlohmann_json)
target_compile_options(orvane_gateway_protocol PRIVATE ${ORVANE_WARNINGS})
# The gateway port: the Vantor as the packet forwarders' server.
add_library(orvane_vantor_gateway STATIC ${CMAKE_SOURCE_DIR}/vantor/ports/gateway/gateway_port.cpp)
target_link_libraries(orvane_vantor_gateway PUBLIC orvane_vantor_core orvane_gateway_protocol Threads::Threads)
target_compile_options(orvane_vantor_gateway PRIVATE ${ORVANE_WARNINGS})
add_library(orvane_vantor_sim STATIC ${CMAKE_SOURCE_DIR}/vantor/ports/sim_start.cpp)
target_link_libraries(orvane_vantor_sim PUBLIC orvane_vantor_ports orvane_vantor orvane_sim_board)
target_compile_options(orvane_vantor_sim PRIVATE ${ORVANE_WARNINGS})
# The Vantor's own LLCC68 (or SX1262) on a Linux board: the node's command layer (llcc68) over
# spidev and libgpiod, written for libgpiod's 1.x API (Debian 12's libgpiod-dev).
pkg_check_modules(LIBGPIOD REQUIRED IMPORTED_TARGET libgpiod)
if(LIBGPIOD_VERSION VERSION_GREATER_EQUAL 2)
  message(FATAL_ERROR "libgpiod ${LIBGPIOD_VERSION}: the local radio (vantor/ports/local_radio) uses the 1.x API")
endif()
set(ORVANE_LOCAL_RADIO_DIR ${CMAKE_SOURCE_DIR}/vantor/ports/local_radio)
add_library(orvane_vantor_local_radio STATIC ${ORVANE_LOCAL_RADIO_DIR}/radio_system_linux.cpp
  ${ORVANE_LOCAL_RADIO_DIR}/radio_wiring.cpp ${ORVANE_LOCAL_RADIO_DIR}/radio_bus.cpp
  ${ORVANE_LOCAL_RADIO_DIR}/local_radio.cpp)
target_include_directories(orvane_vantor_local_radio PUBLIC ${ORVANE_LOCAL_RADIO_DIR})
target_link_libraries(orvane_vantor_local_radio PUBLIC orvane_vantor_core orvane_llcc68 PkgConfig::LIBGPIOD)
target_compile_options(orvane_vantor_local_radio PRIVATE ${ORVANE_WARNINGS})
# Its bus glue (the command layer's llcc68_hal_* on the bus), apart: a test that also holds the
# node's firmware, which has its own, routes the calls by their context instead.
add_library(orvane_vantor_radio_glue OBJECT ${ORVANE_LOCAL_RADIO_DIR}/radio_bus_glue.cpp)
target_link_libraries(orvane_vantor_radio_glue PUBLIC orvane_vantor_local_radio)
target_compile_options(orvane_vantor_radio_glue PRIVATE ${ORVANE_WARNINGS})
add_library(orvane_vantor_listen STATIC ${CMAKE_SOURCE_DIR}/vantor/app/air_listen.cpp
  ${CMAKE_SOURCE_DIR}/vantor/app/site_core.cpp ${CMAKE_SOURCE_DIR}/vantor/app/listen_site.cpp
  ${CMAKE_SOURCE_DIR}/vantor/app/radio_listen.cpp)
target_link_libraries(orvane_vantor_listen PUBLIC orvane_vantor_cli orvane_vantor_ports orvane_vantor_gateway
  orvane_vantor_local_radio)
target_compile_options(orvane_vantor_listen PRIVATE ${ORVANE_WARNINGS})

# orvane-sim runs the bench build, orvane-sim-field the field build, on the same simulated board.
add_executable(orvane-sim ${CMAKE_SOURCE_DIR}/sim/app/orvane_sim_main.cpp)
target_link_libraries(orvane-sim PRIVATE ${ORVANE_SIM_LIBS} orvane_vantor_sim)
target_compile_options(orvane-sim PRIVATE ${ORVANE_WARNINGS})
add_executable(orvane-sim-field ${CMAKE_SOURCE_DIR}/sim/app/orvane_sim_main.cpp)
target_link_libraries(orvane-sim-field PRIVATE orvane_fw orvane_app_field orvane_board orvane_vantor_sim)
target_compile_options(orvane-sim-field PRIVATE ${ORVANE_WARNINGS})
# Each start of the firmware runs in a copy of the first process (sim/fresh_image.h): symbols bound
# once at load, not again in every copy at its first call.
target_link_options(orvane-sim PRIVATE -Wl,-z,now)
target_link_options(orvane-sim-field PRIVATE -Wl,-z,now)

# orvane-air: the medium as a process of its own, shared by the nodes and the Vantor (sim/AIR.md).
add_executable(orvane-air ${CMAKE_SOURCE_DIR}/sim/app/orvane_air_main.cpp)
target_link_libraries(orvane-air PRIVATE orvane_sim_air CLI11::CLI11)
target_compile_options(orvane-air PRIVATE ${ORVANE_WARNINGS})

# orvane-gateway: a simulated LoRa gateway on orvane-air, speaking the gateway's UDP protocol to a
# server (sim/AIR.md, "A gateway on the air"): its concentrator on the medium and its forwarder.
add_library(orvane_sim_gateway STATIC sim/gateway/concentrator.cpp sim/gateway/forwarder.cpp)
target_include_directories(orvane_sim_gateway PUBLIC ${CMAKE_SOURCE_DIR}/sim/gateway)
target_link_libraries(orvane_sim_gateway PUBLIC orvane_sim_air orvane_sim_records orvane_gateway_protocol)
target_compile_options(orvane_sim_gateway PRIVATE ${ORVANE_WARNINGS})

add_executable(orvane-gateway ${CMAKE_SOURCE_DIR}/sim/app/orvane_gateway_main.cpp)
target_link_libraries(orvane-gateway PRIVATE orvane_sim_gateway CLI11::CLI11)
target_compile_options(orvane-gateway PRIVATE ${ORVANE_WARNINGS})

# orvane-fleet: a site of field-build nodes and the Vantor on orvane-air (docs/fleet.md).
add_library(orvane_fleet STATIC sim/fleet/fleet_plan.cpp sim/fleet/fleet_report.cpp)
target_include_directories(orvane_fleet PUBLIC ${CMAKE_SOURCE_DIR}/sim/fleet)
target_link_libraries(orvane_fleet PUBLIC orvane_sim_air orvane_sim_front_end orvane_vantor)
target_compile_options(orvane_fleet PRIVATE ${ORVANE_WARNINGS})
add_executable(orvane-fleet ${CMAKE_SOURCE_DIR}/sim/app/orvane_fleet_main.cpp)
target_link_libraries(orvane-fleet PRIVATE orvane_fleet orvane_sim_rooms CLI11::CLI11)
target_compile_options(orvane-fleet PRIVATE ${ORVANE_WARNINGS})
# The capacity study's pictures from the fleet's reports, drawn by the Vantor's plotting code.
add_executable(orvane-fleet-chart ${CMAKE_SOURCE_DIR}/sim/app/orvane_fleet_chart_main.cpp)
target_link_libraries(orvane-fleet-chart PRIVATE orvane_vantor CLI11::CLI11)
target_compile_options(orvane-fleet-chart PRIVATE ${ORVANE_WARNINGS})

add_executable(vantor ${CMAKE_SOURCE_DIR}/vantor/app/vantor_main.cpp)
target_link_libraries(vantor PRIVATE orvane_vantor_listen orvane_vantor_radio_glue)
# The fleet starts these.
add_dependencies(orvane-fleet orvane-sim-field vantor orvane-gateway)
target_compile_options(vantor PRIVATE ${ORVANE_WARNINGS})

include(${CMAKE_SOURCE_DIR}/cmake/emu.cmake)

add_subdirectory(tests)
