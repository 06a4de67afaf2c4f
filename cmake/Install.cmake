# Install rules and packages: `cmake --install` into any prefix, `cpack` for the Debian package
# (the Windows build makes a zip instead). Layout variables come from the top-level CMakeLists.

# ---- Linux / POSIX install --------------------------------------------------------------------
if(NOT WIN32)
  install(TARGETS KorvelPLNK LIBRARY DESTINATION ${KORVEL_INSTALL_PKGLIBDIR})
  if(TARGET korvel_qt)
    # The library loads its window backend from its own directory.
    install(TARGETS korvel_qt LIBRARY DESTINATION ${KORVEL_INSTALL_PKGLIBDIR})
  endif()
  install(FILES driver/KorvelPLNK.h driver/records.h driver/PDB.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvelplnk)
  foreach(tool korvel-poll korvel-pdb korvel-sim)
    if(TARGET ${tool})
      install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
  set(KORVEL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/korvelplnk)
  install(FILES README.md DESTINATION ${KORVEL_INSTALL_DOCDIR})
  if(EXISTS ${CMAKE_SOURCE_DIR}/docs)
    install(DIRECTORY docs/ DESTINATION ${KORVEL_INSTALL_DOCDIR})
  endif()

  # The Python binding finds the installed library through a path relative to its package,
  # so the same files work under any prefix.
  if(EXISTS ${CMAKE_SOURCE_DIR}/python/korvelplnk)
    file(RELATIVE_PATH KORVEL_PY_TO_LIB /prefix/${KORVEL_INSTALL_PYTHONDIR}/korvelplnk
         /prefix/${KORVEL_INSTALL_PKGLIBDIR}/KorvelPLNK.so)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/python_location.py.in
                   ${CMAKE_BINARY_DIR}/python/korvelplnk/_location.py @ONLY)
    install(DIRECTORY python/korvelplnk DESTINATION ${KORVEL_INSTALL_PYTHONDIR}
            PATTERN "__pycache__" EXCLUDE PATTERN "_location.py" EXCLUDE)
    install(FILES ${CMAKE_BINARY_DIR}/python/korvelplnk/_location.py
            DESTINATION ${KORVEL_INSTALL_PYTHONDIR}/korvelplnk)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME korvelplnk)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # Run-time dependencies from the shared objects (C and C++ run-time, Qt for the window backend).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

# ---- Windows zip ------------------------------------------------------------------------------
# The 32-bit DLL build (i686 MinGW) ships a flat zip: the DLL, its header, the .def file, an import
# library and the README. The .def file is the one the DLL build links with.
if(WIN32)
  install(TARGETS KorvelPLNK RUNTIME DESTINATION . ARCHIVE DESTINATION . LIBRARY DESTINATION .)
  install(FILES driver/KorvelPLNK.h README.md DESTINATION .)
  if(EXISTS ${CMAKE_SOURCE_DIR}/cmake/KorvelPLNK.def)
    install(FILES cmake/KorvelPLNK.def DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME KorvelPLNK)
  set(CPACK_PACKAGE_FILE_NAME KorvelPLNK-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()

# ---- Package metadata (both) ------------------------------------------------------------------
set(CPACK_PACKAGE_VENDOR "KorvelPLNK")
set(CPACK_PACKAGE_CONTACT "KorvelPLNK maintainers <korvelplnk@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial driver library for NX4400 I/O modules, with tools and a Python binding")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Packages carry the binaries without their debugging information.
set(CPACK_STRIP_FILES ON)
include(CPack)
