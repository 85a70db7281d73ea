# Run by cpack once the install rules have filled the package's tree: adds
# what Debian's policy asks of every package beyond the installed files.
# The variables come from cmake/packaging.cmake through CPackConfig.cmake.
set(tree "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(doc "${tree}/usr/share/doc/${CPACK_PACKAGE_NAME}")
set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(searchable ${readable} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)

# gzip -9n: best compression, no name or time in the header, so that the
# same sources give the same package.
function(gzip_in_place file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip -9n ${file} failed")
  endif()
endfunction()

file(GLOB manual_pages "${tree}/usr/share/man/man*/*")
foreach(page IN LISTS manual_pages)
  gzip_in_place("${page}")
endforeach()

# Strip keeps the compilers' version strings (.comment) and a .note section;
# Debian's own packages drop them.
execute_process(COMMAND "${CPACK_TALETAB_STRIP}" --remove-section=.comment --remove-section=.note
                        "${tree}/usr/bin/${CPACK_PACKAGE_NAME}"
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "stripping usr/bin/${CPACK_PACKAGE_NAME} failed")
endif()

# The copyright file in Debian's machine-readable format, its notice and
# licence text taken from the project's LICENSE (MIT, which Debian calls Expat).
file(READ "${CPACK_TALETAB_SOURCE_DIR}/LICENSE" license)
if(NOT license MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE is no longer the MIT licence this script knows")
endif()
set(holders "${CMAKE_MATCH_1}")
string(REPLACE "\n\n" "\n.\n" text "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " text " ${text}")
file(MAKE_DIRECTORY "${doc}")
file(WRITE "${doc}/copyright"
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: ${CPACK_PACKAGE_NAME}\n"
     "\n"
     "Files: *\n"
     "Copyright: ${holders}\n"
     "License: Expat\n"
     "${text}\n")

configure_file("${CPACK_TALETAB_DEBIAN_DIR}/changelog" "${doc}/changelog.Debian" COPYONLY)
gzip_in_place("${doc}/changelog.Debian")

set(overrides "${tree}/usr/share/lintian/overrides")
file(MAKE_DIRECTORY "${overrides}")
configure_file("${CPACK_TALETAB_DEBIAN_DIR}/lintian-overrides" "${overrides}/${CPACK_PACKAGE_NAME}" COPYONLY)

# Whatever the umask of the machine that packs: files 0644, folders 0755.
file(GLOB_RECURSE added LIST_DIRECTORIES true "${tree}/usr/share/*")
foreach(path IN LISTS added)
  if(IS_DIRECTORY "${path}")
    file(CHMOD "${path}" PERMISSIONS ${searchable})
  else()
    file(CHMOD "${path}" PERMISSIONS ${readable})
  endif()
endforeach()
