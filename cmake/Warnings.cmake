# Every target of the project links this for the language level and the warning set.
add_library(trasko_options INTERFACE)
target_compile_features(trasko_options INTERFACE cxx_std_20)
if(MSVC)
    target_compile_options(trasko_options INTERFACE /W4)
else()
    target_compile_options(trasko_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
endif()
# Headers are included by folder: "engine/processor.h", "ui/mainwindow.h".
target_include_directories(trasko_options INTERFACE ${PROJECT_SOURCE_DIR})
# Generated headers, such as "app/identity.h", are included by folder too.
target_include_directories(trasko_options INTERFACE ${PROJECT_BINARY_DIR}/generated)

# A build that stops at the first memory or undefined-behaviour fault, for the engine suites in
# CI: cmake -DTRASKO_SANITIZE=ON.
option(TRASKO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TRASKO_SANITIZE)
    # Less the check of a virtual call's object, which probes memory through a pipe: the tests
    # run the engine with only a few descriptors left, where it can make none and reports every
    # call as a fault.
    target_compile_options(trasko_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
    target_link_options(trasko_options INTERFACE -fsanitize=address,undefined)
endif()
