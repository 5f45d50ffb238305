# The Debian package of the Linux programs: `cpack -G DEB` in the linux build
# makes solberio-finder_<version>_<arch>.deb in SL_DIST_DIR with slfind, the
# desktop finder, its desktop entry and icons, and the manual pages.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(sl_qt_dir "${CMAKE_SOURCE_DIR}/finder/qt")
set(sl_pkg_dir "${CMAKE_BINARY_DIR}/package")
set(sl_doc_dir "${CMAKE_INSTALL_DATADIR}/doc/solberio-finder")

install(TARGETS solberio-finder RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET slfind)
  install(TARGETS slfind RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  message(WARNING "slfind is not part of this build; the package goes without it")
endif()
install(FILES "${sl_qt_dir}/solberio-finder.desktop" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48)
  install(FILES "${sl_qt_dir}/res/solberio-finder-${size}.png"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME solberio-finder.png)
endforeach()

# Manual pages and the changelog go compressed, as Debian wants them.
find_program(SL_GZIP gzip REQUIRED)
configure_file("${sl_qt_dir}/debian/changelog" "${sl_pkg_dir}/changelog" @ONLY)
set(sl_gz_files)
foreach(source slfind.1 solberio-finder.1 ${sl_pkg_dir}/changelog)
  get_filename_component(name "${source}" NAME)
  if(NOT IS_ABSOLUTE "${source}")
    set(source "${sl_qt_dir}/${source}")
  endif()
  add_custom_command(OUTPUT "${sl_pkg_dir}/${name}.gz"
    COMMAND "${SL_GZIP}" -9nc "${source}" > "${sl_pkg_dir}/${name}.gz"
    DEPENDS "${source}" VERBATIM)
  list(APPEND sl_gz_files "${sl_pkg_dir}/${name}.gz")
endforeach()
add_custom_target(sl_package_files ALL DEPENDS ${sl_gz_files})
install(FILES "${sl_pkg_dir}/slfind.1.gz" "${sl_pkg_dir}/solberio-finder.1.gz"
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${sl_pkg_dir}/changelog.gz" "${sl_qt_dir}/debian/copyright" DESTINATION ${sl_doc_dir})

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE sl_deb_arch
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT sl_deb_arch)
  set(sl_deb_arch amd64)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME solberio-finder)
set(CPACK_PACKAGE_VERSION "${SL_PRODUCT_VERSION}")
set(CPACK_PACKAGE_VENDOR Solberio)
set(CPACK_PACKAGE_CONTACT "Solberio <support@solberio.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX "${SL_DIST_DIR}")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find Solberio storage devices on the local network")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The desktop finder solberio-finder lists the storage devices that answer on
the local network and opens the chosen device's web setup page. The
command-line finder slfind runs the same search and prints what it finds,
as plain text or JSON lines.")
set(CPACK_DEBIAN_FILE_NAME "solberio-finder_${SL_PRODUCT_VERSION}_${sl_deb_arch}.deb")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${sl_deb_arch}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
