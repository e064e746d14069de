# Tesmo's icon: data/icons/tesmo.svg and its PNG renderings at the hicolor sizes, made with
# rsvg-convert when the build is configured (and again whenever the SVG changes). The windows
# and the tray embed the PNGs; the install puts the SVG and the PNGs into the hicolor theme.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(TESMO_ICON_SVG ${CMAKE_CURRENT_LIST_DIR}/tesmo.svg)
set(TESMO_ICON_SIZES 16 22 24 32 48 64 128 256)
set(TESMO_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TESMO_ICON_SVG})
file(MAKE_DIRECTORY ${TESMO_ICON_DIR})
set(TESMO_ICON_PNGS)
foreach(size ${TESMO_ICON_SIZES})
    set(png ${TESMO_ICON_DIR}/${size}.png)
    if(NOT EXISTS ${png} OR ${TESMO_ICON_SVG} IS_NEWER_THAN ${png})
        execute_process(
            COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${TESMO_ICON_SVG}
            RESULT_VARIABLE rendered)
        if(NOT rendered EQUAL 0)
            message(FATAL_ERROR "rsvg-convert could not render ${TESMO_ICON_SVG} at ${size} px")
        endif()
    endif()
    list(APPEND TESMO_ICON_PNGS ${png})
endforeach()
