# The help file beside the window program: quillon_de.pdf in ${CMAKE_BINARY_DIR}/bin, a German
# user guide made from its text source by a small generator (docs/make_help_pdf.py). Included
# by the Qt window (app/) and by the Win32 window (winapp/); either adds the target
# quillon_help once and makes its program depend on it:
#
#   include(${PROJECT_SOURCE_DIR}/cmake/QuillonHelp.cmake)
#   add_dependencies(quillon quillon_help)
if(NOT TARGET quillon_help)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    set(QUILLON_HELP_SOURCE ${PROJECT_SOURCE_DIR}/docs/quillon_de.txt)
    set(QUILLON_HELP_TOOL ${PROJECT_SOURCE_DIR}/docs/make_help_pdf.py)
    set(QUILLON_HELP_PDF ${CMAKE_BINARY_DIR}/bin/quillon_de.pdf)
    add_custom_command(
        OUTPUT ${QUILLON_HELP_PDF}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin
        COMMAND Python3::Interpreter ${QUILLON_HELP_TOOL} ${QUILLON_HELP_SOURCE}
                ${QUILLON_HELP_PDF}
        DEPENDS ${QUILLON_HELP_SOURCE} ${QUILLON_HELP_TOOL}
        COMMENT "Building the help file quillon_de.pdf"
        VERBATIM
    )
    add_custom_target(quillon_help ALL DEPENDS ${QUILLON_HELP_PDF})
endif()
