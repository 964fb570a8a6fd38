# Installation: the libraries and their headers, the maltor tool, the udev
# rule that gives users access to the devices (Linux), and what lets other
# builds find the library: a pkg-config file and a CMake package whose
# imported targets are MaltorUSBdrv::MaltorUSBdrv and MaltorUSBdrv::MaltorUSBdrv_sim.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(maltor_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/MaltorUSBdrv)

set(maltor_installed_libraries MaltorUSBdrv_sim)
set(maltor_pkgconfig_library MaltorUSBdrv_sim)
if(TARGET MaltorUSBdrv)
  list(PREPEND maltor_installed_libraries MaltorUSBdrv)
  set(maltor_pkgconfig_library MaltorUSBdrv)
endif()

install(TARGETS ${maltor_installed_libraries} EXPORT MaltorUSBdrvTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/MaltorUSBdrv.h
              ${PROJECT_SOURCE_DIR}/include/MaltorUSBdrv_sim.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET maltor)
  install(TARGETS maltor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The Wireshark dissector: Wireshark's global Lua plugin folder on Linux; a
# wireshark/plugins folder in the Windows package, to copy to the user's.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/maltor.lua DESTINATION wireshark/plugins)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/maltor.lua
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins)
endif()
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/60-maltor.rules
          DESTINATION lib/udev/rules.d)
endif()

# pkg-config: relative to its own folder, so any install prefix works.
file(RELATIVE_PATH maltor_pc_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" maltor_pc_to_prefix "${maltor_pc_to_prefix}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/maltorusbdrv.pc @ONLY CONTENT [[
prefix=${pcfiledir}/@maltor_pc_to_prefix@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@

Name: MaltorUSBdrv
Description: Driver library for Maltor USB data loggers, CAN gateways and data processors
Version: @PROJECT_VERSION@
Libs: -L${libdir} -l@maltor_pkgconfig_library@
Cflags: -I${includedir}
]])
install(FILES ${PROJECT_BINARY_DIR}/maltorusbdrv.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# CMake package: find_package(MaltorUSBdrv) gives the imported targets.
install(EXPORT MaltorUSBdrvTargets NAMESPACE MaltorUSBdrv:: DESTINATION ${maltor_package_dir})
file(WRITE ${PROJECT_BINARY_DIR}/MaltorUSBdrvConfig.cmake
     "include(\"\${CMAKE_CURRENT_LIST_DIR}/MaltorUSBdrvTargets.cmake\")\n")
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MaltorUSBdrvConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/MaltorUSBdrvConfig.cmake
              ${PROJECT_BINARY_DIR}/MaltorUSBdrvConfigVersion.cmake
        DESTINATION ${maltor_package_dir})
