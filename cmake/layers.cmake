# tesmo_layer(<target> <folder> FILES <file>... [LINKS <target>...])
#
# A static library made of one source folder under src/ (e.g. core/storage), linking the
# libraries it may use. Its files are listed one by one, never globbed.
#
# The library and whoever links it include its headers as "core/storage/x.h" through an
# include root of its own in the build tree, which holds only a link to its folder. So a
# library sees its own headers and those of the libraries it links, and nothing else: an
# include against the order of the layers fails to build instead of creeping in.
function(tesmo_layer target folder)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "FILES;LINKS")
    set(dir ${PROJECT_SOURCE_DIR}/src/${folder})

    # A file that sits in the folder but is in no list would be silently left out.
    file(GLOB present CONFIGURE_DEPENDS RELATIVE ${dir} ${dir}/*.cpp ${dir}/*.h)
    set(unlisted ${present})
    list(REMOVE_ITEM unlisted ${arg_FILES})
    if(unlisted)
        message(FATAL_ERROR "src/${folder}: ${unlisted} not listed in the files of ${target}")
    endif()

    # Linking only what is already defined keeps the order of the calls the order of the layers,
    # and so the layers free of cycles.
    foreach(link ${arg_LINKS})
        if(NOT TARGET ${link})
            message(FATAL_ERROR "${target} links ${link}, which is not defined before it")
        endif()
    endforeach()

    list(TRANSFORM arg_FILES PREPEND ${dir}/)
    add_library(${target} STATIC ${arg_FILES})
    set(root ${PROJECT_BINARY_DIR}/include/${target})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${dir} ${root}/${folder} SYMBOLIC)
    target_include_directories(${target} PUBLIC ${root})
    target_link_libraries(${target} PUBLIC ${arg_LINKS})
endfunction()
