# Installs the files of KEEP_SOURCE below KEEP_DESTINATION, leaving every file
# that already exists there as it is.
file(GLOB_RECURSE files RELATIVE "${KEEP_SOURCE}" "${KEEP_SOURCE}/*")
foreach(file IN LISTS files)
  set(target "$ENV{DESTDIR}${KEEP_DESTINATION}/${file}")
  if(EXISTS "${target}")
    message(STATUS "Kept: ${target}")
  else()
    get_filename_component(directory "${KEEP_DESTINATION}/${file}" DIRECTORY)
    file(INSTALL "${KEEP_SOURCE}/${file}" DESTINATION "${directory}")
  endif()
endforeach()
