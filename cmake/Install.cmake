# Install rules and packages: `cmake --install` into any prefix, `cpack` for the Debian package
# (the Windows build makes a zip instead). Layout variables come from the top-level CMakeLists.

# ---- Linux / POSIX install --------------------------------------------------------------------
# Every rule names its component: each component is one Debian package (see "Debian packages").
if(NOT WIN32)
  set(pkg ${CMAKE_CURRENT_LIST_DIR}/package)
  install(TARGETS KorvelPLNK EXPORT KorvelPLNKTargets LIBRARY DESTINATION ${KORVEL_INSTALL_PKGLIBDIR}
          COMPONENT main INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvelplnk)
  if(TARGET korvel_qt)
    # The library loads its window backend from its own directory.
    install(TARGETS korvel_qt LIBRARY DESTINATION ${KORVEL_INSTALL_PKGLIBDIR} COMPONENT qt)
  endif()
  install(FILES exports/KorvelPLNK.h driver/records.h driver/PDB.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvelplnk COMPONENT main)
  set(KORVEL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/korvelplnk)
  install(FILES README.md DESTINATION ${KORVEL_INSTALL_DOCDIR} COMPONENT main)
  if(EXISTS ${CMAKE_SOURCE_DIR}/docs)
    install(DIRECTORY docs/ DESTINATION ${KORVEL_INSTALL_DOCDIR} COMPONENT main)
  endif()

  # The manual pages, from man/: the options of each tool's page come from its --help, the
  # library's page from the contracts in its header.
  find_program(KORVEL_GZIP gzip)
  function(korvel_man name section component)
    cmake_parse_arguments(man "" "TOOL" "" ${ARGN})
    set(page ${CMAKE_BINARY_DIR}/man/${name}.${section})
    set(out ${page})
    if(KORVEL_GZIP)
      set(out ${page}.gz)
    endif()
    set(source ${CMAKE_SOURCE_DIR}/man/${name}.${section}.in)
    set(tool "")
    set(depends ${source} ${CMAKE_SOURCE_DIR}/cmake/package/manpage.cmake)
    if(man_TOOL)
      set(tool -DTOOL=$<TARGET_FILE:${man_TOOL}>)
      list(APPEND depends ${man_TOOL})
    endif()
    add_custom_command(OUTPUT ${out}
                       COMMAND ${CMAKE_COMMAND} -DPAGE=${source} ${tool} -DHEADER=${CMAKE_SOURCE_DIR}/exports/KorvelPLNK.h
                               -DVERSION=${PROJECT_VERSION} -DOUT=${page} -DGZIP=${KORVEL_GZIP}
                               -P ${CMAKE_SOURCE_DIR}/cmake/package/manpage.cmake
                       DEPENDS ${depends} ${CMAKE_SOURCE_DIR}/exports/KorvelPLNK.h VERBATIM)
    add_custom_target(${name}_${section}_man ALL DEPENDS ${out})
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  endfunction()
  function(korvel_tool tool component section)
    if(NOT TARGET ${tool})
      return()
    endif()
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
    korvel_man(${tool} ${section} ${component} TOOL ${tool})
  endfunction()
  korvel_man(KorvelPLNK 3 main)
  korvel_tool(korvel-poll main 1)
  korvel_tool(korvel-pdb main 1)
  korvel_tool(korvel-sim main 1)
  # The gateway has a package of its own: its MQTT and TOML libraries stay off the library's users.
  korvel_tool(korvel-gateway gateway 8)
  if(TARGET korvel-gateway)
    korvel_man(korvel-gateway.toml 5 gateway)
    install(FILES gateway/korvel-gateway.service DESTINATION lib/systemd/system COMPONENT gateway)
    install(FILES gateway/gateway.toml.example DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/korvel-gateway
            COMPONENT gateway)
  endif()

  # The Python binding finds the installed library through a path relative to its package,
  # so the same files work under any prefix.
  if(EXISTS ${CMAKE_SOURCE_DIR}/python/korvelplnk)
    file(RELATIVE_PATH KORVEL_PY_TO_LIB /prefix/${KORVEL_INSTALL_PYTHONDIR}/korvelplnk
         /prefix/${KORVEL_INSTALL_PKGLIBDIR}/KorvelPLNK.so)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/python_location.py.in
                   ${CMAKE_BINARY_DIR}/python/korvelplnk/_location.py @ONLY)
    install(DIRECTORY python/korvelplnk DESTINATION ${KORVEL_INSTALL_PYTHONDIR} COMPONENT main
            PATTERN "__pycache__" EXCLUDE PATTERN "_location.py" EXCLUDE)
    install(FILES ${CMAKE_BINARY_DIR}/python/korvelplnk/_location.py
            DESTINATION ${KORVEL_INSTALL_PYTHONDIR}/korvelplnk COMPONENT main)
    # For a virtual environment or another interpreter: a directory that holds the binding alone
    # (a link to it), which a .pth file of that interpreter can name without bringing in the
    # system's other Python packages.
    set(korvel_pydir_private ${CMAKE_INSTALL_DATADIR}/korvelplnk/python)
    file(RELATIVE_PATH korvel_py_link /prefix/${korvel_pydir_private} /prefix/${KORVEL_INSTALL_PYTHONDIR}/korvelplnk)
    install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${korvel_pydir_private}\")
                  file(CREATE_LINK ${korvel_py_link} \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${korvel_pydir_private}/korvelplnk\" SYMBOLIC)"
            COMPONENT main)
  endif()

  # Hosts built against the library: pkg-config (relocatable through ${pcfiledir}) and a CMake
  # package with the imported target KorvelPLNK::KorvelPLNK.
  file(RELATIVE_PATH KORVEL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" KORVEL_PC_TO_PREFIX "${KORVEL_PC_TO_PREFIX}")
  configure_file(${pkg}/korvelplnk.pc.in ${CMAKE_BINARY_DIR}/package/korvelplnk.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/package/korvelplnk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT main)
  include(CMakePackageConfigHelpers)
  set(korvel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/KorvelPLNK)
  configure_package_config_file(${pkg}/KorvelPLNKConfig.cmake.in ${CMAKE_BINARY_DIR}/package/KorvelPLNKConfig.cmake
                                INSTALL_DESTINATION ${korvel_cmake_dir})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/KorvelPLNKConfigVersion.cmake
                                   COMPATIBILITY SameMajorVersion)
  install(EXPORT KorvelPLNKTargets NAMESPACE KorvelPLNK:: DESTINATION ${korvel_cmake_dir} COMPONENT main)
  install(FILES ${CMAKE_BINARY_DIR}/package/KorvelPLNKConfig.cmake
                ${CMAKE_BINARY_DIR}/package/KorvelPLNKConfigVersion.cmake
          DESTINATION ${korvel_cmake_dir} COMPONENT main)

  # ---- Debian packages: one per component ----
  # korvel_deb_component(COMPONENT PACKAGE SUMMARY [DEPENDS ...] [RECOMMENDS ...]) makes COMPONENT
  # the package PACKAGE with its own copyright and changelog; a further package (a gateway, say) is
  # one more call below. Run-time dependencies come from the package's shared objects.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL "")
  set(korvel_changelog ${CMAKE_BINARY_DIR}/package/changelog.gz)
  if(KORVEL_GZIP)
    add_custom_command(OUTPUT ${korvel_changelog}
                       COMMAND ${CMAKE_COMMAND} -E copy ${pkg}/changelog ${CMAKE_BINARY_DIR}/package/changelog
                       COMMAND ${KORVEL_GZIP} -9nf ${CMAKE_BINARY_DIR}/package/changelog
                       DEPENDS ${pkg}/changelog VERBATIM)
    add_custom_target(korvel_changelog ALL DEPENDS ${korvel_changelog})
  else()
    set(korvel_changelog ${pkg}/changelog)
  endif()
  macro(korvel_deb_component component package summary)
    cmake_parse_arguments(deb "" "" "DEPENDS;RECOMMENDS" ${ARGN})
    string(TOUPPER ${component} up)
    list(APPEND CPACK_COMPONENTS_ALL ${component})
    set(CPACK_DEBIAN_${up}_PACKAGE_NAME ${package})
    set(CPACK_DEBIAN_${up}_FILE_NAME DEB-DEFAULT)
    set(CPACK_COMPONENT_${up}_DESCRIPTION "${summary}")
    # Its own synopsis (the description's first line); without it each package has the library's.
    set(CPACK_DEBIAN_${up}_DESCRIPTION
        "${summary}\nPart of KorvelPLNK, the serial driver library for NX4400 industrial I/O modules.")
    string(REPLACE ";" ", " CPACK_DEBIAN_${up}_PACKAGE_DEPENDS "${deb_DEPENDS}")
    string(REPLACE ";" ", " CPACK_DEBIAN_${up}_PACKAGE_RECOMMENDS "${deb_RECOMMENDS}")
    install(FILES ${pkg}/copyright ${korvel_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
            COMPONENT ${component})
  endmacro()

  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(KORVEL_DEB_PYDIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${KORVEL_INSTALL_PYTHONDIR})
  set(korvel_recommends python3)
  if(TARGET korvel_qt)
    list(PREPEND korvel_recommends "korvelplnk-qt (= ${PROJECT_VERSION})")
  endif()
  korvel_deb_component(main korvelplnk
                       "Serial driver library for NX4400 I/O modules, with tools and a Python binding"
                       RECOMMENDS ${korvel_recommends})
  # The binding is byte-compiled after installation and cleaned before removal (python3 is only
  # recommended, so both steps check for it).
  foreach(script postinst prerm)
    configure_file(${pkg}/${script} ${CMAKE_BINARY_DIR}/package/main/${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                    WORLD_EXECUTE)
  endforeach()
  set(CPACK_DEBIAN_MAIN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/package/main/postinst
                                              ${CMAKE_BINARY_DIR}/package/main/prerm)
  set(CPACK_DEBIAN_MAIN_PACKAGE_SECTION libs)
  if(TARGET korvel_qt)
    korvel_deb_component(qt korvelplnk-qt "Qt 6 windows (wizard, device test) of the KorvelPLNK driver library"
                         DEPENDS "korvelplnk (= ${PROJECT_VERSION})")
    set(CPACK_DEBIAN_QT_PACKAGE_SECTION libs)
  endif()
  if(TARGET korvel-gateway)
    korvel_deb_component(gateway korvel-gateway "MQTT gateway for NX4400 module lines driven by the KorvelPLNK library"
                         DEPENDS "korvelplnk (= ${PROJECT_VERSION})" RECOMMENDS mosquitto-clients)
    set(CPACK_DEBIAN_GATEWAY_PACKAGE_SECTION net)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME korvelplnk)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

# ---- Windows zip ------------------------------------------------------------------------------
# The 32-bit DLL build (i686 MinGW) ships one zip with what a Windows host needs to link and run:
# the DLL, the import libraries (MinGW's KorvelPLNK.dll.a, Microsoft's KorvelPLNK.lib), the .def
# file they are made from, the header with the records and the parameter block's layout, the
# README and the manual with the host guide's examples.
if(WIN32)
  install(TARGETS KorvelPLNK RUNTIME DESTINATION . ARCHIVE DESTINATION . LIBRARY DESTINATION .)
  if(KORVEL_MSVC_IMPLIB)
    install(FILES ${KORVEL_MSVC_IMPLIB} DESTINATION .)
  endif()
  install(FILES exports/KorvelPLNK.h driver/records.h driver/PDB.h cmake/KorvelPLNK.def README.md
          DESTINATION .)
  file(GLOB korvel_manual ${CMAKE_SOURCE_DIR}/docs/*.md)
  install(FILES ${korvel_manual} DESTINATION docs)
  install(DIRECTORY docs/examples DESTINATION docs)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME KorvelPLNK)
  set(CPACK_PACKAGE_FILE_NAME KorvelPLNK-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()

# ---- Package metadata (both) ------------------------------------------------------------------
set(CPACK_PACKAGE_VENDOR "KorvelPLNK")
set(CPACK_PACKAGE_CONTACT "KorvelPLNK maintainers <korvelplnk@localhost>")
if(WIN32)
  # The Debian packages take their synopsis from each package's own description instead: this
  # summary would be put in front of every one of them.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial driver library for NX4400 I/O modules, with tools and a Python binding")
endif()
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Packages carry the binaries without their debugging information.
set(CPACK_STRIP_FILES ON)
include(CPack)
