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
# simulator's own main can start (and restart) it.
# An object library: every firmware object is linked, as in the target image, so the board finds
# the interrupt handlers and callbacks it calls by name.
# The frame codecs, built once with the firmware's flags: linked into the firmware and the Vantor.
add_library(orvane_frames STATIC ${ORVANE_FRAME_SOURCES})
target_include_directories(orvane_frames PUBLIC ${CMAKE_SOURCE_DIR}/PacketFL ${CMAKE_SOURCE_DIR}/PacketRX
  ${CMAKE_SOURCE_DIR}/shell ${CMAKE_SOURCE_DIR}/config ${CMAKE_SOURCE_DIR}/measure)
target_compile_options(orvane_frames PRIVATE ${ORVANE_WARNINGS} -fno-exceptions -fno-rtti)

set(ORVANE_FW_BOARD_SOURCES ${ORVANE_FW_SOURCES})
list(REMOVE_ITEM ORVANE_FW_BOARD_SOURCES ${ORVANE_FRAME_SOURCES})
add_library(orvane_fw OBJECT ${ORVANE_FW_BOARD_SOURCES})
target_link_libraries(orvane_fw PUBLIC orvane_frames)
target_include_directories(orvane_fw PUBLIC ${ORVANE_FW_INCLUDES} ${CMAKE_SOURCE_DIR}/Drivers/hal/sim)
target_compile_options(orvane_fw PRIVATE ${ORVANE_WARNINGS} -fno-exceptions -fno-rtti)
set_source_files_properties(${CMAKE_SOURCE_DIR}/Core/Src/main.cpp
  PROPERTIES COMPILE_DEFINITIONS "main=orvane_firmware_main")
add_dependencies(orvane_fw build_meta)

# The simulated board: host backend of the hardware layer and the world models around it.
file(GLOB ORVANE_BOARD_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/Drivers/hal/sim/*.cpp ${CMAKE_SOURCE_DIR}/sim/*.cpp)
add_library(orvane_board STATIC ${ORVANE_BOARD_SOURCES})
target_include_directories(orvane_board PUBLIC ${CMAKE_SOURCE_DIR}/sim ${ORVANE_FW_INCLUDES}
  ${CMAKE_SOURCE_DIR}/Drivers/hal/sim)
target_compile_options(orvane_board PRIVATE ${ORVANE_WARNINGS})
if(ORVANE_LIBFUZZER)
  # The board is the fuzzed code's surroundings, not under test: without coverage hooks its event
  # stepping costs what it costs elsewhere (the sanitizers stay).
  target_compile_options(orvane_board PRIVATE -fno-sanitize=fuzzer-no-link)
endif()
find_package(Threads REQUIRED)
target_link_libraries(orvane_board PUBLIC Threads::Threads ${CMAKE_DL_LIBS})
if(NOT APPLE)
  target_link_libraries(orvane_board PUBLIC util)  # openpty
endif()

# The two applications; the tests link the bench one, as orvane-sim does.
foreach(app bench field)
  string(TOUPPER ${app} APP)
  add_library(orvane_app_${app} OBJECT ${ORVANE_APP_${APP}})
  target_include_directories(orvane_app_${app} PUBLIC ${ORVANE_FW_INCLUDES} ${CMAKE_SOURCE_DIR}/Drivers/hal/sim)
  target_compile_options(orvane_app_${app} PRIVATE ${ORVANE_WARNINGS} -fno-exceptions -fno-rtti)
  add_dependencies(orvane_app_${app} build_meta)
endforeach()
set(ORVANE_SIM_LIBS orvane_fw orvane_app_bench orvane_board)

# The receiving node (vantor/): ordinary host C++ on the frame codecs, SQLite and a JSON library;
# never the firmware's board code. Its radio on the simulated medium is a library of its own.
find_package(SQLite3 REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(CLI11 REQUIRED)
add_library(orvane_vantor STATIC
  vantor/faults.cpp vantor/settings.cpp vantor/uplink_decode.cpp vantor/sqlite_db.cpp vantor/registry.cpp
  vantor/vantor.cpp vantor/cli.cpp vantor/plots.cpp vantor/svg_chart.cpp vantor/fundamental_fit.cpp)
target_include_directories(orvane_vantor PUBLIC ${CMAKE_SOURCE_DIR}/vantor ${CMAKE_SOURCE_DIR}/field)
target_link_libraries(orvane_vantor PUBLIC orvane_frames SQLite::SQLite3 nlohmann_json::nlohmann_json CLI11::CLI11)
target_compile_options(orvane_vantor PRIVATE ${ORVANE_WARNINGS})

add_library(orvane_vantor_sim STATIC vantor/sim_endpoint.cpp vantor/sim_start.cpp)
target_link_libraries(orvane_vantor_sim PUBLIC orvane_vantor orvane_board)
target_compile_options(orvane_vantor_sim PRIVATE ${ORVANE_WARNINGS})

# orvane-sim runs the bench build, orvane-sim-field the field build, on the same simulated board.
add_executable(orvane-sim ${CMAKE_SOURCE_DIR}/sim/app/orvane_sim_main.cpp)
target_link_libraries(orvane-sim PRIVATE ${ORVANE_SIM_LIBS} orvane_vantor_sim)
target_compile_options(orvane-sim PRIVATE ${ORVANE_WARNINGS})
add_executable(orvane-sim-field ${CMAKE_SOURCE_DIR}/sim/app/orvane_sim_main.cpp)
target_link_libraries(orvane-sim-field PRIVATE orvane_fw orvane_app_field orvane_board orvane_vantor_sim)
target_compile_options(orvane-sim-field PRIVATE ${ORVANE_WARNINGS})

add_executable(vantor ${CMAKE_SOURCE_DIR}/vantor/app/vantor_main.cpp)
target_link_libraries(vantor PRIVATE orvane_vantor)
target_compile_options(vantor PRIVATE ${ORVANE_WARNINGS})

add_subdirectory(tests)
