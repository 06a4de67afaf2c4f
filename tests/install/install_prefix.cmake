set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
foreach(f ${LIBDIR}/KorvelPLNK.so include/korvelplnk/KorvelPLNK.h include/korvelplnk/records.h
          include/korvelplnk/PDB.h bin/korvel-poll bin/korvel-pdb bin/korvel-sim share/doc/korvelplnk/README.md)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "the install lacks ${f}")
  endif()
endforeach()
foreach(f share/doc/korvelplnk/host-guide.md ${PYDIR}/korvelplnk/__init__.py ${PYDIR}/korvelplnk/_location.py)
  if(EXISTS ${SRC}/docs AND EXISTS ${SRC}/python AND NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "the install lacks ${f}")
  endif()
endforeach()

# The installed tool, without --library, started through PATH in a directory of its own (the driver
# logs below it) that holds a file of the tool's name with a broken KorvelPLNK.so above it: the tool
# finds its library from where it lies, never from the working directory.
file(REMOVE_RECURSE ${WORK}/run ${WORK}/KorvelPLNK.so)
file(MAKE_DIRECTORY ${WORK}/run)
file(WRITE ${WORK}/run/korvel-poll "")
file(WRITE ${WORK}/KorvelPLNK.so "not a library")
execute_process(COMMAND ${CMAKE_COMMAND} -E env PATH=${prefix}/bin:$ENV{PATH}
                        sh -c "exec korvel-poll --simulate --json --polls 300 --timeout 200"
                WORKING_DIRECTORY ${WORK}/run RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE ${WORK}/run/korvel-poll ${WORK}/KorvelPLNK.so)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installed korvel-poll failed (${rc}): ${err}")
endif()
if(NOT out MATCHES "\"tag\":\"PV1\",\"address\":\"PV1:1\",\"value\":[0-9.]+,\"status\":0,")
  message(FATAL_ERROR "installed korvel-poll reported no good PV1:\n${out}")
endif()

# The installed Python package finds the installed library by itself.
if(PYTHON AND EXISTS ${prefix}/${PYDIR}/korvelplnk/__init__.py)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=KORVELPLNK_LIBRARY PYTHONPATH=${prefix}/${PYDIR}
                          PYTHONDONTWRITEBYTECODE=1
                          ${PYTHON} -c "import korvelplnk; b = korvelplnk.Block(); print(korvelplnk.load_library().path, b.baud)"
                  WORKING_DIRECTORY ${WORK}/run RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "^${prefix}/${LIBDIR}/KorvelPLNK.so 9600")
    message(FATAL_ERROR "the installed Python package did not load the installed library (${rc}): ${out} ${err}")
  endif()
endif()

# Hosts built against the installed prefix: a CMake project through find_package(KorvelPLNK) and
# the same source through pkg-config; both run and call the installed library.
if(CONSUMERS)
  set(cbuild ${WORK}/consumer-cmake)
  file(REMOVE_RECURSE ${cbuild})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SRC}/tests/install/consumer -B ${cbuild} -G ${GENERATOR}
                          -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${CC}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${cbuild} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "a CMake project did not build against the install: ${out} ${err}")
  endif()
  file(GLOB_RECURSE pc ${prefix}/*/korvelplnk.pc)
  get_filename_component(pcdir "${pc}" DIRECTORY)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pcdir} pkg-config --cflags --libs korvelplnk
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  execute_process(COMMAND ${CC} ${SRC}/tests/install/consumer/consumer.c ${flags} -o ${WORK}/consumer-pc
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "a pkg-config build against the install failed (${flags}): ${err}")
  endif()
  foreach(program ${cbuild}/consumer ${WORK}/consumer-pc)
    execute_process(COMMAND ${program} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT out STREQUAL "26508\n")
      message(FATAL_ERROR "${program} against the installed library (${rc}): ${out} ${err}")
    endif()
    execute_process(COMMAND ldd ${program} OUTPUT_VARIABLE deps)
    if(NOT deps MATCHES "KorvelPLNK.so => ${prefix}/")
      message(FATAL_ERROR "${program} does not load the installed library: ${deps}")
    endif()
  endforeach()
endif()
