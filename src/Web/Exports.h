// The functions the browser module (web/quillpack-operations.js) calls in the WebAssembly build. Each
// works on dictionary and image files the module has written into Emscripten's in-memory file
// system, runs the library as the command line's mode of the same name does, and returns 0 on success
// or 1 after printing the reason to standard error exactly as the command line does (the module turns
// those lines into the message of the Error it throws). Compiled only for the web build.
#pragma once

#include <cstdint>

extern "C" {

// --add: the image (and the optional alpha image, "" for none) into the archive, created when the
// path does not exist; a texture of the same name is replaced where it stands. An empty name or mask
// name is made from the image's file name as --add makes it. `format` is 0 DXT1,
// 1 DXT3, 2 32-bit, 3 palettised, or -1 for --add's default (DXT1, DXT3 for a texture with alpha).
int quillpack_add(const char* archive, const char* image, const char* name, const char* alpha,
                  const char* maskName, int format, int mipMaps, int dither);
// The texture at `index`, or when `index` is negative the first whose name matches `name` as --add
// matches names, is taken out of the archive or renamed; the other records stay byte for byte.
int quillpack_remove(const char* archive, const char* name, int index);
int quillpack_rename(const char* archive, const char* name, int index, const char* newName);
// --list's header and lines, on standard output.
int quillpack_list(const char* archive);
// One level of one texture as --extract decodes it. The archive stays loaded until another path is
// named or quillpack_close is called, so that showing every texture reads the file once.
int quillpack_extract(const char* archive, int index, int level);
const std::uint8_t* quillpack_pixels();
// The file name --extract gives the texture of the last extract, without ".png".
const char* quillpack_pixels_stem();
std::uint32_t quillpack_pixels_width();
std::uint32_t quillpack_pixels_height();
// The last extracted pixels as the PNG file --extract writes for them.
int quillpack_write_png(const char* path);
void quillpack_close();
// The file name --extract gives a texture of this name, without ".png".
const char* quillpack_safe_file_stem(const char* name);
}
