# The program's source files and the compiler flags every build of them uses, for
# the project itself and for the fuzz targets (fuzz/CMakeLists.txt), which include
# this file from their own project.

set(tavrolin_core_sources
  ${CMAKE_CURRENT_LIST_DIR}/driver/console.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver/keypress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver/signals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/input_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/laserpath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/picture_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/pgm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input/raw_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/model/bayer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/model/levels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/model/lens.cpp
  ${CMAKE_CURRENT_LIST_DIR}/products/output_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/products/corrected_pgm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/products/beam_signal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/products/data_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/products/uncertainty.cpp
)
set(tavrolin_main_source ${CMAKE_CURRENT_LIST_DIR}/driver/tavrolin_CanonEOS6MarkII_fish_eye.cpp)
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
# lets the per-pixel loops with a square root vectorise.
set(tavrolin_compile_options -Wall -Wextra -ffp-contract=off -fno-fast-math -fno-math-errno)
