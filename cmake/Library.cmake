# The shared library KorvelPLNK: the export unit plus every folder's static part.
add_library(korvel_exports STATIC ${CMAKE_SOURCE_DIR}/driver/DLLMain.cpp)
korvel_warnings(korvel_exports)
target_link_libraries(korvel_exports PUBLIC korvel_protocol)
if(TARGET korvel_wizard AND TARGET korvel_tools)
  target_link_libraries(korvel_exports PUBLIC korvel_wizard korvel_tools)
else()
  # Without the window units the tools report "nothing changed".
  target_sources(korvel_exports PRIVATE ${CMAKE_SOURCE_DIR}/driver/DLLTools_none.cpp)
endif()

add_library(KorvelPLNK SHARED ${CMAKE_SOURCE_DIR}/driver/KorvelPLNK.cpp)
korvel_warnings(KorvelPLNK)
set_target_properties(KorvelPLNK PROPERTIES PREFIX "" OUTPUT_NAME KorvelPLNK
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# Whole archive: the exports live in a static library and must all reach the shared object.
target_link_libraries(KorvelPLNK PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,korvel_exports>")
if(WIN32)
  # The .def file names the fifteen exports without their @N decoration; the resource carries
  # the version information the vocabulary is read from.
  include(${CMAKE_SOURCE_DIR}/cmake/VersionResource.cmake)
  korvel_write_version_rc(${CMAKE_BINARY_DIR}/generated/KorvelPLNK.rc)
  target_sources(KorvelPLNK PRIVATE ${CMAKE_SOURCE_DIR}/cmake/KorvelPLNK.def
                                    ${CMAKE_BINARY_DIR}/generated/KorvelPLNK.rc)
  set_target_properties(KorvelPLNK PROPERTIES PREFIX "" IMPORT_PREFIX "" SUFFIX ".dll")
else()
  # Only the fifteen exports leave the library.
  target_link_options(KorvelPLNK PRIVATE -Wl,--no-undefined -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/KorvelPLNK.map)
  set_property(TARGET KorvelPLNK APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/KorvelPLNK.map)
endif()
