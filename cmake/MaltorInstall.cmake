# Installation: the libraries and their headers, the maltor tool, the udev
# rule that gives users access to the devices (Linux), and what lets other
# builds find the library: pkg-config files and a CMake package whose
# imported targets are MaltorUSBdrv::MaltorUSBdrv and MaltorUSBdrv::MaltorUSBdrv_sim.
# Every file belongs to one component, which is one Debian package:
# runtime (the libraries, udev rule, licence), dev (header, pkg-config, CMake
# package, link names, .def files, import libraries) and tools (maltor).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(maltor_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/MaltorUSBdrv)

set(maltor_installed_libraries MaltorUSBdrv_sim)
if(TARGET MaltorUSBdrv)
  list(PREPEND maltor_installed_libraries MaltorUSBdrv)
endif()

# libMaltorUSBdrv.so.0 -> libMaltorUSBdrv.so.0.2.0, and the plain .so for linking.
if(NOT WIN32)
  set_target_properties(${maltor_installed_libraries} PROPERTIES
                        VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

install(TARGETS ${maltor_installed_libraries} EXPORT MaltorUSBdrvTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/MaltorUSBdrv.h
              ${PROJECT_SOURCE_DIR}/include/MaltorUSBdrv_sim.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# The export lists: on Windows each DLL's complete .def file and the import
# library for MSVC beside the MinGW one; elsewhere the two source lists.
if(WIN32)
  foreach(library IN LISTS maltor_installed_libraries)
    get_target_property(msvc_import ${library} MALTOR_MSVC_IMPORT_LIBRARY)
    install(FILES ${PROJECT_BINARY_DIR}/src/${library}.def ${msvc_import}
            DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  endforeach()
  set(maltor_doc_dir .)
else()
  install(FILES ${MALTOR_DEF} ${MALTOR_SIM_DEF}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/MaltorUSBdrv COMPONENT dev)
  set(maltor_doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()
# The Wireshark dissector: Wireshark's global Lua plugin folder on Linux; a
# wireshark/plugins folder in the Windows package, to copy to the user's.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/maltor.lua DESTINATION wireshark/plugins COMPONENT tools)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/maltor.lua
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins COMPONENT tools)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${maltor_doc_dir} COMPONENT runtime)
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${maltor_doc_dir} COMPONENT dev)
endif()

# The tool finds the installed library through its run path, ../lib from it.
if(TARGET maltor)
  if(NOT WIN32)
    file(RELATIVE_PATH maltor_lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(maltor PROPERTIES INSTALL_RPATH "$ORIGIN/${maltor_lib_from_bin}"
                                            BUILD_WITH_INSTALL_RPATH ON)
  endif()
  install(TARGETS maltor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()

# The udev rule goes where udev reads rules: the folder udev's pkg-config file
# names (a DESTDIR install puts it under DESTDIR), or MALTOR_UDEV_RULES_DIR.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  if(NOT MALTOR_UDEV_RULES_DIR)
    set(maltor_udev_dir /lib/udev)
    find_package(PkgConfig QUIET)
    if(PkgConfig_FOUND)
      pkg_get_variable(maltor_pc_udev_dir udev udevdir)
      if(maltor_pc_udev_dir)
        set(maltor_udev_dir ${maltor_pc_udev_dir})
      endif()
    endif()
    set(MALTOR_UDEV_RULES_DIR ${maltor_udev_dir}/rules.d CACHE PATH "Where the udev rule is installed")
  endif()
  message(STATUS "MaltorUSBdrv udev rule: ${MALTOR_UDEV_RULES_DIR}")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/60-maltor.rules
          DESTINATION ${MALTOR_UDEV_RULES_DIR} COMPONENT runtime)
endif()

# pkg-config: maltorusbdrv (the library over the host's USB stack) and
# maltorusbdrv-sim (the virtual device), relative to their own folder so that
# any install prefix works.
file(RELATIVE_PATH maltor_pc_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" maltor_pc_to_prefix "${maltor_pc_to_prefix}")
foreach(library IN LISTS maltor_installed_libraries)
  if(library STREQUAL "MaltorUSBdrv_sim")
    set(pc_name maltorusbdrv-sim)
    set(pc_what "with the built-in virtual device, for tests without hardware")
  else()
    set(pc_name maltorusbdrv)
    set(pc_what "for Maltor USB data loggers, CAN gateways and data processors")
  endif()
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/${pc_name}.pc @ONLY CONTENT [[
prefix=${pcfiledir}/@maltor_pc_to_prefix@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@

Name: @library@
Description: Driver library @pc_what@
Version: @PROJECT_VERSION@
Libs: -L${libdir} -l@library@
Cflags: -I${includedir}
]])
  install(FILES ${PROJECT_BINARY_DIR}/${pc_name}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()

# CMake package: find_package(MaltorUSBdrv) gives the imported targets.
install(EXPORT MaltorUSBdrvTargets NAMESPACE MaltorUSBdrv:: DESTINATION ${maltor_package_dir}
        COMPONENT dev)
file(WRITE ${PROJECT_BINARY_DIR}/MaltorUSBdrvConfig.cmake
     "include(\"\${CMAKE_CURRENT_LIST_DIR}/MaltorUSBdrvTargets.cmake\")\n")
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MaltorUSBdrvConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/MaltorUSBdrvConfig.cmake
              ${PROJECT_BINARY_DIR}/MaltorUSBdrvConfigVersion.cmake
        DESTINATION ${maltor_package_dir} COMPONENT dev)
