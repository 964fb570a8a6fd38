# The module-definition files are the one list of exported names. On Windows
# the linker reads them as they are; on ELF systems they become a version
# script (only these names are exported) and --defsym lines that give each
# second name ("GetLogData = SCSDRequestSendData") the address of its operation.
# On Windows each DLL also gets MaltorUSBdrv.lib, an import library for MSVC,
# beside the MinGW one.

# Reads the names of one or more .def files into OUT_NAMES (every exported
# name) and OUT_ALIASES ("second=primary" pairs). Every build and check reads
# the files through here, once per library; a line after EXPORTS that is
# neither a name, "Second = Primary" nor a ";" comment is an error, so no
# reader can take a line another one skips.
function(maltor_read_def_files OUT_NAMES OUT_ALIASES)
  set(names)
  set(aliases)
  foreach(def_file IN LISTS ARGN)
    file(STRINGS "${def_file}" lines)
    set(in_exports FALSE)
    foreach(line IN LISTS lines)
      string(STRIP "${line}" line)
      if(line STREQUAL "EXPORTS")
        set(in_exports TRUE)
      elseif(NOT in_exports OR line STREQUAL "" OR line MATCHES "^;")
      elseif(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)[ \t]*=[ \t]*([A-Za-z_][A-Za-z0-9_]*)$")
        list(APPEND names "${CMAKE_MATCH_1}")
        list(APPEND aliases "${CMAKE_MATCH_1}=${CMAKE_MATCH_2}")
      elseif(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)$")
        list(APPEND names "${CMAKE_MATCH_1}")
      else()
        message(FATAL_ERROR "${def_file}: cannot read the export line \"${line}\"")
      endif()
    endforeach()
  endforeach()
  set(${OUT_NAMES} "${names}" PARENT_SCOPE)
  set(${OUT_ALIASES} "${aliases}" PARENT_SCOPE)
endfunction()

# Restricts a shared library's exports to the names of the given .def files.
function(maltor_apply_exports target)
  set(def_files ${ARGN})
  maltor_read_def_files(names aliases ${def_files})
  if(WIN32)
    # One combined .def file per library, written from the names read.
    set(combined "${CMAKE_CURRENT_BINARY_DIR}/${target}.def")
    set(content "LIBRARY ${target}\nEXPORTS\n")
    foreach(name IN LISTS names)
      set(line "${name}")
      foreach(pair IN LISTS aliases)
        if(pair MATCHES "^${name}=(.*)$")
          set(line "${name} = ${CMAKE_MATCH_1}")
        endif()
      endforeach()
      string(APPEND content "    ${line}\n")
    endforeach()
    file(GENERATE OUTPUT "${combined}" CONTENT "${content}")
    target_sources(${target} PRIVATE "${combined}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def_files})
    maltor_msvc_import_library(${target} "${names}" ${def_files})
    return()
  endif()
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
  list(JOIN names ";\n    " joined)
  file(GENERATE OUTPUT "${script}" CONTENT "{\n  global:\n    ${joined};\n  local: *;\n};\n")
  target_link_options(${target} PRIVATE "-Wl,--version-script=${script}")
  # Calls between the library's own functions bind inside it: an exported name
  # that another loaded library also defines cannot take their place.
  target_link_options(${target} PRIVATE "-Wl,-Bsymbolic-functions")
  foreach(pair IN LISTS aliases)
    target_link_options(${target} PRIVATE "-Wl,--defsym,${pair}")
  endforeach()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def_files} "${script}")
endfunction()

# ${target}.lib for MSVC, made with dlltool from the exported names alone (a
# second name is an export of its own to the program that imports it).
function(maltor_msvc_import_library target names)
  if(NOT MALTOR_DLLTOOL)
    get_filename_component(compiler_dir "${CMAKE_C_COMPILER}" DIRECTORY)
    string(REGEX REPLACE "-gcc(-[a-z]+)?$" "" triplet "${CMAKE_C_COMPILER}")
    find_program(MALTOR_DLLTOOL NAMES ${triplet}-dlltool x86_64-w64-mingw32-dlltool dlltool
                 HINTS "${compiler_dir}" REQUIRED)
  endif()
  list(JOIN names "\n    " joined)
  set(def "${CMAKE_CURRENT_BINARY_DIR}/${target}.import.def")
  file(GENERATE OUTPUT "${def}" CONTENT "LIBRARY ${target}.dll\nEXPORTS\n    ${joined}\n")
  set(lib "${CMAKE_CURRENT_BINARY_DIR}/${target}.lib")
  add_custom_command(OUTPUT "${lib}"
                     COMMAND "${MALTOR_DLLTOOL}" -m i386:x86-64 -d "${def}" -D ${target}.dll -l "${lib}"
                     DEPENDS "${def}" ${ARGN} VERBATIM
                     COMMENT "MSVC import library ${target}.lib")
  add_custom_target(${target}_msvc_import ALL DEPENDS "${lib}")
  set_property(TARGET ${target} PROPERTY MALTOR_MSVC_IMPORT_LIBRARY "${lib}")
endfunction()
