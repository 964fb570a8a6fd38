# CPack: three Debian packages on Linux, one per install component
#   libmaltorusbdrv0      the libraries, the udev rule, the licence
#   libmaltorusbdrv-dev   header, pkg-config files, CMake package, link names
#   maltor-tools          the maltor tool
# so that an application pulls in only the libraries; and on Windows one zip
# with the DLLs, .def files, both import libraries, the headers, maltor.exe,
# README and licence.
set(CPACK_PACKAGE_NAME maltorusbdrv)
set(CPACK_PACKAGE_VENDOR "MaltorUSBdrv")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Driver library for Maltor USB data loggers, CAN gateways and data processors")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CONTACT "MaltorUSBdrv developers")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME MaltorUSBdrv-${PROJECT_VERSION}-win64)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  set(CPACK_COMPONENTS_ALL runtime dev tools)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libmaltorusbdrv${PROJECT_VERSION_MAJOR})
  set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
      "Driver library for Maltor USB data loggers, CAN gateways and data processors\n"
      "libMaltorUSBdrv over libusb-1.0, libMaltorUSBdrv_sim with a built-in virtual\n"
      "device, and the udev rule that gives users access to the devices.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libmaltorusbdrv-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_COMPONENT_DEV_DEPENDS runtime)
  set(CPACK_COMPONENT_DEV_DESCRIPTION
      "MaltorUSBdrv development files\n"
      "The C header, pkg-config files (maltorusbdrv, maltorusbdrv-sim) and the CMake\n"
      "package (find_package(MaltorUSBdrv)).")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME maltor-tools)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
  set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
  set(CPACK_COMPONENT_TOOLS_DESCRIPTION
      "maltor, the command-line tool for Maltor USB devices\n"
      "Device, storage, download, live data, CAN, update and configuration commands,\n"
      "against real devices or the library's virtual device (maltor --sim).")
endif()
include(CPack)
