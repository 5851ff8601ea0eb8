# The Windows build: mingw-w64 cross-build, tests run under Wine in a private prefix.
enable_language(RC)
set(ZANTHROP_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZANTHROP_WINE_LOADER /usr/lib/wine/wine64)
else()
    set(ZANTHROP_WINE_LOADER /usr/lib/wine/wine)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# The prefix is made once, during the build, so no test pays for it or races for it.
add_custom_command(OUTPUT ${ZANTHROP_WINEPREFIX}/system.reg
    COMMAND ${CMAKE_BINARY_DIR}/wine-run --init
    COMMENT "Creating the private Wine prefix")
add_custom_target(wineprefix ALL DEPENDS ${ZANTHROP_WINEPREFIX}/system.reg)

# GoogleTest from its sources, built with the cross compiler; its own warnings are its business.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main gmock)
    if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
    endif()
endforeach()

# What every target links for the platform: the system's COM, registry and shell libraries.
add_library(zanthrop_platform INTERFACE)
target_link_libraries(zanthrop_platform INTERFACE ole32 oleaut32 uuid advapi32 shlwapi)




