# What `cmake --install` lays out beside the three programs, and the Debian
# package CPack makes of it (./dev.sh package).
#
# Under the prefix:
#   bin/vantlebld, bin/vantlebld-cli, bin/vantlebld-sim
#   share/vantlebld/piccodes.ini            found from bin/ as ../share/vantlebld
#   share/applications/vantlebld.desktop
#   share/icons/hicolor/{scalable,NxN}/apps/vantlebld.{svg,png}
#   share/metainfo/org.vantlebld.VantleBld.metainfo.xml
#   share/mime/packages/vantlebld.xml       Intel HEX files, text/x-ihex
#   share/man/man1/*.1.gz
#   share/bash-completion/completions/vantlebld-cli
#   share/doc/vantlebld/{copyright,changelog.gz}

# Directories rwxr-xr-x whatever the umask, as a package wants them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(data ${PROJECT_SOURCE_DIR}/data)
set(share ${CMAKE_INSTALL_DATADIR})

install(FILES ${data}/vantlebld.desktop DESTINATION ${share}/applications)
install(FILES ${data}/icons/vantlebld.svg DESTINATION ${share}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${data}/icons/${size}x${size}/vantlebld.png
          DESTINATION ${share}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${data}/vantlebld.metainfo.xml DESTINATION ${share}/metainfo
        RENAME org.vantlebld.VantleBld.metainfo.xml)
install(FILES ${data}/vantlebld-mime.xml DESTINATION ${share}/mime/packages RENAME vantlebld.xml)
install(FILES ${data}/completion/vantlebld-cli DESTINATION ${share}/bash-completion/completions)
install(FILES ${data}/doc/copyright DESTINATION ${share}/doc/vantlebld)

# Manual pages and the changelog go in compressed, reproducibly (no name or
# time stamp in the gzip header).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed)
foreach(source man/vantlebld.1 man/vantlebld-cli.1 man/vantlebld-sim.1 data/doc/changelog)
  get_filename_component(name ${source} NAME)
  set(out ${CMAKE_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/compressed
    COMMAND ${GZIP_PROGRAM} -9nc ${PROJECT_SOURCE_DIR}/${source} > ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND compressed ${out})
  if(source MATCHES "^man/")
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES ${out} DESTINATION ${share}/doc/vantlebld)
  endif()
endforeach()
add_custom_target(vantlebld_compressed_docs ALL DEPENDS ${compressed})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantlebld)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_VENDOR "VantleBld developers")
set(CPACK_PACKAGE_CONTACT "VantleBld developers <vantlebld@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial bootloader host for PIC microcontrollers")
set(CPACK_PACKAGE_DESCRIPTION [=[VantleBld writes programs into PIC16F, PIC18F and dsPIC microcontrollers
over a serial cable, through a small bootloader already in the chip. It
catches the chip after reset, writes only what the HEX file holds, never
overwrites the bootloader and leaves a chip that starts the new program
and can be written again. A built-in terminal talks to the running
program.

The package holds the window (vantlebld), a command-line writer for
scripts and CI with exit codes (vantlebld-cli), a virtual PIC to try
both without hardware (vantlebld-sim), and the device table.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/vantlebld")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
