# The pictures as PNG files, for a build whose Qt has no SVG module: the SVG drawings rendered on
# the build machine by qvoksb-render-icon, built there with the build machine's own Qt (a cross
# build cannot run its own programs), and compiled into the resources under :/pictures/.
# Sets QVOKSB_PICTURES_SOURCE, the resource source to add to the window library.
set(QVOKSB_HOST_RENDER_ICON "" CACHE FILEPATH "qvoksb-render-icon built for the build machine")
if(NOT QVOKSB_HOST_RENDER_ICON)
    set(host_dir ${CMAKE_BINARY_DIR}/host-render-icon)
    message(STATUS "Building qvoksb-render-icon for the build machine in ${host_dir}")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env --unset=CC --unset=CXX --unset=CMAKE_TOOLCHAIN_FILE
                ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR}/tools/render-icon -B ${host_dir}
                -DCMAKE_BUILD_TYPE=Release
        RESULT_VARIABLE configured OUTPUT_QUIET)
    if(NOT configured EQUAL 0)
        message(FATAL_ERROR "qvoksb-render-icon does not configure for the build machine "
                            "(the build machine needs Qt 6 with its SVG module)")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${host_dir} RESULT_VARIABLE built OUTPUT_QUIET)
    if(NOT built EQUAL 0)
        message(FATAL_ERROR "qvoksb-render-icon does not build for the build machine")
    endif()
    set(QVOKSB_HOST_RENDER_ICON ${host_dir}/qvoksb-render-icon CACHE FILEPATH "" FORCE)
endif()

set(pictures_dir ${CMAKE_BINARY_DIR}/pictures)
# name, drawing, size in pixels: the icon's largest size, the tool-bar pictures at twice their
# size on the screen.
set(pictures "icons/qvoksb resources/icons/qvoksb.svg 256"
             "toolbar/open resources/toolbar/open.svg 48"
             "toolbar/save resources/toolbar/save.svg 48"
             "toolbar/write resources/toolbar/write.svg 48"
             "toolbar/read resources/toolbar/read.svg 48")
set(qrc "<RCC>\n    <qresource prefix=\"/pictures\">\n")
set(pngs "")
foreach(entry ${pictures})
    separate_arguments(parts UNIX_COMMAND "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 svg)
    list(GET parts 2 size)
    get_filename_component(base ${name} NAME)
    get_filename_component(folder ${name} DIRECTORY)
    set(out ${pictures_dir}/${folder}/${size}x${size}/${base}.png)
    add_custom_command(OUTPUT ${out}
        COMMAND ${QVOKSB_HOST_RENDER_ICON} ${CMAKE_SOURCE_DIR}/${svg} ${pictures_dir}/${folder}
                ${base} ${size}
        DEPENDS ${CMAKE_SOURCE_DIR}/${svg} VERBATIM)
    list(APPEND pngs ${out})
    string(APPEND qrc "        <file alias=\"${name}.png\">${folder}/${size}x${size}/${base}.png</file>\n")
endforeach()
string(APPEND qrc "    </qresource>\n</RCC>\n")
file(CONFIGURE OUTPUT ${pictures_dir}/pictures.qrc CONTENT "${qrc}")

set(QVOKSB_PICTURES_SOURCE ${pictures_dir}/qrc_pictures.cpp)
add_custom_command(OUTPUT ${QVOKSB_PICTURES_SOURCE}
    COMMAND Qt6::rcc --name pictures -o ${QVOKSB_PICTURES_SOURCE} ${pictures_dir}/pictures.qrc
    DEPENDS ${pngs} ${pictures_dir}/pictures.qrc VERBATIM)
set_source_files_properties(${QVOKSB_PICTURES_SOURCE} PROPERTIES SKIP_AUTOGEN ON)
