# The Linux build: the module's code on our platform layer (pal/), tests under sanitizers.
set(ZANTHROP_SANITIZE "" CACHE STRING "Sanitizers for the whole build, e.g. address;undefined or thread")
if(ZANTHROP_SANITIZE)
    list(JOIN ZANTHROP_SANITIZE "," _sanitizers)
    add_compile_options(-fsanitize=${_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_sanitizers})
endif()

find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
if(NOT TARGET GTest::gmock)
    find_library(GMOCK_LIBRARY gmock REQUIRED)
    add_library(GTest::gmock UNKNOWN IMPORTED)
    set_target_properties(GTest::gmock PROPERTIES IMPORTED_LOCATION ${GMOCK_LIBRARY})
endif()

# What every target links for the platform: our layer.
add_library(zanthrop_platform INTERFACE)
target_link_libraries(zanthrop_platform INTERFACE pal)
