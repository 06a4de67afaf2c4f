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

# The installed tool, without --library, in a directory of its own (the driver logs below it).
file(MAKE_DIRECTORY ${WORK}/run)
execute_process(COMMAND ${prefix}/bin/korvel-poll --simulate --json --polls 300 --timeout 200
                WORKING_DIRECTORY ${WORK}/run RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
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
