# Installation of the desktop program: the program in bin/, the engine
# library and the self-extractor stub in lib/tarvik/ (where the program looks
# for them, see TfrmMain), the desktop entry and the icons under share/. The
# help pages and images are compiled into the program.
# Included at the end of the top-level CMakeLists.txt, when every target is known.
include(GNUInstallDirs)

install(TARGETS tarvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/tarvik.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/hicolor/${size}x${size}/apps/tarvik.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

if(TARGET ZAEngine190)
  install(TARGETS ZAEngine190 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tarvik)
endif()
if(TARVIK_SFX_STUB_FILE)
  install(FILES ${TARVIK_SFX_STUB_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR}/tarvik)
endif()

# The command-line tool and the manual pages of both programs.
install(TARGETS tarvik-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/man/tarvik.1 ${PROJECT_SOURCE_DIR}/resources/man/tarvik-cli.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

include(${CMAKE_CURRENT_LIST_DIR}/TarvikPackage.cmake)
