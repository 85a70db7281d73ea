# Puts the page together: page.html with the worker's script (the module,
# convert.js and worker.js), the page's own script (page.js), the example
# script (in hexadecimal), the version and the licence in place of its markers.
# Run as: cmake -DSOURCE=web -DMODULE=... -DVERSION=... -DOUTPUT=... -P assemble_page.cmake
cmake_minimum_required(VERSION 3.21)  # @NAME@ in quotes stays as it is
file(READ ${SOURCE}/page.html page)
file(READ ${MODULE} module)
file(READ ${SOURCE}/convert.js convert)
file(READ ${SOURCE}/worker.js worker)
file(READ ${SOURCE}/page.js page_script)
set(worker_script "${module}\n${convert}\n${worker}")
# Inside a script element these would end it early, or change how it ends.
foreach(part worker_script page_script)
  string(TOLOWER "${${part}}" lower)
  foreach(bad "</script" "<!--")
    string(FIND "${lower}" "${bad}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${part} holds ${bad}, which would break the page")
    endif()
  endforeach()
endforeach()
file(READ ${SOURCE}/../examples/scene.txt example HEX)
file(READ ${SOURCE}/../LICENSE licence)
string(REPLACE "&" "&amp;" licence "${licence}")
string(REPLACE "<" "&lt;" licence "${licence}")
string(REPLACE ">" "&gt;" licence "${licence}")
string(REPLACE "@WORKER_SCRIPT@" "${worker_script}" page "${page}")
string(REPLACE "@EXAMPLE@" "${example}" page "${page}")
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@LICENCE@" "${licence}" page "${page}")
string(REPLACE "@PAGE_SCRIPT@" "${page_script}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
