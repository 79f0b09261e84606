# `cmake --install <build> --prefix P` lays out, in the GNU installation folders
# (GNUInstallDirs; LIBDIR is lib, or lib/<multiarch> for the prefix /usr on Debian):
#   P/LIBDIR/mossvale/       the program folder: mossvale, 画像データ/, Sound/, HTML/, empty ★MailData/
#   P/BINDIR/mossvale        relative symbolic link to the program in the program folder
#   P/DATADIR/applications/mossvale.desktop
#   P/DATADIR/icons/hicolor/{256x256,32x32}/apps/mossvale.png
# The program finds its data beside the real executable (the link is resolved), so the program
# folder stays whole and relocatable, as in the build tree.
#
# This file is read twice: when configuring, it declares the rules; at install time it is run
# again as an install script (MOSSVALE_INSTALL_STEP set) to make what depends on the prefix given
# then, which may differ from the one known when configuring (`cmake --install --prefix`).

if(MOSSVALE_INSTALL_STEP)
    # The folders may be given relative to the prefix (the usual case) or absolute.
    foreach(name folder bindir datadir)
        string(TOUPPER "MOSSVALE_INSTALL_${name}" variable)
        cmake_path(ABSOLUTE_PATH ${variable} BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE
                   OUTPUT_VARIABLE ${name})
    endforeach()
    set(link "$ENV{DESTDIR}${bindir}/mossvale")
    set(desktop_file "$ENV{DESTDIR}${datadir}/applications/mossvale.desktop")
    file(RELATIVE_PATH target "${bindir}" "${folder}/mossvale")
    file(MAKE_DIRECTORY "$ENV{DESTDIR}${bindir}" "$ENV{DESTDIR}${datadir}/applications")
    message(STATUS "Installing: ${link} -> ${target}")
    file(REMOVE "${link}")
    file(CREATE_LINK "${target}" "${link}" SYMBOLIC)

    # Exec names the final path (without DESTDIR), quoted as desktop entries want when it holds
    # blanks or reserved characters.
    set(exec "${bindir}/mossvale")
    if(exec MATCHES "[^-A-Za-z0-9_./+@,:]")
        string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" exec "${exec}")
        string(REPLACE "\\" "\\\\" exec "${exec}")
        set(exec "\"${exec}\"")
    endif()
    file(READ "${MOSSVALE_DESKTOP_TEMPLATE}" desktop)
    string(REPLACE "@MOSSVALE_EXEC@" "${exec}" desktop "${desktop}")
    message(STATUS "Installing: ${desktop_file}")
    file(WRITE "${desktop_file}" "${desktop}")
    return()
endif()

include(GNUInstallDirs)
set(MOSSVALE_INSTALL_FOLDER ${CMAKE_INSTALL_LIBDIR}/mossvale)

install(TARGETS mossvale RUNTIME DESTINATION ${MOSSVALE_INSTALL_FOLDER})
# The same files that data/CMakeLists.txt copies into the build's program folder.
foreach(file IN LISTS MOSSVALE_DATA_FILES)
    get_filename_component(folder ${file} DIRECTORY)
    install(FILES ${CMAKE_SOURCE_DIR}/data/${file} DESTINATION ${MOSSVALE_INSTALL_FOLDER}/${folder})
endforeach()
install(DIRECTORY DESTINATION "${MOSSVALE_INSTALL_FOLDER}/★MailData")

set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${CMAKE_SOURCE_DIR}/app/resources/mossvale.png DESTINATION ${icons}/256x256/apps)
install(FILES ${CMAKE_SOURCE_DIR}/app/resources/mossvale-32.png DESTINATION ${icons}/32x32/apps RENAME mossvale.png)

install(CODE "set(MOSSVALE_INSTALL_STEP ON)
set(MOSSVALE_INSTALL_FOLDER \"${MOSSVALE_INSTALL_FOLDER}\")
set(MOSSVALE_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
set(MOSSVALE_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
set(MOSSVALE_DESKTOP_TEMPLATE \"${CMAKE_SOURCE_DIR}/app/resources/mossvale.desktop\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_FILE})
install(CODE "unset(MOSSVALE_INSTALL_STEP)")
