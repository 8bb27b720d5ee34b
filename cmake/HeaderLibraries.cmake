# CLI11 and nlohmann/json, header-only, from Debian's libcli11-dev and nlohmann-json3-dev.
# The MinGW compilers must not see the rest of /usr/include (glibc's headers), so they get
# a folder of their own in the build tree that links to just these two.
set(ZORVANE_HEADER_ROOT /usr/include CACHE PATH "Where CLI/ and nlohmann/ are installed")
foreach(library CLI nlohmann)
  if(NOT EXISTS ${ZORVANE_HEADER_ROOT}/${library})
    message(FATAL_ERROR "${ZORVANE_HEADER_ROOT}/${library} is missing: run scripts/setup.sh")
  endif()
endforeach()

add_library(zorvane_header_libraries INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(folder ${CMAKE_BINARY_DIR}/header-libraries)
  file(MAKE_DIRECTORY ${folder})
  foreach(library CLI nlohmann)
    file(CREATE_LINK ${ZORVANE_HEADER_ROOT}/${library} ${folder}/${library} SYMBOLIC)
  endforeach()
  target_include_directories(zorvane_header_libraries SYSTEM INTERFACE ${folder})
else()
  target_include_directories(zorvane_header_libraries SYSTEM INTERFACE ${ZORVANE_HEADER_ROOT})
endif()
