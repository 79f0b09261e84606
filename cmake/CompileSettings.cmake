# Compiler settings for the project's own targets, set per target so that nothing leaks into
# code we do not own (Qt's headers come in as system headers, other projects' targets never
# see these flags).
#
#   mossvale_compile_settings(<target>...)
#
# Warnings: -Wall -Wextra; they are errors when MOSSVALE_WARNINGS_AS_ERRORS is on or the
# environment variable CI is set, so a warning cannot slip in unnoticed.
# Assertions: libstdc++'s bounds checks and Qt's Q_ASSERT stay on in every build type; a broken
# invariant stops the program instead of corrupting a user's files.
# Deprecation: calls to Qt API deprecated before 6.0 do not compile.

option(MOSSVALE_WARNINGS_AS_ERRORS "Treat compiler warnings in the project's targets as errors" OFF)
# Read at every configure, not cached, so that a build folder set up outside CI still gets it.
if(MOSSVALE_WARNINGS_AS_ERRORS OR DEFINED ENV{CI})
    set(MOSSVALE_WERROR ON)
else()
    set(MOSSVALE_WERROR OFF)
endif()

function(mossvale_compile_settings)
    foreach(target IN LISTS ARGN)
        target_compile_options(${target} PRIVATE -Wall -Wextra)
        target_compile_definitions(${target} PRIVATE _GLIBCXX_ASSERTIONS QT_FORCE_ASSERTS
                                                     QT_DISABLE_DEPRECATED_BEFORE=0x060000)
        set_target_properties(${target} PROPERTIES COMPILE_WARNING_AS_ERROR ${MOSSVALE_WERROR})
    endforeach()
endfunction()

# Applies the settings to every compiled target defined in the given source folders.
function(mossvale_compile_settings_in)
    foreach(folder IN LISTS ARGN)
        get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
        foreach(target IN LISTS targets)
            get_target_property(type ${target} TYPE)
            if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
                mossvale_compile_settings(${target})
            endif()
        endforeach()
    endforeach()
endfunction()
