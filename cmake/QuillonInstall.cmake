# Install rules and CPack: the programs in bin/, the shipped monitor files and the sample image
# in share/quillon/, the help file, copyright and changelog in share/doc/quillon/, and on Linux
# the menu entry, the icons and the manual pages. `make package` turns the tree into a .deb and
# a .tar.gz (CMAKE_INSTALL_PREFIX=/usr, see the "package" preset).

# The programs: the window only where it is built, the virtual target only where it is (POSIX).
set(QUILLON_INSTALLED_PROGRAMS quillon-cli)
if(TARGET quillon-sim)
    list(APPEND QUILLON_INSTALLED_PROGRAMS quillon-sim)
endif()
if(TARGET quillon)
    list(APPEND QUILLON_INSTALLED_PROGRAMS quillon)
endif()
install(TARGETS ${QUILLON_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The same monitor files and sample images that the build copies beside the programs.
file(GLOB QUILLON_INSTALLED_TARGETS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/Targets/*.h86)
file(GLOB QUILLON_INSTALLED_SAMPLES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/samples/*.hex)
install(FILES ${QUILLON_INSTALLED_TARGETS} DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon/Targets)
install(FILES ${QUILLON_INSTALLED_SAMPLES} DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon/samples)

# The help file that app/ makes beside the window.
if(TARGET quillon)
    install(FILES ${CMAKE_BINARY_DIR}/bin/quillon_de.pdf DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(QUILLON_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${QUILLON_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(UNIX AND NOT APPLE)
    # Debian wants manual pages and changelogs gzip-compressed; -n leaves out the name and the
    # time, so that the same sources give the same bytes.
    find_program(QUILLON_GZIP gzip REQUIRED)
    set(QUILLON_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
    set(QUILLON_DIST_FILES)

    # One manual page per installed program.
    foreach(page ${QUILLON_INSTALLED_PROGRAMS})
        configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${QUILLON_DIST_DIR}/${page}.1
                       @ONLY)
        add_custom_command(OUTPUT ${QUILLON_DIST_DIR}/${page}.1.gz
            COMMAND ${QUILLON_GZIP} -9nc ${page}.1 > ${page}.1.gz
            WORKING_DIRECTORY ${QUILLON_DIST_DIR}
            DEPENDS ${QUILLON_DIST_DIR}/${page}.1
            COMMENT "Compressing the manual page ${page}.1")
        list(APPEND QUILLON_DIST_FILES ${QUILLON_DIST_DIR}/${page}.1.gz)
        install(FILES ${QUILLON_DIST_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()

    # A native package (no Debian revision) names its changelog changelog.gz. Its date is
    # SOURCE_DATE_EPOCH where that is set, else the last commit's, so that configuring again
    # leaves it as it was; outside a clone it is the configure time.
    if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
        find_package(Git QUIET)
        if(GIT_FOUND)
            execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                OUTPUT_VARIABLE QUILLON_COMMIT_TIME OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE QUILLON_GIT_RESULT ERROR_QUIET)
        endif()
    endif()
    if(QUILLON_COMMIT_TIME MATCHES "^[0-9]+$" AND QUILLON_GIT_RESULT EQUAL 0)
        set(ENV{SOURCE_DATE_EPOCH} ${QUILLON_COMMIT_TIME})
        string(TIMESTAMP QUILLON_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
        unset(ENV{SOURCE_DATE_EPOCH})
    else()
        string(TIMESTAMP QUILLON_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
    endif()
    configure_file(${QUILLON_PACKAGING_DIR}/changelog.Debian.in ${QUILLON_DIST_DIR}/changelog
                   @ONLY)
    add_custom_command(OUTPUT ${QUILLON_DIST_DIR}/changelog.gz
        COMMAND ${QUILLON_GZIP} -9nc changelog > changelog.gz
        WORKING_DIRECTORY ${QUILLON_DIST_DIR}
        DEPENDS ${QUILLON_DIST_DIR}/changelog
        COMMENT "Compressing the changelog")
    list(APPEND QUILLON_DIST_FILES ${QUILLON_DIST_DIR}/changelog.gz)
    install(FILES ${QUILLON_DIST_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

    # The menu entry and its icons belong to the window. Each icon is drawn at its own size
    # by res/make_icon.py, so no image tool is needed.
    if(TARGET quillon)
        find_package(Python3 REQUIRED COMPONENTS Interpreter)
        install(FILES ${QUILLON_PACKAGING_DIR}/quillon.desktop
                DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
        # The HEX file type the menu entry opens (no shared type exists for it).
        install(FILES ${QUILLON_PACKAGING_DIR}/quillon-mime.xml
                DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME quillon.xml)
        foreach(size 16 32 48 64 128 256)
            set(icon ${QUILLON_DIST_DIR}/icons/${size}/quillon.png)
            add_custom_command(OUTPUT ${icon}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLON_DIST_DIR}/icons/${size}
                COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/res/make_icon.py
                        --png ${size} ${icon}
                DEPENDS ${PROJECT_SOURCE_DIR}/res/make_icon.py
                COMMENT "Drawing the ${size}x${size} icon"
                VERBATIM)
            list(APPEND QUILLON_DIST_FILES ${icon})
            install(FILES ${icon}
                    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
        endforeach()
    endif()

    add_custom_target(quillon_dist_files ALL DEPENDS ${QUILLON_DIST_FILES})
endif()

# CPack: a Debian package and a .tar.gz of the same tree.
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Brenwick")
set(CPACK_PACKAGE_CONTACT "Quillon developers <quillon@brenwick.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "flash programmer for microcontrollers with a serial bootstrap loader")
# The long description in lines of at most 80 characters, as Debian's control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Quillon writes Intel HEX images into a microcontroller's flash through the"
    "target's serial bootstrap loader: handshake, two loader stages, RAM test"
    "report and monitor upload, then CRC-protected erase, program and finalize"
    "frames. Every step shows as a line in the log."
    ""
    "The package holds the window (quillon), a command-line program for scripts"
    "and production lines (quillon-cli), a virtual target on a pseudo-terminal for"
    "trying it without hardware (quillon-sim), the monitor files of the shipped"
    "targets and a sample image.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR TGZ)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    list(APPEND CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
