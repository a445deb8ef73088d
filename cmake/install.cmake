# The device layout: fieldgate finds every file of the service in its fixed
# directory, so the program, the OPC UA library and the web folder go there.
# `cmake --install` honours DESTDIR for packaging.
set(FIELDGATE_DIR /etc/fieldgated)

install(TARGETS fieldgate RUNTIME DESTINATION ${FIELDGATE_DIR})
install(TARGETS tagserve LIBRARY DESTINATION ${FIELDGATE_DIR})

# The web folder is the user's to change (it can be uploaded), so an install
# over a running device adds missing files and keeps the ones that are there.
install(CODE "set(KEEP_SOURCE \"${CMAKE_SOURCE_DIR}/examples/web\")
              set(KEEP_DESTINATION \"${FIELDGATE_DIR}/web\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install_keep.cmake)
