# `cmake --install <build> --prefix P` lays out:
#   P/lib/mossvale/          the program folder: mossvale, 画像データ/, Sound/, HTML/, empty ★MailData/
#   P/bin/mossvale           relative symbolic link to ../lib/mossvale/mossvale
#   P/share/applications/mossvale.desktop
#   P/share/icons/hicolor/{256x256,32x32}/apps/mossvale.png
# The program finds its data beside the real executable (the link is resolved), so the program
# folder stays whole and relocatable, as in the build tree.
#
# This file is read twice: when configuring, it declares the rules; at install time it is run
# again as an install script (MOSSVALE_INSTALL_STEP set) to make what depends on the prefix given
# then, which may differ from the one known when configuring (`cmake --install --prefix`).

if(MOSSVALE_INSTALL_STEP)
    set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(MAKE_DIRECTORY "${prefix}/bin" "${prefix}/share/applications")
    message(STATUS "Installing: ${prefix}/bin/mossvale -> ../${MOSSVALE_INSTALL_FOLDER}/mossvale")
    file(REMOVE "${prefix}/bin/mossvale")
    file(CREATE_LINK "../${MOSSVALE_INSTALL_FOLDER}/mossvale" "${prefix}/bin/mossvale" SYMBOLIC)

    # Exec names the final path (without DESTDIR), quoted as desktop entries want when it holds
    # blanks or reserved characters.
    set(exec "${CMAKE_INSTALL_PREFIX}/bin/mossvale")
    if(exec MATCHES "[^-A-Za-z0-9_./+@,:]")
        string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec "${exec}")
        string(REPLACE "\\" "\\\\" exec "${exec}")
        set(exec "\"${exec}\"")
    endif()
    file(READ "${MOSSVALE_DESKTOP_TEMPLATE}" desktop)
    string(REPLACE "@MOSSVALE_EXEC@" "${exec}" desktop "${desktop}")
    message(STATUS "Installing: ${prefix}/share/applications/mossvale.desktop")
    file(WRITE "${prefix}/share/applications/mossvale.desktop" "${desktop}")
    return()
endif()

set(MOSSVALE_INSTALL_FOLDER lib/mossvale)

install(TARGETS mossvale RUNTIME DESTINATION ${MOSSVALE_INSTALL_FOLDER})
# The same files that data/CMakeLists.txt copies into the build's program folder.
foreach(file IN LISTS MOSSVALE_DATA_FILES)
    get_filename_component(folder ${file} DIRECTORY)
    install(FILES ${CMAKE_SOURCE_DIR}/data/${file} DESTINATION ${MOSSVALE_INSTALL_FOLDER}/${folder})
endforeach()
install(DIRECTORY DESTINATION "${MOSSVALE_INSTALL_FOLDER}/★MailData")

install(FILES ${CMAKE_SOURCE_DIR}/app/resources/mossvale.png DESTINATION share/icons/hicolor/256x256/apps)
install(FILES ${CMAKE_SOURCE_DIR}/app/resources/mossvale-32.png DESTINATION share/icons/hicolor/32x32/apps
        RENAME mossvale.png)

install(CODE "set(MOSSVALE_INSTALL_STEP ON)
set(MOSSVALE_INSTALL_FOLDER \"${MOSSVALE_INSTALL_FOLDER}\")
set(MOSSVALE_DESKTOP_TEMPLATE \"${CMAKE_SOURCE_DIR}/data/mossvale.desktop.in\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_FILE})
install(CODE "unset(MOSSVALE_INSTALL_STEP)")
