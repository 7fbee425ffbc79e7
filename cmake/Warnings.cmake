# qel_warnings() applies the project's warning set to one target. Warnings become errors only
# with QEL_WERROR, which the presets and CI turn on: a user's or a packager's plain configure
# must not fail because a newer compiler learned a new warning.
option(QEL_WERROR "Treat compiler warnings as errors" OFF)

function(qel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
  if(QEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
