# The packages: on Windows a zip, on Linux a Debian package.
#
# The zip: `cmake --preset windows-package && cmake --build --preset
# windows-package` (no tests, so no GoogleTest or Python needed), or the
# package target of the mingw build, makes taletab-<version>-win64.zip. Its
# files stand at its top, so that Explorer's すべて展開 makes one folder
# of its name holding them: the stripped, statically linked program, the
# browser page taletab.html (built with Emscripten in a build of its own,
# browser-page/), LICENSE.txt, the example script and README_ja.txt, a guide
# in Japanese (UTF-8 with a byte order mark and CR LF, which Notepad shows
# right on any Windows).
#
# The Debian package: cpack -G DEB in the build folder makes
# taletab_<version>-<revision>_<arch>.deb, on which lintian reports nothing:
# no error, no warning, no informational tag (the package test checks this).
# cmake/debian/ holds its Debian files: the changelog, whose latest entry
# gives the package's version, and lintian-overrides, which lists each tag
# that stays on purpose with its reason; finish_tree.cmake adds them, the
# copyright file and the compressed manual page to the package's tree.

set(CPACK_PACKAGE_NAME taletab)
set(CPACK_PACKAGE_VENDOR "The taletab developers")
set(CPACK_PACKAGE_CONTACT "The taletab developers <taletab@example.org>")  # the Maintainer field
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert Shift-JIS script files into HTML pages")
set(CPACK_PACKAGE_DESCRIPTION
    "taletab reads a Japanese script file (Shift-JIS text; each line a character's
name, a TAB and the line's text; lines without a TAB are headings) and writes
an HTML page that shows the script as one two-column table, ready to publish
once its two placeholders, the author's name and e-mail address, are filled in.")

set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(TALETAB_EMSCRIPTEN_TOOLCHAIN /usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
      CACHE FILEPATH "Emscripten's toolchain file, for the browser page in the zip")
  set(page_default OFF)
  if(EXISTS ${TALETAB_EMSCRIPTEN_TOOLCHAIN})
    set(page_default ON)
  endif()
  option(TALETAB_BROWSER_PAGE "Put the browser page in the zip (needs Emscripten)" ${page_default})
  if(TALETAB_BROWSER_PAGE)
    if(NOT EXISTS ${TALETAB_EMSCRIPTEN_TOOLCHAIN})
      message(FATAL_ERROR "TALETAB_BROWSER_PAGE needs Emscripten: ${TALETAB_EMSCRIPTEN_TOOLCHAIN} not found")
    endif()
    # Debian's Emscripten finds its node modules only on NODE_PATH, as the web preset sets it.
    set(with_node_path ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs ${CMAKE_COMMAND})
    include(ExternalProject)
    ExternalProject_Add(browser_page
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${PROJECT_BINARY_DIR}/browser-page
      CMAKE_COMMAND ${with_node_path}
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${TALETAB_EMSCRIPTEN_TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
      BUILD_COMMAND ${with_node_path} --build <BINARY_DIR> --target taletab_page
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON)
    install(FILES ${PROJECT_BINARY_DIR}/browser-page/taletab.html DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME taletab-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  include(CPack)
  return()
endif()

# The package's version is the changelog's latest entry, which must be of
# this release of the program.
set(changelog ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} latest_entry LIMIT_COUNT 1)
if(NOT latest_entry MATCHES "^taletab \\(${PROJECT_VERSION}-([0-9]+)\\) ")
  message(FATAL_ERROR "cmake/debian/changelog: the latest entry is not of taletab ${PROJECT_VERSION}: ${latest_entry}")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_1})

set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package as shipped holds a static program, which depends on no other
# package. Any other build (a sanitized one, say) names the packages of the
# libraries it needs.
if(NOT TALETAB_LINKED_STATICALLY)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/finish_tree.cmake)
set(CPACK_TALETAB_DEBIAN_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)
set(CPACK_TALETAB_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_TALETAB_STRIP ${CMAKE_STRIP})
include(CPack)
