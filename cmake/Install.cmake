# `cmake --install <build> --prefix P` lays out, in the GNU installation folders
# (GNUInstallDirs; LIBDIR is lib, or lib/<multiarch> for the prefix /usr on Debian):
#   P/LIBDIR/mossvale/       the program folder: mossvale, 画像データ/, Sound/, HTML/, installed.txt
#   P/BINDIR/mossvale        relative symbolic link to the program in the program folder
#   P/DATADIR/applications/mossvale.desktop
#   P/DATADIR/icons/hicolor/{scalable,16x16 … 256x256}/apps/mossvale.{svg,png}
#   P/DATADIR/metainfo/io.github.mossvale.Mossvale.metainfo.xml
#   P/MANDIR/man1/mossvale.1, P/MANDIR/ja/man1/mossvale.1
# The program finds its data beside the real executable (the link is resolved). installed.txt
# tells it that it was installed: its settings and data then go to the user's own data folder,
# whoever runs it, and the installed folder is never written. A copy of the build's program
# folder has no such file and keeps its settings beside itself, as it always has.
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
    set(marker "$ENV{DESTDIR}${folder}/installed.txt")
    message(STATUS "Installing: ${marker}")
    file(WRITE "${marker}" "${bindir}/mossvale\n"
         "# Written when this program folder was installed. The line above is the command that starts\n"
         "# the program; settings and data live in $XDG_DATA_HOME/Mossvale (~/.local/share/Mossvale).\n")
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

# The icon drawn as SVG, and the sizes rendered from it (data/icons/render).
set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/mossvale.svg DESTINATION ${icons}/scalable/apps)
foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/data/icons/${size}/mossvale.png DESTINATION ${icons}/${size}x${size}/apps)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/io.github.mossvale.Mossvale.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/mossvale.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/ja/mossvale.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)

install(CODE "set(MOSSVALE_INSTALL_STEP ON)
set(MOSSVALE_INSTALL_FOLDER \"${MOSSVALE_INSTALL_FOLDER}\")
set(MOSSVALE_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
set(MOSSVALE_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
set(MOSSVALE_DESKTOP_TEMPLATE \"${CMAKE_SOURCE_DIR}/app/resources/mossvale.desktop\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_FILE})
install(CODE "unset(MOSSVALE_INSTALL_STEP)")
