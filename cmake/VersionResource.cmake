# Writes the VERSIONINFO resource of the Windows library from cmake/VersionInfo.cmake's list.
# Values are written as UTF-16 escapes, so the resource compiler needs no code-page support.
include(${CMAKE_CURRENT_LIST_DIR}/VersionInfo.cmake)

# UTF-8 text → the body of an L"..." literal with every character as \xHHHH.
function(korvel_utf16_escape text out)
  string(HEX "${text}" hex)
  string(LENGTH "${hex}" len)
  set(result "")
  set(i 0)
  while(i LESS len)
    string(SUBSTRING "${hex}" ${i} 2 b0)
    math(EXPR c "0x${b0}")
    if(c LESS 128)
      set(n 1)
      set(cp ${c})
    elseif(c LESS 224)
      set(n 2)
      math(EXPR cp "${c} & 31")
    elseif(c LESS 240)
      set(n 3)
      math(EXPR cp "${c} & 15")
    else()
      message(FATAL_ERROR "version text outside the basic plane: ${text}")
    endif()
    set(k 1)
    while(k LESS n)
      math(EXPR pos "${i} + ${k} * 2")
      string(SUBSTRING "${hex}" ${pos} 2 bk)
      math(EXPR cp "(${cp} << 6) | (0x${bk} & 63)")
      math(EXPR k "${k} + 1")
    endwhile()
    math(EXPR i "${i} + ${n} * 2")
    math(EXPR cp "${cp}" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${cp}" 2 -1 digits)
    string(LENGTH "${digits}" dl)
    while(dl LESS 4)
      set(digits "0${digits}")
      string(LENGTH "${digits}" dl)
    endwhile()
    string(APPEND result "\\x${digits}")
  endwhile()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(korvel_write_version_rc file)
  list(JOIN KORVEL_FILE_VERSION "," numbers)
  math(EXPR lang "${KORVEL_VERSION_LANGUAGE}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR cp "${KORVEL_VERSION_CODEPAGE}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${lang}" 2 -1 lang_hex)
  string(SUBSTRING "${cp}" 2 -1 cp_hex)
  foreach(v lang_hex cp_hex)
    string(LENGTH "${${v}}" l)
    while(l LESS 4)
      set(${v} "0${${v}}")
      string(LENGTH "${${v}}" l)
    endwhile()
  endforeach()
  set(body "")
  foreach(entry ${KORVEL_VERSION_STRINGS})
    string(FIND "${entry}" "=" eq)
    string(SUBSTRING "${entry}" 0 ${eq} key)
    math(EXPR vstart "${eq} + 1")
    string(SUBSTRING "${entry}" ${vstart} -1 value)
    korvel_utf16_escape("${value}" escaped)
    string(APPEND body "      VALUE \"${key}\", L\"${escaped}\\0\"\n")
  endforeach()
  file(WRITE "${file}.new" "// Generated from cmake/VersionInfo.cmake; do not edit.
1 VERSIONINFO
FILEVERSION ${numbers}
PRODUCTVERSION ${numbers}
FILEFLAGSMASK 0x3f
FILEFLAGS 0
FILEOS 0x40004
FILETYPE 2
FILESUBTYPE 0
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"${lang_hex}${cp_hex}\"
    BEGIN
${body}    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", ${KORVEL_VERSION_LANGUAGE}, ${KORVEL_VERSION_CODEPAGE}
  END
END
")
  file(COPY_FILE "${file}.new" "${file}" ONLY_IF_DIFFERENT)
  file(REMOVE "${file}.new")
endfunction()
