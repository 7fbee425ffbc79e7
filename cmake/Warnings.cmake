# Warnings are errors in every configuration; qel_warnings() applies them to one target.
function(qel_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Werror)
endfunction()
