# Each room's headers are included with their folder ("link/Exchange.h"). A room's library
# publishes only its own folder, through a folder of links in the build tree, so an include
# from a room that does not link that library fails to build: the arrows between rooms are
# the ones the libraries' links allow, and no other.
function(zorvane_room_headers target room)
  set(folder ${CMAKE_BINARY_DIR}/rooms/${room})
  file(MAKE_DIRECTORY ${folder})
  if(NOT EXISTS ${folder}/${room})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${room} ${folder}/${room} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${folder})
endfunction()
