# The program's source files, room by room, and the compiler flags every build of
# them uses, for the project itself and for the fuzz targets (fuzz/CMakeLists.txt),
# which include this file from their own project. The rooms stand on each other in
# this order, lowest first; no file includes from a room above its own
# (scripts/check_includes.py): base, input, model, measure, products, frame, night,
# driver.

set(tavrolin_core_sources
  ${CMAKE_CURRENT_LIST_DIR}/base/console.cpp
  ${CMAKE_CURRENT_LIST_DIR}/base/image_plane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/base/product_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/base/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/base/signals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/camera_facts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/configuration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/input_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/laserpath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/lossless_jpeg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/picture_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/pictures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/pgm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/raw_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/model/bayer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/model/levels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/model/lens.cpp
  ${CMAKE_CURRENT_LIST_DIR}/model/air.cpp
  ${CMAKE_CURRENT_LIST_DIR}/measure/beam_signal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/measure/beam_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/measure/sensor_noise.cpp
  ${CMAKE_CURRENT_LIST_DIR}/measure/uncertainty.cpp
  ${CMAKE_CURRENT_LIST_DIR}/measure/scattering.cpp
  ${CMAKE_CURRENT_LIST_DIR}/products/corrected_pgm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/products/data_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/products/table_columns.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame/frame_pipeline.cpp
)
# What only tavrolin-night uses: the master dark, the frame worker and its pool, the
# records, the combination, the plots and the command line (CLI11, nlohmann-json,
# libcrypto).
set(tavrolin_night_sources
  ${CMAKE_CURRENT_LIST_DIR}/night/master_dark.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_cleanup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_netcdf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_plots.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_profile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_record.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_run.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_times.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/quicklook.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/night_scattering.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/row_profile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/night/worker_pool.cpp
)
set(tavrolin_main_source ${CMAKE_CURRENT_LIST_DIR}/driver/tavrolin_CanonEOS6MarkII_fish_eye.cpp
                         ${CMAKE_CURRENT_LIST_DIR}/driver/keypress.cpp)
set(tavrolin_night_main_source ${CMAKE_CURRENT_LIST_DIR}/driver/tavrolin_night.cpp)
set(tavrolin_include_dir ${CMAKE_CURRENT_LIST_DIR})

# LibRaw decodes the camera's raw files (Debian: libraw-dev).
find_path(LIBRAW_INCLUDE_DIR libraw/libraw.h)
find_library(LIBRAW_LIBRARY raw)
if(NOT LIBRAW_INCLUDE_DIR OR NOT LIBRAW_LIBRARY)
  message(FATAL_ERROR "LibRaw not found: install the Debian package libraw-dev")
endif()
set(tavrolin_core_libraries ${LIBRAW_LIBRARY})

# Results must be reproducible to the last bit: no fused multiply-add, no fast-math.
# -fno-math-errno changes no result (nothing reads errno after a square root); it
# lets the per-pixel loops with a square root vectorise. TAVROLIN_WERROR (CI) makes
# every warning an error.
set(tavrolin_compile_options -Wall -Wextra -ffp-contract=off -fno-fast-math -fno-math-errno)
if(TAVROLIN_WERROR)
  list(APPEND tavrolin_compile_options -Werror)
endif()
