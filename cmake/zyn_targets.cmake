# Compiler settings shared by every target, and the helpers that define product targets.

set(ZYN_WARNINGS -Wall -Wextra -Wno-unused-parameter)

if(NOT ZYN_TREE STREQUAL "native")
    # Runtimes linked in, so the binaries import only system DLLs.
    add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)
    add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601)
endif()

# Product code throws nothing and needs no type information.
add_library(zyn_product_options INTERFACE)
target_compile_options(zyn_product_options INTERFACE ${ZYN_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)

# Attaches a version resource: zyn_version_resource(target "1.5.5.0" "description" DLL|APP)
function(zyn_version_resource target version description type)
    string(REPLACE "." "," ZYN_VERSION_COMMAS "${version}")
    set(ZYN_VERSION "${version}")
    set(ZYN_DESCRIPTION "${description}")
    set(ZYN_NAME "${target}")
    if(type STREQUAL "DLL")
        set(ZYN_FILE_TYPE VFT_DLL)
        set(ZYN_FILE_NAME "${target}.dll")
    else()
        set(ZYN_FILE_TYPE VFT_APP)
        set(ZYN_FILE_NAME "${target}.exe")
    endif()
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
    configure_file("${PROJECT_SOURCE_DIR}/common/version.rc.in" "${rc}" @ONLY)
    target_sources(${target} PRIVATE "${rc}")
endfunction()

# Attaches the application manifest the loader reads when it starts the program:
# zyn_manifest_resource(target requireAdministrator|asInvoker)
function(zyn_manifest_resource target level)
    set(ZYN_EXECUTION_LEVEL "${level}")
    set(ZYN_MANIFEST "${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest")
    configure_file("${PROJECT_SOURCE_DIR}/common/manifest.xml.in" "${ZYN_MANIFEST}" @ONLY)
    set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_manifest.rc")
    configure_file("${PROJECT_SOURCE_DIR}/common/manifest.rc.in" "${rc}" @ONLY)
    set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${ZYN_MANIFEST}")
    target_sources(${target} PRIVATE "${rc}")
endfunction()
