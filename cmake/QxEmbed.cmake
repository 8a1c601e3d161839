# qx_embed_hid_module(target module): carries the built HID library `module` inside `target` as
# the Qt resource ":/HID". The resource is rebuilt whenever the module is.
function(qx_embed_hid_module target module)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_hid)
    file(GENERATE OUTPUT ${dir}/hid.qrc CONTENT
"<RCC><qresource prefix=\"/\"><file alias=\"HID\">$<TARGET_FILE:${module}></file></qresource></RCC>\n")
    add_custom_command(OUTPUT ${dir}/qrc_hid.cpp
        COMMAND Qt6::rcc --name hid_${target} -o ${dir}/qrc_hid.cpp ${dir}/hid.qrc
        DEPENDS ${dir}/hid.qrc ${module}
        COMMENT "Embedding ${module} in ${target}"
        VERBATIM)
    set_source_files_properties(${dir}/qrc_hid.cpp PROPERTIES SKIP_AUTOGEN ON)
    target_sources(${target} PRIVATE ${dir}/qrc_hid.cpp)
endfunction()
