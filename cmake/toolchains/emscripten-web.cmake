# WebAssembly build with Debian's Emscripten. QUILLPACK_WEB_PREFIX names the folder where
# scripts/build-web installs the libraries built for the web; they are found there and nowhere else.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

if(NOT QUILLPACK_WEB_PREFIX AND DEFINED ENV{QUILLPACK_WEB_PREFIX})
  set(QUILLPACK_WEB_PREFIX $ENV{QUILLPACK_WEB_PREFIX})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLPACK_WEB_PREFIX)
if(QUILLPACK_WEB_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${QUILLPACK_WEB_PREFIX})
  set(ENV{PKG_CONFIG_LIBDIR} "${QUILLPACK_WEB_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
endif()
