add_library(vek_options INTERFACE)
target_compile_options(vek_options INTERFACE -Wall -Wextra -Wpedantic)
target_include_directories(vek_options INTERFACE ${CMAKE_SOURCE_DIR})
if(VEK_SANITIZE)
    target_compile_options(vek_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=undefined
                                                 -fno-omit-frame-pointer)
    target_link_options(vek_options INTERFACE -fsanitize=address,undefined)
endif()
