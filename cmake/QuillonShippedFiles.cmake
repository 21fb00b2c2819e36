# The shipped monitor files (Targets/*.h86) and sample images (samples/*.hex) go into bin/, beside
# the programs, where each program looks for them. One target, shipped_files, for every program
# that needs them; the installed tree gets them from cmake/QuillonInstall.cmake.
file(GLOB QUILLON_SHIPPED_TARGETS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/Targets/*.h86)
file(GLOB QUILLON_SHIPPED_SAMPLES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/samples/*.hex)
set(QUILLON_SHIPPED_COPIES)
foreach(source ${QUILLON_SHIPPED_TARGETS} ${QUILLON_SHIPPED_SAMPLES})
    get_filename_component(folder ${source} DIRECTORY)
    get_filename_component(folder ${folder} NAME)
    get_filename_component(name ${source} NAME)
    set(copy ${CMAKE_BINARY_DIR}/bin/${folder}/${name})
    add_custom_command(OUTPUT ${copy}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${copy}
        DEPENDS ${source}
        COMMENT "Shipping ${folder}/${name}")
    list(APPEND QUILLON_SHIPPED_COPIES ${copy})
endforeach()
add_custom_target(shipped_files ALL DEPENDS ${QUILLON_SHIPPED_COPIES})
