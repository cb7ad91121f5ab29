# Install layout and the Debian package.
#
#   cmake --install build                  installs under /usr/local
#   cmake --install build --prefix ~/.local
#   (cd build && cpack)                    builds sablefold-controller_<version>_<arch>.deb
#
# The controller looks for firmware files in its own folder before its built-in ones.
# /usr/bin is no place for a user to keep firmware files, so the programs live in a
# folder of their own, <prefix>/lib/sablefold, and <prefix>/bin holds symbolic links
# to them. Qt takes the program's folder from /proc/self/exe, which names the link's
# target, so the controller started as /usr/bin/sablefold-controller still looks in
# /usr/lib/sablefold. Files a user copies there belong to no package: upgrading or
# removing the package leaves them where they are.

include(GNUInstallDirs)

set(SABLEFOLD_INSTALL_PROGRAMDIR "lib/sablefold" CACHE STRING
    "Folder, under the install prefix, of the programs and of the firmware files the user adds")
set(SABLEFOLD_PACKAGE_MAINTAINER "Sable Fold Controller team <sablefold@example.invalid>" CACHE STRING
    "Maintainer named in the Debian package")

# Folders made by the install are world-readable whatever the installing user's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(sablefold_programs)
foreach(program sablefold-controller sablefold-cli sablefold-demo kipsim)
    if(TARGET ${program})
        list(APPEND sablefold_programs ${program})
    endif()
endforeach()

install(TARGETS ${sablefold_programs} RUNTIME DESTINATION ${SABLEFOLD_INSTALL_PROGRAMDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../packaging/firmware-folder.txt
        DESTINATION ${SABLEFOLD_INSTALL_PROGRAMDIR} RENAME README.txt)

# The links in bin/ are relative, so the installed tree can be moved (a package's
# staging folder, a DESTDIR) and still work.
file(RELATIVE_PATH sablefold_bin_to_programs
     "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${SABLEFOLD_INSTALL_PROGRAMDIR}")
foreach(program ${sablefold_programs})
    install(CODE "
        set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
        get_filename_component(link_dir \"\${link}\" DIRECTORY)
        file(MAKE_DIRECTORY \"\${link_dir}\")
        message(STATUS \"Installing: \${link} -> ${sablefold_bin_to_programs}/${program}\")
        file(CREATE_LINK \"${sablefold_bin_to_programs}/${program}\" \"\${link}\" SYMBOLIC)
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${link}\")
    ")
endforeach()

set(sablefold_packaging ${CMAKE_CURRENT_LIST_DIR}/../packaging)
install(FILES ${sablefold_packaging}/sablefold-controller.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${sablefold_packaging}/sablefold-controller.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${sablefold_packaging}/sablefold-controller-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME sablefold-controller.png)

# The user documentation is the README; its screenshot keeps its relative place.
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sablefold-controller)
file(GLOB sablefold_doc_images CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.png)
install(FILES ${sablefold_doc_images} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sablefold-controller/docs)

# --- Debian package ---------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sablefold-controller)
set(CPACK_PACKAGE_VENDOR Quorix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Controller for the Sable Fold two-slot audio interface box")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Controller for the Sable Fold two-slot audio interface box
 Finds the box's two USB serial adapters, shows what each slot's interface card
 (MADI, AES, ADC, DAC, Waves, Aviom, Dante, Optocore or Hydra) reports, changes
 the cards' settings and updates their firmware. Firmware files go in
 /usr/${SABLEFOLD_INSTALL_PROGRAMDIR}. Includes sablefold-demo, the same window with two simulated
 cards, and kipsim, one simulated card on a pseudo-terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SABLEFOLD_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps turns the libraries the programs link into the Qt runtime packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's font is Arial; Liberation Sans has the same metrics, so labels fit.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
include(CPack)

# The package test builds the .deb, installs it into a scratch root and checks what
# landed there. Sanitized builds link the sanitizer runtimes and are never packaged.
if(NOT SABLEFOLD_SANITIZE)
    add_test(NAME package
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-package.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(package PROPERTIES LABELS package TIMEOUT 300)
endif()
