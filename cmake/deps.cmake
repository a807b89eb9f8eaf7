# zlib from Debian's mingw package; minizip compiled from the distribution's
# zlib source, unpacked by scripts/minizip.sh.
find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
find_path(ZLIB_INCLUDE zlib.h REQUIRED)

set(MINIZIP_SOURCE_DIR "" CACHE PATH "contrib/minizip of the zlib source package")
if(NOT EXISTS ${MINIZIP_SOURCE_DIR}/unzip.c)
  message(FATAL_ERROR "minizip source not found in '${MINIZIP_SOURCE_DIR}': run scripts/minizip.sh")
endif()
add_library(minizip STATIC
  ${MINIZIP_SOURCE_DIR}/unzip.c
  ${MINIZIP_SOURCE_DIR}/zip.c
  ${MINIZIP_SOURCE_DIR}/ioapi.c
  ${MINIZIP_SOURCE_DIR}/iowin32.c)
target_include_directories(minizip SYSTEM PUBLIC ${MINIZIP_SOURCE_DIR} ${ZLIB_INCLUDE})
target_compile_options(minizip PRIVATE -w -ffunction-sections)
target_link_libraries(minizip PUBLIC ${ZLIB_STATIC})
