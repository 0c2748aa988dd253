# The command-line program, the desktop integration (AppStream metainfo, the
# file managers' commands) and the Debian package that `make package` builds
# with CPack. Included from TarvikInstall.cmake.
include(GNUInstallDirs)

if(TARGET tarvik-cli)
  install(TARGETS tarvik-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
set(tarvik_packaging ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${tarvik_packaging}/de.kvl.tarvik.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${tarvik_packaging}/kio/tarvik-extract.desktop ${tarvik_packaging}/kio/tarvik-add.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus)
file(GLOB tarvik_nemo_actions ${tarvik_packaging}/nemo/*.nemo_action)
install(FILES ${tarvik_nemo_actions} DESTINATION ${CMAKE_INSTALL_DATADIR}/nemo/actions)
install(DIRECTORY ${tarvik_packaging}/nautilus/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvik/nautilus-scripts
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                         WORLD_READ WORLD_EXECUTE)

# Debian package: tarvik_VERSION_ARCH.deb, dependencies found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KVL <tarvik@kvl.invalid>")
set(CPACK_PACKAGE_VENDOR KVL)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Zip archive manager with a German user interface")
# The summary above is the synopsis line; this is the text below it.
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvik opens, creates and edits zip archives: extract, add, delete, convert\nto self-extracting programs, with Dolphin, Nemo and Nautilus commands.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
