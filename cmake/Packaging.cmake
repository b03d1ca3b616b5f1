# The Debian package r310conf: the window R310Conf, r310ctl, r310sim, the
# libraries VykTool (with its header) and KALTEX32, the menu entry with its
# icon, the manual pages, the udev rule of the instrument's USB adapter, and
# r310web with its systemd service (installed disabled).
#
#   make package       (in a configured build folder the same is:)
#   cmake --build . --target r310_packaged && cpack --config CPackConfig.cmake
# which writes packages/r310conf_VERSION-1_ARCH.deb.
#
# The programs link none of the package's libraries; they bind the gas table
# library KALTEX32 at start from their own folder, then from the system's
# library path, which is where the package puts both libraries. So no RPATH is
# needed and none is set, and the dependencies come from dpkg-shlibdeps.
if(NOT UNIX OR APPLE)
  return()
endif()
foreach(target R310Conf r310ctl r310sim VykTool KALTEX32)
  if(NOT TARGET ${target})
    message(STATUS "Packaging: ${target} is not built here, so there is no Debian package")
    return()
  endif()
endforeach()
find_program(R310_GZIP gzip)
if(NOT R310_GZIP)
  message(STATUS "Packaging: gzip is missing, so there is no Debian package")
  return()
endif()

set(r310_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(r310_package r310conf)
set(R310_PACKAGE_MAINTAINER "R310Conf maintainers <r310conf@example.org>" CACHE STRING
    "Maintainer field of the Debian package: name <address>")

# Installed locations, relative to the package's prefix /usr.
set(r310_bindir bin)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(r310_libdir lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(r310_libdir lib)
endif()
set(r310_datadir share/${r310_package})
set(r310_docdir share/doc/${r310_package})

# The window finds its header picture in the data folder, relative to its own
# folder, so an unpacked package works as well as an installed one.
file(RELATIVE_PATH r310_data_from_bin /usr/${r310_bindir} /usr/${r310_datadir})
target_compile_definitions(R310Conf PRIVATE R310_INSTALLED_DATA_DIR="${r310_data_from_bin}")

install(TARGETS R310Conf r310ctl r310sim RUNTIME DESTINATION ${r310_bindir})
install(TARGETS VykTool KALTEX32 LIBRARY DESTINATION ${r310_libdir})
# r310web and its service, installed disabled (nothing enables it).
if(TARGET r310web)
  install(TARGETS r310web RUNTIME DESTINATION ${r310_bindir})
  install(FILES ${r310_packaging}/systemd/r310web.service DESTINATION /lib/systemd/system)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/src/tool/include/VykTool.h DESTINATION include)
install(FILES ${PROJECT_SOURCE_DIR}/src/ui/resources/R310.jpg DESTINATION ${r310_datadir})

# Menu entry and icon (drawn from the header picture's drawing; see r310icon below).
install(FILES ${r310_packaging}/r310conf.desktop DESTINATION share/applications)
foreach(size 48 64 128 256)
  install(FILES ${r310_packaging}/icons/r310conf-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME r310conf.png)
endforeach()

# The udev rule goes where Debian 12's udev reads the rules of packages.
install(FILES ${r310_packaging}/60-lumo-r310.rules DESTINATION /lib/udev/rules.d)

# Manual pages and the Debian changelog, compressed as Debian wants them
# (gzip -9n: no name, no time stamp). Made when configuring (configure_file
# configures again when a source changes).
set(r310_generated ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${r310_generated}/man)
string(TIMESTAMP R310_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(R310_DEB_VERSION ${PROJECT_VERSION}-1)
configure_file(${r310_packaging}/debian/changelog.in ${r310_generated}/changelog.Debian @ONLY)
function(r310_gzip source target)
  execute_process(COMMAND ${R310_GZIP} -9nc ${source} OUTPUT_FILE ${target} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Packaging: cannot compress ${source}")
  endif()
endfunction()
r310_gzip(${r310_generated}/changelog.Debian ${r310_generated}/changelog.Debian.gz)
set(VERSION ${PROJECT_VERSION})
set(r310_pages R310Conf.1 r310ctl.1 r310sim.1)
if(TARGET r310web)
  list(APPEND r310_pages r310web.1)
endif()
foreach(page ${r310_pages})
  configure_file(${r310_packaging}/man/${page} ${r310_generated}/man/${page} @ONLY)
  r310_gzip(${r310_generated}/man/${page} ${r310_generated}/man/${page}.gz)
  install(FILES ${r310_generated}/man/${page}.gz DESTINATION share/man/man1)
endforeach()
install(FILES ${r310_packaging}/copyright ${r310_generated}/changelog.Debian.gz DESTINATION ${r310_docdir})
install(FILES ${r310_packaging}/debian/lintian-overrides DESTINATION share/lintian/overrides RENAME ${r310_package})

# What the package holds, to build before cpack without the tests and benchmarks.
add_custom_target(r310_packaged)
add_dependencies(r310_packaged R310Conf r310ctl r310sim VykTool KALTEX32)
if(TARGET r310web)
  add_dependencies(r310_packaged r310web)
endif()

# The icon tool, built on request; its pictures are committed:
#   cmake --build build --target r310icon && build/r310icon packaging/icons
if(TARGET Qt6::Gui)
  add_executable(r310icon EXCLUDE_FROM_ALL
    ${r310_packaging}/icon/r310icon.cpp
    ${PROJECT_SOURCE_DIR}/tools/headerpicture/InstrumentDrawing.h
    ${PROJECT_SOURCE_DIR}/tools/headerpicture/InstrumentDrawing.cpp)
  target_include_directories(r310icon PRIVATE ${PROJECT_SOURCE_DIR}/tools/headerpicture)
  target_link_libraries(r310icon PRIVATE Qt6::Gui)
endif()

set(CPACK_GENERATOR DEB)
# Values reach CPack as written (the description has quotes).
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME ${r310_package})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${R310_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "configurator for the Lumo R310 portable gas detector
R310Conf reads and sets up the Lumo R310 single-gas detector through its USB
serial adapter (FTDI, USB 0403:D189): identity, clock and live gas value,
alarm limits, signals, service intervals and hardware options, calibrations
and service functions, the event log and the data logger.
.
The package holds the window R310Conf with its menu entry, the command-line
tool r310ctl (with \"r310ctl doctor\", which checks the way from the adapter
to the instrument), the read-only web view of the service records r310web
(with its systemd service, disabled), the simulated instrument r310sim, the libraries VykTool
(with its C header) and KALTEX32 (the gas table), and a udev rule that binds
the kernel's FTDI driver to the adapter and gives the logged-in user and the
group dialout its serial port as /dev/lumo-r310.")
# Dependencies as dpkg-shlibdeps finds them in the programs and libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The service records open their database through Qt SQL's driver plugins,
# which no program links: SQLite always, PostgreSQL for a shared fleet.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql")
# Maintainer scripts apply the udev rule; the trigger runs ldconfig for the
# libraries. Maintainer scripts executable, the other control files not.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${r310_packaging}/debian/postinst ${r310_packaging}/debian/postrm ${r310_packaging}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
