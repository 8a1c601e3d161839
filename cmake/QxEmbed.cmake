# SPDX-License-Identifier: GPL-3.0-or-later
# qx_embed_hid_module(target module): carries the built HID library `module` inside `target` as
# the Qt resource ":/HID". The resource is rebuilt whenever the module is. Outside sanitizer
# builds the module goes in without its debug information, which a stripped program could not
# shed from a resource; the module in the build tree keeps it.
function(qx_embed_hid_module target module)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_hid)
    if(QX_SANITIZE STREQUAL "" AND CMAKE_OBJCOPY)
        set(image ${dir}/HID_Lib.so)
        add_custom_command(OUTPUT ${image}
            COMMAND ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:${module}> ${image}
            DEPENDS ${module}
            VERBATIM)
    else()
        set(image $<TARGET_FILE:${module}>)
    endif()
    file(GENERATE OUTPUT ${dir}/hid.qrc CONTENT
"<RCC><qresource prefix=\"/\"><file alias=\"HID\">${image}</file></qresource></RCC>\n")
    add_custom_command(OUTPUT ${dir}/qrc_hid.cpp
        COMMAND Qt6::rcc --name hid_${target} -o ${dir}/qrc_hid.cpp ${dir}/hid.qrc
        DEPENDS ${dir}/hid.qrc ${module} ${image}
        COMMENT "Embedding ${module} in ${target}"
        VERBATIM)
    set_source_files_properties(${dir}/qrc_hid.cpp PROPERTIES SKIP_AUTOGEN ON)
    target_sources(${target} PRIVATE ${dir}/qrc_hid.cpp)
endfunction()

# On Windows the module goes into `target` as the RCDATA resource "HID" instead, read with the
# system's resource calls (link/windows/EmbeddedImage.cpp).
function(qx_embed_hid_resource target module)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_hid)
    set(image ${dir}/HID_Lib.dll)
    add_custom_command(OUTPUT ${image}
        COMMAND ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:${module}> ${image}
        DEPENDS ${module}
        VERBATIM)
    add_custom_target(${target}_hid_image DEPENDS ${image})
    file(WRITE ${dir}/hid.rc "HID RCDATA \"${image}\"\n")
    set_source_files_properties(${dir}/hid.rc PROPERTIES OBJECT_DEPENDS ${image})
    target_sources(${target} PRIVATE ${dir}/hid.rc)
    add_dependencies(${target} ${target}_hid_image)
endfunction()
