# The named dependencies beside zlib, as two targets every folder can link:
#   kbl_jpeg     libjpeg (the class library's JPEG picture and the image library's TIFF JPEG strips)
#   kbl_minizip  zlib's minizip zip writer (the report's zip attachments), with zlib after it
# Debian has neither for mingw, so tools/build-deps.sh builds them from Debian's source packages
# into build/deps once (minizip for the native configuration too, Debian's own being an older
# minizip); every configure runs it, and it returns at once when they are there. Natively libjpeg
# is Debian's package.
set(KBL_DEPS_DIR ${PROJECT_SOURCE_DIR}/build/deps CACHE PATH "Where tools/build-deps.sh builds libjpeg and minizip")
set(ENV{KBL_DEPS_DIR} ${KBL_DEPS_DIR})
execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tools/build-deps.sh RESULT_VARIABLE deps_result)
if(NOT deps_result EQUAL 0)
  message(FATAL_ERROR "tools/build-deps.sh could not build libjpeg and minizip")
endif()

add_library(kbl_jpeg INTERFACE)
add_library(kbl_minizip INTERFACE)
if(WIN32)
  set(prefix ${KBL_DEPS_DIR}/i686-w64-mingw32)
  target_include_directories(kbl_jpeg SYSTEM INTERFACE ${prefix}/include)
  target_link_libraries(kbl_jpeg INTERFACE ${prefix}/lib/libjpeg.a)
  # -static links zlib's archive, never zlib1.dll.
  set(zlib z)
else()
  set(prefix ${KBL_DEPS_DIR}/native)
  find_package(JPEG REQUIRED)
  target_link_libraries(kbl_jpeg INTERFACE JPEG::JPEG)
  find_package(ZLIB REQUIRED)
  set(zlib ZLIB::ZLIB)
endif()
target_include_directories(kbl_minizip SYSTEM INTERFACE ${prefix}/include)
target_link_libraries(kbl_minizip INTERFACE ${prefix}/lib/libminizip.a ${zlib})
