# Run at install time: links the program's font to the system's copy (LUMIKEY_FONT).
# The link is relative when both sit under the same top-level folder (/usr), as Debian wants,
# so it still points right inside a staging DESTDIR and names no absolute path; otherwise it
# is absolute.
set(_dir "${CMAKE_INSTALL_PREFIX}/share/lumikey/assets/fonts")
set(_target "${LUMIKEY_FONT}")
string(REGEX MATCH "^/[^/]*" _font_top "${LUMIKEY_FONT}")
string(REGEX MATCH "^/[^/]*" _dir_top "${_dir}")
if(_font_top STREQUAL _dir_top)
  file(RELATIVE_PATH _target "${_dir}" "${LUMIKEY_FONT}")
endif()
file(MAKE_DIRECTORY "$ENV{DESTDIR}${_dir}")
message(STATUS "Installing: $ENV{DESTDIR}${_dir}/DejaVuSans.ttf -> ${_target}")
file(CREATE_LINK "${_target}" "$ENV{DESTDIR}${_dir}/DejaVuSans.ttf" SYMBOLIC)
