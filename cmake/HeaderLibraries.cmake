# CLI11, nlohmann/json and Boost (for Asio), header-only, from Debian's libcli11-dev,
# nlohmann-json3-dev and libboost-dev. The MinGW compilers must not see the rest of
# /usr/include (glibc's headers), so they get a folder of their own in the build tree that
# links to just these.
set(ZORVANE_HEADER_ROOT /usr/include CACHE PATH "Where CLI/, nlohmann/ and boost/ are installed")
set(header_libraries CLI nlohmann boost)
foreach(library ${header_libraries})
  if(NOT EXISTS ${ZORVANE_HEADER_ROOT}/${library})
    message(FATAL_ERROR "${ZORVANE_HEADER_ROOT}/${library} is missing: run scripts/setup.sh")
  endif()
endforeach()

add_library(zorvane_header_libraries INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(folder ${CMAKE_BINARY_DIR}/header-libraries)
  file(MAKE_DIRECTORY ${folder})
  foreach(library ${header_libraries})
    file(CREATE_LINK ${ZORVANE_HEADER_ROOT}/${library} ${folder}/${library} SYMBOLIC)
  endforeach()
  target_include_directories(zorvane_header_libraries SYSTEM INTERFACE ${folder})
else()
  target_include_directories(zorvane_header_libraries SYSTEM INTERFACE ${ZORVANE_HEADER_ROOT})
endif()

# Boost.Asio, for the server's event loop. Only the .cpp files that need it include it: one
# such file costs seconds of compilation. Its compiled parts are built once, in
# net/AsioLibrary.cpp, not in each of them.
add_library(zorvane_asio INTERFACE)
target_link_libraries(zorvane_asio INTERFACE zorvane_header_libraries)
target_compile_definitions(zorvane_asio INTERFACE BOOST_ASIO_NO_DEPRECATED BOOST_ASIO_SEPARATE_COMPILATION)
if(WIN32)
  target_compile_definitions(zorvane_asio INTERFACE _WIN32_WINNT=0x0601)  # Windows 7 and later
  target_link_libraries(zorvane_asio INTERFACE ws2_32 mswsock)
endif()
