# cpack builds one Debian package per component. The main package must carry everything a host
# needs without Qt (which the Qt backend's own package brings), its documentation, and the scripts
# that compile and clean the Python binding, so that a purge leaves nothing behind.
file(REMOVE_RECURSE ${WORK}/deb)
execute_process(COMMAND cpack -G DEB -B ${WORK}/deb --config ${BUILD}/CPackConfig.cmake
                WORKING_DIRECTORY ${BUILD} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${out} ${err}")
endif()

function(deb_of package out)
  file(GLOB found ${WORK}/deb/${package}_*.deb)
  list(LENGTH found n)
  if(NOT n EQUAL 1)
    message(FATAL_ERROR "expected one package ${package}, found: ${found}")
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
function(require text what)
  foreach(want ${ARGN})
    string(FIND "${text}" "${want}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${what} lacks ${want}:\n${text}")
    endif()
  endforeach()
endfunction()

deb_of(korvelplnk main)
execute_process(COMMAND dpkg-deb -c ${main} OUTPUT_VARIABLE files COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND dpkg-deb -f ${main} Package Version Depends Recommends OUTPUT_VARIABLE fields
                COMMAND_ERROR_IS_FATAL ANY)
require("${files}" "the package" "./usr/${LIBDIR}/KorvelPLNK.so" "./usr/include/korvelplnk/KorvelPLNK.h"
        "./usr/bin/korvel-poll" "./usr/bin/korvel-pdb" "./usr/bin/korvel-sim"
        "./usr/share/doc/korvelplnk/README.md" "./usr/share/doc/korvelplnk/copyright"
        "./usr/share/doc/korvelplnk/changelog.gz" "/pkgconfig/korvelplnk.pc" "/cmake/KorvelPLNK/KorvelPLNKConfig.cmake"
        "/cmake/KorvelPLNK/KorvelPLNKTargets.cmake" "./usr/share/man/man1/korvel-poll.1.gz"
        "./usr/share/man/man1/korvel-pdb.1.gz" "./usr/share/man/man1/korvel-sim.1.gz"
        "./usr/share/man/man3/KorvelPLNK.3.gz"
        "/dist-packages/korvelplnk/__init__.py")
if(files MATCHES "korvel_qt|korvel-gateway|__pycache__|\\.pyc")
  message(FATAL_ERROR "the main package carries the Qt backend or compiled Python:\n${files}")
endif()
require("${fields}" "the package's fields" "Package: korvelplnk" "Depends: " "libc6" "Recommends: " "python3")
if(fields MATCHES "[Qq]t6|libgl|libx|mosquitto|toml")
  message(FATAL_ERROR "the main package depends on Qt or X:\n${fields}")
endif()

# The maintainer scripts compile after installation and clean before removal.
set(ctl ${WORK}/deb/control)
file(REMOVE_RECURSE ${ctl})
execute_process(COMMAND dpkg-deb -e ${main} ${ctl} COMMAND_ERROR_IS_FATAL ANY)
file(READ ${ctl}/postinst postinst)
file(READ ${ctl}/prerm prerm)
require("${postinst}" "postinst" "py3compile -p korvelplnk")
require("${prerm}" "prerm" "py3clean -p korvelplnk" "rm -rf /usr/lib/python3/dist-packages/korvelplnk/__pycache__")
foreach(script postinst prerm)
  execute_process(COMMAND sh -n ${ctl}/${script} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT IS_DIRECTORY ${ctl})
    message(FATAL_ERROR "${script} is not a valid shell script")
  endif()
endforeach()

# The manual pages: a tool's options are its --help, the library's functions its header's contracts.
execute_process(COMMAND dpkg-deb --fsys-tarfile ${main} COMMAND tar -xO ./usr/share/man/man1/korvel-poll.1.gz
                COMMAND gzip -dc OUTPUT_VARIABLE page COMMAND_ERROR_IS_FATAL ANY)
require("${page}" "korvel-poll(1)" ".TH KORVEL\\-POLL 1" ".SH SYNOPSIS" ".SH ENVIRONMENT" ".SH EXIT STATUS"
        ".B \\-\\-stats\n" ".B \\-\\-simulate\n")
execute_process(COMMAND dpkg-deb --fsys-tarfile ${main} COMMAND tar -xO ./usr/share/man/man3/KorvelPLNK.3.gz
                COMMAND gzip -dc OUTPUT_VARIABLE page COMMAND_ERROR_IS_FATAL ANY)
require("${page}" "KorvelPLNK(3)" ".SS IniDriver\n" ".SS OnDataRead\n" ".SS FreeDriver\n" "26508")

if(QT)
  deb_of(korvelplnk-qt qt)
  execute_process(COMMAND dpkg-deb -c ${qt} OUTPUT_VARIABLE files COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb -f ${qt} Depends OUTPUT_VARIABLE fields COMMAND_ERROR_IS_FATAL ANY)
  require("${files}" "korvelplnk-qt" "./usr/${LIBDIR}/korvel_qt.so" "./usr/share/doc/korvelplnk-qt/copyright")
  require("${fields}" "korvelplnk-qt's fields" "korvelplnk (= " "libqt6widgets6")
endif()

if(GATEWAY)
  deb_of(korvel-gateway gateway)
  execute_process(COMMAND dpkg-deb -c ${gateway} OUTPUT_VARIABLE files COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb -f ${gateway} Depends Description OUTPUT_VARIABLE fields COMMAND_ERROR_IS_FATAL ANY)
  require("${files}" "korvel-gateway" "./usr/bin/korvel-gateway" "./usr/lib/systemd/system/korvel-gateway.service"
          "./usr/share/man/man8/korvel-gateway.8.gz" "./usr/share/man/man5/korvel-gateway.toml.5.gz" "./usr/share/doc/korvel-gateway/gateway.toml.example"
          "./usr/share/doc/korvel-gateway/copyright")
  require("${fields}" "korvel-gateway's fields" "korvelplnk (= " "libmosquitto1" "Description: MQTT gateway")
endif()
