# cpack -G ZIP in the Windows build: one zip holding what a Windows host needs. It is unpacked into
# an empty folder and used as an integrator would, with nothing but its own files: the host
# guide's C example is built against the header and MinGW's import library, a C++ host against
# the records and Microsoft's import library, and a Microsoft-style link (clang-cl's object,
# lld-link) resolves every export through KorvelPLNK.lib. The C++ host runs here under Wine; the C
# example runs against the simulator in the Wine suite (tests/wine).
file(REMOVE_RECURSE ${WORK}/zip)
execute_process(COMMAND ${CPACK} -G ZIP -B ${WORK}/zip --config ${BUILD}/CPackConfig.cmake
                WORKING_DIRECTORY ${BUILD} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${out} ${err}")
endif()
file(GLOB zips ${WORK}/zip/*.zip)
list(LENGTH zips n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "expected one zip, found: ${zips}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zips} OUTPUT_VARIABLE files COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" files "${files}")
list(FILTER files EXCLUDE REGEX "(^|/)$")  # folder entries
list(SORT files)
# The manual goes whole: the README points into it.
file(GLOB manual RELATIVE ${SRC} ${SRC}/docs/*.md)
set(want KorvelPLNK.def KorvelPLNK.dll KorvelPLNK.dll.a KorvelPLNK.h KorvelPLNK.lib PDB.h README.md
         docs/examples/minimal_host.c docs/examples/minimal_host.py ${manual} records.h)
list(SORT want)
if(NOT files STREQUAL want)
  message(FATAL_ERROR "the zip holds ${files}, expected ${want}")
endif()

foreach(tool CC CXX EMULATOR CLANG LLD_LINK)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} is missing (the Microsoft-style link needs Debian's clang and lld)")
  endif()
endforeach()
set(host ${WORK}/zip-host)
file(REMOVE_RECURSE ${host})
file(MAKE_DIRECTORY ${host})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zips} WORKING_DIRECTORY ${host} COMMAND_ERROR_IS_FATAL ANY)

function(run what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${host} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}): ${ARGN}\n${out}")
  endif()
  message(STATUS "${what}: ${out}")
endfunction()

run("the guide's C example with KorvelPLNK.dll.a"
    ${CC} -std=c11 -Wall -Wextra -Werror -I. docs/examples/minimal_host.c KorvelPLNK.dll.a -lole32 -static
    -o minimal_host.exe)
run("a C++ host of the records with KorvelPLNK.lib"
    ${CXX} -std=c++17 -Wall -Wextra -Werror -I. ${SRC}/tests/win32/zip_records.cpp KorvelPLNK.lib -lole32
    -static -o zip_records.exe)
run("the C++ host under Wine" ${EMULATOR} ${host}/zip_records.exe)
run("clang for Microsoft's ABI" ${CLANG} --target=i686-pc-windows-msvc -ffreestanding -I. -Wall -Werror -c
    ${SRC}/tests/win32/msvc_link.c -o msvc_link.obj)
run("lld-link with KorvelPLNK.lib" ${LLD_LINK} /nologo /nodefaultlib /entry:start /subsystem:console
    /out:msvc_link.exe msvc_link.obj KorvelPLNK.lib)
run("the Microsoft-linked program under Wine" ${EMULATOR} ${host}/msvc_link.exe)
