# The native tree: plain logic built for the host, its tests run under AddressSanitizer and
# UndefinedBehaviorSanitizer.
find_package(GTest REQUIRED)
set(ZYN_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${ZYN_SANITIZERS} ${ZYN_WARNINGS})
add_link_options(${ZYN_SANITIZERS})

# Each runs for seconds: a hang fails the test instead of stalling the whole run.
function(zyn_native_test_properties)
    set_tests_properties(${ARGN} PROPERTIES TIMEOUT 120 LABELS native)
endfunction()

# native_<name> from its sources, linked with the given libraries: zyn_add_native_test(name sources... LINKS libs...)
function(zyn_add_native_test name)
    cmake_parse_arguments(PARSE_ARGV 1 test "" "" "LINKS")
    add_executable(native_${name} ${test_UNPARSED_ARGUMENTS})
    target_link_libraries(native_${name} PRIVATE ${test_LINKS} GTest::gtest_main)
    add_test(NAME native.${name} COMMAND native_${name} --gtest_brief=1)
    zyn_native_test_properties(native.${name})
endfunction()
