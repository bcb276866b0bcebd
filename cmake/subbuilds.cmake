# The 64-bit tree also builds the 32-bit library tree and the native tree, and runs their
# tests in the same CTest run.
include(ExternalProject)

set(ZYN_WIN32_DIR ${CMAKE_BINARY_DIR}/win32)
set(ZYN_NATIVE_DIR ${CMAKE_BINARY_DIR}/native)
set(ZYN_LIBRARY32 ${ZYN_WIN32_DIR}/bin/zynvx7w.dll)
set(ZYN_IMPORT_LIBRARY32 ${ZYN_WIN32_DIR}/zynvx7w/zynvx7w.lib.a)

ExternalProject_Add(win32_tree
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${ZYN_WIN32_DIR}
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-i686-w64-mingw32.cmake
        -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
        -DZYN_TEST_PREFIX=${ZYN_TEST_PREFIX}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${ZYN_LIBRARY32} ${ZYN_IMPORT_LIBRARY32})

ExternalProject_Add(native_tree
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${ZYN_NATIVE_DIR}
    CMAKE_ARGS
        -DCMAKE_C_COMPILER=gcc
        -DCMAKE_CXX_COMPILER=g++
        -DCMAKE_BUILD_TYPE=Debug
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)

# The fuzz targets of the byte-level logic need clang (scripts/prerequisites installs it).
find_program(ZYN_CLANGXX NAMES clang++ clang++-14)
set(ZYN_SUBTREES "subdirs(\"${ZYN_WIN32_DIR}\")\nsubdirs(\"${ZYN_NATIVE_DIR}\")\n")
if(ZYN_CLANGXX)
    set(ZYN_FUZZ_DIR ${CMAKE_BINARY_DIR}/fuzz)
    ExternalProject_Add(fuzz_tree
        SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/fuzz
        BINARY_DIR ${ZYN_FUZZ_DIR}
        CMAKE_ARGS -DCMAKE_CXX_COMPILER=${ZYN_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON)
    string(APPEND ZYN_SUBTREES "subdirs(\"${ZYN_FUZZ_DIR}\")\n")
else()
    message(WARNING "clang++ not found: no fuzz targets (scripts/prerequisites installs clang)")
endif()

# CTest reads the sub-trees' test files too.
file(WRITE ${CMAKE_BINARY_DIR}/subtree_tests.cmake "${ZYN_SUBTREES}")
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES
    ${CMAKE_BINARY_DIR}/subtree_tests.cmake)
