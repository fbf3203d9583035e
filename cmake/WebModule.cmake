# The WebAssembly module for the browser (scripts/build-web): the library and the functions of
# src/Web, as an ES module factory (createEngine) that the worker and web/quillpack.js load. The
# module fetches nothing itself: the caller hands it the compiled quillpack.wasm, so the same glue
# runs in a page, a worker and node. Exceptions stay off (a failed allocation aborts the module,
# which the caller then starts again); memory grows up to 2 GiB, enough for the largest image the
# library takes in.
file(GLOB QUILLPACK_WEB_SOURCES CONFIGURE_DEPENDS src/Web/*.cpp)
add_executable(quillpack_web ${QUILLPACK_WEB_SOURCES})
set_target_properties(quillpack_web PROPERTIES OUTPUT_NAME quillpack-engine SUFFIX .js)
target_compile_options(quillpack_web PRIVATE -Wall -Wextra $<$<BOOL:${QUILLPACK_WERROR}>:-Werror>)
target_link_libraries(quillpack_web PRIVATE quillpack_core)
set(QUILLPACK_WEB_EXPORTS
    quillpack_add quillpack_remove quillpack_rename quillpack_list quillpack_extract quillpack_pixels
    quillpack_pixels_stem quillpack_pixels_width quillpack_pixels_height quillpack_write_png quillpack_close
    quillpack_safe_file_stem)
list(TRANSFORM QUILLPACK_WEB_EXPORTS PREPEND _)
string(REPLACE ";" "," QUILLPACK_WEB_EXPORTS "${QUILLPACK_WEB_EXPORTS}")
target_link_options(quillpack_web PRIVATE
  -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createEngine -sENVIRONMENT=web,worker
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=32MB -sMAXIMUM_MEMORY=2GB -sFILESYSTEM=1
  -sEXPORTED_FUNCTIONS=${QUILLPACK_WEB_EXPORTS} -sEXPORTED_RUNTIME_METHODS=FS,ccall,UTF8ToString
  -sINCOMING_MODULE_JS_API=print,printErr,instantiateWasm,onAbort)
