# Settings shared by every target of our own code (not by third-party code built alongside).
function(zanthrop_target_defaults target)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Werror>)
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/Zanthrop)
    if(WIN32)
        target_compile_definitions(${target} PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
    endif()
endfunction()

# A GoogleTest program, registered case by case with CTest (under Wine on the Windows build).
# zanthrop_add_test(NAME SOURCES file... [LIBS lib...] [RESOURCE_LOCK name] [LABELS label...])
# RESOURCE_LOCK keeps the program's cases from running at the same time as other holders of the
# same lock (for tests that share a machine-wide resource such as a registry key). LABELS tag the
# cases for ctest -L / -LE (e.g. "stress" for the long runs).
function(zanthrop_add_test name)
    cmake_parse_arguments(ARG "" "RESOURCE_LOCK" "SOURCES;LIBS;LABELS" ${ARGN})
    set(_properties ENVIRONMENT "ZANTHROP_BUILD_DIR=${CMAKE_BINARY_DIR}")
    if(ARG_RESOURCE_LOCK)
        list(APPEND _properties RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
    endif()
    if(ARG_LABELS)
        list(APPEND _properties LABELS "${ARG_LABELS}")
    endif()
    add_executable(${name} ${ARG_SOURCES})
    zanthrop_target_defaults(${name})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} zanthrop_platform GTest::gtest GTest::gtest_main GTest::gmock)
    if(WIN32)
        add_dependencies(${name} wineprefix)
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        NO_PRETTY_VALUES
        DISCOVERY_TIMEOUT 120
        WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
        PROPERTIES ${_properties})
endfunction()

# Adds every sub-folder of the current folder that has a CMakeLists.txt: one component each.
function(zanthrop_add_component_folders)
    file(GLOB _parts LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    foreach(part ${_parts})
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${part} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${part}/CMakeLists.txt)
            add_subdirectory(${part})
        endif()
    endforeach()
endfunction()
