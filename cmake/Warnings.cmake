# Warnings for the project's own targets: qorn_warnings(target). With
# -DQORN_WERROR=ON (as CI builds) any warning fails the build.
function(qorn_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Wcast-align -Wnull-dereference)
  if(QORN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
