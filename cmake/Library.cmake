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
  set(def ${CMAKE_SOURCE_DIR}/cmake/KorvelPLNK.def)
  target_sources(KorvelPLNK PRIVATE ${def} ${CMAKE_BINARY_DIR}/generated/KorvelPLNK.rc)
  target_link_options(KorvelPLNK PRIVATE -Wl,--kill-at)
  set_target_properties(KorvelPLNK PROPERTIES PREFIX "" IMPORT_PREFIX "" SUFFIX ".dll")
  # The linker's own import library names the exports undecorated, which no caller of the
  # __stdcall header references: it is replaced by dlltool's, made from the decorated names with
  # -k (symbols GetPDBLen@0 ..., imported by the DLL's undecorated names). llvm-dlltool makes the
  # same in Microsoft's short import format (KorvelPLNK.lib) for Microsoft's linker.
  if(NOT CMAKE_DLLTOOL)
    find_program(CMAKE_DLLTOOL NAMES ${KORVEL_MINGW_PREFIX}-dlltool dlltool REQUIRED)
  endif()
  add_custom_command(TARGET KorvelPLNK POST_BUILD
                     COMMAND ${CMAKE_DLLTOOL} -d ${def} -k -l $<TARGET_LINKER_FILE:KorvelPLNK>
                     COMMENT "Import library for the __stdcall names")
  find_program(KORVEL_LLVM_DLLTOOL NAMES llvm-dlltool)
  if(KORVEL_LLVM_DLLTOOL)
    set(KORVEL_MSVC_IMPLIB ${CMAKE_BINARY_DIR}/KorvelPLNK.lib)
    add_custom_command(TARGET KorvelPLNK POST_BUILD
                       COMMAND ${KORVEL_LLVM_DLLTOOL} -m i386 -d ${def} -k -l ${KORVEL_MSVC_IMPLIB})
  else()
    korvel_missing("llvm-dlltool (Debian package llvm)" "no KorvelPLNK.lib for Microsoft's linker")
  endif()
else()
  # Only the fifteen exports leave the library.
  target_link_options(KorvelPLNK PRIVATE -Wl,--no-undefined -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/KorvelPLNK.map)
  set_property(TARGET KorvelPLNK APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/KorvelPLNK.map)
endif()
