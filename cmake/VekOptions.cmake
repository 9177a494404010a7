add_library(vek_options INTERFACE)
target_compile_options(vek_options INTERFACE -Wall -Wextra -Wpedantic)
target_include_directories(vek_options INTERFACE ${CMAKE_SOURCE_DIR})
if(VEK_SANITIZE)
    target_compile_options(vek_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=undefined
                                                 -fno-omit-frame-pointer)
    target_link_options(vek_options INTERFACE -fsanitize=address,undefined)
endif()

# Debian's hardening flags (stack protector, _FORTIFY_SOURCE, format checks,
# full RELRO with immediate binding), taken from dpkg-buildflags as a Debian
# package build would, for every target: the programs, the libraries and the
# tests that exercise them. Optimisation, debug and path-mapping flags stay
# the build type's own. Control-flow protection is asked for by hand on
# x86-64, where bookworm's dpkg does not add it yet. The sanitizer and fuzzing
# builds keep their own instrumentation instead.
option(VEK_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)
if(VEK_HARDENING AND NOT VEK_SANITIZE AND NOT VEK_FUZZ)
    find_program(VEK_DPKG_BUILDFLAGS dpkg-buildflags)
    if(VEK_DPKG_BUILDFLAGS)
        foreach(_kind IN ITEMS CPPFLAGS CXXFLAGS LDFLAGS)
            execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                                    ${VEK_DPKG_BUILDFLAGS} --get ${_kind}
                            OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
            separate_arguments(_flags UNIX_COMMAND "${_flags}")
            list(FILTER _flags EXCLUDE REGEX "^-(g|O[0-9s]?|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")
            if(_kind STREQUAL "LDFLAGS")
                add_link_options(${_flags})
            else()
                add_compile_options(${_flags})
            endif()
        endforeach()
    else()
        message(WARNING "dpkg-buildflags not found: building without Debian's hardening flags")
    endif()
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
        add_compile_options(-fcf-protection)
    endif()
endif()
